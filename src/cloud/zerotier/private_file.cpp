#include "cloud/zerotier/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/settings/user_directories.h"

namespace vistrelle::cloud::zerotier {

namespace {

std::string reason(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

bool PrivateFile::makeFolder(const std::string& folder, std::string* error) {
  if (!makeDirectories(folder, 0700, error)) return false;
  if (::chmod(folder.c_str(), 0700) != 0) {
    if (error) *error = reason(folder, errno);
    return false;
  }
  return true;
}

bool PrivateFile::writeAtomically(const std::string& path, std::string_view bytes,
                                  std::string* error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = reason(path, errno);
    return false;
  }
  bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    saved = errno;
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    if (error) *error = reason(path, saved);
    return false;
  }
  // Make the rename itself durable.
  if (const int dir = ::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

std::optional<std::string> PrivateFile::read(const std::string& path, size_t maxBytes,
                                             std::string* error) {
  if (error) error->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error && errno != ENOENT) *error = reason(path, errno);
    return std::nullopt;
  }
  std::string text;
  char buffer[8192];
  int failure = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failure = errno;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > maxBytes) {
      failure = EFBIG;
      break;
    }
  }
  ::close(fd);
  if (failure != 0) {
    if (error) *error = reason(path, failure);
    return std::nullopt;
  }
  return text;
}

}  // namespace vistrelle::cloud::zerotier
