#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/dispatch/executor.h"
#include "sim/hid/sim_glasses_hid_device.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle::sim {

// The glasses' boot loader on the simulated bus, as 0x0416:0x3F00 with one
// 64-byte input and one 64-byte output report (no report IDs).
//
// It takes 65-byte ISP packets ([0x00, u32 command, u32 number, data]) and
// ignores every other write (the command layer sends glasses commands to
// whatever is plugged in).  Each packet must carry the number after the
// last one (a sync, 0xA4, starts again from its own); it is answered, to
// every reader of the node, with the sum of the packet's bytes (u16) at 0
// and its number + 1 at 4, data from byte 9.  0xA0 and 0x00 write the
// application flash (0x78000 bytes); 0xAB is not answered: when the flash
// holds the expected image (its byte count and sum), the boot loader leaves
// and the glasses to bring up come back with the configured version text;
// otherwise it stays.
//
// Thread-safe; packets are handled on the bus's thread.
class SimBootloader {
 public:
  static constexpr uint16_t kVendorId = 0x0416;
  static constexpr uint16_t kProductId = 0x3F00;
  static constexpr uint32_t kFlashSize = 0x78000;

  struct Identity {
    uint8_t model = 1;               // 0xB1 reply byte 13
    uint8_t product = 0x11;          // 0xB1 reply byte 14
    uint32_t deviceId = 0x00235100;  // 0xB1 reply bytes 9-12
    uint8_t version = 0x2D;          // 0xA6 reply byte 9
    std::array<uint8_t, 16> config{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::string name = "ISP boot loader";
  };

  enum class Fault {
    None,
    BadChecksum,  // the reply's checksum is off by one
    WrongNumber,  // the reply carries the request's own number
    NoReply,
    ShortReply,  // 32 bytes
    Disconnect,  // the boot loader leaves the bus instead of answering
  };

  explicit SimBootloader(std::shared_ptr<SimHidBus> bus);
  SimBootloader(std::shared_ptr<SimHidBus> bus, Identity identity);
  // Unplugs.
  ~SimBootloader();
  SimBootloader(const SimBootloader&) = delete;
  SimBootloader& operator=(const SimBootloader&) = delete;

  // Announces the boot loader on the bus (a new node each time), erased flash.
  void plug();
  void unplug();
  bool plugged() const;
  std::string path() const;

  // The image a complete update writes: its byte count and sum decide 0xAB.
  void expectImage(std::span<const uint8_t> image);
  // What 0xAB brings up after a complete flash: `glasses` (kept by the
  // caller), answering `versionText` from then on.
  void bringUpAfterFlash(SimGlassesHidDevice* glasses, std::string versionText);
  // Gives `glasses` the boot-loader entry of real glasses: on (9, 0) they
  // leave the bus and this boot loader arrives `delay` later on `executor`.
  void takeOverFrom(SimGlassesHidDevice& glasses, dispatch::ExecutorPtr executor,
                    dispatch::Nanos delay);

  // Faults.  Counted packets are every request but syncs and 0xAB (in an
  // update: the 0xB1 and then the image packets), from 0 since the last plug.
  void setFault(Fault fault, size_t countedPacket);
  // Syncs are answered with a wrong checksum.
  void refuseSync(bool refuse);
  // Once the last image packet has been answered, writes to the node fail
  // (so 0xAB cannot be sent).
  void failRunAprom(bool fail);

  // What it saw since the last plug.
  std::vector<uint32_t> commands() const;  // every ISP packet taken, in order
  size_t ignoredWrites() const;            // writes that were not ISP packets
  size_t outOfOrderPackets() const;        // ISP packets with an unexpected number
  size_t countedPackets() const;
  uint32_t flashedBytes() const;
  uint32_t flashedSum() const;
  std::vector<uint8_t> flash(uint32_t count) const;
  // 0xAB came after a complete flash.
  bool ran() const;
  // Waits (bounded) until `count` ISP packets were taken.
  bool waitForCommands(size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool waitUntilPlugged(bool plugged,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  struct Core;

 private:
  const std::shared_ptr<SimHidBus> bus_;
  const std::shared_ptr<Core> core_;
};

}  // namespace vistrelle::sim
