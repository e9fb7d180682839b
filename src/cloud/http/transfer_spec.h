#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cloud/http/http_error.h"
#include "cloud/http/request_headers.h"

namespace vistrelle::cloud {

// How one transfer ended, as the worker hands it to the main queue.
struct TransferResult {
  long status = 0;           // the final reply's status, 0 when none came
  std::string body;          // data transfers: the reply body
  std::string effectiveUrl;  // after redirects
  std::string filePath;      // downloads: the saved file
  // Set for every failed transfer: the transport error, or for downloads also
  // a status, length or file error.  A data transfer's status is judged by
  // the caller.
  std::optional<HttpError> error;
};

// Everything the worker needs to run one transfer: built on the main queue,
// so the worker never reads the session or the configuration.
struct TransferSpec {
  enum class Kind { data, download, upload };

  Kind kind = Kind::data;
  uint64_t id = 0;
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;
  std::optional<std::string> body;              // none: nothing is sent
  std::chrono::milliseconds totalTimeout{0};    // 0: none
  std::chrono::milliseconds connectTimeout{0};  // 0: libcurl's default
  // Aborts a transfer slower than 1 byte a second for this long (0: never).
  std::chrono::seconds idleLimit{0};
  bool followRedirects = false;  // http and https only, at most 10
  bool noProxy = false;
  std::string downloadFolder;  // downloads: where the file goes
  size_t maxBodyBytes = 0;     // data transfers: a longer reply fails (0: no limit)

  // Both run on the worker thread.  onProgress gets a growing fraction (0 to
  // 1); onDone runs once, unless the transfer is dropped at stop.
  std::function<void(double fraction)> onProgress;
  std::function<void(TransferResult result)> onDone;
};

}  // namespace vistrelle::cloud
