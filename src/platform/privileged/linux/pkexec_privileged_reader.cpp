#include "platform/privileged/linux/pkexec_privileged_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/process/linux/linux_process_launcher.h"

namespace vistrelle::privileged {

using Outcome = PrivilegedReadResult::Outcome;

std::optional<PrivilegedReadResult> PkexecPrivilegedReader::readDirectly(const std::string& path) {
  const auto lacksPermission = [](int error) { return error == EACCES || error == EPERM; };
  PrivilegedReadResult result;
  result.outcome = Outcome::failed;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (lacksPermission(error)) return std::nullopt;
    result.statusText = path + ": " + std::strerror(error);
    return result;
  }
  std::string text;
  char buffer[1024];
  int error = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = errno;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > PrivilegedReader::kMaxBytes) break;
  }
  ::close(fd);
  if (lacksPermission(error)) return std::nullopt;
  if (error != 0) {
    result.statusText = path + ": " + std::strerror(error);
  } else if (text.size() > PrivilegedReader::kMaxBytes) {
    result.statusText = path + ": longer than a secret can be";
  } else {
    result.outcome = Outcome::read;
    result.text = trimmedSecret(text);
  }
  return result;
}

PkexecPrivilegedReader::PkexecPrivilegedReader() : PkexecPrivilegedReader(Options{}) {}

PkexecPrivilegedReader::PkexecPrivilegedReader(Options options) : options_(std::move(options)) {
  if (!options_.launcher) options_.launcher = std::make_shared<process::LinuxProcessLauncher>();
  if (!options_.directRead) options_.directRead = readDirectly;
}

PrivilegedReadResult PkexecPrivilegedReader::resultOf(const process::ProcessExit& exit) {
  PrivilegedReadResult result;
  result.prompted = true;
  // Anything longer than a secret can be is not one.
  const bool tooLong = exit.outputTruncated || exit.output.size() > kMaxBytes;
  if (exit.succeeded() && !tooLong) {
    result.outcome = Outcome::read;
    result.text = trimmedSecret(exit.output);
  } else if (exit.exited() && exit.exitCode == kDismissedStatus) {
    result.outcome = Outcome::canceled;
    result.statusText = kCanceledText;
  } else if (exit.exited() && exit.exitCode == kNotAuthorizedStatus) {
    result.outcome = Outcome::denied;
    result.statusText = kDeniedText;
  } else {
    result.outcome = Outcome::failed;
    result.statusText = kUnknownText;
  }
  return result;
}

void PkexecPrivilegedReader::read(const std::string& path, dispatch::ExecutorPtr queue,
                                  Completion completion) {
  if (std::optional<PrivilegedReadResult> direct = options_.directRead(path)) {
    queue->post([completion = std::move(completion), result = std::move(*direct)]() mutable {
      completion(std::move(result));
    });
    return;
  }
  process::LaunchRequest request;
  request.argv = {options_.pkexec, options_.cat, path};
  request.captureOutput = true;
  // One byte past the limit tells a secret that is too long from one that
  // just fits.
  request.outputLimit = kMaxBytes + 1;
  auto shared = std::make_shared<Completion>(std::move(completion));
  process::LaunchResult launched = options_.launcher->launch(
      request, queue, [shared](const process::ProcessExit& exit) { (*shared)(resultOf(exit)); });
  if (!launched) {
    PrivilegedReadResult result;
    result.outcome = Outcome::notStarted;
    result.statusText = launched.reason;
    queue->post([shared, result = std::move(result)]() mutable { (*shared)(std::move(result)); });
  }
}

}  // namespace vistrelle::privileged
