#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "cloud/http/account_session.h"
#include "cloud/http/curl_worker.h"
#include "cloud/http/http_error.h"
#include "cloud/http/request_group.h"
#include "cloud/http/transfer_spec.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::cloud {

// What the layer keeps between a request's start and its reply: the calls in
// flight on the main queue, the worker thread, the session and the refresh of
// an expired token.  Replies, progress and completions reach the callers on
// the main queue; after stop() none does.
class HttpClientCore : public std::enable_shared_from_this<HttpClientCore> {
 public:
  // One started request as the main queue sees it.
  struct Call {
    RequestGroup group = RequestGroup::general();
    std::function<void(TransferResult result)> finish;    // the transfer ended
    std::function<void(const HttpError& error)> abandon;  // cancelled: the cancel error
    std::function<void(double fraction)> progress;        // optional
  };

  explicit HttpClientCore(dispatch::ExecutorPtr mainQueue, std::shared_ptr<AccountSession> session);
  HttpClientCore(const HttpClientCore&) = delete;
  HttpClientCore& operator=(const HttpClientCore&) = delete;

  const dispatch::ExecutorPtr& mainQueue() const { return mainQueue_; }
  // Runs `task` on the main queue: at once when already there, else posted.
  void onMain(std::function<void()> task);

  // Any thread: the id of a request about to start.
  uint64_t nextId() { return nextId_.fetch_add(1) + 1; }

  // Main queue from here on.
  AccountSession& session() { return *session_; }
  void setSession(std::shared_ptr<AccountSession> session);

  // Hands the transfer (spec.id set) to the worker; dropped once stopped.
  void start(TransferSpec spec, Call call);
  void cancel(uint64_t id);
  void cancelGroup(const RequestGroup& group);

  // A reply said the access token expired.  `requestToken` is the token the
  // request was sent with.  At most one refresh runs; the 424s that meet it
  // share its result.  When it fails: the expiry message, the session
  // cleared, the notice to sign in again.
  void tokenExpired(const std::string& requestToken);

  // Any thread.  Ends the worker (joined) and every delivery: no block runs
  // from here on, and later requests are dropped.  Idempotent.
  void stop();
  bool stopped() const { return stopped_.load(); }
  bool workerRunning() const { return worker_.running(); }

  static constexpr const char* kLoginExpiredText = "登录过期，请重新登录";
  static constexpr const char* kLoginExpiredNotification =
      "Login_Expiration_ShowLoginView_NSNotificationName";

 private:
  struct CallState {
    Call call;
    bool cancelRequested = false;
  };

  void deliver(uint64_t id, TransferResult result);
  void deliverProgress(uint64_t id, double fraction);
  void refreshEnded(bool refreshed);

  const dispatch::ExecutorPtr mainQueue_;
  std::shared_ptr<AccountSession> session_;
  std::atomic<uint64_t> nextId_{0};
  std::atomic<bool> stopped_{false};
  std::unordered_map<uint64_t, CallState> calls_;  // main queue
  bool refreshing_ = false;                        // main queue
  CurlWorker worker_;
};

}  // namespace vistrelle::cloud
