#include "cloud/account/login.h"

#include <utility>

#include "base/helpers/host_info.h"
#include "base/helpers/language_bundle.h"
#include "base/log/orvex_log.h"
#include "base/settings/settings_keys.h"
#include "base/state/main_state.h"
#include "cloud/account/account_name_mask.h"
#include "cloud/account/value_from_json.h"
#include "cloud/http/orvex_request_url.h"
#include "cloud/http/url_encoding.h"
#include "cloud/zerotier/orvex_zero_tier_manager.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::cloud {

namespace {

namespace keys = settings_keys;

std::string localized(const char* text) {
  return base::LanguageBundle::shared().localizedStringForKey(text);
}

// A toast for the user; the service's empty message says nothing.
void showToast(const std::string& text) {
  if (!text.empty()) message::TransientMessage::show(text);
}

bool isOverseas() {
  return MainState::shared().isOverseas.load();
}

int64_t systemMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::shared_ptr<Login> Login::create(Options options) {
  return std::shared_ptr<Login>(new Login(std::move(options)));
}

std::shared_ptr<Login> Login::shared() {
  static const std::shared_ptr<Login> login = create(Options{});
  return login;
}

Login::Login(Options options)
    : options_(std::move(options)), sessionFile_(options_.sessionFilePath, options_.userInfoQueue) {
  if (!options_.defaults) options_.defaults = &UserDefaults::standard();
  if (!options_.timer) options_.timer = &GCXTimer::shared();
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.nowMilliseconds) options_.nowMilliseconds = systemMilliseconds;
  if (!options_.localNetworks) {
    options_.localNetworks = [] { return base::localIPv4Addresses(); };
  }
  if (!options_.ensureZeroTierManager) {
    options_.ensureZeroTierManager = [] { zerotier::OrvexZeroTierManager::shareManager(); };
  }
}

Login::~Login() {
  options_.timer->cancel(refreshAccessTokenTimer_);
}

void Login::setShowMainWindow(std::function<void()> show) {
  options_.showMainWindow = std::move(show);
}

OrvexAlamofireManager& Login::http() const {
  // The layer holds its session, so the session does not hold the process'
  // layer: it is looked up when needed.
  return options_.http ? *options_.http : *OrvexAlamofireManager::shared();
}

int64_t Login::nowMilliseconds() const {
  return options_.nowMilliseconds();
}

void Login::persist() {
  if (!options_.defaults->synchronize()) OrvexLog::logMessage("登录信息保存失败");
}

void Login::completeLater(Completion completion, bool success, std::optional<std::string> message) {
  if (!completion) return;
  options_.mainQueue->post([completion = std::move(completion), success,
                            message = std::move(message)] { completion(success, message); });
}

// The session from the store.

bool Login::isLogin() const {
  const std::optional<Value::Map> stored =
      options_.defaults->dictionaryForKey(keys::kOrvexUserInfo);
  rebuild(Value(stored.value_or(Value::Map{})));
  return fields_.access_token && !fields_.access_token->empty();
}

std::string Login::accessToken() const {
  return fields_.access_token.value_or("");
}

std::string Login::refreshToken() const {
  return fields_.refresh_token.value_or("");
}

Login& Login::setUserInfo(const Value& dictionary) {
  rebuild(dictionary);
  return *this;
}

void Login::rebuild(const Value& dictionary) const {
  NotificationCenter& center = NotificationCenter::defaultCenter();
  const std::optional<LoginFields> session = LoginFields::fromDictionary(dictionary);
  if (!session) {
    // The grant's expiry is kept; it was never the stored session's.
    const std::optional<int64_t> expiry = fields_.tokenExpireTime;
    fields_ = LoginFields{};
    fields_.tokenExpireTime = expiry;
    center.post(kHeaderImageNotification, Value(false));
    return;
  }
  fields_.clientId = session->clientId;
  fields_.token_type = session->token_type;
  fields_.access_token = session->access_token;
  fields_.refresh_token = session->refresh_token;
  fields_.user_id = session->user_id;

  // The user's own fields come from the nested dictionary (null when absent
  // or not a dictionary, and then every field below is empty).
  const Value& user = dictionary["user_info"];
  const std::string account = textOf(user["username"]).value_or("");
  const std::string nick = textOf(user["nickName"]).value_or("");
  const std::string picture = textOf(user["avatar"]).value_or("");
  fields_.phone = textOf(user["phone"]).value_or("");
  fields_.username = maskAccountName(account);
  fields_.nickName = maskAccountName(nick.empty() ? account : nick);
  fields_.avatar = picture.empty() ? std::string() : http().config().api(isOverseas()) + picture;
  center.post(kHeaderImageNotification, Value(true));
}

// Requests.

void Login::getVerificationCode(const std::optional<std::string>& account, Completion completion) {
  const OrvexRequestUrl route =
      isOverseas() ? OrvexRequestUrl::mailCode : OrvexRequestUrl::mobileCode;
  // The account is the user's text: one path segment, whatever it holds.
  const std::string path =
      rawValue(route, http().config()) + percentEncodedPathSegment(account.value_or(""));
  http().GETWithJSON(
      path, nullptr, true,
      [completion](const ReplyEnvelope& envelope) {
        if (!completion) return;
        if (envelope.success) {
          completion(true, std::nullopt);
        } else {
          completion(false, envelope.msg);
        }
      },
      [completion](const HttpError&) {
        if (completion) completion(false, localized(kNetworkProblemText));
      },
      requestGroup());
}

void Login::requestToken(const std::string& account, const std::optional<std::string>& code,
                         bool refresh, Completion completion) {
  nlohmann::json parameters = nlohmann::json::object();
  if (refresh) {
    const std::string token = refreshToken();
    if (token.empty()) {
      completeLater(std::move(completion), false, localized(kLoginExpiredText));
      return;
    }
    parameters["refresh_token"] = token;
    parameters["grant_type"] = "refresh_token";
  } else {
    if (!code || code->empty()) {
      completeLater(std::move(completion), false, localized(kEnterCodeText));
      return;
    }
    const char* grant = isOverseas() ? "mail" : "mobile";
    parameters[grant] = account;
    parameters["code"] = *code;
    parameters["grant_type"] = grant;
  }
  parameters["scope"] = "server";

  const uint64_t generation = generation_;
  // queryOnly: the parameters travel in the query and the POST has no body.
  http().requestWithQueryParameters(
      rawValue(OrvexRequestUrl::oauthToken, http().config()), HttpMethod::POST,
      std::move(parameters), true,
      [weak = weak_from_this(), generation, completion](const ReplyEnvelope& envelope) {
        const auto self = weak.lock();
        if (!self) return;
        // Sent before a sign-out: it must not sign the user back in.
        if (generation != self->generation_) {
          if (completion) completion(false, kNetworkErrorText);
          return;
        }
        self->handleTokenReply(envelope, completion);
      },
      [completion](const HttpError&) {
        if (completion) completion(false, kNetworkErrorText);
      },
      requestGroup());
}

void Login::handleTokenReply(const ReplyEnvelope& envelope, const Completion& completion) {
  if (!envelope.success) {
    if (completion) completion(false, envelope.msg);
    return;
  }
  UserDefaults& defaults = *options_.defaults;
  const Value reply = valueFromJson(envelope.reply);
  const Value::Map* replied = reply.asMap();
  if (replied == nullptr) {  // the layer hands over objects only
    if (completion) completion(false, kNetworkErrorText);
    return;
  }
  bool stored = true;
  if (std::optional<Value::Map> session = defaults.dictionaryForKey(keys::kOrvexUserInfo)) {
    // A refresh (or a repeated grant): the new tokens into the stored session.
    const auto access = replied->find("access_token");
    if (access != replied->end()) {
      (*session)["access_token"] = access->second;
    } else {
      session->erase("access_token");
    }
    // A reply without a refresh token keeps the one there is: dropping it
    // would leave a session that can never be refreshed again.
    const auto refreshed = replied->find("refresh_token");
    if (refreshed != replied->end() && !textOf(refreshed->second).value_or("").empty()) {
      (*session)["refresh_token"] = refreshed->second;
    }
    rebuild(Value(*session));
    defaults.setDictionary(keys::kOrvexUserInfo, std::move(*session));
  } else if (LoginFields::fromDictionary(reply)) {
    rebuild(reply);
    defaults.setObject(keys::kOrvexUserInfo, reply);
  } else {
    stored = false;
  }
  if (stored) {
    if (const std::string token = accessToken(); !token.empty()) {
      defaults.setString(keys::kOrvexUserToken, token);
    } else {
      defaults.removeObjectForKey(keys::kOrvexUserToken);
    }
    persist();
  }

  getUserInfo();
  if (options_.showMainWindow) options_.showMainWindow();

  defaults.setInteger(keys::kOrvexRefreshAccessTokenTimestamp, nowMilliseconds());
  persist();
  startRefreshTokenTimer();
  if (completion) completion(true, std::nullopt);
}

void Login::startRefreshTokenTimer() {
  if (!isLogin()) return;
  UserDefaults& defaults = *options_.defaults;
  const std::optional<Value> grantTime =
      defaults.objectForKey(keys::kOrvexRefreshAccessTokenTimestamp);
  if (!grantTime || !grantTime->isInteger()) {
    defaults.setInteger(keys::kOrvexRefreshAccessTokenTimestamp, nowMilliseconds());
    persist();
    return;
  }
  if (!refreshAccessTokenTimer_.empty()) return;
  // On the main queue, like everything else that reads or writes the fields.
  refreshAccessTokenTimer_ = options_.timer->start(
      [weak = weak_from_this(), grant = *grantTime->asInt()] {
        if (const auto self = weak.lock()) self->refreshCheck(grant);
      },
      kRefreshCheckSeconds, kRefreshCheckSeconds, true, false);
}

void Login::refreshCheck(int64_t grantTime) {
  if (refreshToken().empty()) return;
  if (nowMilliseconds() - grantTime <= kRefreshAfterMilliseconds) return;
  options_.timer->cancel(refreshAccessTokenTimer_);
  refreshAccessTokenTimer_.clear();
  const uint64_t generation = generation_;
  requestToken("", std::nullopt, true,
               [weak = weak_from_this(), generation](bool refreshed, std::optional<std::string>) {
                 const auto self = weak.lock();
                 if (!self) return;
                 if (refreshed) {
                   OrvexLog::logMessage(kRefreshedLogText);
                   return;
                 }
                 // Signed out while it ran: there is no session left to expire.
                 if (generation != self->generation_) return;
                 message::TransientMessage::show(localized(kLoginExpiredText));
                 self->clearLoginInfo(false);
                 NotificationCenter::defaultCenter().post(kLoginExpiredNotification, Value(true));
               });
}

void Login::getUserInfo() {
  const uint64_t generation = generation_;
  http().GETWithJSON(
      rawValue(OrvexRequestUrl::userInfo, http().config()), nullptr, true,
      [weak = weak_from_this(), generation](const ReplyEnvelope& envelope) {
        const auto self = weak.lock();
        if (!self || generation != self->generation_ || !envelope.success) return;
        UserDefaults& defaults = *self->options_.defaults;
        if (std::optional<Value::Map> session = defaults.dictionaryForKey(keys::kOrvexUserInfo)) {
          if (envelope.dataObject) {
            (*session)["user_info"] = valueFromJson(*envelope.dataObject);
          } else {
            session->erase("user_info");
          }
          defaults.setDictionary(keys::kOrvexUserInfo, std::move(*session));
          self->persist();
        }
        NotificationCenter::defaultCenter().post(kUserInfoUpdatedNotification);
      },
      nullptr, requestGroup());
}

void Login::logout(Completion completion) {
  http().DELETEWithJSON(
      rawValue(OrvexRequestUrl::tokenLogout, http().config()), nullptr, true,
      [weak = weak_from_this(), completion](const ReplyEnvelope& envelope) {
        if (!envelope.success) {
          if (completion) completion(false, envelope.msg);
          return;
        }
        if (const auto self = weak.lock()) self->clearLoginInfo(false);
        if (completion) completion(true, std::nullopt);
      },
      [completion](const HttpError&) {
        if (completion) completion(false, kNetworkErrorText);
      },
      requestGroup());
}

void Login::getZtNetwork(NetworkCompletion completion) {
  nlohmann::json addresses = nlohmann::json::array();
  for (const std::string& address : options_.localNetworks()) addresses.push_back(address);
  const uint64_t generation = generation_;
  http().POSTWithJSON(
      rawValue(OrvexRequestUrl::ztNetwork, http().config()),
      {{"localNetwork", std::move(addresses)}}, false,
      [weak = weak_from_this(), generation, completion](const ReplyEnvelope& envelope) {
        const auto self = weak.lock();
        if (!self) return;
        if (!envelope.success) {
          if (completion) completion("");
          showToast(envelope.msg);
          return;
        }
        // The id belongs to the session that asked for it.
        if (generation != self->generation_) {
          if (completion) completion("");
          return;
        }
        std::optional<std::string> networkId;
        if (envelope.dataObject) {
          const auto found = envelope.dataObject->find("networkId");
          if (found != envelope.dataObject->end() && found->is_string() &&
              !found->get_ref<const std::string&>().empty()) {
            networkId = found->get<std::string>();
          }
        }
        UserDefaults& defaults = *self->options_.defaults;
        if (networkId) {
          defaults.setString(keys::kOrvexZtNetworkRoomId, *networkId);
        } else {
          defaults.removeObjectForKey(keys::kOrvexZtNetworkRoomId);
        }
        self->persist();
        if (networkId && completion) completion(*networkId);
      },
      [completion](const HttpError&) {
        showToast(localized(kNetworkProblemText));
        if (completion) completion("");
      },
      requestGroup());
}

void Login::authorizeZtNetwork(const std::string& networkId, const std::string& nodeId,
                               AuthorizeCompletion completion) {
  http().POSTWithJSON(
      rawValue(OrvexRequestUrl::ztNetworkAuthorize, http().config()),
      {{"networkId", networkId}, {"nodeId", nodeId}}, false,
      [weak = weak_from_this(), completion](const ReplyEnvelope& envelope) {
        const auto self = weak.lock();
        if (!self) return;
        if (envelope.success) {
          self->options_.ensureZeroTierManager();
          if (completion) completion(true);
          return;
        }
        showToast(envelope.msg);
        if (completion) completion(false);
      },
      [completion](const HttpError&) {
        showToast(localized(kNetworkProblemText));
        if (completion) completion(false);
      },
      requestGroup());
}

// Signing out.

void Login::refresh(std::function<void(bool refreshed)> completion) {
  requestToken("", std::nullopt, true,
               [completion = std::move(completion)](bool refreshed, std::optional<std::string>) {
                 if (completion) completion(refreshed);
               });
}

void Login::clear() {
  clearLoginInfo(false);
}

void Login::clearLoginInfo(bool delayed) {
  // Replies to anything sent so far belong to the session that ends here.
  ++generation_;
  // Only the session's own transfers: an update download runs on.
  http().cancelGroup(requestGroup());
  options_.timer->cancel(refreshAccessTokenTimer_);
  refreshAccessTokenTimer_.clear();

  std::string error;
  if (!sessionFile_.writeEmptyDictionary(&error)) {
    OrvexLog::logMessage("会话文件写入失败：" + error);
  }

  UserDefaults& defaults = *options_.defaults;
  defaults.removeObjectForKey(keys::kOrvexUserInfo);
  defaults.removeObjectForKey(keys::kOrvexUserToken);
  defaults.removeObjectForKey(keys::kOrvexZtNetworkRoomId);
  defaults.removeObjectForKey(keys::kOrvexRefreshAccessTokenTimestamp);
  persist();
  fields_ = LoginFields{};

  const auto postStatus = [] {
    NotificationCenter::defaultCenter().post(kLoginStatusNotification, Value(false));
  };
  if (delayed) {
    options_.mainQueue->postAfter(kLoginStatusDelay, postStatus);
  } else {
    postStatus();
  }
  if (options_.showMainWindow) options_.showMainWindow();
}

}  // namespace vistrelle::cloud
