#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace vistrelle {

// The log files in use; names are a closed set, never free text in a path.
enum class LogName { Vistrelle, Sunshine, ZeroTier };

const char* logNameText(LogName name);

// Appends time-stamped lines to per-source text files under
// <Documents>/.OrvexSpace.  Logging never fails its caller: problems go to the
// console (stderr) and the line is dropped.  All files share one lock, so
// lines from many threads never interleave.
class OrvexLog {
 public:
  struct Options {
    std::function<std::string()> documentsDir;  // default: UserDirectories::documents()
    std::function<std::chrono::system_clock::time_point()> now;  // default: system clock
    std::function<void(const std::string&)> console;             // default: stderr
  };

  OrvexLog();
  explicit OrvexLog(Options options);

  // The process' log, which the static calls below write to.
  static OrvexLog& shareManager();

  static void logMessage(std::string_view message) {
    shareManager().append(message, LogName::Vistrelle);
  }
  static void logMessage(std::string_view message, LogName name) {
    shareManager().append(message, name);
  }
  static void logSunshineMessage(std::string_view message) {
    shareManager().append(message, LogName::Sunshine);
  }
  static void logZTMessage(std::string_view message, int32_t tag) {
    shareManager().appendZeroTier(message, tag);
  }
  static std::string logFilePathWithLogName(LogName name) { return shareManager().filePath(name); }
  static bool createOrvexSpaceDirectories() { return shareManager().ensureFolder(); }
  static std::string orvexSpaceDirectory() { return shareManager().folder(); }

  // Instance operations behind the static ones.
  void append(std::string_view message, LogName name);
  void appendZeroTier(std::string_view message, int32_t tag);
  std::string folder() const;
  std::string filePath(LogName name);
  bool ensureFolder();
  bool ensureFolder(const std::string& path);
  // "yyyy-MM-dd HH:mm:ss" in the local time zone.
  std::string timestamp() const;

  static constexpr uint64_t kMaxFileBytes = 104'857'600;

 private:
  Options options_;
  std::mutex fileMutex_;
};

}  // namespace vistrelle
