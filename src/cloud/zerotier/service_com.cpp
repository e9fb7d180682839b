#include "cloud/zerotier/service_com.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>

#include "base/helpers/language_bundle.h"
#include "base/log/orvex_log.h"
#include "cloud/http/url_encoding.h"
#include "cloud/zerotier/private_file.h"
#include "cloud/zerotier/service_reply.h"
#include "platform/dispatch/runtime.h"
#include "platform/notify/notification_center.h"
#include "platform/privileged/linux/pkexec_privileged_reader.h"
#include "platform/settings/user_directories.h"

namespace vistrelle::cloud::zerotier {

namespace {

using privileged::PrivilegedReadResult;

const RequestGroup& zeroTierGroup() {
  static const RequestGroup group("zerotier");
  return group;
}

// The user's copy, as the Part's reader takes it: every line break removed.
std::string withoutLineBreaks(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  return text;
}

}  // namespace

std::shared_ptr<ServiceCom> ServiceCom::create(Options options) {
  return std::shared_ptr<ServiceCom>(new ServiceCom(std::move(options)));
}

std::shared_ptr<ServiceCom> ServiceCom::sharedInstance() {
  static const std::shared_ptr<ServiceCom> instance = create(Options{});
  return instance;
}

ServiceCom::ServiceCom(Options options) : options_(std::move(options)) {
  if (!options_.http) options_.http = OrvexAlamofireManager::shared();
  if (!options_.reader) options_.reader = std::make_shared<privileged::PkexecPrivilegedReader>();
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.tokenQueue)
    options_.tokenQueue = dispatch::makeSerialQueue("com.zerotier.one.token");
  if (!options_.dataHome) options_.dataHome = [] { return UserDirectories::dataHome(); };
  if (!options_.console) {
    options_.console = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
}

std::string ServiceCom::userFolder() const {
  return options_.dataHome() + "/" + secretTokenPath_ + "/One";
}

std::string ServiceCom::userTokenPath() const {
  return userFolder() + "/" + kUserTokenFileName;
}

int ServiceCom::permissionPopUpCount() const {
  std::lock_guard lock(mutex_);
  return permissionPopUpCount_;
}

bool ServiceCom::resetKey() const {
  std::lock_guard lock(mutex_);
  return resetKey_;
}

int ServiceCom::failureCount() const {
  std::lock_guard lock(mutex_);
  return failureCount_;
}

void ServiceCom::setNodeAddressSource(std::function<std::optional<std::string>()> source) {
  nodeAddress_ = std::move(source);
}

void ServiceCom::retryAuthorization() {
  std::lock_guard lock(mutex_);
  permissionPopUpCount_ = 0;
  promptPausedUntil_.reset();
  pauseError_.reset();
}

// --- The token --------------------------------------------------------------

void ServiceCom::key(TokenCompletion completion) {
  std::optional<std::string> ready;
  {
    std::lock_guard lock(mutex_);
    if (isQuitting_) {
      ready.emplace();
    } else if (cachedToken_ && !resetKey_) {
      ready = cachedToken_;
    }
  }
  if (ready) {
    completion(std::move(*ready), std::nullopt);
    return;
  }
  options_.tokenQueue->post(
      [self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->acquire(std::move(completion));
      });
}

void ServiceCom::acquire(TokenCompletion completion) {
  bool logReset = false;
  bool readUserCopy = false;
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(completion));
    // Everyone who comes during a prompt gets its outcome.
    if (prompting_) return;
    if (isQuitting_) {
      cachedToken_.reset();
    } else {
      if (resetKey_ && cachedToken_) {
        cachedToken_.reset();
        ++failureCount_;
        logReset = failureCount_ >= kFailureLogThreshold;
      }
      readUserCopy = !cachedToken_ && !resetKey_;
    }
  }
  if (isQuitting_) return resolve("", std::nullopt);
  if (logReset) {
    OrvexLog::logZTMessage(
        base::LanguageBundle::shared().localizedStringForKey(kAuthTokenErrorText), kTokenErrorTag);
  }
  {
    std::unique_lock lock(mutex_);
    if (cachedToken_) {
      const std::string token = *cachedToken_;
      lock.unlock();
      return resolve(token, std::nullopt);
    }
  }

  if (readUserCopy) {
    std::string error;
    const std::optional<std::string> copy =
        PrivateFile::read(userTokenPath(), privileged::PrivilegedReader::kMaxBytes, &error);
    if (!error.empty()) return resolve("", ServiceComError::file(error));
    if (copy) {
      std::string token = withoutLineBreaks(*copy);
      // An empty copy is no token: ask the service's file instead.
      if (!token.empty()) {
        {
          std::lock_guard lock(mutex_);
          cachedToken_ = token;
        }
        return resolve(token, std::nullopt);
      }
    }
  }

  std::string error;
  if (!PrivateFile::makeFolder(options_.dataHome() + "/" + secretTokenPath_, &error) ||
      !PrivateFile::makeFolder(userFolder(), &error)) {
    return resolve("", ServiceComError::file(error));
  }
  {
    std::unique_lock lock(mutex_);
    std::optional<ServiceComError> refused;
    if (permissionPopUpCount_ >= kMaxPrompts) {
      refused = ServiceComError::tooManyPrompts();
    } else if (promptPausedUntil_ && options_.mainQueue->now() < *promptPausedUntil_) {
      refused = pauseError_;
    }
    if (refused) {
      lock.unlock();
      return resolve("", refused);
    }
    prompting_ = true;
  }
  options_.reader->read(options_.config.serviceTokenPath, options_.tokenQueue,
                        [self = shared_from_this()](PrivilegedReadResult result) {
                          self->promptEnded(std::move(result));
                        });
}

void ServiceCom::promptEnded(PrivilegedReadResult result) {
  std::optional<ServiceComError> error;
  switch (result.outcome) {
    case PrivilegedReadResult::Outcome::read:
      if (result.text.empty())
        error = ServiceComError::authorization(ServiceComError::kUnknownKeyText);
      break;
    case PrivilegedReadResult::Outcome::notStarted:
      error = ServiceComError::authorization(ServiceComError::kCreateAuthorizationText);
      break;
    case PrivilegedReadResult::Outcome::canceled:
    case PrivilegedReadResult::Outcome::denied:
      error = ServiceComError::authorization(ServiceComError::kCopyRightsText);
      break;
    case PrivilegedReadResult::Outcome::failed:
      error = ServiceComError::authorization(ServiceComError::kUnknownKeyText);
      break;
  }
  if (!result.succeeded()) {
    options_.console(kReadFailedText);
    options_.console(result.statusText);
  }
  {
    std::lock_guard lock(mutex_);
    prompting_ = false;
    if (result.prompted) ++permissionPopUpCount_;
    if (!error) {
      cachedToken_ = result.text;
      // Cleared only now: after a prompt that gave nothing, the next request
      // must not fall back on the copy the service has refused.
      resetKey_ = false;
      promptPausedUntil_.reset();
      pauseError_.reset();
    } else if (result.prompted) {
      promptPausedUntil_ = options_.mainQueue->now() + kPromptPause;
      pauseError_ = error;
    }
  }
  if (error) return resolve("", error);

  std::string writeError;
  if (!PrivateFile::writeAtomically(userTokenPath(), result.text, &writeError)) {
    // The token stays cached; only this request fails.
    return resolve("", ServiceComError::file(writeError));
  }
  resolve(result.text, std::nullopt);
}

void ServiceCom::resolve(const std::string& token, const std::optional<ServiceComError>& error) {
  std::vector<TokenCompletion> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(waiting_);
  }
  for (TokenCompletion& completion : waiting) {
    options_.mainQueue->post([completion = std::move(completion), token, error]() mutable {
      completion(std::move(token), std::move(error));
    });
  }
}

// --- Requests ---------------------------------------------------------------

std::optional<ServiceComError> ServiceCom::guard() const {
  std::lock_guard lock(mutex_);
  if (permissionPopUpCount_ >= kMaxPrompts) return ServiceComError::tooManyPrompts();
  return std::nullopt;
}

void ServiceCom::send(HttpMethod method, std::string path, HttpHeaders headers,
                      std::optional<std::string> body, TokenFailure failed, Reply reply) {
  key([self = shared_from_this(), method, path = std::move(path), headers = std::move(headers),
       body = std::move(body), failed = std::move(failed),
       reply = std::move(reply)](std::string token, std::optional<ServiceComError> error) mutable {
    if (error) return failed(*error);
    RawRequest request;
    request.method = method;
    // The token travels in the query, so this URL never goes to a log.
    request.url = self->baseURL() + path + "?auth=" + percentEncodedQueryComponent(token);
    request.headers = std::move(headers);
    request.body = std::move(body);
    request.connectTimeout = self->options_.connectTimeout;
    request.timeout = self->options_.requestTimeout;
    self->options_.http->rawRequest(
        std::move(request),
        [reply = std::move(reply), token](std::optional<RawResponse> response,
                                          std::optional<HttpError> error) {
          reply(token, std::move(response), std::move(error));
        },
        zeroTierGroup());
  });
}

void ServiceCom::noteTransportError(const HttpError& error, int32_t tag) {
  if (error.curlCode() == CURLE_COULDNT_CONNECT) {
    // The service is not running: a plain state, logged when it begins.
    if (serviceDown_) return;
    serviceDown_ = true;
  } else {
    serviceDown_ = false;
  }
  if (tag > 0) OrvexLog::logZTMessage(error.description(), tag);
}

void ServiceCom::noteReply(long status, const std::string& token) {
  serviceDown_ = false;
  if (status != 401) return;
  std::lock_guard lock(mutex_);
  // A late 401 for a token already replaced must not throw the new one away
  // (and cost another prompt).
  if (!cachedToken_ || *cachedToken_ == token) resetKey_ = true;
}

void ServiceCom::postJoinFailure() {
  options_.mainQueue->postAfter(kJoinFailureDelay, [] {
    NotificationCenter::defaultCenter().post(kLoginSuccessNotification, Value(true));
  });
}

template <typename Parsed>
std::optional<ServiceComError> ServiceCom::getParsed(
    const char* path, int32_t transportTag, int32_t jsonTag,
    std::optional<Parsed> (*parse)(std::string_view body, std::string* reason),
    std::function<void(std::optional<Parsed>, std::optional<ServiceComError>)> completion) {
  if (std::optional<ServiceComError> refused = guard()) return refused;
  auto done = std::make_shared<decltype(completion)>(std::move(completion));
  send(
      HttpMethod::GET, path, {}, std::nullopt,
      [done](const ServiceComError& error) {
        if (*done) (*done)(std::nullopt, error);
      },
      [self = shared_from_this(), done, transportTag, jsonTag, parse](
          const std::string& token, std::optional<RawResponse> response,
          std::optional<HttpError> failure) {
        if (failure) {
          self->noteTransportError(*failure, transportTag);
          if (*done) (*done)(std::nullopt, ServiceComError::transport(*failure));
          return;
        }
        self->noteReply(response->status, token);
        if (response->status != 200) {
          if (*done) (*done)(std::nullopt, ServiceComError::status(response->status));
          return;
        }
        std::string reason;
        std::optional<Parsed> parsed = parse(response->body, &reason);
        if (!parsed) {
          OrvexLog::logZTMessage(reason, jsonTag);
          if (*done) (*done)(std::nullopt, ServiceComError::reply(reason));
          return;
        }
        if (*done) (*done)(std::move(parsed), std::nullopt);
      });
  return std::nullopt;
}

std::optional<ServiceComError> ServiceCom::getNodeStatus(NodeStatusCompletion completion) {
  return getParsed<NodeStatus>("/status", kStatusTransportTag, kStatusJsonTag,
                               &ServiceReply::nodeStatus, std::move(completion));
}

std::optional<ServiceComError> ServiceCom::getNetworklist(NetworkListCompletion completion) {
  return getParsed<std::vector<Network>>("/network", kListTransportTag, kListJsonTag,
                                         &ServiceReply::networkList, std::move(completion));
}

std::optional<ServiceComError> ServiceCom::joinNetwork(const std::string& networkId,
                                                       bool allowManaged, bool allowGlobal,
                                                       bool allowDefault, bool allowDNS,
                                                       JoinCompletion completion) {
  if (std::optional<ServiceComError> refused = guard()) return refused;
  const nlohmann::json body = {{"allowManaged", allowManaged},
                               {"allowGlobal", allowGlobal},
                               {"allowDefault", allowDefault},
                               {"allowDNS", allowDNS}};
  auto done = std::make_shared<JoinCompletion>(std::move(completion));
  send(
      HttpMethod::POST, "/network/" + percentEncodedPathSegment(networkId),
      {{std::string(kContentTypeHeader), "application/json"}}, body.dump(),
      [done](const ServiceComError& error) {
        if (*done) (*done)(error);
      },
      [self = shared_from_this(), done](const std::string& token,
                                        std::optional<RawResponse> response,
                                        std::optional<HttpError> failure) {
        if (failure) {
          self->noteTransportError(*failure, kJoinTransportTag);
          self->postJoinFailure();
          if (*done) (*done)(ServiceComError::transport(*failure));
          return;
        }
        self->noteReply(response->status, token);
        if (response->status == 200) {
          {
            std::lock_guard lock(self->mutex_);
            self->permissionPopUpCount_ = 0;
          }
          const std::optional<std::string> address =
              self->nodeAddress_ ? self->nodeAddress_() : std::nullopt;
          NotificationCenter::defaultCenter().post(kJoinOkNotification,
                                                   address ? Value(*address) : Value());
          if (*done) (*done)(std::nullopt);
          return;
        }
        if (response->status != 401) self->postJoinFailure();
        if (*done) (*done)(ServiceComError::status(response->status));
      });
  return std::nullopt;
}

std::optional<ServiceComError> ServiceCom::leaveNetwork(const std::string& networkId,
                                                        LeaveCompletion completion) {
  if (std::optional<ServiceComError> refused = guard()) return refused;
  auto done = std::make_shared<LeaveCompletion>(std::move(completion));
  send(
      HttpMethod::DELETE, "/network/" + percentEncodedPathSegment(networkId), {}, std::nullopt,
      [done](const ServiceComError& error) {
        if (*done) (*done)(error);
      },
      [self = shared_from_this(), done](const std::string& token,
                                        std::optional<RawResponse> response,
                                        std::optional<HttpError> failure) {
        if (failure) {
          self->noteTransportError(*failure, kLeaveTransportTag);
          if (*done) (*done)(ServiceComError::transport(*failure));
          return;
        }
        self->noteReply(response->status, token);
        if (response->status == 200) {
          {
            std::lock_guard lock(self->mutex_);
            self->permissionPopUpCount_ = 0;
          }
          if (*done) (*done)(std::nullopt);
          return;
        }
        if (*done) (*done)(ServiceComError::status(response->status));
      });
  return std::nullopt;
}

void ServiceCom::quitZT(QuitCompletion completion) {
  auto done = std::make_shared<QuitCompletion>(std::move(completion));
  send(
      HttpMethod::GET, "/quit", {}, std::nullopt,
      [done](const ServiceComError& error) {
        if (*done) (*done)(false, error);
      },
      [self = shared_from_this(), done](const std::string& token,
                                        std::optional<RawResponse> response,
                                        std::optional<HttpError> failure) {
        if (failure) {
          // The service exits on this request, often before it answers: a
          // connection closed or reset, or one refused because it is gone
          // already, is what success looks like.
          const bool quit = !failure->isCancelled();
          if (*done)
            (*done)(quit,
                    quit ? std::nullopt : std::optional(ServiceComError::transport(*failure)));
          return;
        }
        self->noteReply(response->status, token);
        const bool quit = response->status >= 200 && response->status <= 299;
        if (*done) {
          (*done)(quit,
                  quit ? std::nullopt : std::optional(ServiceComError::status(response->status)));
        }
      });
}

}  // namespace vistrelle::cloud::zerotier
