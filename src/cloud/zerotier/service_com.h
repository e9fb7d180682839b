#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cloud/http/orvex_alamofire_manager.h"
#include "cloud/zerotier/network.h"
#include "cloud/zerotier/node_status.h"
#include "cloud/zerotier/service_com_error.h"
#include "cloud/zerotier/zerotier_config.h"
#include "platform/dispatch/executor.h"
#include "platform/privileged/privileged_reader.h"

namespace vistrelle::cloud::zerotier {

// Exactly one of each pair is set.
using NodeStatusCompletion =
    std::function<void(std::optional<NodeStatus> status, std::optional<ServiceComError> error)>;
using NetworkListCompletion = std::function<void(std::optional<std::vector<Network>> networks,
                                                 std::optional<ServiceComError> error)>;
// No error: the service answered 200.
using JoinCompletion = std::function<void(std::optional<ServiceComError> error)>;
using LeaveCompletion = std::function<void(std::optional<ServiceComError> error)>;
// isSuccess false comes with the reason.
using QuitCompletion = std::function<void(bool isSuccess, std::optional<ServiceComError> error)>;
using TokenCompletion =
    std::function<void(std::string token, std::optional<ServiceComError> error)>;

// The client of the ZeroTier service on this machine: its token, and the
// status, network list, join, leave and quit requests of its local JSON API.
//
// Call it on the main queue; every completion runs there, once.  A request
// refused before anything happens (three prompts without a successful join
// or leave) answers at once with the returned error and its completion never
// runs; every later outcome, a token that could not be had included, comes
// through the completion.
//
// The token: cached for the process, else the user's copy
// ("authtoken_orvex.secret" in <data home>/ZTORVEX/One), else the service's
// token file read with the administrator's consent (which writes the user's
// copy, 0600 in a 0700 folder).  Getting it runs on a serial queue of its
// own, one prompt at a time; requests that need it wait behind it, and the
// main queue never does.  A prompt that gives no token is not repeated for a
// minute unless retryAuthorization() is called.
class ServiceCom : public std::enable_shared_from_this<ServiceCom> {
 public:
  struct Options {
    ZeroTierConfig config = ZeroTierConfig::defaults();
    std::shared_ptr<OrvexAlamofireManager> http;           // none: the shared layer
    std::shared_ptr<privileged::PrivilegedReader> reader;  // none: direct read, then pkexec
    dispatch::ExecutorPtr mainQueue;                       // none: dispatch::mainQueue()
    dispatch::ExecutorPtr tokenQueue;                      // none: a serial queue of its own
    std::function<std::string()> dataHome;                 // none: UserDirectories::dataHome()
    std::function<void(const std::string&)> console;       // none: stderr
    std::chrono::milliseconds connectTimeout = std::chrono::seconds(2);
    std::chrono::milliseconds requestTimeout = std::chrono::seconds(10);
  };

  static std::shared_ptr<ServiceCom> create(Options options);
  // The process' client, made on first call with the defaults.
  static std::shared_ptr<ServiceCom> sharedInstance();

  const std::string& baseURL() const { return options_.config.baseURL; }
  const std::string& secretTokenPath() const { return secretTokenPath_; }
  // <data home>/ZTORVEX/One, where the user's copy and the saved list live.
  std::string userFolder() const;
  std::string userTokenPath() const;

  int permissionPopUpCount() const;
  bool resetKey() const;
  // Token resets after a 401 since the start; from the 11th on each is
  // logged.
  int failureCount() const;

  // The address that "ztZeroTier_join_ok" carries after a join: the node's,
  // as the manager knows it (main queue).
  void setNodeAddressSource(std::function<std::optional<std::string>()> source);

  // The token, for a request.
  void key(TokenCompletion completion);

  std::optional<ServiceComError> getNodeStatus(NodeStatusCompletion completion);
  std::optional<ServiceComError> getNetworklist(NetworkListCompletion completion);
  // 200: the prompt count back to 0 and "ztZeroTier_join_ok" with the node's
  // address; any other status but 401, or no reply: "notificationName_LoginSuccess"
  // with true 0.5 s later.
  std::optional<ServiceComError> joinNetwork(const std::string& networkId, bool allowManaged,
                                             bool allowGlobal, bool allowDefault, bool allowDNS,
                                             JoinCompletion completion = nullptr);
  // 200: the prompt count back to 0.
  std::optional<ServiceComError> leaveNetwork(const std::string& networkId,
                                              LeaveCompletion completion = nullptr);
  // The service exits on this request, so a connection that closes without
  // a reply is success; an error status is failure.
  void quitZT(QuitCompletion completion);

  // Lets a refused or exhausted authorization prompt again at once.  Any
  // thread.
  void retryAuthorization();

  static constexpr int kMaxPrompts = 3;
  static constexpr std::chrono::seconds kPromptPause{60};
  static constexpr int kFailureLogThreshold = 11;
  static constexpr std::chrono::milliseconds kJoinFailureDelay{500};
  static constexpr const char* kUserTokenFileName = "authtoken_orvex.secret";
  static constexpr const char* kJoinOkNotification = "ztZeroTier_join_ok";
  static constexpr const char* kLoginSuccessNotification = "notificationName_LoginSuccess";
  static constexpr const char* kAuthTokenErrorText = "Error obtaining Auth Token";
  static constexpr const char* kReadFailedText = "Reading authtoken failed!";
  // ZeroTier log tags.
  static constexpr int32_t kTokenErrorTag = 2;
  static constexpr int32_t kListTransportTag = 3;
  static constexpr int32_t kListJsonTag = 4;
  static constexpr int32_t kStatusTransportTag = 5;
  static constexpr int32_t kStatusJsonTag = 6;
  static constexpr int32_t kJoinTransportTag = 7;
  static constexpr int32_t kLeaveTransportTag = 8;

 private:
  // The token the request was sent with, then its outcome.
  using Reply = std::function<void(const std::string& token, std::optional<RawResponse>,
                                   std::optional<HttpError>)>;
  using TokenFailure = std::function<void(const ServiceComError&)>;

  explicit ServiceCom(Options options);

  // Status, list, join and leave stop here after too many prompts.
  std::optional<ServiceComError> guard() const;
  // A GET whose 200 body is parsed; every outcome reaches the completion once.
  template <typename Parsed>
  std::optional<ServiceComError> getParsed(
      const char* path, int32_t transportTag, int32_t jsonTag,
      std::optional<Parsed> (*parse)(std::string_view body, std::string* reason),
      std::function<void(std::optional<Parsed>, std::optional<ServiceComError>)> completion);
  // Gets the token, then sends; a token failure goes to `failed`.
  void send(HttpMethod method, std::string path, HttpHeaders headers,
            std::optional<std::string> body, TokenFailure failed, Reply reply);

  // Token queue.
  void acquire(TokenCompletion completion);
  void promptEnded(privileged::PrivilegedReadResult result);
  void resolve(const std::string& token, const std::optional<ServiceComError>& error);

  // Main queue: whether the reply means the service is not running, logged
  // once per change rather than at every poll.
  void noteTransportError(const HttpError& error, int32_t tag);
  void noteReply(long status, const std::string& token);
  void postJoinFailure();

  Options options_;
  const std::string secretTokenPath_ = "ZTORVEX";

  mutable std::mutex mutex_;
  const bool isQuitting_ = false;  // nothing sets it: kept for the token rule it names
  std::optional<std::string> cachedToken_;
  bool resetKey_ = false;
  int permissionPopUpCount_ = 0;
  int failureCount_ = 0;
  bool prompting_ = false;
  std::optional<dispatch::TimePoint> promptPausedUntil_;
  std::optional<ServiceComError> pauseError_;
  std::vector<TokenCompletion> waiting_;

  // Main queue.
  bool serviceDown_ = false;
  std::function<std::optional<std::string>()> nodeAddress_;
};

}  // namespace vistrelle::cloud::zerotier
