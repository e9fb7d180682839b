// The built-in panel's brightness and the screen lock against a
// sysfs-shaped folder and a test-side logind and screen saver on private
// buses.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "device/display/display_configuration.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/display/fake/fake_display_server.h"
#include "support/bus/private_buses.h"
#include "support/bus/test_bus_service.h"

namespace vistrelle::device {
namespace {

namespace fs = std::filesystem;
using bus::BusValue;
using testing::PrivateBuses;
using testing::TestBusService;
using Answer = TestBusService::Answer;

constexpr const char* kSession = "/org/freedesktop/login1/session/auto";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";

// The buses' addresses go into the environment before the runtime's threads start.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    buses = std::make_unique<PrivateBuses>();
    runtime = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                  dispatch::Runtime::Options{4});
  }
  void TearDown() override {
    runtime.reset();
    buses.reset();
  }
  static inline std::unique_ptr<PrivateBuses> buses;
  static inline std::unique_ptr<dispatch::Runtime> runtime;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

class BacklightAndLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BusEnvironment::buses->ok()) << BusEnvironment::buses->error();
    root_ = fs::temp_directory_path() /
            ("vistrelle-backlight-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    state_.reset();
    state_.builtinDisplayID.store(0x42);
  }
  void TearDown() override { fs::remove_all(root_); }

  // One backlight folder as the kernel lays it out.
  void backlight(const std::string& name, const std::string& type, long actual, long max) {
    fs::create_directories(root_ / name);
    std::ofstream(root_ / name / "type") << type << "\n";
    std::ofstream(root_ / name / "actual_brightness") << actual << "\n";
    std::ofstream(root_ / name / "max_brightness") << max << "\n";
    std::ofstream(root_ / name / "brightness") << actual << "\n";
  }
  std::string written(const std::string& name) {
    std::ifstream file(root_ / name / "brightness");
    std::string line;
    std::getline(file, line);
    return line;
  }
  std::unique_ptr<DisplayConfiguration> displays() {
    DisplayConfiguration::Options options;
    options.server = display::FakeDisplayServer::fromJson(R"({"outputs": []})");
    options.state = &state_;
    options.backlightRoot = root_.string();
    options.log = [](std::string_view) {};
    return std::make_unique<DisplayConfiguration>(std::move(options));
  }
  static std::unique_ptr<TestBusService> logind() {
    auto service = std::make_unique<TestBusService>(BusEnvironment::buses->system().address(),
                                                    "org.freedesktop.login1");
    EXPECT_TRUE(service->ok()) << service->error();
    service->onMethod(kSession, kSessionInterface, "SetBrightness",
                      [](const TestBusService::Call&) { return Answer::reply(); });
    return service;
  }

  fs::path root_;
  MainState state_;
};

TEST_F(BacklightAndLockTest, ReadsThePanelsBacklightFirmwareBeforeRaw) {
  backlight("intel_backlight", "raw", 1000, 1000);
  backlight("acpi_video0", "firmware", 60, 120);
  auto configuration = displays();
  EXPECT_FLOAT_EQ(configuration->builtinDisplayBrightness(), 0.5f);
  // No built-in display known: no brightness.
  state_.builtinDisplayID.store(0);
  EXPECT_EQ(configuration->builtinDisplayBrightness(), 0.0f);
}

TEST_F(BacklightAndLockTest, WritesThroughLogindOnceALevel) {
  backlight("acpi_video0", "firmware", 60, 120);
  auto service = logind();
  auto configuration = displays();

  configuration->setBuiltinDisplayBrightness(0.3f);
  configuration->setBuiltinDisplayBrightness(0.3f);    // the same level: dropped
  configuration->setBuiltinDisplayBrightness(0.301f);  // rounds to it too
  ASSERT_TRUE(service->waitForCalls(1));
  auto calls = service->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].path, kSession);
  EXPECT_EQ(calls[0].args, (std::vector<BusValue>{BusValue("backlight"), BusValue("acpi_video0"),
                                                  BusValue(uint32_t{36})}));
  // Logind wrote it, not we.
  EXPECT_EQ(written("acpi_video0"), "60");

  // A read that finds another level forgets the last one written, so the
  // same level goes out again.
  EXPECT_FLOAT_EQ(configuration->builtinDisplayBrightness(), 0.5f);
  configuration->setBuiltinDisplayBrightness(0.3f);
  ASSERT_TRUE(service->waitForCalls(2));
  EXPECT_EQ(service->calls().size(), 2u);
}

TEST_F(BacklightAndLockTest, WithoutLogindTheFileIsWritten) {
  backlight("acpi_video0", "firmware", 60, 120);
  auto configuration = displays();
  configuration->setBuiltinDisplayBrightness(0.3f);
  EXPECT_EQ(written("acpi_video0"), "36");
  configuration->setBuiltinDisplayBrightness(2.0f);  // clamped
  EXPECT_EQ(written("acpi_video0"), "120");
}

TEST_F(BacklightAndLockTest, WithoutABacklightNothingIsReadOrSet) {
  auto service = logind();
  auto configuration = displays();
  EXPECT_EQ(configuration->builtinDisplayBrightness(), 0.0f);
  configuration->setBuiltinDisplayBrightness(0.3f);
  state_.builtinDisplayID.store(0);
  backlight("acpi_video0", "firmware", 60, 120);
  configuration->setBuiltinDisplayBrightness(0.3f);  // no built-in display known
  // A later call that does go out shows the earlier ones did not.
  state_.builtinDisplayID.store(0x42);
  configuration->setBuiltinDisplayBrightness(0.5f);
  ASSERT_TRUE(service->waitForCalls(1));
  ASSERT_EQ(service->calls().size(), 1u);
  EXPECT_EQ(service->calls()[0].args[2], BusValue(uint32_t{60}));
}

TEST_F(BacklightAndLockTest, TheLockComesFromLogindElseTheScreenSaver) {
  auto configuration = displays();
  EXPECT_FALSE(configuration->isScreenLocked());  // nothing answers

  {
    TestBusService saver(BusEnvironment::buses->session().address(), "org.freedesktop.ScreenSaver");
    ASSERT_TRUE(saver.ok()) << saver.error();
    std::atomic<bool> active = true;
    saver.onMethod("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "GetActive",
                   [&active](const TestBusService::Call&) {
                     return Answer::reply({BusValue(active.load())});
                   });
    EXPECT_TRUE(configuration->isScreenLocked());

    // Logind, once there, decides.
    auto service = logind();
    service->setProperty(kSession, kSessionInterface, "LockedHint", BusValue(false));
    EXPECT_FALSE(configuration->isScreenLocked());
    service->setProperty(kSession, kSessionInterface, "LockedHint", BusValue(true));
    active = false;
    EXPECT_TRUE(configuration->isScreenLocked());
  }
  EXPECT_FALSE(configuration->isScreenLocked());
}

}  // namespace
}  // namespace vistrelle::device
