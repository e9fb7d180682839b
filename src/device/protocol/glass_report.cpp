#include "device/protocol/glass_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "base/log/orvex_log.h"
#include "base/helpers/utf8.h"
#include "device/protocol/bias_record.h"

namespace vistrelle::device {

namespace {

float zeroIfNaN(float value) {
  return std::isnan(value) ? 0.0f : value;
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char line[512];
  const int written = std::snprintf(line, sizeof line, pattern, args...);
  if (written < 0) {
    return {};
  }
  return std::string(line, std::min(static_cast<size_t>(written), sizeof line - 1));
}

}  // namespace

bool quat_is_valid(float q0, float q1, float q2, float q3) {
  if (std::isnan(q0) || std::isnan(q1) || std::isnan(q2) || std::isnan(q3)) {
    return false;
  }
  return !(q0 == 0 && q1 == 0 && q2 == 0 && q3 == 0);
}

GlassReport::GlassReport(NotificationCenter& center, std::shared_ptr<CompanionLink> companion,
                         WearThresholds& thresholds, LogSink log)
    : center_(center),
      companion_(companion ? std::move(companion) : CompanionLink::none()),
      thresholds_(thresholds),
      log_(std::move(log)) {}

void GlassReport::setCompanionLink(std::shared_ptr<CompanionLink> link) {
  if (!link) link = CompanionLink::none();
  {
    std::lock_guard lock(installMutex_);
    companion_.swap(link);
  }
  // The old link is released here, outside the lock: its destructor may
  // install again.
}

std::shared_ptr<CompanionLink> GlassReport::companionLink() const {
  std::lock_guard lock(installMutex_);
  return companion_;
}

void GlassReport::setImmersionStore(std::shared_ptr<ImmersionStore> store) {
  {
    std::lock_guard lock(installMutex_);
    immersion_.swap(store);
  }
  // The old store is released outside the lock, as above.
}

std::shared_ptr<ImmersionStore> GlassReport::immersionStore() const {
  std::lock_guard lock(installMutex_);
  return immersion_;
}

GlassReport& GlassReport::shared() {
  static GlassReport report;
  return report;
}

void GlassReport::log(std::string_view line) const {
  if (log_) {
    log_(line);
  } else {
    OrvexLog::logMessage(line);
  }
}

std::array<float, 4> GlassReport::lastQuaternion() const {
  std::lock_guard lock(quaternionMutex_);
  return quaternion_;
}

void GlassReport::parseInputReport(int32_t generation, std::span<const uint8_t> bytes,
                                   GlassReportOutputs& outputs) {
  generation_.store(generation, std::memory_order_release);
  const GlassInputReport report(bytes);
  if (!report.hasLengthField()) {
    return;
  }
  switch (report.lengthField()) {
    case GlassInputReport::kImuLength:
      parseImu(generation, report, outputs);
      break;
    case GlassInputReport::kReplyLength:
      if (report.deliveredLength() >= kReplyMinLength) {
        parseReply(report, outputs);
      }
      break;
    default:
      break;
  }
}

void GlassReport::parseImu(int32_t generation, const GlassInputReport& report,
                           GlassReportOutputs& outputs) {
  if (generation == 1 && report.deliveredLength() >= kFirstGenerationImuMinLength) {
    const std::array<float, 4> q{report.f32(28), report.f32(32), report.f32(36), report.f32(40)};
    outputs.quaternion = q;
    std::lock_guard lock(quaternionMutex_);
    quaternion_ = q;
  } else if (generation == 2 && report.deliveredLength() >= kSecondGenerationImuMinLength) {
    outputs.tripleA = {report.i16(34), report.i16(36), report.i16(38)};
    outputs.scalarC = report.i16(40);
    outputs.tripleB = {report.i16(28), report.i16(30), report.i16(32)};
  }
}

void GlassReport::parseReply(const GlassInputReport& report, GlassReportOutputs& outputs) {
  const uint16_t group = report.group();
  const uint16_t command = report.command();
  if (group < 2 || group > 16) {
    return;
  }
  if (group == 2 && command == 9) {
    changeImmersion(report.u8(12));
  } else if (group == 5 && command == 2) {
    thresholds_.set(report.u16(14), report.u16(16));
  } else if (group == 8 && command == 1) {
    parseVersion(report, outputs);
  } else if (group == 12 && command == 4) {
    parseOffsets(report);
  } else if (group == 12 && command == 6) {
    parseBiasRecord(report);
  } else if (group == 15 && command == 4) {
    if (report.u8(13) == 2) {
      companionLink()->sendTextMessageWithDict(Value::Map{{"type", Value(1)}});
    }
  } else if (group == 16 && command == 7) {
    center_.post(kDisplayStatusNotification, Value(unsigned{report.u16(12)}));
  }
}

void GlassReport::parseVersion(const GlassInputReport& report, GlassReportOutputs& outputs) {
  const size_t length = std::min<size_t>(report.u16(12), kVersionMaxLength);
  std::copy_n(report.bytes().begin() + 14, length, outputs.versionText.begin());
  outputs.versionLength = static_cast<uint32_t>(length);
  const uint8_t marker = report.u8(51);
  companionLink()->setImu_id(marker == 'p' || marker == 'C' ? marker : 0);
}

void GlassReport::parseOffsets(const GlassInputReport& report) {
  const std::array<float, 6> values{zeroIfNaN(report.f32(40)), zeroIfNaN(report.f32(44)),
                                    zeroIfNaN(report.f32(48)), zeroIfNaN(report.f32(16)),
                                    zeroIfNaN(report.f32(24)), zeroIfNaN(report.f32(32))};
  Value::List list(values.begin(), values.end());
  companionLink()->setOffsetDict(
      Value::Map{{"type", Value(kOffsetMessageType)}, {"value", Value(std::move(list))}});
  log(format("acc_x = %f,acc_y = %f,acc_z = %f", double{values[3]}, double{values[4]},
             double{values[5]}));
}

void GlassReport::parseBiasRecord(const GlassInputReport& report) {
  BiasRecord record{.kind = report.u8(12), .offset = report.u8(13), .length = report.u8(14)};
  size_t first = 0;
  if (record.kind == 1) {
    first = 16;
  } else if (record.kind == 2) {
    first = 20;
  }
  std::optional<BiasRecord> accepted;
  if (first != 0) {
    record.temperature = report.f32(first);
    record.x = report.f32(first + 4);
    record.y = report.f32(first + 8);
    record.z = report.f32(first + 12);
    if (quat_is_valid(record.temperature, record.x, record.y, record.z)) {
      accepted = record;
    }
  }
  // Held for the whole reply: the table belongs to the link.
  const std::shared_ptr<CompanionLink> link = companionLink();
  BiasCollector* table = link->biasTable();
  const int32_t index = table != nullptr ? table->addReply(accepted) : 0;
  if (accepted) {
    const char* pattern =
        record.kind == 1 ? "IMU bias = (type=%d,offset=%d,len=%d,temp=%f,x,y,z=%f,%f,%f) index = %d"
                         : "IMU User (type=%d,offset=%d,len=%d,temp=%f,x,y,z=%f,%f,%f) index = %d";
    log(format(pattern, int{record.kind}, int{record.offset}, int{record.length},
               double{record.temperature}, double{record.x}, double{record.y}, double{record.z},
               index));
  }
}

void GlassReport::changeImmersion(int32_t level) {
  if (const std::shared_ptr<ImmersionStore> store = immersionStore()) {
    store->changeImmersion(level);
  } else {
    log(format("Immersion %d from the glasses not kept: no command layer", level));
  }
}

std::string GlassReport::versionText(const GlassReportOutputs& outputs) {
  const size_t length = std::min<size_t>(outputs.versionLength, outputs.versionText.size());
  const std::string_view raw(reinterpret_cast<const char*>(outputs.versionText.data()), length);
  if (!base::isValidUtf8(raw)) {
    return {};
  }
  std::string text;
  text.reserve(raw.size());
  for (const char c : raw) {
    if (c == '\0') {
      continue;
    }
    text.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return text;
}

void GlassReport::deliverResults(int32_t generation, const GlassReportOutputs& outputs,
                                 const ReadCallBack& readCallBack) {
  std::string text = versionText(outputs);
  if (!text.empty()) {
    if (generation == 1 || generation == 2) {
      center_.post(kVersionNotification, Value(std::move(text)));
    }
    return;
  }
  if (readCallBack) {
    const auto& q = outputs.quaternion;
    readCallBack(q[0], q[1], q[2], q[3]);
  }
}

void GlassReport::handleInputReport(int32_t generation, std::span<const uint8_t> report,
                                    const ReadCallBack& readCallBack) {
  GlassReportOutputs outputs;
  parseInputReport(generation, report, outputs);
  deliverResults(generation, outputs, readCallBack);
}

}  // namespace vistrelle::device
