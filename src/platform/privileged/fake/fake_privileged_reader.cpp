#include "platform/privileged/fake/fake_privileged_reader.h"

namespace vistrelle::privileged {

void FakePrivilegedReader::script(PrivilegedReadResult result) {
  std::lock_guard lock(mutex_);
  scripts_.push_back(std::move(result));
}

void FakePrivilegedReader::setFallback(PrivilegedReadResult result) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(result);
}

PrivilegedReadResult FakePrivilegedReader::prompted(std::string text) {
  PrivilegedReadResult result = direct(std::move(text));
  result.prompted = true;
  return result;
}

PrivilegedReadResult FakePrivilegedReader::direct(std::string text) {
  PrivilegedReadResult result;
  result.outcome = PrivilegedReadResult::Outcome::read;
  result.text = std::move(text);
  return result;
}

PrivilegedReadResult FakePrivilegedReader::refused(PrivilegedReadResult::Outcome outcome) {
  PrivilegedReadResult result;
  result.outcome = outcome;
  result.prompted = outcome != PrivilegedReadResult::Outcome::notStarted;
  switch (outcome) {
    case PrivilegedReadResult::Outcome::canceled:
      result.statusText = "Authorization Canceled";
      break;
    case PrivilegedReadResult::Outcome::denied:
      result.statusText = "Autorization Denied";
      break;
    case PrivilegedReadResult::Outcome::notStarted:
      result.statusText = "pkexec: not found";
      break;
    default:
      result.statusText = "Unknown Error";
      break;
  }
  return result;
}

void FakePrivilegedReader::hold() {
  std::lock_guard lock(mutex_);
  holding_ = true;
}

void FakePrivilegedReader::release() {
  std::vector<std::pair<Waiting, PrivilegedReadResult>> answers;
  {
    std::lock_guard lock(mutex_);
    holding_ = false;
    for (Waiting& waiting : waiting_) answers.emplace_back(std::move(waiting), nextLocked());
    waiting_.clear();
  }
  for (auto& [waiting, result] : answers) {
    waiting.queue->post([completion = std::move(waiting.completion),
                         result = std::move(result)]() mutable { completion(std::move(result)); });
  }
}

void FakePrivilegedReader::read(const std::string& path, dispatch::ExecutorPtr queue,
                                Completion completion) {
  PrivilegedReadResult result;
  {
    std::lock_guard lock(mutex_);
    paths_.push_back(path);
    if (holding_) {
      waiting_.push_back({std::move(queue), std::move(completion)});
      arrived_.notify_all();
      return;
    }
    result = nextLocked();
  }
  arrived_.notify_all();
  queue->post([completion = std::move(completion), result = std::move(result)]() mutable {
    completion(std::move(result));
  });
}

PrivilegedReadResult FakePrivilegedReader::nextLocked() {
  if (scripts_.empty()) return fallback_;
  PrivilegedReadResult result = std::move(scripts_.front());
  scripts_.pop_front();
  return result;
}

std::vector<std::string> FakePrivilegedReader::paths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

size_t FakePrivilegedReader::readCount() const {
  std::lock_guard lock(mutex_);
  return paths_.size();
}

size_t FakePrivilegedReader::waitingCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

bool FakePrivilegedReader::waitForReads(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, limit, [&] { return paths_.size() >= count; });
}

}  // namespace vistrelle::privileged
