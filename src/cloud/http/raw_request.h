#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cloud/http/http_error.h"
#include "cloud/http/http_method.h"
#include "cloud/http/request_headers.h"

namespace vistrelle::cloud {

// A request sent exactly as given, for services other than the account
// service (the local ZeroTier service): no base address, no session headers,
// no proxy, no redirects, no envelope.
struct RawRequest {
  HttpMethod method = HttpMethod::GET;
  std::string url;  // full URL
  HttpHeaders headers;
  std::optional<std::string> body;              // none: nothing is sent
  std::chrono::milliseconds connectTimeout{0};  // 0: libcurl's default
  std::chrono::milliseconds timeout{0};         // whole request; 0: none
};

struct RawResponse {
  long status = 0;
  std::string body;
};

// Exactly one of the two is set: the reply (any status), or a transport error
// (refused, reset, time-out; the cancel error when its group was cancelled).
using RawCompletion =
    std::function<void(std::optional<RawResponse> response, std::optional<HttpError> error)>;

}  // namespace vistrelle::cloud
