#pragma once

#include <atomic>

namespace vistrelle::netlocal {

// A word of flags written by one thread at a time (the socket queue, or the
// destructor once nothing else holds the socket) and read by any: the state
// getters read it without waiting for the queue.
template <typename Word>
class PublishedFlags {
 public:
  // For the writer: its own latest value.
  Word get() const { return bits_.load(std::memory_order_relaxed); }
  bool has(Word flags) const { return (get() & flags) != 0; }
  void set(Word flags) { assign(static_cast<Word>(get() | flags)); }
  void clear(Word flags) { assign(static_cast<Word>(get() & ~flags)); }
  void assign(Word value) { bits_.store(value, std::memory_order_release); }

  // For any other thread.
  Word published() const { return bits_.load(std::memory_order_acquire); }

 private:
  std::atomic<Word> bits_{0};
};

}  // namespace vistrelle::netlocal
