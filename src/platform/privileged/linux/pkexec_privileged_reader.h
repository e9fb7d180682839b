#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/privileged/privileged_reader.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::privileged {

// Reads the file directly first (root, or a member of the group that owns
// it); only when that is refused for lack of permission does it run
// "pkexec /bin/cat <path>", which shows polkit's prompt.  pkexec's own exit
// statuses tell the outcome: 126 the prompt was dismissed, 127 it was refused
// (or no authentication agent runs at all).
class PkexecPrivilegedReader final : public PrivilegedReader {
 public:
  struct Options {
    std::shared_ptr<process::ProcessLauncher> launcher;  // none: a LinuxProcessLauncher
    std::string pkexec = "/usr/bin/pkexec";
    std::string cat = "/bin/cat";
    // The read as this process; none: readDirectly.
    std::function<std::optional<PrivilegedReadResult>(const std::string& path)> directRead;
  };

  PkexecPrivilegedReader();
  explicit PkexecPrivilegedReader(Options options);

  void read(const std::string& path, dispatch::ExecutorPtr queue, Completion completion) override;

  static constexpr int kDismissedStatus = 126;
  static constexpr int kNotAuthorizedStatus = 127;
  static constexpr const char* kCanceledText = "Authorization Canceled";
  static constexpr const char* kDeniedText = "Autorization Denied";
  static constexpr const char* kUnknownText = "Unknown Error";

  // The file read as this process; none when the system refuses for lack of
  // permission (then the prompt may help).  A missing or unreadable file, or
  // one longer than kMaxBytes, fails without a prompt.
  static std::optional<PrivilegedReadResult> readDirectly(const std::string& path);
  // The result of a finished pkexec run.
  static PrivilegedReadResult resultOf(const process::ProcessExit& exit);

 private:
  Options options_;
};

}  // namespace vistrelle::privileged
