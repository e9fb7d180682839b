#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "tracking/head_imu_clock.h"
#include "tracking/head_imu_records.h"
#include "tracking/imu_axis_filter.h"
#include "tracking/m_base.h"
#include "tracking/m_filter_euro.h"
#include "tracking/m_imu_3dof.h"
#include "tracking/os_threading.h"
#include "tracking/start_stop_lock.h"

namespace vistrelle::tracking {

// Message record: u32 type at byte 0, bytes 4-7 unused, payload from byte 8
// (little-endian, unaligned).  Each type has a minimum record length; a
// shorter record is dropped with a log line.
enum head_imu_message_type : uint32_t {
  // floats a, b, c, d at 8..20, u64 time (µs) at 24: orientation (a, c, -b, d).
  // Times beyond 2^52 µs are dropped.
  HEAD_IMU_MESSAGE_QUATERNION = 1,
  // As 1, with the time scaled by 22.1545.
  HEAD_IMU_MESSAGE_QUATERNION_SCALED = 2,
  // int16 accel[3] at 8, gyro[3] at 14, temperature at 20; u32 device
  // time at 24 and vsync time at 28, in 1.302 µs ticks.
  HEAD_IMU_MESSAGE_RAW = 3,
  HEAD_IMU_MESSAGE_CLIENT_VSYNC = 4,  // u64 at 8, logged
  HEAD_IMU_MESSAGE_UNUSED = 5,
  HEAD_IMU_MESSAGE_SECONDARY_ACCEL = 6,  // 12 bytes at 8, int16 x, y, z first
  HEAD_IMU_MESSAGE_SECONDARY_GYRO = 7,   // int16 gyro[3] at 8, u32 time at 16
  // 9 floats at 8: accel bias x, y, z, accel scale x, y, z, gyro bias x, y, z;
  // dropped when one is not finite or a gyro bias is beyond 3 rad/s.
  HEAD_IMU_MESSAGE_CALIBRATION = 8,
  HEAD_IMU_MESSAGE_BIAS_FACTORY = 9,  // TemperatureBias at 8
  HEAD_IMU_MESSAGE_BIAS_USER = 10,    // TemperatureBias at 8
  HEAD_IMU_MESSAGE_BIAS_RESET = 11,
  // 46-byte payload at 8; unaligned floats at payload bytes 9, 13, 17
  // (accel, g), 21, 25, 29 (gyro, °/s) and 33 (temperature, °C).
  HEAD_IMU_MESSAGE_FLOAT_SAMPLE = 12,
  HEAD_IMU_MESSAGE_CHIP_ID = 13,  // u32 at 8
};

// Minimum record length of a message type (0 for types the parser ignores).
size_t head_imu_message_min_length(uint32_t type);

// Each temperature-bias table holds at most this many entries.
constexpr size_t kHeadImuBiasTableCapacity = 64;

// The device record: exists between start and stop.
struct head_imu_device {
  // Guards `fusion`, which holds the orientation handed out.
  os_mutex fusion_lock;
  m_imu_3dof fusion{};

  // Guards the last raw report, the new-data flag and `stopping`.
  std::mutex raw_mutex;
  std::condition_variable raw_cv;
  int16_t raw_accel[3] = {0, 0, 0};
  int16_t raw_gyro[3] = {0, 0, 0};
  int16_t raw_temperature = 0;
  uint32_t raw_time = 0;
  uint32_t raw_vsync = 0;
  bool new_raw_data = false;
  // Set by stop before it waits for the entry points to leave, so that a
  // waiter for raw data gives up at once.
  bool stopping = false;

  // Guards vsync_host_ns.
  std::mutex vsync_lock;
  uint64_t vsync_host_ns = 0;

  // Parser-only fields (one producer).
  uint64_t last_device_time_us = 0;
  uint64_t last_device_vsync_us = 0;
  int chip_id = 112;
};

void head_imu_destroy(head_imu_device* device);

struct HeadImuDeviceDeleter {
  void operator()(head_imu_device* device) const { head_imu_destroy(device); }
};

// The module: the device while running, plus state that lives across a stop
// and start.  The parser expects one producer thread; the tables, the offset
// state and the last-time values are its own.
struct head_imu_module {
  explicit head_imu_module(const HeadImuClock& clock);

  const HeadImuClock& clock;
  // Sets up the fusion lock of a new device; replaceable so that a failing
  // set-up can be exercised.
  int (*fusion_lock_init)(os_mutex* om) = os_mutex_init;

  StartStopLock lifecycle;
  std::unique_ptr<head_imu_device, HeadImuDeviceDeleter> device;

  uint8_t reference_pair[32] = {};
  std::atomic<float> scale_param{0.0f};

  std::vector<TemperatureBias> factory_table;
  std::vector<TemperatureBias> user_table;
  TemperatureBias reference{};
  uint8_t secondary_accel[12] = {};

  std::deque<IMUData> quaternion_history;
  // Host-minus-device offsets (ns).  Signed: the device clock may run ahead.
  std::set<int64_t> offsets;
  int64_t current_offset = INT64_MAX;

  bool have_last_raw_time = false;
  uint32_t last_raw_ticks = 0;
  uint64_t last_raw_time_us = 0;
  bool have_last_float_time = false;
  uint64_t last_float_time_ns = 0;  // monotonic

  // Smoothing filters set up for callers; the module itself runs neither.
  m_filter_euro_quat quaternion_filter{};
  imu_axis_filter axis_filter{};
  bool temperature_bias_enabled = true;
};

// The process-wide module on the system clocks, behind the C entry points.
head_imu_module& head_imu_shared_module();

// Entry points; every one may be called from any thread.
bool startHeadIMU(head_imu_module& m);
bool stopHeadIMU(head_imu_module& m);
void head_imu_push_message(head_imu_module& m, const void* record, size_t length);
void head_imu_get_orientation(head_imu_module& m, float out[4]);
void head_imu_get_calibration(head_imu_module& m, float out_quat[4], uint64_t* out_time,
                              float out_gyro[3], float out_a[3], float out_b[3], float out_c[3]);
bool head_imu_needs_calibration(head_imu_module& m);
bool head_imu_has_raw_data(head_imu_module& m);
// Waits at most timeout_ms for a raw report unless one is already waiting;
// writes gyro x, y, z, accel x, y, z (raw counts) when there is one.
bool head_imu_wait_raw_data(head_imu_module& m, int out[6], int timeout_ms);
bool head_imu_get_vsync_timestamp(head_imu_module& m, uint64_t* out);
void head_imu_set_reference_pair(head_imu_module& m, const void* in32);
void head_imu_get_reference_pair(head_imu_module& m, void* out32);
void head_imu_set_scale_param(head_imu_module& m, float value);

// Internal operations.
head_imu_device* head_imu_create(head_imu_module& m);
void head_imu_process_message(head_imu_module& m, const uint8_t* record, size_t length,
                              head_imu_device* device);
// Feeds one sample on the monotonic time base.  A time before the last fed
// one is held at it (a zero step); a gap beyond the limit re-seeds instead.
// A sample whose step would leave the state non-finite is dropped (false).
bool head_imu_feed_fusion(uint64_t time_ns, head_imu_device* device, float ax, float ay, float az,
                          float gx, float gy, float gz, float temperature);
// Called with the fusion lock held.  The record is stamped on the host clock
// through the offset estimate, never later than now; an estimate that would
// stamp a record more than a second in the past starts again from it.
bool head_imu_push_quaternion(head_imu_module& m, uint64_t time_us, head_imu_device* device,
                              float x, float y, float z, float w);
// Linear between the two entries that bracket the temperature; outside the
// table, or between entries less than 0.1 °C apart, the nearest entry's bias.
vec3 temperature_bias_interpolate(const std::vector<TemperatureBias>& table, float temperature);

float imu_accel_raw_scale(int16_t raw);
float imu_gyro_raw_scale(int16_t raw, int chip_id);
float imu_temperature_from_raw(int16_t raw, int chip_id);

}  // namespace vistrelle::tracking
