#include "cloud/http/curl_transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "cloud/http/download_destination.h"
#include "platform/settings/user_directories.h"

namespace vistrelle::cloud {

namespace {

bool isSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

bool holdsLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string errnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

CurlTransfer::CurlTransfer(TransferSpec spec) : spec_(std::move(spec)) {
  easy_ = curl_easy_init();
  if (easy_ == nullptr) {
    setupError_ = HttpError::transport(CURLE_FAILED_INIT, "curl_easy_init failed");
    return;
  }
  if (!setUp() && !setupError_) {
    setupError_ = HttpError::transport(CURLE_FAILED_INIT, "libcurl refused the request's options");
  }
}

CurlTransfer::~CurlTransfer() {
  discardPartFile();
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  curl_slist_free_all(headerList_);
}

CurlTransfer* CurlTransfer::fromHandle(CURL* easy) {
  char* self = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &self);
  return reinterpret_cast<CurlTransfer*>(self);
}

bool CurlTransfer::setUp() {
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy_, CURLOPT_PRIVATE, this));
  set(curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_));
  set(curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy_, CURLOPT_URL, spec_.url.c_str()));
  set(curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https"));
  if (spec_.followRedirects) {
    set(curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L));
    // Credentials never follow a redirect to another host, port or scheme.
    set(curl_easy_setopt(easy_, CURLOPT_UNRESTRICTED_AUTH, 0L));
  }
  if (spec_.noProxy) set(curl_easy_setopt(easy_, CURLOPT_NOPROXY, "*"));

  const bool hasBody = spec_.body.has_value();
  if (spec_.method == "POST" || hasBody) {
    static constexpr char kNoBody[] = "";
    set(curl_easy_setopt(easy_, CURLOPT_POST, 1L));
    set(curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(hasBody ? spec_.body->size() : 0)));
    set(curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, hasBody ? spec_.body->data() : kNoBody));
  }
  if (spec_.method != "POST" && (hasBody || spec_.method != "GET")) {
    set(curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, spec_.method.c_str()));
  }

  bool hasContentType = false;
  for (const auto& [name, value] : spec_.headers) {
    if (name.empty() || holdsLineBreak(name) || holdsLineBreak(value) ||
        name.find(':') != std::string::npos) {
      setupError_ = HttpError::transport(CURLE_BAD_FUNCTION_ARGUMENT, "invalid header " + name);
      return false;
    }
    if (headerValue({{name, value}}, kContentTypeHeader)) hasContentType = true;
    headerList_ = curl_slist_append(headerList_, (name + ": " + value).c_str());
  }
  // What the caller did not ask for is not sent: no form type on a bodiless
  // POST, no "100-continue" round trip.
  if (!hasContentType) headerList_ = curl_slist_append(headerList_, "Content-Type:");
  headerList_ = curl_slist_append(headerList_, "Expect:");
  set(curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_));

  if (spec_.totalTimeout.count() > 0) {
    set(curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(spec_.totalTimeout.count())));
  }
  if (spec_.connectTimeout.count() > 0) {
    set(curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(spec_.connectTimeout.count())));
  }
  if (spec_.idleLimit.count() > 0) {
    set(curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(spec_.idleLimit.count())));
  }

  set(curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onWrite));
  set(curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this));
  if (spec_.kind == TransferSpec::Kind::upload && spec_.onProgress) {
    set(curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onTransferInfo));
    set(curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this));
    set(curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L));
  }
  return ok;
}

size_t CurlTransfer::onWrite(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<CurlTransfer*>(self);
  const size_t bytes = size * count;
  if (transfer->spec_.kind == TransferSpec::Kind::download) {
    return transfer->writeDownload(data, bytes) ? bytes : 0;
  }
  const size_t limit = transfer->spec_.maxBodyBytes;
  if (limit > 0 && transfer->body_.size() + bytes > limit) {
    transfer->verdict_ = HttpError::transport(
        CURLE_FILESIZE_EXCEEDED, "reply larger than " + std::to_string(limit) + " bytes");
    return 0;
  }
  transfer->body_.append(data, bytes);
  return bytes;
}

int CurlTransfer::onTransferInfo(void* self, curl_off_t, curl_off_t, curl_off_t ultotal,
                                 curl_off_t ulnow) {
  auto* transfer = static_cast<CurlTransfer*>(self);
  if (ultotal > 0) {
    transfer->spec_.onProgress(static_cast<double>(ulnow) / static_cast<double>(ultotal));
  }
  return 0;
}

long CurlTransfer::responseCode() const {
  long code = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

std::string CurlTransfer::effectiveUrl() const {
  char* url = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &url);
  return url != nullptr ? std::string(url) : spec_.url;
}

bool CurlTransfer::writeDownload(const char* data, size_t bytes) {
  const long status = responseCode();
  // The body of a redirect being followed is not the package.
  if (status >= 300 && status <= 399) return true;
  if (!isSuccessStatus(status)) {
    verdict_ = HttpError::status(status);
    return false;
  }
  if (fd_ < 0 && !openPartFile()) return false;
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::write(fd_, data + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      verdict_ = HttpError::file(errnoText("cannot write", partPath_));
      return false;
    }
    done += static_cast<size_t>(n);
  }
  written_ += bytes;
  if (spec_.onProgress) {
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    // Without a length the fraction stays 0 until the end.
    double fraction = 0;
    if (length > 0) {
      fraction = static_cast<double>(written_) / static_cast<double>(length);
      if (fraction > 1) fraction = 1;
    }
    spec_.onProgress(fraction);
  }
  return true;
}

bool CurlTransfer::openPartFile() {
  std::string reason;
  if (!makeDirectories(spec_.downloadFolder, 0700, &reason)) {
    verdict_ = HttpError::file("cannot create " + spec_.downloadFolder + ": " + reason);
    return false;
  }
  // Named after the final URL, which is known once its body arrives.
  finalPath_ = spec_.downloadFolder + "/" + packageFileName(effectiveUrl());
  partPath_ = finalPath_ + ".part";
  fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) {
    verdict_ = HttpError::file(errnoText("cannot create", partPath_));
    partPath_.clear();
    return false;
  }
  return true;
}

void CurlTransfer::discardPartFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!partPath_.empty()) {
    ::unlink(partPath_.c_str());
    partPath_.clear();
  }
}

void CurlTransfer::finishDownload(CURLcode code, TransferResult& result) {
  if (verdict_) {
    result.error = verdict_;
  } else if (code != CURLE_OK) {
    result.error =
        HttpError::transport(code, errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(code));
  } else if (!isSuccessStatus(result.status)) {
    result.error = HttpError::status(result.status);
  } else if (fd_ < 0 && !openPartFile()) {  // an empty body is an empty file
    result.error = verdict_;
  } else {
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0 && static_cast<uint64_t>(length) != written_) {
      result.error =
          HttpError::download("received " + std::to_string(written_) +
                              " bytes where Content-Length says " + std::to_string(length));
    } else if (::fsync(fd_) != 0 || ::close(std::exchange(fd_, -1)) != 0) {
      result.error = HttpError::file(errnoText("cannot write", partPath_));
    } else if (::rename(partPath_.c_str(), finalPath_.c_str()) != 0) {
      result.error = HttpError::file(errnoText("cannot rename", partPath_));
    } else {
      partPath_.clear();
      result.filePath = finalPath_;
    }
  }
  if (result.error) discardPartFile();
}

void CurlTransfer::complete(CURLcode code) {
  TransferResult result;
  result.status = responseCode();
  result.effectiveUrl = effectiveUrl();
  if (spec_.kind == TransferSpec::Kind::download) {
    finishDownload(code, result);
  } else if (verdict_) {
    result.error = verdict_;
  } else if (code != CURLE_OK) {
    result.error =
        HttpError::transport(code, errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(code));
  } else {
    result.body = std::move(body_);
  }
  report(std::move(result));
}

void CurlTransfer::fail(HttpError error) {
  discardPartFile();
  TransferResult result;
  result.error = std::move(error);
  report(std::move(result));
}

void CurlTransfer::cancel() {
  fail(HttpError::cancelled());
}

void CurlTransfer::drop() {
  discardPartFile();
  reported_ = true;
}

void CurlTransfer::report(TransferResult result) {
  if (std::exchange(reported_, true)) return;
  if (spec_.onDone) spec_.onDone(std::move(result));
}

}  // namespace vistrelle::cloud
