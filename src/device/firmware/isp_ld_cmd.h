#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "device/firmware/dfu_firmware_file.h"
#include "device/firmware/firmware_log.h"
#include "device/firmware/hid_io.h"
#include "device/firmware/i_program_flash_callback.h"
#include "device/firmware/isp_packet.h"
#include "platform/hid/hid_io_transport.h"

namespace vistrelle::device {

// The boot loader's ISP command set over HID, and the loop that writes an
// image into its application flash.  A complete update: OpenPort,
// GetBlVersion (which synchronises), UpdateFileInfo, FlashFile (which
// synchronises again); the device leaves the boot loader on 0xAB.
//
// No locks: one thread drives an object at a time, and a reply may keep it
// waiting for 5 s or 25 s.  Each request that was written moves the packet
// number on by 2; a sync sets it to 1.  The error flag stays set from a
// failed reply until ClosePort.
class ISPLdCMD {
 public:
  static constexpr uint16_t kVendorId = 0x0416;
  static constexpr uint16_t kProductId = 0x3F00;
  static constexpr uint32_t kInterfaceHid = 1;

  struct Options {
    std::shared_ptr<hid::HidIoTransport> transport;  // default: the process' transport
    FirmwareLog log;                                 // default: defaultFirmwareLog()
    int shortTimeoutMs = IspPacket::kShortTimeoutMs;
    int longTimeoutMs = IspPacket::kLongTimeoutMs;
  };

  // The flash layout the flasher sets; only the application flash's size and
  // the start address are used.
  struct FlashLayout {
    uint32_t first = 0;
    uint32_t apromSize = 0;
    uint32_t second = 0;
    uint32_t third = 0;
    uint32_t startAddress = 0;
  };

  ISPLdCMD();
  explicit ISPLdCMD(Options options);
  virtual ~ISPLdCMD();
  ISPLdCMD(const ISPLdCMD&) = delete;
  ISPLdCMD& operator=(const ISPLdCMD&) = delete;

  bool OpenPort();
  // Closes the device and lets the HID layer go: every later request fails
  // at once.
  void ClosePort();

  bool SendRequest(uint32_t command, const uint8_t* data, size_t length, int timeoutMs);
  bool ReadReply(uint8_t* out, size_t n, int timeoutMs, bool checkNumber);

  void SyncPacketNumber();
  uint8_t GetVersion();
  uint32_t GetDeviceID();
  // The glasses model (reply byte 13).
  uint8_t GetBlVersion();
  uint8_t GetProductId();
  void ReadConfig(std::span<uint8_t, 16> config);
  bool UpdateConfig(std::span<const uint8_t, 16> config, std::span<uint8_t, 16> readBack);
  bool ResendPacket();
  bool RunAPROM();
  // One image packet: 0xA0 with the start address, total length and the
  // first 48 bytes when `current` is `start`, else 0x00 with the next 56.
  // `count` is the image bytes taken (0 on a failure).
  bool UpdateAPROM(uint32_t start, uint32_t total, uint32_t current, const uint8_t* data,
                   uint32_t& count);

  // Reads the image file; failures the file is to blame for reach onFail(-1).
  bool UpdateFileInfo(const std::string& path, DfuFirmwareFile::Version& version, bool withHeader);
  // Writes the image read last; the outcome goes only to the callback.
  void FlashFile();
  void SetCallback(IProgramFlashCallback* callback) { callback_ = callback; }

  // State, for the driver and the tests.
  bool portOpen() const { return portOpen_; }
  bool hasHidIO() const { return hidIO_ != nullptr; }
  bool replyError() const { return replyError_; }
  bool error() const { return error_; }
  bool busy() const { return busy_; }
  uint32_t packetNumber() const { return packetNumber_; }
  const FlashLayout& flashLayout() const { return layout_; }
  const DfuFirmwareFile& file() const { return file_; }

 private:
  // A request and its reply.  A request that could not be written on an open
  // port fails its reply without waiting for one.
  bool exchange(uint32_t command, std::span<const uint8_t> data, uint8_t* out, size_t n,
                int timeoutMs, bool checkNumber);
  void fail(int code);

  Options options_;
  std::unique_ptr<HidIO> hidIO_;
  DfuFirmwareFile file_;
  IProgramFlashCallback* callback_ = nullptr;
  std::array<uint8_t, IspPacket::kReplySize> reply_{};
  uint32_t packetNumber_ = 1;
  uint16_t checksum_ = 0;
  uint32_t interface_ = kInterfaceHid;
  bool portOpen_ = false;
  bool busy_ = false;
  bool replyError_ = false;
  bool error_ = false;
  FlashLayout layout_;
};

}  // namespace vistrelle::device
