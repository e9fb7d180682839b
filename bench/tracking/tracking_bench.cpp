// Samples fused per second on one core, with the headroom over the glasses'
// 1 kHz IMU stream, and an hour of simulated data at rest.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "tests/tracking/head_imu_messages.h"
#include "tracking/head_imu.h"
#include "tracking/m_imu_3dof.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

constexpr double kImuRateHz = 1000.0;
constexpr uint64_t kMsNs = 1000000;
constexpr uint32_t kTicksPerMs = 768;

class BenchClock final : public HeadImuClock {
 public:
  uint64_t get_ns(clockid_t) const override { return now; }
  uint64_t now = 1000000000000ull;
};

// headroom_x reads as "how many 1 kHz IMU streams one core keeps up with".
void report_headroom(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["headroom_x"] = benchmark::Counter(
      static_cast<double>(state.iterations()) / kImuRateHz, benchmark::Counter::kIsRate);
}

void quiet_log() {
  tracking_log_set_sink([](std::string_view) {});
}

// A module running with an 8-entry factory table (10 to 45 °C).
std::unique_ptr<head_imu_module> started_module(BenchClock& clock) {
  auto m = std::make_unique<head_imu_module>(clock);
  startHeadIMU(*m);
  for (int i = 0; i < 8; i++) {
    const auto entry = messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 10.0f + 5.0f * i, 0.001f * i,
                                      0.012f + 0.0001f * i, -0.002f);
    head_imu_push_message(*m, entry.data(), entry.size());
  }
  return m;
}

void BM_imu_3dof_update(benchmark::State& state) {
  quiet_log();
  m_imu_3dof f{};
  m_imu_3dof_init(&f, M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  uint64_t t = kMsNs;
  uint64_t i = 0;
  for (auto _ : state) {
    const float s = static_cast<float>(i % 2000) * 0.001f;
    const vec3 accel{0.1f * s, 9.8f, -0.1f * s};
    const vec3 gyro{(i / 2000) % 2 == 0 ? 0.5f : 0.0f, 0.2f * s, 0.0f};
    m_imu_3dof_update(&f, t, &accel, &gyro, 30.0f);
    t += kMsNs;
    i++;
  }
  benchmark::DoNotOptimize(f.orientation);
  m_imu_3dof_close(&f);
  tracking_log_set_sink(nullptr);
  report_headroom(state);
}
BENCHMARK(BM_imu_3dof_update);

void BM_head_imu_push_type3(benchmark::State& state) {
  quiet_log();
  BenchClock clock;
  auto m = started_module(clock);
  const int16_t accel[3] = {40, -30, 16393};
  uint32_t ticks = 1000;
  uint64_t i = 0;
  for (auto _ : state) {
    const int16_t g = static_cast<int16_t>((i / 1000) % 2 == 0 ? 400 : 10);
    const int16_t gyro[3] = {g, 10, -5};
    clock.now += kMsNs;
    ticks += kTicksPerMs;
    const auto record = messages::raw(accel, gyro, 1280, ticks, ticks - 100);
    head_imu_push_message(*m, record.data(), record.size());
    i++;
  }
  float o[4];
  head_imu_get_orientation(*m, o);
  benchmark::DoNotOptimize(o);
  stopHeadIMU(*m);
  tracking_log_set_sink(nullptr);
  report_headroom(state);
}
BENCHMARK(BM_head_imu_push_type3);

void BM_head_imu_push_quaternion(benchmark::State& state) {
  quiet_log();
  BenchClock clock;
  auto m = started_module(clock);
  uint64_t time_us = 1000;
  for (auto _ : state) {
    const float angle = static_cast<float>(time_us % 100000) * 1e-5f;
    const quat q{0.0f, std::sin(angle), 0.0f, std::cos(angle)};
    clock.now += kMsNs;
    time_us += 1000;
    const auto record = messages::orientation(q, time_us);
    head_imu_push_message(*m, record.data(), record.size());
  }
  stopHeadIMU(*m);
  tracking_log_set_sink(nullptr);
  report_headroom(state);
}
BENCHMARK(BM_head_imu_push_quaternion);

// One hour at 1 kHz, at rest, with a gyro offset that the factory table
// describes: the orientation must stay unit and where it started.
void BM_head_imu_hour_at_rest(benchmark::State& state) {
  quiet_log();
  const float lsb = imu_gyro_raw_scale(1, 112) * static_cast<float>(0.001 * M_PI / 180.0);
  for (auto _ : state) {
    BenchClock clock;
    head_imu_module m(clock);
    startHeadIMU(m);
    const auto entry_low =
        messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 20.0f, 0.0f, 12 * lsb, -4 * lsb);
    const auto entry_high =
        messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 40.0f, 0.0f, 12 * lsb, -4 * lsb);
    head_imu_push_message(m, entry_low.data(), entry_low.size());
    head_imu_push_message(m, entry_high.data(), entry_high.size());
    const int16_t accel[3] = {0, 0, 16393};
    uint32_t ticks = 1000;
    double worst_norm_error = 0.0;
    for (int i = 0; i < 3600 * 1000; i++) {
      clock.now += kMsNs;
      ticks += kTicksPerMs;
      // Body (0, 12, -4) counts as in the table, with zero-mean ±1 count noise.
      const int16_t noise = static_cast<int16_t>(i % 2 == 0 ? 1 : -1);
      const int16_t gyro[3] = {4, noise, static_cast<int16_t>(12 - noise)};
      const auto record = messages::raw(accel, gyro, 1280, ticks, ticks - 100);
      head_imu_push_message(m, record.data(), record.size());
      if (i % 1000 == 0) {
        float o[4];
        head_imu_get_orientation(m, o);
        const double norm = std::sqrt(o[0] * o[0] + o[1] * o[1] + o[2] * o[2] + o[3] * o[3]);
        worst_norm_error = std::max(worst_norm_error, std::fabs(norm - 1.0));
      }
    }
    float o[4];
    head_imu_get_orientation(m, o);
    const double drift =
        2.0 * std::atan2(std::sqrt(o[0] * o[0] + o[1] * o[1] + o[2] * o[2]), std::fabs(o[3]));
    state.counters["worst_norm_error"] = worst_norm_error;
    state.counters["drift_rad"] = drift;
    stopHeadIMU(m);
  }
  tracking_log_set_sink(nullptr);
}
BENCHMARK(BM_head_imu_hour_at_rest)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vistrelle::tracking

BENCHMARK_MAIN();
