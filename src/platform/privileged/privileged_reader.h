#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/executor.h"

namespace vistrelle::privileged {

// What one privileged read gave.
struct PrivilegedReadResult {
  enum class Outcome {
    read,        // `text` holds the file's contents, whitespace trimmed (may be empty)
    notStarted,  // the authorization helper could not be started
    canceled,    // the user dismissed the prompt
    denied,      // the prompt was refused, or no authorization agent runs
    failed,      // the file could not be read (missing, too long, the helper failed)
  };

  Outcome outcome = Outcome::failed;
  std::string text;
  // An authorization prompt was started for this read (a direct read never
  // prompts).
  bool prompted = false;
  // Why it failed, for the console: "Authorization Canceled", "Autorization
  // Denied", "Unknown Error", or the system's reason.
  std::string statusText;

  bool succeeded() const { return outcome == Outcome::read; }
};

// Reads a small file that belongs to another user (a service's secret):
// directly when this process may, else through the desktop's authorization
// prompt.  Never blocks its caller: the result comes on the queue it names,
// once.  A prompt may stay open for as long as the user takes.
class PrivilegedReader {
 public:
  using Completion = std::function<void(PrivilegedReadResult result)>;

  // Texts longer than this are refused: a secret is short.
  static constexpr size_t kMaxBytes = 4096;

  virtual ~PrivilegedReader() = default;

  virtual void read(const std::string& path, dispatch::ExecutorPtr queue,
                    Completion completion) = 0;
};

// `text` without leading and trailing spaces, tabs and line ends.
std::string trimmedSecret(std::string_view text);

}  // namespace vistrelle::privileged
