#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cloud/http/curl_transfer.h"

namespace vistrelle::cloud {

// The one thread that runs every transfer, on a libcurl multi handle.  Other
// threads hand transfers and cancels over through a locked inbox and wake it
// with curl_multi_wakeup; the thread starts with the first transfer.
class CurlWorker {
 public:
  CurlWorker();
  // Stops.
  ~CurlWorker();
  CurlWorker(const CurlWorker&) = delete;
  CurlWorker& operator=(const CurlWorker&) = delete;

  // Runs the transfer; false (and the transfer dropped unreported) once
  // stopped.  Any thread.
  bool submit(std::unique_ptr<CurlTransfer> transfer);
  // Ends the transfer with the cancel report, if it is still running.  Any
  // thread.
  void cancel(uint64_t id);
  // Ends the thread and joins it: running transfers are dropped without a
  // report.  Idempotent; never from a transfer's callbacks.
  void stop();

  bool running() const;

 private:
  void run();
  void takeInbox();
  void finishDone();
  void dropAll();

  CURLM* multi_ = nullptr;

  mutable std::mutex mutex_;
  std::deque<std::unique_ptr<CurlTransfer>> incoming_;
  std::vector<uint64_t> cancels_;
  bool stopping_ = false;
  std::thread thread_;

  // The worker thread's own.
  std::unordered_map<uint64_t, std::unique_ptr<CurlTransfer>> active_;
};

}  // namespace vistrelle::cloud
