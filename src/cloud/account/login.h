#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/timer/gcx_timer.h"
#include "cloud/account/login_fields.h"
#include "cloud/account/session_file.h"
#include "cloud/http/account_session.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "platform/dispatch/executor.h"
#include "platform/settings/user_defaults.h"
#include "platform/value/value.h"

namespace vistrelle::cloud {

// The application's account session with the account service: verification
// codes, OAuth2 tokens with a refresh once the grant is a day old, the user's
// details, logout, and the requests for the user's ZeroTier network.  The
// tokens and the user's dictionary live in the settings store; the fields
// below are rebuilt from it at every isLogin().  It is the HTTP layer's
// session: its login gate, its Bearer token, and the refresh and sign-out of
// an expired token.
//
// Main queue only: every operation, every reply and the refresh task run
// there, so the fields are never rewritten while something reads them.
class Login final : public AccountSession, public std::enable_shared_from_this<Login> {
 public:
  using Completion = std::function<void(bool success, std::optional<std::string> message)>;
  using NetworkCompletion = std::function<void(const std::string& networkId)>;
  using AuthorizeCompletion = std::function<void(bool success)>;

  struct Options {
    std::shared_ptr<OrvexAlamofireManager> http;  // none: OrvexAlamofireManager::shared()
    UserDefaults* defaults = nullptr;             // none: UserDefaults::standard()
    GCXTimer* timer = nullptr;                    // none: GCXTimer::shared()
    dispatch::ExecutorPtr mainQueue;              // none: dispatch::mainQueue()
    // Milliseconds since 1970; none: the system clock.
    std::function<int64_t()> nowMilliseconds;
    std::string sessionFilePath;          // empty: SessionFile::defaultPath()
    dispatch::ExecutorPtr userInfoQueue;  // none: the session file's own queue
    // "address/prefix" of each local IPv4 interface; none: the host's.
    std::function<std::vector<std::string>()> localNetworks;
    // Makes sure the ZeroTier manager exists; none: its shared instance.
    std::function<void()> ensureZeroTierManager;
    // Shows the main window (the application wires it); none: nothing.
    std::function<void()> showMainWindow;
  };

  static std::shared_ptr<Login> create(Options options);
  // The process' session, made on first use with the defaults.
  static std::shared_ptr<Login> shared();

  ~Login() override;
  Login(const Login&) = delete;
  Login& operator=(const Login&) = delete;

  // Where a token reply and the sign-out show the main window.
  void setShowMainWindow(std::function<void()> show);

  // AccountSession.  isLogin() rebuilds the fields from the store first.
  bool isLogin() const override;
  std::string accessToken() const override;
  std::string refreshToken() const override;
  void refresh(std::function<void(bool refreshed)> completion) override;
  // The HTTP layer has told the user already: only clears (clearLoginInfo).
  void clear() override;

  // Rebuilds the fields from a dictionary laid out as the stored one (token
  // fields at the top, the user's under "user_info"); a dictionary that
  // gives no session empties them.  Posts kHeaderImageNotification either way.
  Login& setUserInfo(const Value& dictionary);

  // Asks the service to send a code to a phone number (domestic) or an
  // e-mail address (overseas).
  void getVerificationCode(const std::optional<std::string>& account, Completion completion);
  // Exchanges a code for tokens, or (refresh) the refresh token for new ones;
  // stores them, fetches the user's details and starts the refresh task.
  void requestToken(const std::string& account, const std::optional<std::string>& code,
                    bool refresh, Completion completion);
  // While signed in: the refresh task, checking every 5 s whether the last
  // grant is more than a day old.  Without a stored grant time it stores one
  // and starts nothing.
  void startRefreshTokenTimer();
  void getUserInfo();
  // Signed out: nothing is sent and the completion never runs.
  void logout(Completion completion);
  // The network the service assigns to this computer; the completion runs
  // only with an id, or with "" after a refusal or failure.
  void getZtNetwork(NetworkCompletion completion);
  void authorizeZtNetwork(const std::string& networkId, const std::string& nodeId,
                          AuthorizeCompletion completion);
  // Signs out: the session's requests cancelled (and their late replies
  // ignored), the refresh task stopped, the session file emptied, the stored
  // session and the fields gone, kLoginStatusNotification at once or 0.5 s
  // later, and the main window shown.
  void clearLoginInfo(bool delayed);

  // The fields.
  const std::optional<std::string>& clientId() const { return fields_.clientId; }
  const std::optional<std::string>& token_type() const { return fields_.token_type; }
  const std::optional<std::string>& access_token() const { return fields_.access_token; }
  const std::optional<std::string>& refresh_token() const { return fields_.refresh_token; }
  const std::optional<std::string>& user_id() const { return fields_.user_id; }
  const std::optional<std::string>& username() const { return fields_.username; }
  const std::optional<std::string>& nickName() const { return fields_.nickName; }
  const std::optional<std::string>& avatar() const { return fields_.avatar; }
  const std::optional<std::string>& phone() const { return fields_.phone; }
  std::optional<int64_t> tokenExpireTime() const { return fields_.tokenExpireTime; }
  // The running refresh task's id, "" when none.
  const std::string& refreshAccessTokenTimer() const { return refreshAccessTokenTimer_; }

  // The group of every request of the session, which the sign-out cancels.
  static RequestGroup requestGroup() { return RequestGroup("account"); }

  // A grant older than this is refreshed (a day, in milliseconds).
  static constexpr int64_t kRefreshAfterMilliseconds = 86'400'000;
  static constexpr double kRefreshCheckSeconds = 5;
  static constexpr std::chrono::milliseconds kLoginStatusDelay{500};

  static constexpr const char* kHeaderImageNotification =
      "notificationName_LoginSuccess_updateHeaderImage";
  static constexpr const char* kUserInfoUpdatedNotification = "Orvex_update_userInfo";
  static constexpr const char* kLoginStatusNotification = "Orvex_LoginStatus";
  static constexpr const char* kLoginExpiredNotification =
      "Login_Expiration_ShowLoginView_NSNotificationName";

  static constexpr const char* kNetworkProblemText = "网络问题，请稍候再试";
  static constexpr const char* kNetworkErrorText = "网络错误";
  static constexpr const char* kLoginExpiredText = "登录过期，请重新登录";
  static constexpr const char* kEnterCodeText = "请输入验证码";
  static constexpr const char* kRefreshedLogText = "token刷新成功";

 private:
  explicit Login(Options options);

  OrvexAlamofireManager& http() const;
  int64_t nowMilliseconds() const;
  // setUserInfo on the fields, which every isLogin() rewrites.
  void rebuild(const Value& dictionary) const;
  void handleTokenReply(const ReplyEnvelope& envelope, const Completion& completion);
  void refreshCheck(int64_t grantTime);
  // Completes later on the main queue, never inside the caller's call.
  void completeLater(Completion completion, bool success, std::optional<std::string> message);
  // Synchronises the store; a failure goes to the log.
  void persist();

  Options options_;
  mutable LoginFields fields_;
  std::string refreshAccessTokenTimer_;
  // Counts sign-outs: a reply to a request sent before one is stale.
  uint64_t generation_ = 0;
  SessionFile sessionFile_;
};

}  // namespace vistrelle::cloud
