#include "netlocal/socket/socket_error.h"

#include <netdb.h>

#include <cstring>

namespace vistrelle::netlocal {

SocketError::SocketError(std::string domain, int code, std::string description,
                         std::string failureReason, std::string recoverySuggestion)
    : domain_(std::move(domain)),
      code_(code),
      description_(std::move(description)),
      failureReason_(std::move(failureReason)),
      recoverySuggestion_(std::move(recoverySuggestion)) {}

std::string SocketError::describe() const {
  std::string text = domain_ + " " + std::to_string(code_) + ": " + description_;
  if (!failureReason_.empty()) text += " (" + failureReason_ + ")";
  return text;
}

namespace {
SocketErrorPtr own(int code, std::string text) {
  return std::make_shared<const SocketError>(kGCDAsyncSocketErrorDomain, code, std::move(text));
}
}  // namespace

SocketErrorPtr SocketError::badConfig(std::string text) {
  return own(GCDAsyncSocketBadConfigError, std::move(text));
}
SocketErrorPtr SocketError::badParam(std::string text) {
  return own(GCDAsyncSocketBadParamError, std::move(text));
}
SocketErrorPtr SocketError::connectTimeout() {
  return own(GCDAsyncSocketConnectTimeoutError, "Attempt to connect to host timed out");
}
SocketErrorPtr SocketError::readTimeout() {
  return own(GCDAsyncSocketReadTimeoutError, "Read operation timed out");
}
SocketErrorPtr SocketError::writeTimeout() {
  return own(GCDAsyncSocketWriteTimeoutError, "Write operation timed out");
}
SocketErrorPtr SocketError::readMaxedOut() {
  return own(GCDAsyncSocketReadMaxedOutError, "Read operation reached set maximum length");
}
SocketErrorPtr SocketError::closed() {
  return own(GCDAsyncSocketClosedError, "Socket closed by remote peer");
}
SocketErrorPtr SocketError::other(std::string text) {
  return own(GCDAsyncSocketOtherError, std::move(text));
}

SocketErrorPtr SocketError::posix(int error, std::string reason) {
  return std::make_shared<const SocketError>(kPOSIXErrorDomain, error, std::strerror(error),
                                             std::move(reason));
}

SocketErrorPtr SocketError::netDB(int gaiError) {
  return std::make_shared<const SocketError>(kNetDBErrorDomain, gaiError, gai_strerror(gaiError));
}

SocketErrorPtr SocketError::ssl(int status, std::string description) {
  if (description.empty()) description = "SSL status " + std::to_string(status);
  return std::make_shared<const SocketError>(
      kSSLErrorDomain, status, std::move(description), std::string{},
      "Error code definition can be found in Apple's SecureTransport.h");
}

}  // namespace vistrelle::netlocal
