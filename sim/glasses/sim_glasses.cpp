#include "sim/glasses/sim_glasses.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace vistrelle::sim {

using device::GlassCommandReport;

namespace {

std::vector<uint8_t> toBytes(const GlassCommandReport& report) {
  const auto bytes = report.bytes();
  return {bytes.begin(), bytes.end()};
}

const char* commandName(uint16_t group, uint16_t command) {
  switch (group * 100 + command) {
    case 103:
      return "glass_cmd_set_3d_mode";
    case 104:
      return "glass_cmd_display_param";
    case 106:
      return "glass_cmd_set_duty";
    case 109:
      return "glass_cmd_set_immersion";
    case 502:
      return "glass_cmd_get_wear_info";
    case 600:
    case 601:
      return "glass_cmd_set_wear_detection";
    case 801:
      return "glass_cmd_get_firmware_version";
    case 900:
      return "glass_cmd_enter_dfu";
    case 1102:
      return "glass_cmd_set_volume";
    case 1201:
      return "glass_cmd_set_imu_enabled";
    case 1204:
      return "glass_cmd_get_imu_offset";
    case 1205:
      return "glass_cmd_set_user_temp_drift";
    case 1206:
      return "glass_cmd_get_temp_drift";
    default:
      return "unknown";
  }
}

}  // namespace

std::shared_ptr<SimGlasses> SimGlasses::create(SimGlassesModel model,
                                               dispatch::ExecutorPtr executor,
                                               InputReportSink sink) {
  if (!executor) {
    throw std::invalid_argument("simulated glasses need an executor");
  }
  return std::shared_ptr<SimGlasses>(
      new SimGlasses(std::move(model), std::move(executor), std::move(sink)));
}

SimGlasses::SimGlasses(SimGlassesModel model, dispatch::ExecutorPtr executor, InputReportSink sink)
    : executor_(std::move(executor)), sink_(std::move(sink)), model_(std::move(model)) {
  state_.volume = model_.volume;
  state_.immersion = model_.immersion;
  state_.duty = model_.duty;
}

SimGlasses::~SimGlasses() {
  if (imuTimer_) {
    imuTimer_->cancel();
  }
}

void SimGlasses::attach() {
  std::lock_guard lock(mutex_);
  if (state_.attached) {
    return;
  }
  state_.attached = true;
  state_.inBootLoader = false;
  if (model_.generation == 1) {
    startImuLocked();
  }
}

void SimGlasses::detach() {
  std::lock_guard lock(mutex_);
  state_.attached = false;
  ++attachment_;
  stopImuLocked();
}

int32_t SimGlasses::receiveOutputReport(uint8_t reportId, std::span<const uint8_t> bytes) {
  SimBootLoaderHook hook;
  std::optional<Pending> pending;
  {
    std::lock_guard lock(mutex_);
    if (!state_.attached) {
      return -1;
    }
    const auto report = GlassCommandReport::fromBytes(bytes);
    SimCommandRecord record;
    record.at = executor_->now();
    record.reportId = reportId;
    record.group = report.group();
    record.command = report.command();
    record.name = commandName(record.group, record.command);
    record.report = report;
    if (reportId != GlassCommandReport::kReportId || bytes.size() < GlassCommandReport::kSize) {
      // Received but refused, as the device refuses a report it has no slot for.
      log_.push_back(std::move(record));
      return -1;
    }
    bool enterBootLoader = false;
    if (!state_.inBootLoader && report.length() == GlassCommandReport::kSize) {
      if (auto replyReport = apply(report, record, enterBootLoader)) {
        pending = reply(*replyReport);
      }
    }
    log_.push_back(std::move(record));
    if (enterBootLoader) {
      hook = bootLoaderHook_;
    }
  }
  if (pending) {
    deliver(std::move(*pending));
  }
  if (hook) {
    hook(*this);
  }
  return 0;
}

std::optional<GlassCommandReport> SimGlasses::apply(const GlassCommandReport& report,
                                                    SimCommandRecord& record,
                                                    bool& enterBootLoader) {
  const bool secondGeneration = model_.generation == 2;
  auto& params = record.params;
  const auto replyHeader = [&] {
    GlassCommandReport out;
    out.begin(record.group, record.command);
    return out;
  };
  switch (record.group * 100 + record.command) {
    case 103: {
      const uint16_t value = report.u16(12);
      params["value"] = Value(unsigned{value});
      state_.displayMode = value;
      state_.display3d = value == 4;
      if (value == 1) {
        state_.displayParam = 0;
      }
      record.applied = true;
      return std::nullopt;
    }
    case 104:
      params["value"] = Value(unsigned{report.u16(12)});
      if (secondGeneration) {
        state_.displayParam = report.u16(12);
        state_.display3d = state_.displayParam == 3840;
        record.applied = true;
      }
      return std::nullopt;
    case 106:
      params["duty"] = Value(unsigned{report.u8(15)});
      if (secondGeneration) {
        state_.duty = report.u8(15);
        record.applied = true;
      }
      return std::nullopt;
    case 109:
      params["level"] = Value(unsigned{report.u8(12)});
      if (secondGeneration && model_.supportsImmersion) {
        state_.immersion = report.u8(12);
        record.applied = true;
      }
      return std::nullopt;
    case 502: {
      if (!secondGeneration) {
        return std::nullopt;
      }
      record.applied = true;
      auto out = replyHeader();
      out.setU16(14, model_.wearThreshold1);
      out.setU16(16, model_.wearThreshold2);
      return out;
    }
    case 600:
    case 601:
      params["flag"] = Value(unsigned{report.u16(12)});
      params["threshold1"] = Value(unsigned{report.u16(14)});
      params["threshold2"] = Value(unsigned{report.u16(16)});
      if (secondGeneration) {
        state_.wearDetection = record.command == 1;
        state_.wearDetectionThreshold1 = report.u16(14);
        state_.wearDetectionThreshold2 = report.u16(16);
        record.applied = true;
      }
      return std::nullopt;
    case 801: {
      record.applied = true;
      auto out = replyHeader();
      const std::string& text = model_.versionText;
      out.setU16(12, static_cast<uint16_t>(std::min<size_t>(text.size(), 0xFFFF)));
      const size_t fits = std::min<size_t>(text.size(), GlassCommandReport::kSize - 14);
      for (size_t i = 0; i < fits; ++i) {
        out.setU8(14 + i, static_cast<uint8_t>(text[i]));
      }
      out.setU8(51, model_.imuIdByte);
      return out;
    }
    case 900:
      params["value"] = Value(unsigned{report.u16(12)});
      record.applied = true;
      state_.inBootLoader = true;
      stopImuLocked();
      enterBootLoader = true;
      return std::nullopt;
    case 1102:
      params["level"] = Value(unsigned{report.u8(12)});
      state_.volume = report.u8(12);
      record.applied = true;
      return std::nullopt;
    case 1201: {
      const uint8_t value = report.u8(12);
      params["value"] = Value(unsigned{value});
      if (!secondGeneration || (value != 31 && value != 0)) {
        return std::nullopt;
      }
      record.applied = true;
      if (value == 31) {
        startImuLocked();
      } else {
        stopImuLocked();
      }
      return std::nullopt;
    }
    case 1204: {
      if (!secondGeneration) {
        return std::nullopt;
      }
      record.applied = true;
      auto out = replyHeader();
      const size_t at[] = {40, 44, 48, 16, 24, 32};
      for (size_t i = 0; i < 6; ++i) {
        out.setF32(at[i], model_.offsets[i]);
      }
      return out;
    }
    case 1205: {
      const uint8_t kind = report.u8(12);
      const uint8_t index = report.u8(16);
      const SimBiasEntry entry{report.f32(20), report.f32(24), report.f32(28), report.f32(32)};
      params["kind"] = Value(unsigned{kind});
      params["offset"] = Value(unsigned{report.u8(13)});
      params["length"] = Value(unsigned{report.u16(14)});
      params["index"] = Value(unsigned{index});
      params["temperature"] = Value(entry.temperature);
      params["x"] = Value(entry.x);
      params["y"] = Value(entry.y);
      params["z"] = Value(entry.z);
      if (secondGeneration && kind == 2 && index < model_.userBias.size()) {
        model_.userBias[index] = entry;
        record.applied = true;
      }
      return std::nullopt;
    }
    case 1206: {
      const uint8_t kind = report.u8(12);
      const uint8_t offset = report.u8(13);
      const uint8_t length = report.u8(14);
      params["kind"] = Value(unsigned{kind});
      params["offset"] = Value(unsigned{offset});
      params["length"] = Value(unsigned{length});
      if (!secondGeneration) {
        return std::nullopt;
      }
      record.applied = true;
      auto out = replyHeader();
      out.setU8(12, kind);
      out.setU8(13, offset);
      out.setU8(14, length);
      // A record the table does not have reads as zeros.
      std::optional<SimBiasEntry> entry;
      size_t first = 0;
      if (kind == 1 && offset % 16 == 0 && offset / 16 < model_.factoryBias.size()) {
        entry = model_.factoryBias[offset / 16];
        first = 16;
      } else if (kind == 2 && offset % 20 == 0 && offset / 20 < model_.userBias.size()) {
        entry = model_.userBias[offset / 20];
        first = 20;
      }
      if (entry) {
        out.setF32(first, entry->temperature);
        out.setF32(first + 4, entry->x);
        out.setF32(first + 8, entry->y);
        out.setF32(first + 12, entry->z);
      }
      return out;
    }
    default:
      return std::nullopt;
  }
}

SimGlasses::Pending SimGlasses::reply(const GlassCommandReport& report) const {
  Pending pending{toBytes(report), {}, attachment_};
  const auto fault = replyFaults_.find({report.group(), report.command()});
  if (fault != replyFaults_.end()) {
    pending.fault = fault->second;
  }
  return pending;
}

SimGlasses::Pending SimGlasses::imuReport() const {
  GlassCommandReport report;
  report.setU16(0, 32);
  if (model_.generation == 1) {
    for (size_t i = 0; i < 4; ++i) {
      report.setF32(28 + 4 * i, orientation_[i]);
    }
  } else {
    for (size_t i = 0; i < 3; ++i) {
      report.setU16(28 + 2 * i, static_cast<uint16_t>(imuSample_.tripleB[i]));
      report.setU16(34 + 2 * i, static_cast<uint16_t>(imuSample_.tripleA[i]));
    }
    report.setU16(40, static_cast<uint16_t>(imuSample_.scalarC));
  }
  return {toBytes(report), imuFault_, attachment_};
}

void SimGlasses::deliver(Pending pending) {
  SimReportFault& fault = pending.fault;
  if (fault.drop) {
    return;
  }
  auto& bytes = pending.bytes;
  for (const auto& [offset, value] : fault.f32Patches) {
    if (offset + 4 <= bytes.size()) {
      auto report = GlassCommandReport::fromBytes(bytes);
      report.setF32(offset, value);
      bytes = toBytes(report);
    }
  }
  if (fault.lengthField) {
    bytes[0] = static_cast<uint8_t>(*fault.lengthField & 0xFF);
    bytes[1] = static_cast<uint8_t>(*fault.lengthField >> 8);
  }
  if (fault.deliveredLength) {
    bytes.resize(std::min(bytes.size(), *fault.deliveredLength));
  }
  auto task = [weak = weak_from_this(), attachment = pending.attachment, bytes = std::move(bytes)] {
    const auto self = weak.lock();
    if (!self) {
      return;
    }
    {
      std::lock_guard lock(self->mutex_);
      if (!self->state_.attached || self->attachment_ != attachment) {
        return;
      }
    }
    if (self->sink_) {
      self->sink_(bytes);
    }
  };
  if (fault.delay) {
    executor_->postAfter(*fault.delay, std::move(task));
  } else {
    executor_->post(std::move(task));
  }
}

void SimGlasses::startImuLocked() {
  if (state_.imuStreaming) {
    return;
  }
  state_.imuStreaming = true;
  // A model may carry any rate; NaN takes the slowest.
  const double hz = std::isnan(model_.imuRateHz)
                        ? kMinImuRateHz
                        : std::clamp(model_.imuRateHz, kMinImuRateHz, kMaxImuRateHz);
  const auto interval =
      std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(1.0 / hz));
  imuTimer_ = dispatch::TimerSource::create(executor_);
  imuTimer_->setEventHandler([weak = weak_from_this()] {
    if (const auto self = weak.lock()) {
      self->emitImu();
    }
  });
  imuTimer_->setTimer(executor_->now() + interval, interval);
  imuTimer_->resume();
}

void SimGlasses::stopImuLocked() {
  state_.imuStreaming = false;
  if (imuTimer_) {
    imuTimer_->cancel();
    imuTimer_.reset();
  }
}

void SimGlasses::emitImu() {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    if (!state_.imuStreaming || !state_.attached) {
      return;
    }
    ++state_.imuReportsSent;
    pending = imuReport();
  }
  if (pending.fault.drop) {
    return;
  }
  if (pending.fault.delay || !pending.fault.f32Patches.empty() || pending.fault.lengthField ||
      pending.fault.deliveredLength) {
    deliver(std::move(pending));
    return;
  }
  // The timer already runs on the executor: hand the sample over at once.
  if (sink_) {
    sink_(pending.bytes);
  }
}

void SimGlasses::raise(uint16_t group, uint16_t command,
                       const std::function<void(GlassCommandReport&)>& fill) {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    if (!state_.attached) {
      return;
    }
    GlassCommandReport report;
    report.begin(group, command);
    fill(report);
    pending = reply(report);
  }
  deliver(std::move(pending));
}

void SimGlasses::raiseImmersionChange(uint8_t level) {
  raise(2, 9, [&](GlassCommandReport& report) {
    state_.immersion = level;
    report.setU8(12, level);
  });
}

void SimGlasses::raiseCompanionEvent(uint8_t value) {
  raise(15, 4, [&](GlassCommandReport& report) { report.setU8(13, value); });
}

void SimGlasses::raiseDisplayStatus(uint16_t value) {
  raise(16, 7, [&](GlassCommandReport& report) { report.setU16(12, value); });
}

void SimGlasses::setOrientation(const std::array<float, 4>& quaternion) {
  std::lock_guard lock(mutex_);
  orientation_ = quaternion;
}

void SimGlasses::setImuSample(const SimImuSample& sample) {
  std::lock_guard lock(mutex_);
  imuSample_ = sample;
}

void SimGlasses::setImuRate(double hz) {
  if (std::isnan(hz)) {
    throw std::invalid_argument("simulated glasses: an IMU rate must be a number");
  }
  std::lock_guard lock(mutex_);
  model_.imuRateHz = hz;
}

void SimGlasses::setVersionText(std::string bytes) {
  std::lock_guard lock(mutex_);
  model_.versionText = std::move(bytes);
}

void SimGlasses::setUserBias(size_t index, const SimBiasEntry& entry) {
  std::lock_guard lock(mutex_);
  model_.userBias.at(index) = entry;
}

void SimGlasses::setReplyFault(uint16_t group, uint16_t command, SimReportFault fault) {
  std::lock_guard lock(mutex_);
  replyFaults_[{group, command}] = std::move(fault);
}

void SimGlasses::setImuFault(SimReportFault fault) {
  std::lock_guard lock(mutex_);
  imuFault_ = std::move(fault);
}

void SimGlasses::clearFaults() {
  std::lock_guard lock(mutex_);
  replyFaults_.clear();
  imuFault_ = {};
}

void SimGlasses::setBootLoaderHook(SimBootLoaderHook hook) {
  std::lock_guard lock(mutex_);
  bootLoaderHook_ = std::move(hook);
}

SimGlassesModel SimGlasses::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

SimGlassesState SimGlasses::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::vector<SimCommandRecord> SimGlasses::commandLog() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void SimGlasses::clearCommandLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

}  // namespace vistrelle::sim
