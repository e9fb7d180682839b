// Fuzz target: the head-IMU message push, fed a stream of message records on a
// clock the input drives.  The orientation handed out must stay finite
// whatever the glasses send.
// Input, repeated: one byte of host time passing before the record (n x
// 100 µs; 255 is a 20 s silence), one length byte, then that many bytes of
// the record as the glasses' stream delivers it.
// Links: vistrelle_tracking

#include <cmath>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tracking/head_imu.h"
#include "tracking/head_imu_clock.h"
#include "tracking/tracking_log.h"

namespace {

using namespace vistrelle::tracking;

class InputClock final : public HeadImuClock {
 public:
  uint64_t get_ns(clockid_t clock) const override {
    return clock == CLOCK_REALTIME ? monotonic + kRealtimeOffset : monotonic;
  }
  void advance(uint8_t step) { monotonic += step == 255 ? 20000000000ull : step * 100000ull; }

  static constexpr uint64_t kRealtimeOffset = 1765000000000000000ull;
  uint64_t monotonic = 1000000000000ull;  // 1000 s after boot
};

void checkOrientation(head_imu_module& module) {
  float q[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  head_imu_get_orientation(module, q);
  for (const float component : q) FUZZ_CHECK(std::isfinite(component));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tracking_log_set_sink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputClock clock;
  head_imu_module module(clock);
  FUZZ_CHECK(startHeadIMU(module));
  vistrelle::fuzz::ByteReader input(data, size);
  while (!input.empty()) {
    clock.advance(input.u8());
    const std::span<const uint8_t> record = input.sized();
    head_imu_push_message(module, record.data(), record.size());
    checkOrientation(module);
  }
  // What the readers do between samples must not trip over the state left.
  int raw[6];
  head_imu_wait_raw_data(module, raw, 0);
  uint64_t vsync = 0;
  head_imu_get_vsync_timestamp(module, &vsync);
  head_imu_needs_calibration(module);
  FUZZ_CHECK(stopHeadIMU(module));
  return 0;
}
