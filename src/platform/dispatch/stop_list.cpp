#include "platform/dispatch/stop_list.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace vistrelle::dispatch {

StopRegistration StopList::add(std::string name, std::function<void()> stop) {
  std::lock_guard lock(mutex_);
  const uint64_t id = nextId_++;
  entries_.push_back(Entry{id, std::move(name), std::move(stop)});
  return StopRegistration(weak_from_this(), id);
}

void StopList::runAll() {
  for (;;) {
    Entry entry;
    {
      std::unique_lock lock(mutex_);
      if (entries_.empty()) {
        finished_.wait(lock, [&] { return !runningElsewhere(0); });
        return;
      }
      entry = std::move(entries_.back());
      entries_.pop_back();
      running_.push_back(Running{entry.id, std::this_thread::get_id()});
    }
    try {
      if (entry.stop) entry.stop();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "dispatch: stop \"%s\" failed: %s\n", entry.name.c_str(), error.what());
    } catch (...) {
      std::fprintf(stderr, "dispatch: stop \"%s\" failed\n", entry.name.c_str());
    }
    // What the stop captured goes before anyone is told it has finished.
    entry.stop = nullptr;
    {
      std::lock_guard lock(mutex_);
      std::erase_if(running_, [&](const Running& running) { return running.id == entry.id; });
    }
    finished_.notify_all();
  }
}

void StopList::remove(uint64_t id) {
  std::function<void()> dropped;
  {
    std::unique_lock lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [id](const Entry& entry) { return entry.id == id; });
    if (found != entries_.end()) {
      dropped = std::move(found->stop);
      entries_.erase(found);
    } else {
      // Running on another thread: what it stops may be going away with the
      // caller, so wait for it.
      finished_.wait(lock, [&] { return !runningElsewhere(id); });
    }
  }
}

bool StopList::runningElsewhere(uint64_t id) const {
  const auto self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(), [&](const Running& running) {
    return running.thread != self && (id == 0 || running.id == id);
  });
}

bool StopList::contains(uint64_t id) const {
  std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [id](const Entry& entry) { return entry.id == id; });
}

size_t StopList::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace vistrelle::dispatch
