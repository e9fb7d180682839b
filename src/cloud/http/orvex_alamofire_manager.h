#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cloud/http/account_session.h"
#include "cloud/http/http_error.h"
#include "cloud/http/http_method.h"
#include "cloud/http/raw_request.h"
#include "cloud/http/reply_envelope.h"
#include "cloud/http/request_group.h"
#include "cloud/http/request_handle.h"
#include "cloud/http/request_headers.h"
#include "cloud/http/service_config.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::cloud {

class HttpClientCore;

// Growing from 0 to 1 (0 throughout when the length is unknown, then 1).
using DownloadProgress = std::function<void(double fractionCompleted)>;
// Exactly one is set: the saved file's path, or the error.
using DownloadCompletion =
    std::function<void(std::optional<std::string> filePath, std::optional<HttpError> error)>;
using UploadProgress = std::function<void(double fractionCompleted)>;
// Exactly one is set: the reply when it is a JSON object, or the error.
using UploadCompletion =
    std::function<void(std::optional<nlohmann::json> reply, std::optional<HttpError> error)>;

// The one place that talks HTTP to the account-and-update service: JSON
// requests answered with the service's envelope, the package download, a
// binary upload, and raw requests for other local services.
//
// Every operation may be called from any thread; it starts on the main queue
// (posted there first), where the session's headers are read.  Every block,
// progress report and completion runs on the main queue.  The transfers run
// on one libcurl worker thread that stop() ends.
class OrvexAlamofireManager {
 public:
  struct Options {
    ServiceConfig config = ServiceConfig::defaults();
    dispatch::ExecutorPtr mainQueue;          // none: dispatch::mainQueue()
    std::shared_ptr<AccountSession> session;  // none: signed out
    // JSON requests and uploads end within this time.
    std::chrono::milliseconds requestTimeout = kRequestTimeout;
    // A download ends when it moves less than 1 byte a second for this long
    // (also the connect limit); no limit on its whole time.
    std::chrono::seconds downloadIdleLimit = std::chrono::seconds(60);
    std::function<std::string()> downloadFolder;      // none: downloadFolder()
    std::function<void(const std::string&)> console;  // debug prints; none: stdout
    // A longer JSON or raw reply fails instead of filling the memory.
    size_t maxReplyBytes = size_t{32} << 20;
  };

  OrvexAlamofireManager();
  explicit OrvexAlamofireManager(Options options);
  // Stops.
  ~OrvexAlamofireManager();
  OrvexAlamofireManager(const OrvexAlamofireManager&) = delete;
  OrvexAlamofireManager& operator=(const OrvexAlamofireManager&) = delete;

  // The process' layer: the one installed with setShared(), else one made
  // on first use with the defaults, its stop registered with the runtime.
  static std::shared_ptr<OrvexAlamofireManager> shared();
  static void setShared(std::shared_ptr<OrvexAlamofireManager> manager);

  const ServiceConfig& config() const { return options_.config; }
  // The session the gate and the headers read (main queue or before use).
  void setSession(std::shared_ptr<AccountSession> session);

  // The three JSON operations.  A path that needs a session is dropped
  // silently while signed out (neither block runs; the path is logged).
  // isQuery true puts the parameters in the query for every method (a POST
  // then has no body); false: the query for GET, a JSON body otherwise.
  RequestHandle GETWithJSON(std::string url, nlohmann::json parameters, bool isQuery,
                            SuccessBlock success, FailureBlock failure,
                            RequestGroup group = RequestGroup::general());
  RequestHandle POSTWithJSON(std::string url, nlohmann::json parameters, bool isQuery,
                             SuccessBlock success, FailureBlock failure,
                             RequestGroup group = RequestGroup::general());
  RequestHandle DELETEWithJSON(std::string url, nlohmann::json parameters, bool isQuery,
                               SuccessBlock success, FailureBlock failure,
                               RequestGroup group = RequestGroup::general());

  // The two routines behind them; callers make the login check themselves.
  // URL encoding: queryOnly true puts the parameters in the query for every
  // method; false places them by method (query for GET and DELETE, a form
  // body otherwise).
  RequestHandle requestWithQueryParameters(std::string url, HttpMethod method,
                                           nlohmann::json parameters, bool queryOnly,
                                           SuccessBlock success, FailureBlock failure,
                                           RequestGroup group = RequestGroup::general());
  RequestHandle requestWithJSONBody(std::string url, HttpMethod method, nlohmann::json parameters,
                                    SuccessBlock success, FailureBlock failure,
                                    RequestGroup group = RequestGroup::general());

  // GET of the URL as given into the download folder, as "<name>.part"
  // renamed to "OrvexSpace_package.<ext>" once complete (see
  // packageFileName); an earlier file of that name is replaced.  Only a 2xx
  // reply whose body matches its Content-Length succeeds.
  RequestHandle downloadRequest(std::string url, DownloadProgress progress,
                                DownloadCompletion completion,
                                RequestGroup group = RequestGroup::general());

  // POST of raw bytes with the "X-NLS-Token" header.
  RequestHandle uploadFile(std::string url, std::string bytes, std::string token,
                           UploadProgress progress, UploadCompletion completion,
                           RequestGroup group = RequestGroup::general());

  RequestHandle rawRequest(RawRequest request, RawCompletion completion,
                           RequestGroup group = RequestGroup::general());

  // Ends the group's requests: from its return (on the main queue) none of
  // them calls a success block or completes successfully; each gets its
  // failure block (a download or raw request its completion) with the cancel
  // error.  Other groups run on.  Any thread (posted to the main queue).
  void cancelGroup(RequestGroup group);

  // Ends the worker thread (joined); requests in flight end without any block
  // running, and later ones are dropped.  Idempotent, any thread.
  void stop();
  bool workerRunning() const;

  // The login gate's log line, followed by the path.
  static constexpr const char* kGateLogText = "未登录，请求未发送：";
  static constexpr const char* kDownloadDoneText = "下载完成，文件保存到：";
  static constexpr const char* kDownloadFailedText = "下载失败：";

 private:
  RequestHandle jsonOperation(HttpMethod method, std::string url, nlohmann::json parameters,
                              bool isQuery, SuccessBlock success, FailureBlock failure,
                              RequestGroup group);
  // Runs `start(core, id)` on the main queue; the handle is valid at once.
  RequestHandle onMain(std::function<void(HttpClientCore& core, uint64_t id)> start);

  Options options_;
  std::shared_ptr<HttpClientCore> core_;
};

}  // namespace vistrelle::cloud
