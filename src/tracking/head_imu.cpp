#include "tracking/head_imu.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "tracking/m_quatexpmap.h"
#include "tracking/os_mutex_guard.h"
#include "tracking/system_head_imu_clock.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTickUs = 1.302;
constexpr float kGravity = 9.8f;
constexpr float kGyroJumpLimit = 10.0f;                 // rad/s
constexpr uint64_t kRawGapLimitUs = 10000000;           // device time
constexpr uint64_t kFloatGapLimitNs = 10000000;         // host time, fast stream
constexpr uint64_t kFusionGapLimitNs = 10000000000ull;  // host time
constexpr uint64_t kVsyncUpdateNs = 1000000000;
constexpr size_t kHistoryLength = 1000;
constexpr size_t kOffsetSetLength = 1000;
constexpr uint32_t kRawReseedCounter = 2;
constexpr uint32_t kFloatReseedCounter = 1;
// A calibration's gyro bias beyond this (rad/s, any axis) is no bias.
constexpr float kCalibrationGyroBiasLimit = 3.0f;
// Table entries closer than this (°C) give no slope to interpolate along.
constexpr float kMinTemperatureGap = 0.1f;
// Quaternion device times beyond this (µs, about 142 years) are garbage; the
// bound keeps every nanosecond sum below in range.
constexpr uint64_t kMaxQuaternionTimeUs = 1ull << 52;
constexpr double kQuaternionTimeScale = 22.1545;
// A record whose host-minus-device offset lies further than this above the
// estimate would be stamped this far in the past: the estimate is stale (a
// record from far ahead set it, or the device clock went back) and starts
// again from this record.
constexpr int64_t kOffsetSpreadLimitNs = 1000000000;

template <typename T>
T read_at(const uint8_t* record, size_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof(value));
  return value;
}

bool finite_all(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

bool finite_state(const m_imu_3dof& f) {
  return finite_all({f.orientation.x, f.orientation.y, f.orientation.z, f.orientation.w,
                     f.grav.axis.x, f.grav.axis.y, f.grav.axis.z, f.grav.error_angle});
}

uint64_t ticks_to_us(uint32_t ticks) {
  return static_cast<uint64_t>(static_cast<double>(ticks) * kTickUs);
}

// Newest time fed into the fusion: the filter's own time and its rings' may
// part when the quaternion path sets the filter's time.
uint64_t fusion_floor(m_imu_3dof* f) {
  vec3 sample;
  uint64_t newest = 0;
  m_ff_vec3_f32_get(f->word_accel_fifo, 0, &sample, &newest);
  return std::max(f->last.timestamp_ns, newest);
}

// The fusion lock must be held.
void reseed_locked(m_imu_3dof* f, uint64_t time_ns, const vec3& accel, const vec3& gyro,
                   uint32_t counter) {
  const uint64_t t = std::max(time_ns, fusion_floor(f));
  f->last.gyro = gyro;
  f->last.accel = accel;
  f->last.timestamp_ns = t;
  f->has_first_sample = 1;  // the next sample is fused against this one
  f->first_correction_pending = true;
  f->first_correction_counter = counter;
  f->grav.error_angle = 0.0f;
  f->grav.last_ns = t;
}

void reseed(head_imu_device* device, uint64_t time_ns, const vec3& accel, const vec3& gyro,
            uint32_t counter) {
  OsMutexGuard guard(&device->fusion_lock);
  reseed_locked(&device->fusion, time_ns, accel, gyro, counter);
}

// True (and the new gyro kept as the last one) when an axis jumped.
bool gyro_jumped(head_imu_device* device, const vec3& gyro) {
  OsMutexGuard guard(&device->fusion_lock);
  const vec3 last = device->fusion.last.gyro;
  if (std::fabs(gyro.x - last.x) > kGyroJumpLimit || std::fabs(gyro.y - last.y) > kGyroJumpLimit ||
      std::fabs(gyro.z - last.z) > kGyroJumpLimit) {
    device->fusion.last.gyro = gyro;
    return true;
  }
  return false;
}

void set_gyro_bias(head_imu_device* device, const vec3& bias) {
  OsMutexGuard guard(&device->fusion_lock);
  device->fusion.gyro_bias = bias;
}

void set_bias_valid(head_imu_device* device, bool valid) {
  OsMutexGuard guard(&device->fusion_lock);
  device->fusion.gyro_bias_valid = valid;
}

vec3 raw_gyro_bias(head_imu_module& m, float temperature) {
  vec3 bias{0.0f, 0.0f, 0.0f};
  if (!m.temperature_bias_enabled || m.factory_table.empty()) {
    return bias;
  }
  const std::vector<TemperatureBias>& factory = m.factory_table;
  const std::vector<TemperatureBias>& user = m.user_table;
  auto relative_to_reference = [&]() {
    vec3 b = temperature_bias_interpolate(factory, temperature);
    if (m.reference.temperature != 0.0f) {
      const vec3 at_reference = temperature_bias_interpolate(factory, m.reference.temperature);
      b.x += m.reference.x - at_reference.x;
      b.y += m.reference.y - at_reference.y;
      b.z += m.reference.z - at_reference.z;
    }
    return b;
  };
  switch (user.size()) {
    case 0:
      return temperature_bias_interpolate(factory, temperature);
    case 1:
      m.reference = user[0];
      return relative_to_reference();
    case 2:
      m.reference = user[1].temperature > user[0].temperature ? user[1] : user[0];
      if (temperature < m.reference.temperature) {
        return temperature_bias_interpolate(user, temperature);
      }
      return relative_to_reference();
    default:
      return temperature_bias_interpolate(user, temperature);
  }
}

void process_raw(head_imu_module& m, const uint8_t* record, head_imu_device* device) {
  int16_t a[3];
  int16_t g[3];
  for (int i = 0; i < 3; i++) {
    a[i] = read_at<int16_t>(record, 8 + 2 * static_cast<size_t>(i));
    g[i] = read_at<int16_t>(record, 14 + 2 * static_cast<size_t>(i));
  }
  const int16_t raw_temperature = read_at<int16_t>(record, 20);
  const uint32_t time = read_at<uint32_t>(record, 24);
  const uint32_t vsync = read_at<uint32_t>(record, 28);

  {
    std::lock_guard<std::mutex> lock(device->raw_mutex);
    std::memcpy(device->raw_accel, a, sizeof(a));
    std::memcpy(device->raw_gyro, g, sizeof(g));
    device->raw_temperature = raw_temperature;
    device->raw_time = time;
    device->raw_vsync = vsync;
    device->new_raw_data = true;
  }
  device->raw_cv.notify_one();

  const int chip = device->chip_id;
  const float accel_scale = 0.001f * kGravity;
  const vec3 accel{-imu_accel_raw_scale(a[1]) * accel_scale,
                   imu_accel_raw_scale(a[2]) * accel_scale,
                   -imu_accel_raw_scale(a[0]) * accel_scale};
  const float gyro_scale = static_cast<float>(0.001 * kPi / 180.0);
  const vec3 gyro{-imu_gyro_raw_scale(g[1], chip) * gyro_scale,
                  imu_gyro_raw_scale(g[2], chip) * gyro_scale,
                  -imu_gyro_raw_scale(g[0], chip) * gyro_scale};
  const float temperature = imu_temperature_from_raw(raw_temperature, chip);
  const uint64_t t_us = ticks_to_us(time);
  const uint64_t v_us = ticks_to_us(vsync);

  const uint64_t mono = m.clock.get_ns(CLOCK_MONOTONIC);
  if (!m.have_last_raw_time) {
    m.have_last_raw_time = true;
    m.last_raw_ticks = time;
    m.last_raw_time_us = t_us;
  }

  if (gyro_jumped(device, gyro)) {
    return;
  }

  // Modular tick difference: the 32-bit counter wraps about every 93 minutes,
  // and a wrap is no gap.
  const uint64_t gap_us = ticks_to_us(time - m.last_raw_ticks);
  m.last_raw_ticks = time;
  m.last_raw_time_us = t_us;
  if (gap_us > kRawGapLimitUs) {
    reseed(device, mono, accel, gyro, kRawReseedCounter);
    return;
  }

  if (v_us != device->last_device_vsync_us) {
    const uint64_t since_vsync_ns = ticks_to_us(time - vsync) * 1000;
    if (mono >= since_vsync_ns) {
      const uint64_t vsync_host = mono - since_vsync_ns;
      std::lock_guard<std::mutex> lock(device->vsync_lock);
      if (vsync_host > device->vsync_host_ns + kVsyncUpdateNs) {
        device->vsync_host_ns = vsync_host;
      }
    }
  }

  set_gyro_bias(device, raw_gyro_bias(m, temperature));
  head_imu_feed_fusion(mono, device, accel.x, accel.y, accel.z, gyro.x, gyro.y, gyro.z,
                       temperature);
  device->last_device_time_us = t_us;
  device->last_device_vsync_us = v_us;
}

void process_float_sample(head_imu_module& m, const uint8_t* record, head_imu_device* device) {
  const uint8_t* p = record + 8;
  float v[7];
  for (int i = 0; i < 7; i++) {
    v[i] = read_at<float>(p, 9 + 4 * static_cast<size_t>(i));
  }
  if (!finite_all({v[0], v[1], v[2], v[3], v[4], v[5], v[6]})) {
    tracking_log("head imu float sample dropped: not finite");
    return;
  }
  const vec3 accel{-v[0] * kGravity, v[1] * kGravity, -v[2] * kGravity};
  const float deg = static_cast<float>(kPi / 180.0);
  const vec3 gyro{-v[3] * deg, v[4] * deg, -v[5] * deg};
  const float temperature = v[6];

  const uint64_t mono = m.clock.get_ns(CLOCK_MONOTONIC);
  if (!m.have_last_float_time) {
    m.have_last_float_time = true;
    m.last_float_time_ns = mono;
  }
  if (gyro_jumped(device, gyro)) {
    return;
  }
  const uint64_t gap = mono - m.last_float_time_ns;
  m.last_float_time_ns = mono;
  if (gap > kFloatGapLimitNs) {
    reseed(device, mono, accel, gyro, kFloatReseedCounter);
    return;
  }
  vec3 bias{0.0f, 0.0f, 0.0f};
  if (!m.factory_table.empty()) {
    bias = temperature_bias_interpolate(m.factory_table, temperature);
  }
  set_gyro_bias(device, bias);
  head_imu_feed_fusion(mono, device, accel.x, accel.y, accel.z, gyro.x, gyro.y, gyro.z,
                       temperature);
}

void process_secondary_gyro(head_imu_module& m, const uint8_t* record, head_imu_device* device) {
  int16_t r[3];
  std::memcpy(r, m.secondary_accel, sizeof(r));
  const int16_t g0 = read_at<int16_t>(record, 8);
  const int16_t g1 = read_at<int16_t>(record, 10);
  const int16_t g2 = read_at<int16_t>(record, 12);
  const float accel_scale = 1.0f / 256.0f * 0.5f;
  const float gyro_scale = 1.0f / 512.0f;
  // The message's own time is on the device clock; the fusion runs on the
  // host's monotonic clock, so the sample is stamped on arrival.
  head_imu_feed_fusion(m.clock.get_ns(CLOCK_MONOTONIC), device, -r[1] * accel_scale,
                       r[2] * accel_scale, -r[0] * accel_scale, -g1 * gyro_scale, g2 * gyro_scale,
                       -g0 * gyro_scale, 0.0f);
}

void process_table_entry(head_imu_module& m, const uint8_t* record, head_imu_device* device,
                         bool factory) {
  const TemperatureBias entry{read_at<float>(record, 8), read_at<float>(record, 12),
                              read_at<float>(record, 16), read_at<float>(record, 20)};
  std::vector<TemperatureBias>& table = factory ? m.factory_table : m.user_table;
  const char* name = factory ? "FACTORY" : "USER_MANUAL";
  const float sum = std::fabs(entry.x) + std::fabs(entry.y) + std::fabs(entry.z);
  const bool in_range = finite_all({entry.temperature, entry.x, entry.y, entry.z}) &&
                        entry.temperature > -20.0f && entry.temperature < 60.0f && sum > 0.0f &&
                        sum < 1.0f;
  if (in_range) {
    const bool duplicate = std::any_of(table.begin(), table.end(), [&](const TemperatureBias& e) {
      return e.temperature == entry.temperature;
    });
    if (duplicate) {
      tracking_log("vandrel glasses bias %s duplicate!!!", name);
      set_bias_valid(device, true);
    } else if (table.size() >= kHeadImuBiasTableCapacity) {
      tracking_log("vandrel glasses bias %s table full (%zu entries), entry dropped", name,
                   table.size());
    } else {
      table.push_back(entry);
      set_bias_valid(device, true);
    }
  }
  tracking_log("vandrel glasses bias %s temperature:%f, x:%f, y:%f, z:%f, count:%zu", name,
               static_cast<double>(entry.temperature), static_cast<double>(entry.x),
               static_cast<double>(entry.y), static_cast<double>(entry.z), table.size());
}

void process_quaternion(head_imu_module& m, const uint8_t* record, head_imu_device* device,
                        bool scaled_time) {
  const float a = read_at<float>(record, 8);
  const float b = read_at<float>(record, 12);
  const float c = read_at<float>(record, 16);
  const float d = read_at<float>(record, 20);
  uint64_t time = read_at<uint64_t>(record, 24);
  quat q{a, c, -b, d};
  if (!math_quat_validate(&q)) {
    tracking_log("head imu quaternion dropped: not a unit quaternion");
    return;
  }
  math_quat_normalize(&q);
  if (scaled_time) {
    const double scaled = static_cast<double>(time) * kQuaternionTimeScale;
    // Compared before the conversion, which is undefined out of range.
    time = scaled < static_cast<double>(kMaxQuaternionTimeUs) ? static_cast<uint64_t>(scaled)
                                                              : UINT64_MAX;
  }
  if (time > kMaxQuaternionTimeUs) {
    tracking_log("head imu quaternion dropped: time out of range");
    return;
  }
  OsMutexGuard guard(&device->fusion_lock);
  head_imu_push_quaternion(m, time, device, q.x, q.y, q.z, q.w);
}

void process_calibration(const uint8_t* record, head_imu_device* device) {
  float v[9];
  for (int i = 0; i < 9; i++) {
    v[i] = read_at<float>(record, 8 + 4 * static_cast<size_t>(i));
  }
  if (!finite_all({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]})) {
    tracking_log("head imu calibration dropped: not finite");
    return;
  }
  if (std::fabs(v[6]) > kCalibrationGyroBiasLimit || std::fabs(v[7]) > kCalibrationGyroBiasLimit ||
      std::fabs(v[8]) > kCalibrationGyroBiasLimit) {
    tracking_log("head imu calibration dropped: gyro bias out of range");
    return;
  }
  {
    OsMutexGuard guard(&device->fusion_lock);
    device->fusion.gyro_bias = vec3{v[6], v[7], v[8]};
    device->fusion.gyro_bias_valid = true;
  }
  tracking_log(
      "vandrel Calib axb:%f, ayb:%f, azb:%f, axs:%f, ays:%f, azs:%f, gxb:%f, gyb:%f, gzb:%f",
      static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2]),
      static_cast<double>(v[3]), static_cast<double>(v[4]), static_cast<double>(v[5]),
      static_cast<double>(v[6]), static_cast<double>(v[7]), static_cast<double>(v[8]));
}

}  // namespace

head_imu_module::head_imu_module(const HeadImuClock& c) : clock(c) {}

head_imu_module& head_imu_shared_module() {
  static SystemHeadImuClock system_clock;
  static head_imu_module module(system_clock);
  return module;
}

size_t head_imu_message_min_length(uint32_t type) {
  switch (type) {
    case HEAD_IMU_MESSAGE_QUATERNION:
    case HEAD_IMU_MESSAGE_QUATERNION_SCALED:
    case HEAD_IMU_MESSAGE_RAW:
      return 32;
    case HEAD_IMU_MESSAGE_CLIENT_VSYNC:
      return 16;
    case HEAD_IMU_MESSAGE_SECONDARY_ACCEL:
    case HEAD_IMU_MESSAGE_SECONDARY_GYRO:
      return 20;
    case HEAD_IMU_MESSAGE_CALIBRATION:
      return 44;
    case HEAD_IMU_MESSAGE_BIAS_FACTORY:
    case HEAD_IMU_MESSAGE_BIAS_USER:
      return 24;
    case HEAD_IMU_MESSAGE_FLOAT_SAMPLE:
      return 54;
    case HEAD_IMU_MESSAGE_CHIP_ID:
      return 12;
    case HEAD_IMU_MESSAGE_UNUSED:
    case HEAD_IMU_MESSAGE_BIAS_RESET:
      return 4;
    default:
      return 0;
  }
}

float imu_accel_raw_scale(int16_t raw) {
  return static_cast<float>(raw) * 0.061f;
}

float imu_gyro_raw_scale(int16_t raw, int chip_id) {
  return static_cast<float>(raw) * (chip_id == 112 ? 70.0f : 61.0f);
}

float imu_temperature_from_raw(int16_t raw, int chip_id) {
  return static_cast<float>(raw) / (chip_id == 112 ? 256.0f : 512.0f) +
         (chip_id == 112 ? 25.0f : 23.0f);
}

vec3 temperature_bias_interpolate(const std::vector<TemperatureBias>& table, float temperature) {
  const TemperatureBias* nearest = nullptr;
  const TemperatureBias* below = nullptr;  // the warmest entry at or below
  const TemperatureBias* above = nullptr;  // the coolest entry at or above
  float nearest_distance = INFINITY;
  float below_t = -INFINITY;
  float above_t = INFINITY;
  for (const TemperatureBias& entry : table) {
    const float t = entry.temperature;
    const float distance = std::fabs(t - temperature);
    if (distance < nearest_distance) {
      nearest = &entry;
      nearest_distance = distance;
    }
    if (t <= temperature && (below == nullptr || t > below_t)) {
      below = &entry;
      below_t = t;
    }
    if (t >= temperature && (above == nullptr || t < above_t)) {
      above = &entry;
      above_t = t;
    }
  }
  if (nearest == nullptr) {
    return vec3{0.0f, 0.0f, 0.0f};
  }
  // Outside the table the bias holds at the nearest end: a line through two
  // entries extrapolated away from them can reach any rate.  Between two
  // entries too close for a slope, the nearest holds as well; an entry at
  // exactly 0 °C is never interpolated with (0 °C marks "no entry").
  if (below == nullptr || above == nullptr || below == above ||
      above->temperature - below->temperature < kMinTemperatureGap || below->temperature == 0.0f ||
      above->temperature == 0.0f) {
    return vec3{nearest->x, nearest->y, nearest->z};
  }
  const float k = (temperature - below->temperature) / (above->temperature - below->temperature);
  return vec3{below->x + (above->x - below->x) * k, below->y + (above->y - below->y) * k,
              below->z + (above->z - below->z) * k};
}

head_imu_device* head_imu_create(head_imu_module& m) {
  auto* device = new head_imu_device;
  m_imu_3dof_init(&device->fusion, M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  device->fusion.gyro_bias = vec3{0.0f, 0.0f, 0.0f};
  if (m.fusion_lock_init(&device->fusion_lock) != 0) {
    tracking_log("Failed to init mutex!");
    m_imu_3dof_close(&device->fusion);
    delete device;
    return nullptr;
  }
  filter_euro_quat_init(&m.quaternion_filter, 0.0, 10000.0, 1.6);
  return device;
}

void head_imu_destroy(head_imu_device* device) {
  if (device == nullptr) {
    return;
  }
  os_mutex_destroy(&device->fusion_lock);
  m_imu_3dof_close(&device->fusion);
  delete device;
}

bool startHeadIMU(head_imu_module& m) {
  tracking_log("startHeadIMU");
  std::unique_lock<StartStopLock> lock(m.lifecycle);
  if (m.device) {
    tracking_log("imu head already started!");
    return false;
  }
  head_imu_device* device = head_imu_create(m);
  if (device == nullptr) {
    return false;
  }
  m.device.reset(device);
  return true;
}

bool stopHeadIMU(head_imu_module& m) {
  tracking_log("stopHeadIMU");
  {
    // Wake waiters first: they hold the shared side, which stop must get
    // past.
    std::shared_lock<StartStopLock> lock(m.lifecycle);
    if (m.device) {
      {
        std::lock_guard<std::mutex> raw_lock(m.device->raw_mutex);
        m.device->stopping = true;
      }
      m.device->raw_cv.notify_all();
    }
  }
  std::unique_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    tracking_log("imu head already stopped!");
    return false;
  }
  m.device.reset();
  return true;
}

void head_imu_push_message(head_imu_module& m, const void* record, size_t length) {
  if (record == nullptr) {
    return;
  }
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (m.device) {
    head_imu_process_message(m, static_cast<const uint8_t*>(record), length, m.device.get());
  }
}

void head_imu_process_message(head_imu_module& m, const uint8_t* record, size_t length,
                              head_imu_device* device) {
  if (length < 4) {
    tracking_log("head imu message dropped: %zu bytes", length);
    return;
  }
  const uint32_t type = read_at<uint32_t>(record, 0);
  const size_t min_length = head_imu_message_min_length(type);
  if (min_length == 0) {
    return;  // not a type of ours
  }
  if (length < min_length) {
    tracking_log("head imu message type %u dropped: %zu bytes, needs %zu", type, length,
                 min_length);
    return;
  }
  switch (type) {
    case HEAD_IMU_MESSAGE_QUATERNION:
      process_quaternion(m, record, device, false);
      break;
    case HEAD_IMU_MESSAGE_QUATERNION_SCALED:
      process_quaternion(m, record, device, true);
      break;
    case HEAD_IMU_MESSAGE_RAW:
      process_raw(m, record, device);
      break;
    case HEAD_IMU_MESSAGE_CLIENT_VSYNC:
      tracking_log("(Client) vsync time=%ld", static_cast<long>(read_at<uint64_t>(record, 8)));
      break;
    case HEAD_IMU_MESSAGE_UNUSED:
      break;
    case HEAD_IMU_MESSAGE_SECONDARY_ACCEL:
      std::memcpy(m.secondary_accel, record + 8, sizeof(m.secondary_accel));
      break;
    case HEAD_IMU_MESSAGE_SECONDARY_GYRO:
      process_secondary_gyro(m, record, device);
      break;
    case HEAD_IMU_MESSAGE_CALIBRATION:
      process_calibration(record, device);
      break;
    case HEAD_IMU_MESSAGE_BIAS_FACTORY:
      process_table_entry(m, record, device, true);
      break;
    case HEAD_IMU_MESSAGE_BIAS_USER:
      process_table_entry(m, record, device, false);
      break;
    case HEAD_IMU_MESSAGE_BIAS_RESET:
      m.factory_table.clear();
      m.user_table.clear();
      m.reference = TemperatureBias{};
      set_bias_valid(device, false);
      tracking_log("vandrel TYPE_SENSOR_IMU_TEMPERATURE_BIAS_RESET_FACTORY");
      break;
    case HEAD_IMU_MESSAGE_FLOAT_SAMPLE:
      process_float_sample(m, record, device);
      break;
    case HEAD_IMU_MESSAGE_CHIP_ID:
      device->chip_id = static_cast<int>(read_at<uint32_t>(record, 8));
      tracking_log("vandrel imu_id2:%d", device->chip_id);
      break;
    default:
      break;
  }
}

bool head_imu_feed_fusion(uint64_t time_ns, head_imu_device* device, float ax, float ay, float az,
                          float gx, float gy, float gz, float temperature) {
  const vec3 accel{ax, ay, az};
  const vec3 gyro{gx, gy, gz};
  OsMutexGuard guard(&device->fusion_lock);
  m_imu_3dof* f = &device->fusion;
  // Finite samples can still overflow the step's squares; such a sample
  // would leave the orientation NaN for good.
  if (!std::isfinite(m_vec3_len_sqrd(accel)) ||
      !std::isfinite(m_vec3_len_sqrd(m_vec3_sub(gyro, f->gyro_bias)))) {
    tracking_log("head imu sample dropped: out of range");
    return false;
  }
  const uint64_t floor = fusion_floor(f);
  if (f->has_first_sample && time_ns > floor && time_ns - floor > kFusionGapLimitNs) {
    // One step over a long silence would turn the orientation by whatever
    // the gyro reads now, times the whole gap.
    reseed_locked(f, time_ns, accel, gyro, kRawReseedCounter);
    return true;
  }
  const m_imu_3dof before = *f;
  m_imu_3dof_update(f, std::max(time_ns, floor), &accel, &gyro, temperature);
  if (!finite_state(*f)) {
    // Never keep a state that no later sample can bring back.
    *f = before;
    tracking_log("head imu sample dropped: the step was not finite");
    return false;
  }
  return true;
}

bool head_imu_push_quaternion(head_imu_module& m, uint64_t time_us, head_imu_device* device,
                              float x, float y, float z, float w) {
  if (time_us > kMaxQuaternionTimeUs) {
    return false;
  }
  // Both below 2^62: every sum and difference here stays in range.
  const int64_t now =
      static_cast<int64_t>(std::min<uint64_t>(m.clock.get_ns(CLOCK_MONOTONIC), uint64_t{1} << 62));
  const int64_t device_ns = static_cast<int64_t>(time_us * 1000);
  const int64_t offset = now - device_ns;
  if (m.current_offset == INT64_MAX || offset - m.current_offset > kOffsetSpreadLimitNs) {
    m.offsets.clear();
    m.current_offset = offset;
  } else {
    m.current_offset = std::min(m.current_offset, offset);
  }
  // Never later than the host clock, which the fusion clock follows.
  const uint64_t time_ns =
      static_cast<uint64_t>(std::clamp<int64_t>(device_ns + m.current_offset, 0, now));

  const quat q{x, y, z, w};
  if (!m.quaternion_history.empty()) {
    const IMUData& newest = m.quaternion_history.back();
    // Not later than the newest (a repeat, or an earlier offset estimate):
    // nothing to difference against.
    if (time_ns <= newest.timestamp) {
      return false;
    }
    const double dt = static_cast<double>(time_ns - newest.timestamp) / 1e9;
    if (dt >= 1e-6) {
      const quat previous{newest.x, newest.y, newest.z, newest.w};
      vec3 world_rate;
      math_quat_finite_difference(&previous, &q, static_cast<float>(dt), &world_rate);
      const quat previous_inverse{-previous.x, -previous.y, -previous.z, previous.w};
      vec3 body_rate;
      math_quat_rotate_derivative(&previous_inverse, &world_rate, &body_rate);
      device->fusion.orientation = q;
      device->fusion.last.timestamp_ns = time_ns;
      device->fusion.last.gyro = body_rate;
    }
  }
  m.quaternion_history.push_back(IMUData{x, y, z, w, time_ns});
  if (m.quaternion_history.size() > kHistoryLength) {
    m.quaternion_history.pop_front();
  }

  m.offsets.insert(offset);
  if (m.offsets.size() > kOffsetSetLength) {
    // Let the offset rise again slowly: a single early outlier must not
    // hold it down for ever.
    m.current_offset = *m.offsets.begin();
    m.offsets.erase(m.offsets.begin());
  }
  return true;
}

void head_imu_get_orientation(head_imu_module& m, float out[4]) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return;
  }
  OsMutexGuard guard(&m.device->fusion_lock);
  const quat& q = m.device->fusion.orientation;
  out[0] = q.x;
  out[1] = q.y;
  out[2] = q.z;
  out[3] = q.w;
}

void head_imu_get_calibration(head_imu_module& m, float out_quat[4], uint64_t* out_time,
                              float out_gyro[3], float out_a[3], float out_b[3], float out_c[3]) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return;
  }
  OsMutexGuard guard(&m.device->fusion_lock);
  const m_imu_3dof& f = m.device->fusion;
  out_quat[0] = f.orientation.x;
  out_quat[1] = f.orientation.y;
  out_quat[2] = f.orientation.z;
  out_quat[3] = f.orientation.w;
  *out_time = f.last.timestamp_ns;
  out_gyro[0] = f.last.gyro.x;
  out_gyro[1] = f.last.gyro.y;
  out_gyro[2] = f.last.gyro.z;
  for (int i = 0; i < 3; i++) {
    out_a[i] = 0.0f;
    out_b[i] = 0.0f;
    out_c[i] = 0.0f;
  }
}

bool head_imu_needs_calibration(head_imu_module& m) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return false;
  }
  OsMutexGuard guard(&m.device->fusion_lock);
  return !m.device->fusion.first_correction_pending;
}

bool head_imu_has_raw_data(head_imu_module& m) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return false;
  }
  std::lock_guard<std::mutex> raw_lock(m.device->raw_mutex);
  return m.device->new_raw_data;
}

bool head_imu_wait_raw_data(head_imu_module& m, int out[6], int timeout_ms) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return false;
  }
  head_imu_device* device = m.device.get();
  std::unique_lock<std::mutex> raw_lock(device->raw_mutex);
  device->raw_cv.wait_for(raw_lock, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                          [device] { return device->new_raw_data || device->stopping; });
  const bool have = device->new_raw_data;
  if (have) {
    for (int i = 0; i < 3; i++) {
      out[i] = device->raw_gyro[i];
      out[3 + i] = device->raw_accel[i];
    }
  }
  device->new_raw_data = false;
  return have;
}

bool head_imu_get_vsync_timestamp(head_imu_module& m, uint64_t* out) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return false;
  }
  std::lock_guard<std::mutex> vsync_lock(m.device->vsync_lock);
  *out = m.device->vsync_host_ns;
  return true;
}

void head_imu_set_reference_pair(head_imu_module& m, const void* in32) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return;
  }
  OsMutexGuard guard(&m.device->fusion_lock);
  std::memcpy(m.reference_pair, in32, sizeof(m.reference_pair));
}

void head_imu_get_reference_pair(head_imu_module& m, void* out32) {
  std::shared_lock<StartStopLock> lock(m.lifecycle);
  if (!m.device) {
    return;
  }
  OsMutexGuard guard(&m.device->fusion_lock);
  std::memcpy(out32, m.reference_pair, sizeof(m.reference_pair));
}

void head_imu_set_scale_param(head_imu_module& m, float value) {
  m.scale_param.store(value);
}

}  // namespace vistrelle::tracking
