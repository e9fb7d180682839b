#pragma once

#include <string>
#include <string_view>

namespace vistrelle::cloud {

// Every failure the HTTP layer reports: what went wrong, as a domain, a code
// and texts, with the HTTP status or the libcurl code where one applies.
class HttpError {
 public:
  enum class Kind {
    cancelled,         // the request's group was cancelled (or its handle)
    transport,         // libcurl failed: refused, time-out, cut short, refused redirect...
    status,            // a status outside 200-299 without a usable body
    unparseableReply,  // a 2xx body that is not a JSON object (-1017)
    network,           // the reply could not be handed over (TDNetworkError)
    download,          // a download's body does not match its Content-Length
    file,              // a download could not be written
  };

  // The layer's own errors.
  static constexpr std::string_view kDomain = "cn.com.qx.orvexForMac.http";
  static constexpr long kCancelledCode = 15;
  static constexpr long kTransportCode = 1;
  static constexpr long kStatusCode = 2;
  static constexpr long kDownloadCode = 3;
  static constexpr long kFileCode = 4;
  static constexpr long kNetworkCode = 5;
  // The reply that is not JSON, as the application has always reported it.
  static constexpr std::string_view kParseDomain = "com.MyCompany.MyApplication.ErrorDomain";
  static constexpr long kCannotParseResponseCode = -1017;
  static constexpr std::string_view kCannotParseResponseText = "无法解析响应";
  // TDNetworkError reasons.
  static constexpr std::string_view kWrongReplyTypeText = "返回数据类型错误";
  static constexpr std::string_view kNoSuccessBlockText = "没有传递成功回调";

  static HttpError cancelled();
  static HttpError transport(int curlCode, std::string text);
  static HttpError status(long statusCode);
  // The body becomes the failure reason ("" when it is not UTF-8).
  static HttpError cannotParseResponse(std::string_view body, long statusCode);
  // The Part's TDNetworkError: one reason.
  static HttpError tdNetworkError(std::string reason);
  static HttpError download(std::string text);
  static HttpError file(std::string text);

  Kind kind() const { return kind_; }
  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const std::string& description() const { return description_; }
  const std::string& failureReason() const { return failureReason_; }
  // TDNetworkError's reason (its description).
  const std::string& reason() const { return description_; }
  // The HTTP status of the reply, 0 when none came.
  long statusCode() const { return statusCode_; }
  // The libcurl result code of a transport error, 0 otherwise.
  int curlCode() const { return curlCode_; }

  bool isCancelled() const { return domain_ == kDomain && code_ == kCancelledCode; }

  // Domain, code and description, for logs and the console.  Never the
  // failure reason: that is a reply body, which may carry a token.
  std::string text() const;

 private:
  HttpError(Kind kind, std::string_view domain, long code, std::string description);

  Kind kind_;
  std::string domain_;
  long code_;
  std::string description_;
  std::string failureReason_;
  long statusCode_ = 0;
  int curlCode_ = 0;
};

}  // namespace vistrelle::cloud
