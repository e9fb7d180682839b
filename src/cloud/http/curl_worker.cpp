#include "cloud/http/curl_worker.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vistrelle::cloud {

namespace {

// libcurl's process-wide set-up, once, before any handle exists.  It is never
// undone: handles may live until the process ends.
void initialiseLibcurl() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      std::fputs("libcurl: global initialisation failed\n", stderr);
      std::abort();
    }
  });
}

// How long the thread waits in one poll when libcurl wants no earlier turn.
constexpr int kPollMilliseconds = 1000;

}  // namespace

CurlWorker::CurlWorker() {
  initialiseLibcurl();
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    std::fputs("libcurl: curl_multi_init failed\n", stderr);
    std::abort();
  }
}

CurlWorker::~CurlWorker() {
  stop();
  curl_multi_cleanup(multi_);
}

bool CurlWorker::submit(std::unique_ptr<CurlTransfer> transfer) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      transfer->drop();
      return false;
    }
    incoming_.push_back(std::move(transfer));
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  curl_multi_wakeup(multi_);
  return true;
}

void CurlWorker::cancel(uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || !thread_.joinable()) return;
    cancels_.push_back(id);
  }
  curl_multi_wakeup(multi_);
}

void CurlWorker::stop() {
  std::thread thread;
  std::deque<std::unique_ptr<CurlTransfer>> unstarted;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    thread = std::move(thread_);
    unstarted = std::move(incoming_);
  }
  for (auto& transfer : unstarted) transfer->drop();
  if (thread.joinable()) {
    curl_multi_wakeup(multi_);
    thread.join();
  }
}

bool CurlWorker::running() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable();
}

void CurlWorker::run() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    takeInbox();
    int stillRunning = 0;
    curl_multi_perform(multi_, &stillRunning);
    finishDone();
    curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
  }
  dropAll();
}

void CurlWorker::takeInbox() {
  std::deque<std::unique_ptr<CurlTransfer>> incoming;
  std::vector<uint64_t> cancels;
  {
    std::lock_guard lock(mutex_);
    incoming = std::move(incoming_);
    cancels = std::move(cancels_);
  }
  for (auto& transfer : incoming) {
    if (transfer->setupError()) {
      transfer->fail(*transfer->setupError());
      continue;
    }
    const CURLMcode added = curl_multi_add_handle(multi_, transfer->handle());
    if (added != CURLM_OK) {
      transfer->fail(HttpError::transport(0, curl_multi_strerror(added)));
      continue;
    }
    const uint64_t id = transfer->id();
    active_[id] = std::move(transfer);
  }
  // After the adds, so a transfer cancelled right after it was handed over
  // is found.
  for (const uint64_t id : cancels) {
    const auto found = active_.find(id);
    if (found == active_.end()) continue;  // already ended and reported
    curl_multi_remove_handle(multi_, found->second->handle());
    found->second->cancel();
    active_.erase(found);
  }
}

void CurlWorker::finishDone() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    const CURLcode code = message->data.result;
    CurlTransfer* transfer = CurlTransfer::fromHandle(easy);
    curl_multi_remove_handle(multi_, easy);
    const auto found = active_.find(transfer->id());
    if (found == active_.end()) continue;
    std::unique_ptr<CurlTransfer> owned = std::move(found->second);
    active_.erase(found);
    owned->complete(code);
  }
}

void CurlWorker::dropAll() {
  for (auto& [id, transfer] : active_) {
    curl_multi_remove_handle(multi_, transfer->handle());
    transfer->drop();
  }
  active_.clear();
}

}  // namespace vistrelle::cloud
