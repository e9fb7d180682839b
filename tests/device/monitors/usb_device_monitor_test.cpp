#include "device/monitors/usb_device_monitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/monitors/notification_recorder.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/usb/fake/fake_usb_backend.h"
#include "platform/usb/usb_error.h"

namespace vistrelle {
namespace {

using testing::eventually;
using testing::NotificationRecorder;
using usb::FakeUsbBackend;
using usb::UsbDeviceInfo;
using Behaviour = FakeUsbBackend::OpenBehaviour;

constexpr USBMonitorData kGlasses{0x3318, 0x0424};
constexpr USBMonitorData kBootloader{0x0416, 0x3F00};

UsbDeviceInfo device(USBMonitorData ids, uint8_t address, std::string name = "Orvex Glasses") {
  UsbDeviceInfo info;
  info.busNumber = 1;
  info.deviceAddress = address;
  info.id = usb::makeUsbDeviceId(1, address);
  info.vendorId = ids.vendorId;
  info.productId = ids.productId;
  info.name = std::move(name);
  info.sysPath = "/sys/devices/usb1/1-" + std::to_string(address);
  return info;
}

// A monitor over the fake backend, with its own queues, centre and log, and
// start() running on a thread of the test's.
class UsbMonitorTest : public ::testing::Test {
 protected:
  void TearDown() override { stopMonitor(); }

  void makeMonitor(std::vector<USBMonitorData> pairs) {
    USBDeviceMonitor::Options options;
    options.backend = backend;
    options.center = &center;
    options.log = [this](std::string_view line) {
      std::lock_guard lock(mutex);
      log.emplace_back(line);
    };
    options.makeQueue = [this](const std::string& label) {
      auto queue = dispatch::SerialQueue::create(label, pool);
      std::lock_guard lock(mutex);
      queues.push_back(queue);
      return dispatch::ExecutorPtr(queue);
    };
    monitor = std::make_unique<USBDeviceMonitor>(std::move(pairs), std::move(options));
  }

  void startMonitor(std::vector<USBMonitorData> pairs) {
    makeMonitor(pairs);
    thread = std::thread([this] { monitor->start(); });
    ASSERT_TRUE(eventually([&] { return backend->watcherCount() == pairs.size(); }));
  }

  void stopMonitor() {
    if (monitor) monitor->stop();
    if (thread.joinable()) thread.join();
  }

  std::vector<std::string> logLines() {
    std::lock_guard lock(mutex);
    return log;
  }

  // The label of the queue the calling thread runs a task of, if any.
  std::string currentQueue() {
    std::lock_guard lock(mutex);
    for (const auto& queue : queues) {
      if (queue->isCurrent()) return queue->label();
    }
    return "";
  }

  std::shared_ptr<dispatch::ThreadPool> pool = std::make_shared<dispatch::ThreadPool>(2);
  std::shared_ptr<FakeUsbBackend> backend = std::make_shared<FakeUsbBackend>();
  NotificationCenter center;
  NotificationRecorder recorder{center, [this] { return currentQueue(); }};
  std::mutex mutex;
  std::vector<std::string> log;
  std::vector<dispatch::SerialQueuePtr> queues;
  std::unique_ptr<USBDeviceMonitor> monitor;
  std::thread thread;
};

TEST_F(UsbMonitorTest, DevicePresentAtStartIsAnnouncedAndItsHandleTravelsToTheClaimer) {
  backend->attach(device(kGlasses, 7, "Orvex Glasses"));
  startMonitor({kGlasses});
  ASSERT_TRUE(recorder.waitFor(1));

  Notification note = recorder.notes()[0];
  EXPECT_EQ(note.name, "USBDeviceConnected");
  const Value& record = note.object["device"];
  EXPECT_EQ(record["id"].asInt(), int64_t(usb::makeUsbDeviceId(1, 7)));
  EXPECT_EQ(record["vendorId"].asInt(), 0x3318);
  EXPECT_EQ(record["productId"].asInt(), 0x0424);
  EXPECT_EQ(record["name"].stringOr(""), "Orvex Glasses");
  EXPECT_EQ(recorder.where()[0], "IODetector");

  std::optional<USBDevice> claimed = monitor->claimDevice(record);
  ASSERT_TRUE(claimed.has_value());
  ASSERT_NE(claimed->deviceHandle, nullptr);
  EXPECT_EQ(claimed->deviceHandle->vendorId(), 0x3318);
  EXPECT_EQ(monitor->unclaimedHandles(), 0u);
  // Claimed once only.
  std::optional<USBDevice> again = monitor->claimDevice(record);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->deviceHandle, nullptr);

  // Neither the removal nor the monitor's end closes a handle it handed out.
  backend->detach(claimed->id, /*withIds=*/false);
  ASSERT_TRUE(recorder.waitFor(2));
  stopMonitor();
  monitor.reset();
  EXPECT_EQ(backend->openHandles(), 1);
  claimed->deviceHandle.reset();
  EXPECT_EQ(backend->openHandles(), 0);
}

TEST_F(UsbMonitorTest, TwoPairsEachHaveTheirOwnQueueAndNotifications) {
  startMonitor({kGlasses, kBootloader});
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(queues.size(), 2u);
    EXPECT_NE(queues[0], queues[1]);
    EXPECT_EQ(queues[0]->label(), "IODetector");
    EXPECT_EQ(queues[1]->label(), "IODetector");
  }
  backend->attach(device(kGlasses, 3));
  ASSERT_TRUE(recorder.waitFor(1));
  backend->attach(device(kBootloader, 4, "ISP"));
  ASSERT_TRUE(recorder.waitFor(2));
  backend->detach(usb::makeUsbDeviceId(1, 3));
  ASSERT_TRUE(recorder.waitFor(3));
  backend->detach(usb::makeUsbDeviceId(1, 4));
  ASSERT_TRUE(recorder.waitFor(4));
  stopMonitor();

  std::vector<Notification> notes = recorder.notes();
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0].object["device"]["productId"].asInt(), 0x0424);
  EXPECT_EQ(notes[1].object["device"]["productId"].asInt(), 0x3F00);
  EXPECT_EQ(notes[1].object["device"]["name"].stringOr(""), "ISP");
  EXPECT_EQ(notes[2].name, "USBDeviceDisconnected");
  EXPECT_EQ(notes[2].object["id"].asInt(), int64_t(usb::makeUsbDeviceId(1, 3)));
  EXPECT_EQ(notes[3].name, "USBDeviceDisconnected");
  EXPECT_EQ(notes[3].object["id"].asInt(), int64_t(usb::makeUsbDeviceId(1, 4)));
  for (const std::string& where : recorder.where()) EXPECT_EQ(where, "IODetector");
}

TEST_F(UsbMonitorTest, OnlyMatchingRemovalsPost) {
  startMonitor({kGlasses});
  const USBMonitorData other{0x1234, 0x5678};
  backend->attach(device(other, 2));                      // not watched
  backend->attach(device(kGlasses, 3));                   // announced
  backend->attach(device(kGlasses, 5), Behaviour::Fail);  // matching, never announced
  ASSERT_TRUE(recorder.waitFor(1));

  // Lost attributes: known only as the arrival this pair announced.
  backend->detach(usb::makeUsbDeviceId(1, 3), /*withIds=*/false);
  backend->detach(usb::makeUsbDeviceId(1, 2), /*withIds=*/true);   // other ids: silent
  backend->detach(usb::makeUsbDeviceId(1, 2), /*withIds=*/false);  // already gone: silent
  // The event's own ids match even though the arrival was skipped.
  backend->detach(usb::makeUsbDeviceId(1, 5), /*withIds=*/true);
  // One queue handles them in order: the last one's notice means all ran.
  ASSERT_TRUE(recorder.waitFor(3));
  stopMonitor();

  std::vector<Notification> notes = recorder.notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[1].name, "USBDeviceDisconnected");
  EXPECT_EQ(notes[1].object["id"].asInt(), int64_t(usb::makeUsbDeviceId(1, 3)));
  EXPECT_EQ(notes[2].name, "USBDeviceDisconnected");
  EXPECT_EQ(notes[2].object["id"].asInt(), int64_t(usb::makeUsbDeviceId(1, 5)));
}

TEST_F(UsbMonitorTest, OpenOutcomes) {
  struct Case {
    Behaviour behaviour;
    bool announced;
    bool withHandle;
    const char* logged;  // a part of the log line, or nullptr for none
  };
  const Case cases[] = {
      {Behaviour::Open, true, true, nullptr},
      // Another client holds it open: still announced, nothing to hand over.
      {Behaviour::ExclusiveAccess, true, false, nullptr},
      {Behaviour::Fail, false, false, "cannot open it: LIBUSB_ERROR_ACCESS"},
      {Behaviour::IdsUnreadable, false, false, "cannot read its vendor and product ids"},
  };
  uint8_t address = 10;
  for (const Case& c : cases) {
    backend->attach(device(kGlasses, address++), c.behaviour);
  }
  // A sentinel after them: its notice means every case above was handled.
  backend->attach(device(kGlasses, 99, "sentinel"));
  startMonitor({kGlasses});
  size_t expected = 1;
  for (const Case& c : cases) expected += c.announced ? 1 : 0;
  ASSERT_TRUE(recorder.waitFor(expected));
  stopMonitor();

  std::vector<Notification> notes = recorder.notes();
  ASSERT_EQ(notes.size(), expected);
  std::vector<std::string> lines = logLines();
  address = 10;
  size_t next = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.behaviour));
    uint64_t id = usb::makeUsbDeviceId(1, address++);
    if (c.announced) {
      const Value& record = notes[next++].object["device"];
      EXPECT_EQ(record["id"].asInt(), int64_t(id));
      EXPECT_EQ(USBDevice::handleTokenOf(record).has_value(), c.withHandle);
    }
    if (c.logged != nullptr) {
      bool found = false;
      for (const std::string& line : lines) {
        found |= line.find(c.logged) != std::string::npos &&
                 line.find("1-" + std::to_string(address - 1)) != std::string::npos;
      }
      EXPECT_TRUE(found) << c.logged;
    }
  }
  EXPECT_EQ(lines.size(), 2u);
  // The failed id read closed its handle; the two announced handles wait.
  EXPECT_EQ(backend->openHandles(), 2);
  EXPECT_EQ(monitor->unclaimedHandles(), 2u);
}

TEST_F(UsbMonitorTest, UnclaimedHandlesCloseWhenTheDeviceGoesOrTheMonitorEnds) {
  startMonitor({kGlasses});
  backend->attach(device(kGlasses, 3));
  backend->attach(device(kGlasses, 4));
  ASSERT_TRUE(recorder.waitFor(2));
  EXPECT_EQ(backend->openHandles(), 2);
  backend->detach(usb::makeUsbDeviceId(1, 3));
  ASSERT_TRUE(recorder.waitFor(3));
  EXPECT_EQ(backend->openHandles(), 1);
  // The record of a device that went away can no longer be claimed with a handle.
  std::optional<USBDevice> late = monitor->claimDevice(recorder.notes()[0].object["device"]);
  ASSERT_TRUE(late.has_value());
  EXPECT_EQ(late->deviceHandle, nullptr);
  stopMonitor();
  monitor.reset();
  EXPECT_EQ(backend->openHandles(), 0);
}

TEST_F(UsbMonitorTest, AnArrivalSeenTwiceIsAnnouncedAndOpenedOnce) {
  // Subscribing before enumerating can see one arrival from both sides.
  startMonitor({kGlasses});
  backend->attach(device(kGlasses, 3));
  backend->attach(device(kGlasses, 3));
  backend->attach(device(kGlasses, 4));
  ASSERT_TRUE(recorder.waitFor(2));
  stopMonitor();
  EXPECT_EQ(recorder.notes().size(), 2u);
  EXPECT_EQ(backend->openCalls(), 2);
}

TEST_F(UsbMonitorTest, StopEndsStartFromAnotherThread) {
  // A stop that comes first makes start() return at once, announcing nothing.
  backend->attach(device(kGlasses, 3));
  makeMonitor({kGlasses});
  monitor->stop();
  monitor->start();
  EXPECT_EQ(backend->watcherCount(), 0u);
  EXPECT_EQ(backend->openCalls(), 0);
  EXPECT_TRUE(recorder.notes().empty());

  // Once ended it can run again, and stop() ends a run blocked in poll().
  thread = std::thread([this] { monitor->start(); });
  ASSERT_TRUE(eventually([&] { return backend->watcherCount() == 1; }));
  EXPECT_THROW(monitor->start(), std::logic_error);
  ASSERT_TRUE(recorder.waitFor(1));
  monitor->stop();
  thread.join();
  EXPECT_EQ(backend->watcherCount(), 0u);
}

TEST_F(UsbMonitorTest, DestroyingTheMonitorEndsItsStartFirst) {
  startMonitor({kGlasses});
  backend->attach(device(kGlasses, 3));
  ASSERT_TRUE(recorder.waitFor(1));
  monitor.reset();  // returns only once start() has
  EXPECT_EQ(backend->watcherCount(), 0u);
  thread.join();
}

TEST_F(UsbMonitorTest, AFailedSubscriptionEndsStartWithItsReason) {
  makeMonitor({kGlasses, kBootloader});
  backend->failWatchers("netlink refused");
  try {
    monitor->start();
    FAIL() << "start() returned";
  } catch (const usb::UsbError& error) {
    EXPECT_STREQ(error.what(), "netlink refused");
  }
  backend->failWatchers("");
  backend->attach(device(kBootloader, 8));
  thread = std::thread([this] { monitor->start(); });
  ASSERT_TRUE(recorder.waitFor(1));
  EXPECT_EQ(recorder.notes()[0].object["device"]["productId"].asInt(), 0x3F00);
}

}  // namespace
}  // namespace vistrelle
