#include "device/firmware/isp_ld_cmd.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace vistrelle::device {

ISPLdCMD::ISPLdCMD() : ISPLdCMD(Options{}) {}

ISPLdCMD::ISPLdCMD(Options options) : options_(std::move(options)) {
  if (!options_.log) options_.log = defaultFirmwareLog();
  if (!options_.transport) options_.transport = hid::HidIoTransport::current();
  hidIO_ = std::make_unique<HidIO>(options_.transport, options_.log);
}

ISPLdCMD::~ISPLdCMD() = default;

bool ISPLdCMD::OpenPort() {
  portOpen_ = hidIO_ && hidIO_->OpenDevice(kVendorId, kProductId, 0);
  return portOpen_;
}

void ISPLdCMD::ClosePort() {
  if (hidIO_) hidIO_->CloseDevice();
  hidIO_.reset();
  portOpen_ = false;
  error_ = false;
}

bool ISPLdCMD::SendRequest(uint32_t command, const uint8_t* data, size_t length, int) {
  if (!portOpen_ || !hidIO_) return false;
  const IspPacket packet(
      command, packetNumber_,
      data ? std::span<const uint8_t>(data, length) : std::span<const uint8_t>());
  checksum_ = packet.checksum();
  if (interface_ != kInterfaceHid) return false;
  if (!hidIO_->WriteReport(packet.bytes().data(), packet.bytes().size())) {
    options_.log("\n failed,close port!!!");
    return false;
  }
  packetNumber_ += 2;
  return true;
}

bool ISPLdCMD::ReadReply(uint8_t* out, size_t n, int timeoutMs, bool checkNumber) {
  replyError_ = false;
  if (!portOpen_ || !hidIO_) {
    options_.log("There is no Nu-Link connected to a USB port.");
    error_ = true;
    return false;
  }
  size_t received = 0;
  if (!hidIO_->ReadReport(reply_.data(), reply_.size(), received, timeoutMs)) {
    error_ = true;
    return false;
  }
  const std::optional<uint32_t> number =
      checkNumber ? std::optional<uint32_t>(packetNumber_ - 1) : std::nullopt;
  if (!IspPacket::replyMatches(reply_, checksum_, number)) {
    options_.log("\n读取数据错误...");
    replyError_ = true;
    error_ = true;
    return false;
  }
  if (out != nullptr) IspPacket::replyData(reply_, std::span<uint8_t>(out, n));
  return true;
}

bool ISPLdCMD::exchange(uint32_t command, std::span<const uint8_t> data, uint8_t* out, size_t n,
                        int timeoutMs, bool checkNumber) {
  if (!SendRequest(command, data.data(), data.size(), timeoutMs) && portOpen_ && hidIO_) {
    // Nothing was sent, so no reply will come: waiting would only delay the
    // failure, and a late reply to an earlier request must not pass for it.
    error_ = true;
    return false;
  }
  return ReadReply(out, n, timeoutMs, checkNumber);
}

void ISPLdCMD::SyncPacketNumber() {
  if (!hidIO_) {
    options_.log("\n\nCheck usb connection!");
    return;
  }
  packetNumber_ = 1;
  std::array<uint8_t, 4> one{};
  IspPacket::writeU32(one, 0, 1);
  exchange(isp_command::kSyncPacketNumber, one, nullptr, 0, options_.shortTimeoutMs, false);
}

uint8_t ISPLdCMD::GetVersion() {
  uint8_t version = 0;
  if (!exchange(isp_command::kGetVersion, {}, &version, 1, options_.shortTimeoutMs, true)) return 0;
  return version;
}

uint32_t ISPLdCMD::GetDeviceID() {
  std::array<uint8_t, 4> id{};
  if (!exchange(isp_command::kGetDeviceId, {}, id.data(), id.size(), options_.shortTimeoutMs,
                true)) {
    return 0;
  }
  return IspPacket::readU32(id, 0);
}

uint8_t ISPLdCMD::GetBlVersion() {
  options_.log("\n\nGetBlVersion...");
  SyncPacketNumber();
  std::array<uint8_t, 32> data{};
  exchange(isp_command::kGetDeviceId, {}, data.data(), data.size(), options_.shortTimeoutMs, true);
  options_.log(formatText("\nBL %d,%d,%d,%d", data[4], data[5], data[6], data[7]));
  return data[4];
}

uint8_t ISPLdCMD::GetProductId() {
  options_.log("\n\nGetProductId...");
  if (!hidIO_) {
    options_.log("\n\nCheck usb connection!");
    return 2;
  }
  SyncPacketNumber();
  std::array<uint8_t, 32> data{};
  exchange(isp_command::kGetDeviceId, {}, data.data(), data.size(), options_.shortTimeoutMs, true);
  options_.log(formatText("\nPID %d,%d,%d,%d", data[5], data[6], data[7], data[8]));
  return data[5];
}

void ISPLdCMD::ReadConfig(std::span<uint8_t, 16> config) {
  options_.log("\n---------ReadConfig----------");
  std::fill(config.begin(), config.end(), 0);
  if (!exchange(isp_command::kReadConfig, {}, config.data(), config.size(), options_.shortTimeoutMs,
                true)) {
    std::fill(config.begin(), config.end(), 0);
  }
  options_.log("\n---------ReadConfig done....----------");
}

bool ISPLdCMD::UpdateConfig(std::span<const uint8_t, 16> config, std::span<uint8_t, 16> readBack) {
  std::fill(readBack.begin(), readBack.end(), 0);
  return exchange(isp_command::kUpdateConfig, config, readBack.data(), readBack.size(),
                  options_.longTimeoutMs, true);
}

bool ISPLdCMD::ResendPacket() {
  return exchange(isp_command::kResendPacket, {}, nullptr, 0, options_.longTimeoutMs, false);
}

bool ISPLdCMD::RunAPROM() {
  return SendRequest(isp_command::kRunAprom, nullptr, 0, options_.longTimeoutMs);
}

bool ISPLdCMD::UpdateAPROM(uint32_t start, uint32_t total, uint32_t current, const uint8_t* data,
                           uint32_t& count) {
  count = 0;
  const uint32_t remaining = start + total - current;
  std::array<uint8_t, IspPacket::kMaxData> payload{};
  uint32_t command = isp_command::kContinue;
  size_t payloadLength = 0;
  uint32_t chunk = 0;
  if (current == start) {
    chunk = std::min<uint32_t>(remaining, IspPacket::kFirstImageBytes);
    IspPacket::writeU32(payload, 0, start);
    IspPacket::writeU32(payload, 4, total);
    std::copy_n(data, chunk, payload.begin() + 8);
    payloadLength = 8 + chunk;
    command = isp_command::kUpdateAprom;
  } else {
    chunk = std::min<uint32_t>(remaining, IspPacket::kMaxData);
    std::copy_n(data, chunk, payload.begin());
    payloadLength = chunk;
  }
  if (!SendRequest(command, payload.data(), payloadLength, options_.longTimeoutMs)) return false;
  if (!ReadReply(nullptr, 0, options_.longTimeoutMs, true)) return false;
  count = chunk;
  return true;
}

bool ISPLdCMD::UpdateFileInfo(const std::string& path, DfuFirmwareFile::Version& version,
                              bool withHeader) {
  const DfuFirmwareFile::Status status = file_.read(path, withHeader, options_.log);
  version = file_.version();
  switch (status) {
    case DfuFirmwareFile::Status::Ok:
      return true;
    case DfuFirmwareFile::Status::CannotOpen:
      return false;
    case DfuFirmwareFile::Status::BadFile:
    case DfuFirmwareFile::Status::Short:
    case DfuFirmwareFile::Status::BadChecksum:
      fail(IProgramFlashCallback::kBadFile);
      return false;
  }
  return false;
}

void ISPLdCMD::fail(int code) {
  if (callback_) callback_->onFail(code);
}

void ISPLdCMD::FlashFile() {
  busy_ = true;
  layout_ = {0, IspPacket::kApromSize, IspPacket::kApromSize, 0x8000, IspPacket::kApromStart};
  const std::vector<uint8_t>& image = file_.image();
  const uint64_t length = file_.imageLength();
  const auto done = [this] { busy_ = false; };

  if (layout_.apromSize < layout_.startAddress + length) {
    options_.log("内存溢出");
    fail(IProgramFlashCallback::kTooLarge);
    return done();
  }
  if (length == 0) {
    options_.log(formatText("文件长度不正确需要检查固件...end fileInf.st_size=%lu",
                            static_cast<unsigned long>(length)));
    fail(IProgramFlashCallback::kBadFile);
    return done();
  }
  options_.log(formatText("\n\n\n\nm_uAPROM_Size=0x%x", layout_.apromSize));
  SyncPacketNumber();
  if (error_) {
    fail(IProgramFlashCallback::kNotCompleted);
    return done();
  }
  if (callback_) callback_->onProgress(0);

  const auto total = static_cast<uint32_t>(length);
  uint32_t offset = 0;
  int lastPercent = 0;
  while (offset < total) {
    uint32_t count = 0;
    UpdateAPROM(layout_.startAddress, total, layout_.startAddress + offset, image.data() + offset,
                count);
    if (replyError_) {
      options_.log("\nFlash failed,exit!!!");
      count = 0;
    }
    if (count == 0) {
      options_.log("Flash failed!!!!");
      fail(IProgramFlashCallback::kPacketRefused);
      break;
    }
    offset += count;
    const int percent = static_cast<int>(
        std::floor(static_cast<double>(offset) / static_cast<double>(total) * 100));
    if (percent > lastPercent) {
      if (callback_) callback_->onProgress(static_cast<float>(percent));
      lastPercent = percent;
    }
  }
  if (offset >= total) {
    if (RunAPROM()) {
      if (callback_) callback_->onSuccess();
    } else {
      options_.log("Can't run APRom");
      fail(IProgramFlashCallback::kNotCompleted);
    }
  } else {
    fail(IProgramFlashCallback::kNotCompleted);
  }
  options_.log("\n------------Stop flash file end----------");
  done();
}

}  // namespace vistrelle::device
