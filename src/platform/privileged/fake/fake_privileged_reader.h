#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/privileged/privileged_reader.h"

namespace vistrelle::privileged {

// A reader for tests: it runs nothing, records every path asked for, and
// answers with scripted results, in order (unscripted: the fallback).  While
// held, reads wait, as a prompt the user has not answered yet, until the
// test releases them.
class FakePrivilegedReader final : public PrivilegedReader {
 public:
  // The next read's result; several play in order.
  void script(PrivilegedReadResult result);
  // A result for every read beyond the scripted ones.
  void setFallback(PrivilegedReadResult result);

  // Results that read `text` after a prompt, and after none.
  static PrivilegedReadResult prompted(std::string text);
  static PrivilegedReadResult direct(std::string text);
  // A prompt that ended with pkexec's `outcome` (canceled, denied, failed).
  static PrivilegedReadResult refused(PrivilegedReadResult::Outcome outcome);

  // From now on reads wait for release().
  void hold();
  // Answers every waiting read and stops holding.
  void release();

  void read(const std::string& path, dispatch::ExecutorPtr queue, Completion completion) override;

  std::vector<std::string> paths() const;
  size_t readCount() const;
  size_t waitingCount() const;
  // Waits (bounded) until `count` reads arrived in all.
  bool waitForReads(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  struct Waiting {
    dispatch::ExecutorPtr queue;
    Completion completion;
  };
  // mutex_ held.
  PrivilegedReadResult nextLocked();

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::deque<PrivilegedReadResult> scripts_;
  PrivilegedReadResult fallback_ = refused(PrivilegedReadResult::Outcome::failed);
  std::vector<std::string> paths_;
  bool holding_ = false;
  std::vector<Waiting> waiting_;
};

}  // namespace vistrelle::privileged
