#include "cloud/http/orvex_alamofire_manager.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "base/helpers/json_helpers.h"
#include "base/log/orvex_log.h"
#include "base/state/main_state.h"
#include "cloud/http/download_destination.h"
#include "cloud/http/fake/fake_account_session.h"
#include "cloud/http/http_client_core.h"
#include "cloud/http/url_encoding.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::cloud {

namespace {

using Options = OrvexAlamofireManager::Options;
using Call = HttpClientCore::Call;

constexpr const char* kFormContentType = "application/x-www-form-urlencoded; charset=utf-8";
constexpr const char* kJsonContentType = "application/json";

// The parameters as a dictionary: anything else stands for none.
nlohmann::json asParameters(nlohmann::json parameters) {
  return parameters.is_object() ? std::move(parameters) : nlohmann::json::object();
}

void addContentTypeUnlessSet(HttpHeaders& headers, const char* type) {
  if (!headerValue(headers, kContentTypeHeader)) {
    headers.emplace_back(std::string(kContentTypeHeader), type);
  }
}

// A request to the service as the session stands now: its address under the
// region's web root, its headers, and the token they carry.
struct Addressed {
  std::string url;
  HttpHeaders headers;
  std::string token;
};

Addressed address(const Options& options, AccountSession& session, const std::string& urlText) {
  const ServiceConfig& config = options.config;
  Addressed addressed;
  addressed.token = session.accessToken();
  addressed.headers = headers(urlText, addressed.token, config.clientCredential);
  addressed.url = resolvedUrl(urlText, config.root(MainState::shared().isOverseas.load()));
  // A fragment in a foreign URL must not earn it the session's or the
  // client's credentials.
  if (!isUnderRoot(addressed.url, config.overseasRoot) &&
      !isUnderRoot(addressed.url, config.domesticRoot)) {
    std::erase_if(addressed.headers,
                  [](const auto& header) { return isCredentialHeader(header.first); });
  }
  return addressed;
}

TransferSpec jsonSpec(const Options& options, uint64_t id, HttpMethod method, Addressed& addressed,
                      std::optional<std::string> body) {
  TransferSpec spec;
  spec.kind = TransferSpec::Kind::data;
  spec.id = id;
  spec.method = methodText(method);
  spec.url = std::move(addressed.url);
  spec.headers = std::move(addressed.headers);
  spec.body = std::move(body);
  spec.totalTimeout = options.requestTimeout;
  spec.followRedirects = true;
  spec.maxBodyBytes = options.maxReplyBytes;
  return spec;
}

Call jsonCall(HttpClientCore& core, std::string urlText, std::string token, SuccessBlock success,
              FailureBlock failure, RequestGroup group) {
  Call call;
  call.group = std::move(group);
  call.abandon = [failure](const HttpError& error) {
    if (failure) failure(error);
  };
  call.finish = [weak = core.weak_from_this(), urlText = std::move(urlText),
                 token = std::move(token), success = std::move(success),
                 failure = std::move(failure)](TransferResult result) {
    if (result.error) {
      if (failure) failure(*result.error);
      return;
    }
    if (meansTokenExpired(result.status, urlText)) {
      if (const auto core = weak.lock()) core->tokenExpired(token);
    }
    handleJsonReply(result.status, result.body, urlText, success, failure);
  };
  return call;
}

void startQueryRequest(HttpClientCore& core, const Options& options, uint64_t id,
                       const std::string& urlText, HttpMethod method,
                       const nlohmann::json& parameters, bool queryOnly, SuccessBlock success,
                       FailureBlock failure, RequestGroup group) {
  Addressed addressed = address(options, core.session(), urlText);
  const std::string query = queryString(asParameters(parameters));
  std::optional<std::string> body;
  if (queryOnly || method == HttpMethod::GET || method == HttpMethod::DELETE) {
    addressed.url = appendingQuery(addressed.url, query);
  } else {
    addContentTypeUnlessSet(addressed.headers, kFormContentType);
    body = query;
  }
  std::string token = addressed.token;
  core.start(jsonSpec(options, id, method, addressed, std::move(body)),
             jsonCall(core, urlText, std::move(token), std::move(success), std::move(failure),
                      std::move(group)));
}

void startJsonBodyRequest(HttpClientCore& core, const Options& options, uint64_t id,
                          const std::string& urlText, HttpMethod method,
                          const nlohmann::json& parameters, SuccessBlock success,
                          FailureBlock failure, RequestGroup group) {
  Addressed addressed = address(options, core.session(), urlText);
  addContentTypeUnlessSet(addressed.headers, kJsonContentType);
  std::string body =
      asParameters(parameters).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string token = addressed.token;
  core.start(jsonSpec(options, id, method, addressed, std::move(body)),
             jsonCall(core, urlText, std::move(token), std::move(success), std::move(failure),
                      std::move(group)));
}

std::function<void(double)> growingOnly(std::function<void(double)> progress,
                                        std::shared_ptr<double> reported) {
  if (!progress) return nullptr;
  return [progress = std::move(progress), reported = std::move(reported)](double fraction) {
    if (fraction <= *reported) return;
    *reported = fraction;
    progress(fraction);
  };
}

void printLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

struct SharedSlot {
  std::mutex mutex;
  std::shared_ptr<OrvexAlamofireManager> manager;
  dispatch::StopRegistration stop;
};

SharedSlot& sharedSlot() {
  static SharedSlot* slot = new SharedSlot;  // lives past every static destructor
  return *slot;
}

}  // namespace

OrvexAlamofireManager::OrvexAlamofireManager() : OrvexAlamofireManager(Options{}) {}

OrvexAlamofireManager::OrvexAlamofireManager(Options options) : options_(std::move(options)) {
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.session) options_.session = std::make_shared<FakeAccountSession>();
  if (!options_.console) options_.console = printLine;
  if (!options_.downloadFolder) options_.downloadFolder = [] { return downloadFolder(); };
  core_ = std::make_shared<HttpClientCore>(options_.mainQueue, options_.session);
}

OrvexAlamofireManager::~OrvexAlamofireManager() {
  stop();
}

std::shared_ptr<OrvexAlamofireManager> OrvexAlamofireManager::shared() {
  SharedSlot& slot = sharedSlot();
  std::lock_guard lock(slot.mutex);
  if (!slot.manager) {
    slot.manager = std::make_shared<OrvexAlamofireManager>();
    if (dispatch::Runtime::installed()) {
      slot.stop = dispatch::Runtime::shared().registerStop(
          "OrvexAlamofireManager", [weak = std::weak_ptr<OrvexAlamofireManager>(slot.manager)] {
            if (const auto manager = weak.lock()) manager->stop();
          });
    }
  }
  return slot.manager;
}

void OrvexAlamofireManager::setShared(std::shared_ptr<OrvexAlamofireManager> manager) {
  SharedSlot& slot = sharedSlot();
  std::shared_ptr<OrvexAlamofireManager> previous;
  dispatch::StopRegistration previousStop;
  {
    std::lock_guard lock(slot.mutex);
    previous = std::exchange(slot.manager, std::move(manager));
    previousStop = std::move(slot.stop);
  }
  // Outside the lock: a layer made on first use stops here, joining its worker.
}

void OrvexAlamofireManager::setSession(std::shared_ptr<AccountSession> session) {
  if (!session) session = std::make_shared<FakeAccountSession>();
  core_->onMain([core = core_, session = std::move(session)]() mutable {
    core->setSession(std::move(session));
  });
}

RequestHandle OrvexAlamofireManager::onMain(
    std::function<void(HttpClientCore& core, uint64_t id)> start) {
  const uint64_t id = core_->nextId();
  core_->onMain([weak = std::weak_ptr<HttpClientCore>(core_), id, start = std::move(start)] {
    if (const auto core = weak.lock()) start(*core, id);
  });
  return RequestHandle(core_, id);
}

RequestHandle OrvexAlamofireManager::jsonOperation(HttpMethod method, std::string url,
                                                   nlohmann::json parameters, bool isQuery,
                                                   SuccessBlock success, FailureBlock failure,
                                                   RequestGroup group) {
  return onMain([options = options_, method, url = std::move(url),
                 parameters = std::move(parameters), isQuery, success = std::move(success),
                 failure = std::move(failure),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) {
    if (isTokenRequired(url) && !core.session().isLogin()) {
      OrvexLog::logMessage(kGateLogText + urlPath(url));
      return;
    }
    if (method == HttpMethod::GET || isQuery) {
      startQueryRequest(core, options, id, url, method, parameters, isQuery, success, failure,
                        group);
    } else {
      startJsonBodyRequest(core, options, id, url, method, parameters, success, failure, group);
    }
  });
}

RequestHandle OrvexAlamofireManager::GETWithJSON(std::string url, nlohmann::json parameters,
                                                 bool isQuery, SuccessBlock success,
                                                 FailureBlock failure, RequestGroup group) {
  return jsonOperation(HttpMethod::GET, std::move(url), std::move(parameters), isQuery,
                       std::move(success), std::move(failure), std::move(group));
}

RequestHandle OrvexAlamofireManager::POSTWithJSON(std::string url, nlohmann::json parameters,
                                                  bool isQuery, SuccessBlock success,
                                                  FailureBlock failure, RequestGroup group) {
  return jsonOperation(HttpMethod::POST, std::move(url), std::move(parameters), isQuery,
                       std::move(success), std::move(failure), std::move(group));
}

RequestHandle OrvexAlamofireManager::DELETEWithJSON(std::string url, nlohmann::json parameters,
                                                    bool isQuery, SuccessBlock success,
                                                    FailureBlock failure, RequestGroup group) {
  return jsonOperation(HttpMethod::DELETE, std::move(url), std::move(parameters), isQuery,
                       std::move(success), std::move(failure), std::move(group));
}

RequestHandle OrvexAlamofireManager::requestWithQueryParameters(
    std::string url, HttpMethod method, nlohmann::json parameters, bool queryOnly,
    SuccessBlock success, FailureBlock failure, RequestGroup group) {
  return onMain([options = options_, url = std::move(url), method,
                 parameters = std::move(parameters), queryOnly, success = std::move(success),
                 failure = std::move(failure),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) {
    startQueryRequest(core, options, id, url, method, parameters, queryOnly, success, failure,
                      group);
  });
}

RequestHandle OrvexAlamofireManager::requestWithJSONBody(std::string url, HttpMethod method,
                                                         nlohmann::json parameters,
                                                         SuccessBlock success, FailureBlock failure,
                                                         RequestGroup group) {
  return onMain([options = options_, url = std::move(url), method,
                 parameters = std::move(parameters), success = std::move(success),
                 failure = std::move(failure),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) {
    startJsonBodyRequest(core, options, id, url, method, parameters, success, failure, group);
  });
}

RequestHandle OrvexAlamofireManager::downloadRequest(std::string url, DownloadProgress progress,
                                                     DownloadCompletion completion,
                                                     RequestGroup group) {
  return onMain([options = options_, url = std::move(url), progress = std::move(progress),
                 completion = std::move(completion),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) {
    TransferSpec spec;
    spec.kind = TransferSpec::Kind::download;
    spec.id = id;
    spec.url = url;
    spec.followRedirects = true;
    spec.idleLimit = options.downloadIdleLimit;
    spec.connectTimeout = options.downloadIdleLimit;
    spec.downloadFolder = options.downloadFolder();

    auto reported = std::make_shared<double>(-1);
    Call call;
    call.group = group;
    call.progress = growingOnly(progress, reported);
    const auto console = options.console;
    call.finish = [progress, completion, reported, console](TransferResult result) {
      if (result.error) {
        console(kDownloadFailedText + result.error->text());
        if (completion) completion(std::nullopt, std::move(result.error));
        return;
      }
      if (progress && *reported < 1) {
        *reported = 1;
        progress(1);
      }
      console(kDownloadDoneText + ("file://" + result.filePath));
      if (completion) completion(std::move(result.filePath), std::nullopt);
    };
    call.abandon = [completion, console](const HttpError& error) {
      console(kDownloadFailedText + error.text());
      if (completion) completion(std::nullopt, error);
    };
    core.start(std::move(spec), std::move(call));
  });
}

RequestHandle OrvexAlamofireManager::uploadFile(std::string url, std::string bytes,
                                                std::string token, UploadProgress progress,
                                                UploadCompletion completion, RequestGroup group) {
  return onMain([options = options_, url = std::move(url), bytes = std::move(bytes),
                 token = std::move(token), progress = std::move(progress),
                 completion = std::move(completion),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) mutable {
    TransferSpec spec;
    spec.kind = TransferSpec::Kind::upload;
    spec.id = id;
    spec.method = "POST";
    spec.url = url;
    spec.headers = uploadHeaders(token);
    spec.body = std::move(bytes);
    spec.totalTimeout = options.requestTimeout;
    spec.followRedirects = true;
    spec.maxBodyBytes = options.maxReplyBytes;

    auto reported = std::make_shared<double>(-1);
    Call call;
    call.group = group;
    call.progress = growingOnly(progress, reported);
    call.finish = [progress, completion, reported](TransferResult result) {
      if (result.error) {
        if (completion) completion(std::nullopt, std::move(result.error));
        return;
      }
      if (progress && *reported < 1) {
        *reported = 1;
        progress(1);
      }
      if (!completion) return;
      std::optional<nlohmann::json> reply = base::jsonStringToDictionary(result.body);
      if (reply) {
        completion(std::move(reply), std::nullopt);
      } else if (result.status >= 200 && result.status <= 299) {
        completion(std::nullopt, HttpError::cannotParseResponse(result.body, result.status));
      } else {
        completion(std::nullopt, HttpError::status(result.status));
      }
    };
    call.abandon = [completion](const HttpError& error) {
      if (completion) completion(std::nullopt, error);
    };
    core.start(std::move(spec), std::move(call));
  });
}

RequestHandle OrvexAlamofireManager::rawRequest(RawRequest request, RawCompletion completion,
                                                RequestGroup group) {
  return onMain([options = options_, request = std::move(request),
                 completion = std::move(completion),
                 group = std::move(group)](HttpClientCore& core, uint64_t id) mutable {
    TransferSpec spec;
    spec.kind = TransferSpec::Kind::data;
    spec.id = id;
    spec.method = methodText(request.method);
    spec.url = std::move(request.url);
    spec.headers = std::move(request.headers);
    spec.body = std::move(request.body);
    spec.totalTimeout = request.timeout;
    spec.connectTimeout = request.connectTimeout;
    spec.noProxy = true;
    spec.maxBodyBytes = options.maxReplyBytes;

    Call call;
    call.group = group;
    call.finish = [completion](TransferResult result) {
      if (!completion) return;
      if (result.error) {
        completion(std::nullopt, std::move(result.error));
      } else {
        completion(RawResponse{result.status, std::move(result.body)}, std::nullopt);
      }
    };
    call.abandon = [completion](const HttpError& error) {
      if (completion) completion(std::nullopt, error);
    };
    core.start(std::move(spec), std::move(call));
  });
}

void OrvexAlamofireManager::cancelGroup(RequestGroup group) {
  core_->onMain([core = core_, group = std::move(group)] { core->cancelGroup(group); });
}

void OrvexAlamofireManager::stop() {
  core_->stop();
}

bool OrvexAlamofireManager::workerRunning() const {
  return core_->workerRunning();
}

}  // namespace vistrelle::cloud
