#include "base/log/orvex_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform/settings/user_directories.h"

namespace vistrelle {

namespace {
struct DocumentsCache {
  std::mutex mutex;
  bool resolved = false;
  std::string key;
  std::string documents;
};
}  // namespace

const char* logNameText(LogName name) {
  switch (name) {
    case LogName::Vistrelle:
      return "Vistrelle";
    case LogName::Sunshine:
      return "Sunshine";
    case LogName::ZeroTier:
      return "ZeroTier";
  }
  return "Vistrelle";
}

OrvexLog::OrvexLog() : OrvexLog(Options{}) {}

OrvexLog::OrvexLog(Options options) : options_(std::move(options)) {
  if (!options_.documentsDir) {
    // Resolving the Documents folder reads user-dirs.dirs; do it once per
    // home and configuration folder rather than for every line.
    options_.documentsDir = [cache = std::make_shared<DocumentsCache>()] {
      const char* home = std::getenv("HOME");
      const char* config = std::getenv("XDG_CONFIG_HOME");
      std::string key = std::string(home ? home : "") + '\n' + (config ? config : "");
      std::lock_guard lock(cache->mutex);
      if (!cache->resolved || cache->key != key) {
        cache->documents = UserDirectories::documents();
        cache->key = std::move(key);
        cache->resolved = true;
      }
      return cache->documents;
    };
  }
  if (!options_.now) options_.now = [] { return std::chrono::system_clock::now(); };
  if (!options_.console) {
    options_.console = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  }
  // Console lines come from every logging thread, also outside the file lock.
  options_.console = [sink = std::move(options_.console),
                      mutex = std::make_shared<std::mutex>()](const std::string& text) {
    std::lock_guard lock(*mutex);
    sink(text);
  };
}

OrvexLog& OrvexLog::shareManager() {
  static OrvexLog* log = new OrvexLog();
  return *log;
}

std::string OrvexLog::folder() const {
  return options_.documentsDir() + "/.OrvexSpace";
}

bool OrvexLog::ensureFolder() {
  return ensureFolder(folder());
}

bool OrvexLog::ensureFolder(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  std::string error;
  if (makeDirectories(path, 0755, &error)) {
    options_.console("文件夹创建成功: " + path);
    return true;
  }
  options_.console("创建文件夹失败: " + error);
  return false;
}

std::string OrvexLog::filePath(LogName name) {
  const std::string path = folder();
  ensureFolder(path);
  return path + "/orvex_log_" + logNameText(name) + ".log";
}

std::string OrvexLog::timestamp() const {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(options_.now());
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void OrvexLog::appendZeroTier(std::string_view message, int32_t tag) {
  std::string text(message);
  text += "--" + std::to_string(tag) + "\n";
  append(text, LogName::ZeroTier);
}

void OrvexLog::append(std::string_view message, LogName name) {
  if (message.empty()) return;
  std::string line = timestamp();
  line += ": ";
  line += message;
  line += '\n';
  const std::string path = filePath(name);

  std::lock_guard lock(fileMutex_);
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size <= kMaxFileBytes) {
      char text[64];
      std::snprintf(text, sizeof text, "%f", static_cast<double>(size) / 1024.0 / 1024.0);
      options_.console(std::string("日志文件大小为: ") + text + " M");
    } else if (::unlink(path.c_str()) == 0) {
      options_.console("日志文件已删除");
    } else {
      options_.console(std::string("删除文件失败: ") + std::strerror(errno));
    }
  }
  // O_APPEND: one write per line lands whole at the end, and an existing file
  // is never replaced because it could not be opened.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    options_.console("cannot open log file " + path + ": " + std::strerror(errno));
    return;
  }
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      options_.console("cannot write log file " + path + ": " + std::strerror(errno));
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace vistrelle
