// The screen-lock, sleep and wake observers and the dormant power observer
// on private buses: a test-side logind on the system bus, a screen saver on
// the session bus, and DPMS played by a fake (neither test X server has it).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/orvex_system_sleep_or_power_on.h"
#include "app/orvex_system_sleep_or_power_on_manager.h"
#include "platform/bus/fake/fake_bus_connector.h"
#include "platform/bus/linux/sd_bus_connector.h"
#include "platform/dispatch/runtime.h"
#include "platform/screenpower/fake/fake_screen_power_source.h"
#include "support/bus/private_buses.h"
#include "support/bus/test_bus_service.h"
#include "support/signalling_main_queue.h"

namespace vistrelle {
namespace {

using bus::BusValue;
using testing::PrivateBuses;
using testing::SignallingMainQueue;
using testing::TestBusService;
using Answer = TestBusService::Answer;
using std::chrono::milliseconds;

constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_31";

// The buses' addresses go into the environment before any thread starts.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    buses = std::make_unique<PrivateBuses>();
    main = std::make_shared<SignallingMainQueue>();
    runtime = std::make_unique<dispatch::Runtime>(main, dispatch::Runtime::Options{4});
  }
  void TearDown() override {
    runtime.reset();
    main.reset();
    buses.reset();
  }
  static inline std::unique_ptr<PrivateBuses> buses;
  static inline std::shared_ptr<SignallingMainQueue> main;
  static inline std::unique_ptr<dispatch::Runtime> runtime;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

struct RecordingWindow : SleepWakeWindowSeam {
  bool window = true;
  int captureStops = 0;
  std::vector<bool> wakes;
  bool hasWindow() override { return window; }
  void stopCapture() override { ++captureStops; }
  void handleWake(bool isSleep) override { wakes.push_back(isSleep); }
};

class SleepObserversTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BusEnvironment::buses->ok()) << BusEnvironment::buses->error();
    main_ = BusEnvironment::main;
    logind_ = std::make_unique<TestBusService>(BusEnvironment::buses->system().address(),
                                               "org.freedesktop.login1");
    ASSERT_TRUE(logind_->ok()) << logind_->error();
    logind_->onMethod(kLogindPath, kManager, "GetSession", [](const TestBusService::Call& call) {
      if (call.args != std::vector<BusValue>{BusValue("auto")}) {
        return Answer::error("org.freedesktop.login1.NoSuchSession", "not ours");
      }
      return Answer::reply({BusValue::objectPath(kSessionPath)});
    });
    screenSaver_ = std::make_unique<TestBusService>(BusEnvironment::buses->session().address(),
                                                    "org.freedesktop.ScreenSaver");
    ASSERT_TRUE(screenSaver_->ok()) << screenSaver_->error();
  }
  void TearDown() override {
    observer_.reset();
    main_->runUntilIdle();
  }

  void start(std::shared_ptr<bus::BusConnector> buses = std::make_shared<bus::SdBusConnector>()) {
    observer_ = OrvexSystemSleepOrPowerOn::create(
        {.buses = std::move(buses),
         .mainQueue = main_,
         .screenPower = screens_,
         .pollQueue = main_,
         .print = [this](std::string_view line) { printed_.emplace_back(line); },
         .log = [](std::string_view) {}});
    observer_->setWindowSeam(window_);
    // The session's object is asked for at once.
    ASSERT_TRUE(logind_->waitForCalls(1));
  }

  // Sends `signal` again until `seen` holds: a subscription's match reaches
  // the daemon a little after it is asked for.  Bounded.
  bool until(const std::function<bool()>& seen, const std::function<void()>& signal) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      signal();
      if (main_->runUntil(seen, milliseconds(50))) return true;
    }
    return false;
  }
  void lockedHint(bool locked) {
    logind_->emitSignal(
        kSessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        {BusValue("org.freedesktop.login1.Session"),
         BusValue::dict("s", "v", {{BusValue("LockedHint"), BusValue::variant(BusValue(locked))}}),
         BusValue::array("s", {})});
  }
  void screenSaverActive(bool active) {
    screenSaver_->emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                             "ActiveChanged", {BusValue(active)});
  }
  void prepareForSleep(bool sleeping) {
    logind_->emitSignal(kLogindPath, kManager, "PrepareForSleep", {BusValue(sleeping)});
  }
  // One DPMS poll after the screens changed.
  void screensOn(bool on) {
    screens_->set(on);
    main_->advanceBy(milliseconds(1500));
  }

  std::shared_ptr<SignallingMainQueue> main_;
  std::unique_ptr<TestBusService> logind_;
  std::unique_ptr<TestBusService> screenSaver_;
  std::shared_ptr<screenpower::FakeScreenPowerSource> screens_ =
      std::make_shared<screenpower::FakeScreenPowerSource>(true);
  std::shared_ptr<RecordingWindow> window_ = std::make_shared<RecordingWindow>();
  std::vector<std::string> printed_;
  std::shared_ptr<OrvexSystemSleepOrPowerOn> observer_;
};

TEST_F(SleepObserversTest, LockAndUnlockToggleTheFlagAndLeaveTheCaptureAlone) {
  start();
  ASSERT_TRUE(until([&] { return observer_->isSleep(); }, [&] { lockedHint(true); }));
  ASSERT_TRUE(until([&] { return !observer_->isSleep(); }, [&] { lockedHint(false); }));
  ASSERT_TRUE(until([&] { return observer_->isSleep(); }, [&] { screenSaverActive(true); }));
  ASSERT_TRUE(until([&] { return !observer_->isSleep(); }, [&] { screenSaverActive(false); }));
  EXPECT_FALSE(observer_->isDeepSleep());
  EXPECT_EQ(window_->captureStops, 0);
  EXPECT_TRUE(window_->wakes.empty());
}

TEST_F(SleepObserversTest, ScreensGoingDarkStopTheCaptureAndWakingHandsOver) {
  start();
  main_->runUntilIdle();  // the first poll: the screens are on
  screensOn(false);
  EXPECT_TRUE(observer_->isSleep());
  EXPECT_EQ(window_->captureStops, 1);
  screensOn(false);  // still dark: nothing new
  EXPECT_EQ(window_->captureStops, 1);
  screensOn(true);
  EXPECT_FALSE(observer_->isSleep());
  EXPECT_EQ(window_->wakes, std::vector<bool>{false});

  // Without the window the capture is not touched.
  window_->window = false;
  screensOn(false);
  EXPECT_EQ(window_->captureStops, 1);
  EXPECT_TRUE(observer_->isSleep());
  screensOn(true);
  EXPECT_EQ(window_->wakes, (std::vector<bool>{false, false}));
}

TEST_F(SleepObserversTest, SystemSleepSetsBothFlagsAndTheWakeClearsThem) {
  start();
  ASSERT_TRUE(until([&] { return observer_->isDeepSleep(); }, [&] { prepareForSleep(true); }));
  EXPECT_TRUE(observer_->isSleep());
  EXPECT_EQ(window_->captureStops, 0);
  ASSERT_TRUE(until([&] { return !observer_->isDeepSleep(); }, [&] { prepareForSleep(false); }));
  EXPECT_FALSE(observer_->isSleep());
  ASSERT_FALSE(window_->wakes.empty());
  EXPECT_EQ(window_->wakes.front(), false);
}

TEST_F(SleepObserversTest, WithoutTheWindowSeamOnlyTheFlagsChange) {
  start();
  observer_->setWindowSeam(nullptr);
  main_->runUntilIdle();
  screensOn(false);
  EXPECT_TRUE(observer_->isSleep());
  ASSERT_TRUE(until([&] { return observer_->isDeepSleep(); }, [&] { prepareForSleep(true); }));
  ASSERT_TRUE(until([&] { return !observer_->isSleep(); }, [&] { prepareForSleep(false); }));
  EXPECT_EQ(window_->captureStops, 0);
  EXPECT_TRUE(window_->wakes.empty());
}

TEST_F(SleepObserversTest, WithoutBusesOrDpmsWhatIsLeftStillWorks) {
  // No buses at all: the screens still count.
  auto nowhere = std::make_shared<bus::FakeBusConnector>();
  nowhere->setNoBus(bus::BusKind::System, "no system bus");
  nowhere->setNoBus(bus::BusKind::Session, "no session bus");
  observer_ = OrvexSystemSleepOrPowerOn::create({.buses = nowhere,
                                                 .mainQueue = main_,
                                                 .screenPower = screens_,
                                                 .pollQueue = main_,
                                                 .print = [](std::string_view) {},
                                                 .log = [](std::string_view) {}});
  main_->runUntilIdle();
  screensOn(false);
  EXPECT_TRUE(observer_->isSleep());

  // A server without DPMS: no screen events at all.
  screens_->set(std::nullopt);
  auto observer = OrvexSystemSleepOrPowerOn::create({.buses = nowhere,
                                                     .mainQueue = main_,
                                                     .screenPower = screens_,
                                                     .pollQueue = main_,
                                                     .print = [](std::string_view) {},
                                                     .log = [](std::string_view) {}});
  const int before = screens_->queries();
  main_->advanceBy(milliseconds(4500));
  EXPECT_GE(screens_->queries(), before + 3);
  EXPECT_FALSE(observer->isSleep());
}

TEST_F(SleepObserversTest, TheNamedCallsSetTheFlagAndSayTheWake) {
  start();
  observer_->sleepNotification();
  EXPECT_TRUE(observer_->isSleep());
  observer_->wakeNotification();
  EXPECT_FALSE(observer_->isSleep());
  observer_->systemDidWake();
  EXPECT_EQ(printed_, std::vector<std::string>{"系统已唤醒"});
  EXPECT_EQ(observer_->assertionID(), 0u);
  EXPECT_FALSE(observer_->isPreventingSleep());
}

// Whether the write end of `pipe` is still open somewhere: its read end
// reports a hang-up once the last copy has closed.
bool writerClosed(int readEnd, milliseconds limit) {
  pollfd fd{readEnd, POLLIN, 0};
  return ::poll(&fd, 1, static_cast<int>(limit.count())) == 1 && (fd.revents & POLLHUP) != 0;
}

TEST_F(SleepObserversTest, TheDormantObserverHoldsTheSleepLockUntilSleepIsAnnounced) {
  int inhibits = 0;
  int readEnd = -1;
  logind_->onMethod(kLogindPath, kManager, "Inhibit", [&](const TestBusService::Call& call) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return Answer::error("org.test.Error", "no pipe");
    ++inhibits;
    if (readEnd >= 0) ::close(readEnd);
    readEnd = ends[0];
    EXPECT_EQ(call.args, (std::vector<BusValue>{BusValue("sleep"), BusValue("Vistrelle"),
                                                BusValue("Vistrelle follows system sleep"),
                                                BusValue("delay")}));
    return Answer::reply({BusValue::unixFd(dispatch::UniqueFd(ends[1]))});
  });
  std::vector<std::string> printed;
  auto manager = OrvexSystemSleepOrPowerOnManager::create(
      {.buses = std::make_shared<bus::SdBusConnector>(),
       .queue = main_,
       .print = [&](std::string_view line) { printed.emplace_back(line); }});
  ASSERT_TRUE(manager->createSystemSleepOrPowerOn());
  EXPECT_EQ(printed, std::vector<std::string>{"IORegisterForSystemPower success"});
  ASSERT_TRUE(main_->runUntil([&] { return manager->holdsInhibitor(); }));
  ASSERT_GE(readEnd, 0);
  EXPECT_FALSE(writerClosed(readEnd, milliseconds(0)));

  printed.clear();
  ASSERT_TRUE(until([&] { return !printed.empty(); }, [&] { prepareForSleep(true); }));
  EXPECT_EQ(printed,
            (std::vector<std::string>{"messageType e0000280, arg 00000000", "即将进入休眠"}));
  EXPECT_FALSE(manager->holdsInhibitor());
  EXPECT_TRUE(writerClosed(readEnd, milliseconds(5000)));

  printed.clear();
  prepareForSleep(false);
  ASSERT_TRUE(main_->runUntil([&] { return manager->holdsInhibitor(); }));
  EXPECT_EQ(printed, (std::vector<std::string>{"messageType e0000320, arg 00000000", "即将唤醒.",
                                               "messageType e0000300, arg 00000000", "唤醒成功."}));
  EXPECT_EQ(inhibits, 2);

  manager->remove();
  EXPECT_FALSE(manager->holdsInhibitor());
  EXPECT_TRUE(writerClosed(readEnd, milliseconds(5000)));
  ::close(readEnd);

  // No system bus: it says so.
  auto nowhere = std::make_shared<bus::FakeBusConnector>();
  nowhere->setNoBus(bus::BusKind::System, "no system bus");
  printed.clear();
  auto lonely = OrvexSystemSleepOrPowerOnManager::create(
      {.buses = nowhere, .queue = main_, .print = [&](std::string_view line) {
         printed.emplace_back(line);
       }});
  EXPECT_FALSE(lonely->createSystemSleepOrPowerOn());
  EXPECT_EQ(printed, std::vector<std::string>{"IORegisterForSystemPower failed"});
}

}  // namespace
}  // namespace vistrelle
