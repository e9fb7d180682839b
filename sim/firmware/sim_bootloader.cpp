#include "sim/firmware/sim_bootloader.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace vistrelle::sim {
namespace {

constexpr size_t kPacketFrame = 65;  // report ID 0, then 64 bytes
constexpr size_t kReplySize = 64;
constexpr size_t kShortReply = 32;
constexpr size_t kDataOffset = 9;  // in a reply
constexpr uint32_t kFirstImageBytes = 48;
constexpr uint32_t kImageBytes = 56;

// The boot loader's commands.
constexpr uint32_t kUpdateAprom = 0xA0;
constexpr uint32_t kUpdateConfig = 0xA1;
constexpr uint32_t kReadConfig = 0xA2;
constexpr uint32_t kSync = 0xA4;
constexpr uint32_t kGetVersion = 0xA6;
constexpr uint32_t kRunAprom = 0xAB;
constexpr uint32_t kGetDeviceId = 0xB1;
constexpr uint32_t kContinue = 0x00;
constexpr uint32_t kResend = 0xFF;

bool isCommand(uint32_t command) {
  switch (command) {
    case kUpdateAprom:
    case kUpdateConfig:
    case kReadConfig:
    case kSync:
    case kGetVersion:
    case kRunAprom:
    case kGetDeviceId:
    case kContinue:
    case kResend:
      return true;
    default:
      return false;
  }
}

uint32_t u32At(std::span<const uint8_t> bytes, size_t offset) {
  return uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8 |
         uint32_t{bytes[offset + 2]} << 16 | uint32_t{bytes[offset + 3]} << 24;
}

void putU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

struct SimBootloader::Core : std::enable_shared_from_this<Core> {
  Core(const std::shared_ptr<SimHidBus>& bus, Identity identity)
      : bus(bus), busOnItsThread(bus.get()), identity(std::move(identity)) {}

  // Never owned here: a packet handler holds the core on the bus's own
  // thread, and the bus must never be let go there (its destructor joins
  // that thread).  On that thread the bus is alive by construction.
  const std::weak_ptr<SimHidBus> bus;
  SimHidBus* const busOnItsThread;
  const Identity identity;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool plugged = false;  // packets are handled
  bool onBus = false;    // the node is announced
  std::string path;
  // Per plug.
  std::vector<uint8_t> flash;
  std::array<uint8_t, 16> config{};
  uint32_t expectedNumber = 1;
  bool programming = false;
  uint32_t start = 0;
  uint32_t total = 0;
  uint32_t written = 0;
  bool ran = false;
  std::vector<uint32_t> commands;
  size_t ignored = 0;
  size_t outOfOrder = 0;
  size_t counted = 0;
  // Set by the test.
  std::optional<std::pair<uint32_t, uint32_t>> expectedImage;  // count, sum
  SimGlassesHidDevice* glasses = nullptr;
  std::string glassesVersion;
  Fault fault = Fault::None;
  size_t faultPacket = 0;
  bool refuseSync = false;
  bool failRunAprom = false;

  void plug() {
    std::unique_lock lock(mutex);
    // A leave still under way ends first.
    changed.wait(lock, [&] { return plugged || !onBus; });
    if (plugged) return;
    flash.assign(kFlashSize, 0xFF);
    config = identity.config;
    expectedNumber = 1;
    programming = false;
    start = total = written = 0;
    ran = false;
    commands.clear();
    ignored = outOfOrder = counted = 0;
    SimHidIdentity announced;
    announced.vendorId = kVendorId;
    announced.productId = kProductId;
    announced.name = identity.name;
    announced.descriptor = SimGlassesHidDevice::reportDescriptor(false);
    std::weak_ptr<Core> self = weak_from_this();
    auto target = bus.lock();
    if (!target) return;
    // Held across the plug: a write can only be handled once the node is known.
    path = target->plug(std::move(announced), [self](std::span<const uint8_t> frame) {
      if (auto core = self.lock()) core->received(frame);
    });
    plugged = true;
    onBus = true;
    changed.notify_all();
  }

  // Off the bus's thread: returns once the node is off the bus, also when
  // the boot loader is leaving on its own.
  void unplug() {
    auto target = bus.lock();
    if (target) unplugFrom(*target);
    std::unique_lock lock(mutex);
    if (!target) {
      plugged = onBus = false;
      return;
    }
    changed.wait(lock, [&] { return !onBus; });
  }

  // Packets stop being handled at once; the node is off the bus when it
  // returns.
  void unplugFrom(SimHidBus& target) {
    std::string node;
    {
      std::lock_guard lock(mutex);
      if (!plugged) return;
      plugged = false;
      node = path;
    }
    target.unplug(node);
    std::lock_guard lock(mutex);
    onBus = false;
    changed.notify_all();
  }

  bool flashMatches() const {
    if (!programming || written != total || !expectedImage) return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < total; ++i) sum += flash[start + i];
    return total == expectedImage->first && sum == expectedImage->second;
  }

  // One write to the node, on the bus's thread.
  void received(std::span<const uint8_t> frame) {
    std::vector<uint8_t> reply;
    bool answer = true;
    bool leave = false;
    bool run = false;
    bool failWrites = false;
    std::string node;
    {
      std::lock_guard lock(mutex);
      if (!plugged) return;
      node = path;
      if (frame.size() != kPacketFrame || frame[0] != 0) {
        ++ignored;
        return;
      }
      const std::span<const uint8_t> packet = frame.subspan(1);
      const uint32_t command = u32At(packet, 0);
      const uint32_t number = u32At(packet, 4);
      if (!isCommand(command) || (command == kContinue && !programming)) {
        ++ignored;
        return;
      }
      if (command != kSync && number != expectedNumber) {
        ++outOfOrder;
        changed.notify_all();
        return;
      }
      expectedNumber = number + 2;
      commands.push_back(command);
      changed.notify_all();

      if (command == kRunAprom) {
        if (flashMatches()) {
          ran = true;
          run = true;
        }
      } else {
        uint32_t sum = 0;
        for (const uint8_t byte : frame) sum += byte;
        reply.assign(kReplySize, 0);
        reply[0] = static_cast<uint8_t>(sum);
        reply[1] = static_cast<uint8_t>(sum >> 8);
        putU32(reply, 4, number + 1);
        Fault now = Fault::None;
        if (command == kSync) {
          if (refuseSync) now = Fault::BadChecksum;
        } else if (counted++ == faultPacket) {
          now = fault;
        }
        const std::span<const uint8_t> data = packet.subspan(8);
        switch (command) {
          case kGetDeviceId:
            putU32(reply, kDataOffset, identity.deviceId);
            reply[kDataOffset + 4] = identity.model;
            reply[kDataOffset + 5] = identity.product;
            break;
          case kGetVersion:
            reply[kDataOffset] = identity.version;
            break;
          case kUpdateConfig:
            std::copy_n(data.begin(), config.size(), config.begin());
            [[fallthrough]];
          case kReadConfig:
            std::copy(config.begin(), config.end(), reply.begin() + kDataOffset);
            break;
          case kUpdateAprom: {
            const uint32_t first = u32At(data, 0);
            const uint32_t length = u32At(data, 4);
            if (first > kFlashSize || length > kFlashSize - first) {
              answer = false;  // not a flash it has
              break;
            }
            programming = true;
            start = first;
            total = length;
            written = std::min(length, kFirstImageBytes);
            std::copy_n(data.begin() + 8, written, flash.begin() + start);
            break;
          }
          case kContinue: {
            const uint32_t chunk = std::min(total - written, kImageBytes);
            std::copy_n(data.begin(), chunk, flash.begin() + start + written);
            written += chunk;
            break;
          }
          default:
            break;
        }
        const bool image = command == kUpdateAprom || command == kContinue;
        failWrites = failRunAprom && image && programming && written == total;
        switch (now) {
          case Fault::None:
            break;
          case Fault::BadChecksum:
            reply[0] = static_cast<uint8_t>(reply[0] + 1);
            break;
          case Fault::WrongNumber:
            putU32(reply, 4, number);
            break;
          case Fault::NoReply:
            answer = false;
            break;
          case Fault::ShortReply:
            reply.resize(kShortReply);
            break;
          case Fault::Disconnect:
            answer = false;
            leave = true;
            break;
        }
      }
    }
    if (failWrites) busOnItsThread->failWrites(node);
    if (answer && !reply.empty()) busOnItsThread->sendInput(node, reply);
    if (leave || run) unplugFrom(*busOnItsThread);
    if (run) bringUp();
  }

  void bringUp() {
    SimGlassesHidDevice* target = nullptr;
    std::string version;
    {
      std::lock_guard lock(mutex);
      target = glasses;
      version = glassesVersion;
    }
    if (!target) return;
    target->glasses().setVersionText(version);
    target->plug();
  }
};

SimBootloader::SimBootloader(std::shared_ptr<SimHidBus> bus)
    : SimBootloader(std::move(bus), Identity{}) {}

SimBootloader::SimBootloader(std::shared_ptr<SimHidBus> bus, Identity identity)
    : bus_(std::move(bus)), core_(std::make_shared<Core>(bus_, std::move(identity))) {}

SimBootloader::~SimBootloader() {
  core_->unplug();
}

void SimBootloader::plug() {
  core_->plug();
}

void SimBootloader::unplug() {
  core_->unplug();
}

bool SimBootloader::plugged() const {
  std::lock_guard lock(core_->mutex);
  return core_->onBus;
}

std::string SimBootloader::path() const {
  std::lock_guard lock(core_->mutex);
  return core_->path;
}

void SimBootloader::expectImage(std::span<const uint8_t> image) {
  uint32_t sum = 0;
  for (const uint8_t byte : image) sum += byte;
  std::lock_guard lock(core_->mutex);
  core_->expectedImage = {{static_cast<uint32_t>(image.size()), sum}};
}

void SimBootloader::bringUpAfterFlash(SimGlassesHidDevice* glasses, std::string versionText) {
  std::lock_guard lock(core_->mutex);
  core_->glasses = glasses;
  core_->glassesVersion = std::move(versionText);
}

void SimBootloader::takeOverFrom(SimGlassesHidDevice& glasses, dispatch::ExecutorPtr executor,
                                 dispatch::Nanos delay) {
  std::weak_ptr<Core> core = core_;
  glasses.glasses().setBootLoaderHook([core, device = &glasses, executor, delay](SimGlasses&) {
    // Scheduled before the glasses leave, so whoever sees them leave can move
    // a virtual clock on to the arrival.
    executor->postAfter(delay, [core] {
      if (auto target = core.lock()) target->plug();
    });
    device->unplug();
  });
}

void SimBootloader::setFault(Fault fault, size_t countedPacket) {
  std::lock_guard lock(core_->mutex);
  core_->fault = fault;
  core_->faultPacket = countedPacket;
}

void SimBootloader::refuseSync(bool refuse) {
  std::lock_guard lock(core_->mutex);
  core_->refuseSync = refuse;
}

void SimBootloader::failRunAprom(bool fail) {
  std::lock_guard lock(core_->mutex);
  core_->failRunAprom = fail;
}

std::vector<uint32_t> SimBootloader::commands() const {
  std::lock_guard lock(core_->mutex);
  return core_->commands;
}

size_t SimBootloader::ignoredWrites() const {
  std::lock_guard lock(core_->mutex);
  return core_->ignored;
}

size_t SimBootloader::outOfOrderPackets() const {
  std::lock_guard lock(core_->mutex);
  return core_->outOfOrder;
}

size_t SimBootloader::countedPackets() const {
  std::lock_guard lock(core_->mutex);
  return core_->counted;
}

uint32_t SimBootloader::flashedBytes() const {
  std::lock_guard lock(core_->mutex);
  return core_->written;
}

uint32_t SimBootloader::flashedSum() const {
  std::lock_guard lock(core_->mutex);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < core_->written; ++i) sum += core_->flash[core_->start + i];
  return sum;
}

std::vector<uint8_t> SimBootloader::flash(uint32_t count) const {
  std::lock_guard lock(core_->mutex);
  count = std::min<uint32_t>(count, static_cast<uint32_t>(core_->flash.size()));
  return {core_->flash.begin(), core_->flash.begin() + count};
}

bool SimBootloader::ran() const {
  std::lock_guard lock(core_->mutex);
  return core_->ran;
}

bool SimBootloader::waitForCommands(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(core_->mutex);
  return core_->changed.wait_for(lock, limit, [&] { return core_->commands.size() >= count; });
}

bool SimBootloader::waitUntilPlugged(bool plugged, std::chrono::milliseconds limit) const {
  std::unique_lock lock(core_->mutex);
  return core_->changed.wait_for(lock, limit, [&] { return core_->onBus == plugged; });
}

}  // namespace vistrelle::sim
