#include "platform/hid/hid_connection.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vistrelle::hid {
namespace {

bool isSocket(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

HidConnection::HidConnection(dispatch::UniqueFd fd, std::string path,
                             std::vector<uint8_t> descriptor)
    : fd_(std::move(fd)),
      path_(std::move(path)),
      descriptor_(std::move(descriptor)),
      layout_(parseReportDescriptor(descriptor_)),
      isSocket_(isSocket(fd_.get())) {}

HidConnection::ReadResult HidConnection::read(std::span<uint8_t> buffer) {
  for (;;) {
    const ssize_t n = ::read(fd_.get(), buffer.data(), buffer.size());
    if (n > 0) {
      return {ReadStatus::Report,
              stripInputReport(layout_, std::span<const uint8_t>(buffer.data(), size_t(n))), 0};
    }
    // A socket's peer that hung up reads as end of file; a hidraw node whose
    // device is gone fails with EIO (ENODEV on some kernels).
    if (n == 0) return {ReadStatus::Gone, {}, 0};
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) return {ReadStatus::Empty, {}, 0};
    if (error == EIO || error == ENODEV || error == ECONNRESET) {
      return {ReadStatus::Gone, {}, error};
    }
    return {ReadStatus::Failed, {}, error};
  }
}

int32_t HidConnection::write(uint8_t reportId, std::span<const uint8_t> payload) {
  const std::vector<uint8_t> frame = frameOutputReport(layout_, reportId, payload);
  std::lock_guard lock(writeMutex_);
  if (detached_) return -ENODEV;
  for (;;) {
    // A socket whose peer hung up would raise SIGPIPE on write().
    const ssize_t n = isSocket_ ? ::send(fd_.get(), frame.data(), frame.size(), MSG_NOSIGNAL)
                                : ::write(fd_.get(), frame.data(), frame.size());
    if (n == static_cast<ssize_t>(frame.size())) return 0;
    if (n >= 0) return -EIO;  // a report is sent whole or not at all
    if (errno == EINTR) continue;
    return -errno;
  }
}

void HidConnection::detach() {
  std::lock_guard lock(writeMutex_);
  detached_ = true;
}

bool HidConnection::detached() const {
  std::lock_guard lock(writeMutex_);
  return detached_;
}

}  // namespace vistrelle::hid
