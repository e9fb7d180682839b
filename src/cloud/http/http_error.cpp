#include "cloud/http/http_error.h"

#include "base/helpers/utf8.h"

namespace vistrelle::cloud {

HttpError::HttpError(Kind kind, std::string_view domain, long code, std::string description)
    : kind_(kind), domain_(domain), code_(code), description_(std::move(description)) {}

HttpError HttpError::cancelled() {
  return HttpError(Kind::cancelled, kDomain, kCancelledCode, "Request explicitly cancelled.");
}

HttpError HttpError::transport(int curlCode, std::string text) {
  HttpError error(Kind::transport, kDomain, kTransportCode, std::move(text));
  error.curlCode_ = curlCode;
  return error;
}

HttpError HttpError::status(long statusCode) {
  HttpError error(Kind::status, kDomain, kStatusCode,
                  "Response status code was unacceptable: " + std::to_string(statusCode) + ".");
  error.statusCode_ = statusCode;
  return error;
}

HttpError HttpError::cannotParseResponse(std::string_view body, long statusCode) {
  HttpError error(Kind::unparseableReply, kParseDomain, kCannotParseResponseCode,
                  std::string(kCannotParseResponseText));
  error.failureReason_ = base::isValidUtf8(body) ? std::string(body) : std::string();
  error.statusCode_ = statusCode;
  return error;
}

HttpError HttpError::tdNetworkError(std::string reason) {
  return HttpError(Kind::network, kDomain, kNetworkCode, std::move(reason));
}

HttpError HttpError::download(std::string text) {
  return HttpError(Kind::download, kDomain, kDownloadCode, std::move(text));
}

HttpError HttpError::file(std::string text) {
  return HttpError(Kind::file, kDomain, kFileCode, std::move(text));
}

std::string HttpError::text() const {
  std::string out = domain_ + " " + std::to_string(code_) + ": " + description_;
  if (curlCode_ != 0) out += " (curl " + std::to_string(curlCode_) + ")";
  return out;
}

}  // namespace vistrelle::cloud
