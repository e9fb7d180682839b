#include "device/monitors/serial_device_monitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/monitors/notification_recorder.h"
#include "platform/serial/fake/fake_serial_port_enumerator.h"
#include "platform/serial/linux/udev_serial_port_enumerator.h"

namespace vistrelle {
namespace {

using serial::FakeSerialPortEnumerator;
using serial::SerialPortInfo;
using testing::eventually;
using testing::NotificationRecorder;

SerialPortInfo port(std::string path, std::optional<std::string> name = std::nullopt) {
  SerialPortInfo info;
  info.path = std::move(path);
  info.name = std::move(name);
  return info;
}

class SerialMonitorTest : public ::testing::Test {
 protected:
  SerialMonitorTest() {
    SerialDeviceMonitor::Options options;
    options.enumerator = ports;
    options.center = &center;
    options.log = [this](std::string_view line) {
      std::lock_guard lock(mutex);
      log.emplace_back(line);
    };
    monitor = std::make_unique<SerialDeviceMonitor>(std::move(options));
  }

  // "+path" for an addition, "-path" for a removal, in posting order.
  std::vector<std::string> events() const {
    std::vector<std::string> out;
    for (const Notification& n : recorder.notes()) {
      std::string sign = n.name == "SerialDeviceAdded" ? "+" : "-";
      if (n.name != "SerialDeviceAdded" && n.name != "SerialDeviceRemoved") sign = "?";
      out.push_back(sign + n.object["device"]["path"].stringOr("<none>"));
    }
    return out;
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const SerialDevice& device : monitor->serialDevices()) out.push_back(device.path);
    return out;
  }

  std::shared_ptr<FakeSerialPortEnumerator> ports = std::make_shared<FakeSerialPortEnumerator>();
  NotificationCenter center;
  NotificationRecorder recorder{center};
  std::mutex mutex;
  std::vector<std::string> log;
  std::unique_ptr<SerialDeviceMonitor> monitor;
};

using Events = std::vector<std::string>;

TEST_F(SerialMonitorTest, StartsEmptyWithTheQuarterSecondInterval) {
  EXPECT_TRUE(monitor->serialDevices().empty());
  EXPECT_FLOAT_EQ(monitor->portUsageIntervalTime(), 0.25f);
  EXPECT_FALSE(monitor->filterDevices());
}

TEST_F(SerialMonitorTest, FirstPollAnnouncesEveryPortAsAdded) {
  ports->setPorts({port("/dev/ttyUSB0", "FT232R"), port("/dev/ttyACM0"), port("/dev/ttyS0")});
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0", "+/dev/ttyACM0", "+/dev/ttyS0"}));
  EXPECT_EQ(recorder.notes()[0].object["device"]["name"].stringOr(""), "FT232R");
  EXPECT_EQ(paths(), (Events{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}));
  // Nothing changed: nothing more is said.
  monitor->poll();
  EXPECT_EQ(recorder.notes().size(), 3u);
}

TEST_F(SerialMonitorTest, RemovalsArePostedBeforeAdditions) {
  ports->setPorts({port("/dev/ttyUSB0"), port("/dev/ttyUSB1"), port("/dev/ttyUSB2")});
  monitor->poll();
  ports->setPorts({port("/dev/ttyACM0"), port("/dev/ttyUSB1"), port("/dev/ttyACM1")});
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0", "+/dev/ttyUSB1", "+/dev/ttyUSB2",  //
                              "-/dev/ttyUSB0", "-/dev/ttyUSB2",                   //
                              "+/dev/ttyACM0", "+/dev/ttyACM1"}));
  EXPECT_EQ(paths(), (Events{"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyACM1"}));
}

TEST_F(SerialMonitorTest, AChangeOnTheSamePathIsSilentButTheListTakesIt) {
  ports->setPorts({port("/dev/ttyUSB0", "old name")});
  monitor->poll();
  SerialPortInfo changed = port("/dev/ttyUSB0", "new name");
  changed.vendorId = 0x0403;
  ports->setPorts({changed});
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0"}));
  ASSERT_EQ(monitor->serialDevices().size(), 1u);
  EXPECT_EQ(monitor->serialDevices()[0].name, "new name");
  EXPECT_EQ(monitor->serialDevices()[0].vendorId, 0x0403);
}

TEST_F(SerialMonitorTest, TheFilterDecidesWhatIsCompared) {
  ports->setPorts({port("/dev/ttyUSB0"), port("/dev/ttyS0")});
  monitor->setFilterDevices([](const std::vector<SerialDevice>& found) {
    std::vector<SerialDevice> kept;
    for (const SerialDevice& d : found) {
      if (d.path.find("USB") != std::string::npos) kept.push_back(d);
    }
    return kept;
  });
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0"}));

  // A filter that keeps nothing makes every known port go at the next poll.
  monitor->setFilterDevices(
      [](const std::vector<SerialDevice>&) { return std::vector<SerialDevice>{}; });
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0", "-/dev/ttyUSB0"}));
  EXPECT_TRUE(monitor->serialDevices().empty());

  monitor->setFilterDevices({});
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0", "-/dev/ttyUSB0", "+/dev/ttyUSB0", "+/dev/ttyS0"}));
}

TEST_F(SerialMonitorTest, APathListedTwiceIsOnePort) {
  ports->setPorts({port("/dev/ttyUSB0", "a"), port("/dev/ttyUSB0", "b")});
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0"}));
}

TEST_F(SerialMonitorTest, AFailedListingIsLoggedAndChangesNothing) {
  ports->setPorts({port("/dev/ttyUSB0")});
  monitor->poll();
  ports->fail("udev context refused");
  monitor->poll();
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0"}));
  EXPECT_EQ(paths(), (Events{"/dev/ttyUSB0"}));
  std::lock_guard lock(mutex);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("udev context refused"), std::string::npos);
}

TEST_F(SerialMonitorTest, StartPollsOnItsThreadUntilStopped) {
  monitor->setPortUsageIntervalTime(0.001f);
  ports->setPorts({port("/dev/ttyUSB0")});
  std::thread::id pollThread;
  Subscription onAdd = center.observe("SerialDeviceAdded", nullptr, [&](const Notification&) {
    pollThread = std::this_thread::get_id();
  });
  std::thread::id startThread;
  std::thread thread([&] {
    startThread = std::this_thread::get_id();
    monitor->start();
  });
  ASSERT_TRUE(recorder.waitFor(1));
  ports->setPorts({port("/dev/ttyUSB1")});
  ASSERT_TRUE(recorder.waitFor(3));
  monitor->stop();
  thread.join();
  // Observers run on the thread that called start().
  EXPECT_EQ(pollThread, startThread);
  EXPECT_EQ(events(), (Events{"+/dev/ttyUSB0", "-/dev/ttyUSB0", "+/dev/ttyUSB1"}));
}

TEST_F(SerialMonitorTest, StopBeforeStartEndsAfterOnePollAndDestructionWaitsForStart) {
  monitor->stop();
  monitor->start();
  EXPECT_EQ(ports->calls(), 1);

  // A long interval: only stop() can end the wait, and the destructor does.
  monitor->setPortUsageIntervalTime(3600.0f);
  std::thread thread([this] { monitor->start(); });
  ASSERT_TRUE(eventually([&] { return ports->calls() == 2; }));
  EXPECT_THROW(monitor->start(), std::logic_error);
  monitor.reset();
  thread.join();
  EXPECT_EQ(ports->calls(), 2);
}

TEST_F(SerialMonitorTest, IntervalsBeyondADayWaitADay) {
  using std::chrono::seconds;
  struct Row {
    float setting;
    dispatch::Nanos wait;
  };
  const Row rows[] = {
      {0.5f, std::chrono::milliseconds(500)},
      {-1.0f, std::chrono::milliseconds(250)},
      {NAN, std::chrono::milliseconds(250)},
      {INFINITY, std::chrono::milliseconds(250)},
      {86400.0f, seconds(86400)},
      {1e12f, seconds(86400)},
      {3e38f, seconds(86400)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SerialDeviceMonitor::waitBetweenPolls(row.setting), row.wait) << row.setting;
  }

  // Running: one poll, then a wait that only stop() ends.
  monitor->setPortUsageIntervalTime(3e38f);
  std::thread thread([this] { monitor->start(); });
  ASSERT_TRUE(eventually([&] { return ports->calls() >= 1; }));
  monitor->stop();
  thread.join();
  EXPECT_EQ(ports->calls(), 1);
}

// The real ports of this machine: there may be none; listing must not fail,
// and nothing virtual may show up.
TEST(SerialPortEnumeration, ListsOnlyRealPortsOfThisMachine) {
  serial::UdevSerialPortEnumerator enumerator;
  std::vector<SerialPortInfo> found = enumerator.enumerate();
  for (const SerialPortInfo& info : found) {
    SCOPED_TRACE(info.path);
    EXPECT_EQ(info.path.rfind("/dev/", 0), 0u);
    for (const char* virtualNode :
         {"/dev/console", "/dev/ptmx", "/dev/tty", "/dev/tty0", "/dev/tty1"}) {
      EXPECT_NE(info.path, virtualNode);
    }
    EXPECT_EQ(info.path.find("/dev/pts/"), std::string::npos);
  }
}

TEST(SerialPortEnumeration, ReadsHexadecimalIds) {
  struct Case {
    const char* text;
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {"0403", 0x0403},
      {"6001\n", 0x6001},
      {"ffff", 0xFFFF},
      {"3F00", 0x3F00},
      {"1", 1},
      {"", std::nullopt},
      {"10000", std::nullopt},
      {"04g3", std::nullopt},
      {"-1", std::nullopt},
      {"0x04", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(serial::UdevSerialPortEnumerator::parseHexId(c.text), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace vistrelle
