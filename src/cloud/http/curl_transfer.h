#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <optional>
#include <string>

#include "cloud/http/transfer_spec.h"

namespace vistrelle::cloud {

// One libcurl easy handle and what it writes to: the reply body in memory, or
// a download's "<name>.part" file that becomes "<name>" on success.  Built on
// any thread, then used by the worker thread only.
class CurlTransfer {
 public:
  explicit CurlTransfer(TransferSpec spec);
  // Removes a partial file that is still there.
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  uint64_t id() const { return spec_.id; }
  CURL* handle() const { return easy_; }
  // Why the handle could not be set up; such a transfer is never added.
  const std::optional<HttpError>& setupError() const { return setupError_; }

  // The transfer ended with `code`: finishes the file and reports.
  void complete(CURLcode code);
  // Reports `error` without running (a setup error, a refused add).
  void fail(HttpError error);
  // Cancelled: the partial file goes, the cancel is reported.
  void cancel();
  // Dropped at stop: the partial file goes, nothing is reported.
  void drop();

  static CurlTransfer* fromHandle(CURL* easy);

 private:
  static size_t onWrite(char* data, size_t size, size_t count, void* self);
  static int onTransferInfo(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                            curl_off_t ulnow);

  bool setUp();
  bool writeDownload(const char* data, size_t bytes);
  bool openPartFile();
  void finishDownload(CURLcode code, TransferResult& result);
  void discardPartFile();
  long responseCode() const;
  std::string effectiveUrl() const;
  void report(TransferResult result);

  TransferSpec spec_;
  CURL* easy_ = nullptr;
  struct curl_slist* headerList_ = nullptr;
  char errorText_[CURL_ERROR_SIZE] = {};
  std::optional<HttpError> setupError_;
  // Why a write callback stopped the transfer; it outranks libcurl's
  // resulting write error.
  std::optional<HttpError> verdict_;
  std::string body_;
  int fd_ = -1;
  std::string partPath_;
  std::string finalPath_;
  uint64_t written_ = 0;
  bool reported_ = false;
};

}  // namespace vistrelle::cloud
