#include "sim/hid/sim_hid_bus.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "device/protocol/glass_command_report.h"
#include "device/protocol/glass_commands.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "sim/hid/sim_glasses_hid_device.h"

namespace vistrelle::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Unnumbered: 4 input bytes, 4 output bytes.
const Bytes kDescriptor{0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x95, 0x04, 0x91, 0x02};

// Waits (bounded) for one report on `connection`.
hid::HidConnection::ReadResult readOne(hid::HidConnection& connection, Bytes& buffer) {
  pollfd fd{connection.fd(), POLLIN, 0};
  if (::poll(&fd, 1, 5000) <= 0) return {};
  return connection.read(buffer);
}

class Outputs {
 public:
  SimHidBus::OutputHandler handler() {
    return [this](std::span<const uint8_t> frame) {
      std::lock_guard lock(mutex_);
      frames_.emplace_back(frame.begin(), frame.end());
      changed_.notify_all();
    };
  }
  std::vector<Bytes> waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return frames_.size() >= count; });
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> frames_;
};

SimHidIdentity identity(uint16_t productId = 0x8003) {
  return {0x0483, productId, "Test device", "0213", "", kDescriptor};
}

TEST(SimHidBus, EveryReaderGetsEveryReportAndWritesReachTheDevice) {
  auto bus = SimHidBus::create();
  Outputs outputs;
  const std::string path = bus->plug(identity(), outputs.handler());
  hid::HidDeviceInfo info;
  info.path = path;
  auto first = bus->open(info);
  auto second = bus->openByIds(0x0483, 0x8003);
  ASSERT_TRUE(first.connection && second.connection);
  EXPECT_EQ(bus->readerCount(path), 2u);
  EXPECT_FALSE(first.connection->layout().usesReportIds);

  ASSERT_TRUE(bus->sendInput(path, Bytes{1, 2, 3, 4}));
  Bytes buffer(65);
  for (auto* connection : {first.connection.get(), second.connection.get()}) {
    const auto result = readOne(*connection, buffer);
    ASSERT_EQ(result.status, hid::HidConnection::ReadStatus::Report);
    EXPECT_EQ(Bytes(result.report.bytes.begin(), result.report.bytes.end()), (Bytes{1, 2, 3, 4}));
  }
  EXPECT_EQ(second.connection->write(2, Bytes{9, 8, 7, 6, 5}), 0);
  EXPECT_EQ(outputs.waitFor(1), (std::vector<Bytes>{{0, 9, 8, 7, 6}}));

  // A reader that lets go is forgotten.
  first.connection.reset();
  for (int i = 0; i < 500 && bus->readerCount(path) != 1; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(bus->readerCount(path), 1u);
  EXPECT_EQ(bus->openByIds(0x0483, 0x9999).error, ENOENT);
}

TEST(SimHidBus, UnplugHangsUpEveryReaderThenAnnouncesTheRemoval) {
  auto bus = SimHidBus::create();
  auto watcher = bus->createWatcher();
  Outputs outputs;
  const std::string path = bus->plug(identity(), outputs.handler());
  ASSERT_EQ(watcher->enumerate().size(), 1u);
  auto opened = bus->openByIds(0x0483, 0x8003);
  ASSERT_TRUE(opened.connection);

  bus->unplug(path);
  Bytes buffer(65);
  EXPECT_EQ(readOne(*opened.connection, buffer).status, hid::HidConnection::ReadStatus::Gone);
  const auto events = watcher->readEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].action, hid::HidAction::Added);
  EXPECT_EQ(events[0].device.vendorId, 0x0483);
  EXPECT_EQ(events[0].device.name, "Test device");
  EXPECT_EQ(events[0].device.version, "0213");
  EXPECT_EQ(events[1].action, hid::HidAction::Removed);
  EXPECT_EQ(events[1].device.path, path);
  EXPECT_TRUE(watcher->enumerate().empty());
  EXPECT_FALSE(bus->sendInput(path, Bytes{1}));
  EXPECT_EQ(opened.connection->write(2, Bytes{1}), -EPIPE);
  // Paths are never reused.
  EXPECT_NE(bus->plug(identity(), outputs.handler()), path);
}

TEST(SimHidBus, FailedWritesLeaveInputFlowing) {
  auto bus = SimHidBus::create();
  Outputs outputs;
  const std::string path = bus->plug(identity(), outputs.handler());
  auto before = bus->openByIds(0x0483, 0x8003);
  bus->failWrites(path);
  auto after = bus->openByIds(0x0483, 0x8003);
  EXPECT_EQ(before.connection->write(2, Bytes{1}), -EPIPE);
  EXPECT_EQ(after.connection->write(2, Bytes{1}), -EPIPE);
  ASSERT_TRUE(bus->sendInput(path, Bytes{5, 6, 7, 8}));
  Bytes buffer(65);
  EXPECT_EQ(readOne(*before.connection, buffer).status, hid::HidConnection::ReadStatus::Report);
  EXPECT_EQ(readOne(*after.connection, buffer).status, hid::HidConnection::ReadStatus::Report);
  // Still plugged: the readers are kept.
  EXPECT_EQ(bus->readerCount(path), 2u);
}

TEST(SimGlassesHidDevice, RepliesAreFramedAsTheDescriptorSays) {
  auto pool = std::make_shared<dispatch::ThreadPool>(1);
  auto queue = dispatch::SerialQueue::create("glasses", pool);
  for (const bool reportIds : {true, false}) {
    SCOPED_TRACE(reportIds ? "report IDs" : "unnumbered");
    auto bus = SimHidBus::create();
    SimGlassesHidDevice glasses(bus, SimGlassesModel::secondGeneration(), queue,
                                {reportIds, "0100", ""});
    glasses.plug();
    auto opened = bus->openByIds(0x0483, 0x8003);
    ASSERT_TRUE(opened.connection);
    EXPECT_EQ(opened.connection->layout().usesReportIds, reportIds);
    device::GlassCommandReport request;
    device::glass_cmd_get_firmware_version(request);
    ASSERT_EQ(opened.connection->write(2, request.bytes()), 0);
    ASSERT_TRUE(glasses.waitForWrites(1));
    Bytes buffer(65);
    const auto reply = readOne(*opened.connection, buffer);
    ASSERT_EQ(reply.status, hid::HidConnection::ReadStatus::Report);
    EXPECT_EQ(reply.report.reportId, reportIds ? 1 : 0);
    ASSERT_EQ(reply.report.bytes.size(), 64u);
    const auto decoded = device::GlassCommandReport::fromBytes(reply.report.bytes);
    EXPECT_EQ(decoded.group(), 8);
    EXPECT_EQ(decoded.command(), 1);
    ASSERT_EQ(glasses.glasses().commandLog().size(), 1u);
    EXPECT_TRUE(glasses.glasses().commandLog()[0].applied);
    glasses.unplug();
    EXPECT_EQ(readOne(*opened.connection, buffer).status, hid::HidConnection::ReadStatus::Gone);
  }
  pool->stop();
}

}  // namespace
}  // namespace vistrelle::sim
