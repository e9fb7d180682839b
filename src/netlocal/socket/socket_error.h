#pragma once

#include <memory>
#include <string>

namespace vistrelle::netlocal {

inline constexpr char kGCDAsyncSocketErrorDomain[] = "GCDAsyncSocketErrorDomain";
inline constexpr char kPOSIXErrorDomain[] = "NSPOSIXErrorDomain";
inline constexpr char kNetDBErrorDomain[] = "kCFStreamErrorDomainNetDB";
inline constexpr char kSSLErrorDomain[] = "kCFStreamErrorDomainSSL";

enum GCDAsyncSocketError : int {
  GCDAsyncSocketNoError = 0,
  GCDAsyncSocketBadConfigError = 1,
  GCDAsyncSocketBadParamError = 2,
  GCDAsyncSocketConnectTimeoutError = 3,
  GCDAsyncSocketReadTimeoutError = 4,
  GCDAsyncSocketWriteTimeoutError = 5,
  GCDAsyncSocketReadMaxedOutError = 6,
  GCDAsyncSocketClosedError = 7,
  GCDAsyncSocketOtherError = 8,
};

// An error object of the socket layer: a domain, a code within it and the
// texts a caller shows or logs.
class SocketError {
 public:
  SocketError(std::string domain, int code, std::string description, std::string failureReason = {},
              std::string recoverySuggestion = {});

  const std::string& domain() const { return domain_; }
  int code() const { return code_; }
  const std::string& localizedDescription() const { return description_; }
  const std::string& localizedFailureReason() const { return failureReason_; }
  const std::string& localizedRecoverySuggestion() const { return recoverySuggestion_; }
  bool is(const char* domain, int code) const { return domain_ == domain && code_ == code; }
  // "domain code: description (reason)" for logs and test output.
  std::string describe() const;

  static std::shared_ptr<const SocketError> badConfig(std::string text);
  static std::shared_ptr<const SocketError> badParam(std::string text);
  static std::shared_ptr<const SocketError> connectTimeout();
  static std::shared_ptr<const SocketError> readTimeout();
  static std::shared_ptr<const SocketError> writeTimeout();
  static std::shared_ptr<const SocketError> readMaxedOut();
  static std::shared_ptr<const SocketError> closed();
  static std::shared_ptr<const SocketError> other(std::string text);
  // errno as the code, the system's text as description, `reason` as the
  // failure reason.
  static std::shared_ptr<const SocketError> posix(int error, std::string reason = {});
  // A getaddrinfo() failure (EAI_* code).
  static std::shared_ptr<const SocketError> netDB(int gaiError);
  // A secure-transport status code.
  static std::shared_ptr<const SocketError> ssl(int status, std::string description = {});

 private:
  std::string domain_;
  int code_;
  std::string description_;
  std::string failureReason_;
  std::string recoverySuggestion_;
};

using SocketErrorPtr = std::shared_ptr<const SocketError>;

}  // namespace vistrelle::netlocal
