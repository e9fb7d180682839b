#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace vistrelle::device {

// The two light-sensor wear thresholds last reported by the glasses.  The
// threshold request clears them, the glasses' reply fills them (on the HID
// thread), and the enable form of the wear-detection command reads them (on
// the caller's thread), so both live in one atomic word: a reader never sees
// threshold 1 of one reply with threshold 2 of another.
class WearThresholds {
 public:
  WearThresholds() = default;
  WearThresholds(const WearThresholds&) = delete;
  WearThresholds& operator=(const WearThresholds&) = delete;

  // The process' pair, shared by the command builders and the report parser.
  static WearThresholds& shared();

  void clear() { packed_.store(0, std::memory_order_release); }
  void set(uint16_t threshold1, uint16_t threshold2) {
    packed_.store(uint32_t{threshold1} | (uint32_t{threshold2} << 16), std::memory_order_release);
  }
  // {threshold 1, threshold 2}; both 0 until the glasses have replied.
  std::pair<uint16_t, uint16_t> get() const {
    const uint32_t packed = packed_.load(std::memory_order_acquire);
    return {static_cast<uint16_t>(packed & 0xFFFF), static_cast<uint16_t>(packed >> 16)};
  }

 private:
  std::atomic<uint32_t> packed_{0};
};

}  // namespace vistrelle::device
