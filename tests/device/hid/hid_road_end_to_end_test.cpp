// Simulated glasses on the simulated bus chosen as the process' HID
// back-end, as `--hid-backend=sim` chooses it, with real threads and the
// glasses streaming in real time.
#include <gtest/gtest.h>

#include <atomic>

#include "device/hid/hid_road_fixture.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle::device {
namespace {

TEST(HidRoadEndToEnd, GlassesBecomeCurrentAnswerStreamAndGo) {
  auto bus = sim::SimHidBus::create();
  hid::HidBackend::install(bus);
  auto pool = std::make_shared<dispatch::ThreadPool>(1);
  auto glassesQueue = dispatch::SerialQueue::create("glasses", pool);

  NotificationCenter center;
  testing::NoteLog notes(center);
  WearThresholds thresholds;
  GlassReport parser(center, CompanionLink::none(), thresholds, [](std::string_view) {});
  MainState state;
  InMemoryUserDefaults defaults;
  std::atomic<int> callbacks{0};
  OrvexQXServer::Options options;
  options.center = &center;
  options.parser = &parser;
  options.state = &state;
  options.defaults = &defaults;
  options.print = [](std::string_view) {};
  {
    OrvexQXServer qx(options);
    qx.setReadCallBack([&](float, float, float, float) { ++callbacks; });
    qx.shareManager();

    sim::SimGlassesHidDevice glasses(bus, sim::SimGlassesModel::secondGeneration(), glassesQueue);
    glasses.plug();
    ASSERT_TRUE(notes.waitFor(OrvexQXServer::kStatusChange, 1));
    EXPECT_TRUE(state.glassStatus.load());
    EXPECT_EQ(qx.glassName(), "ORVEX Glass 2");

    EXPECT_EQ(qx.getOrvexGlassFirmwareVersion(), 0);
    ASSERT_TRUE(notes.waitFor(GlassReport::kVersionNotification, 1));
    EXPECT_EQ(notes.objects(GlassReport::kVersionNotification)[0], Value("ORVEX2_FW_V1.63"));

    // The second generation streams once asked to, at 1 kHz.
    EXPECT_EQ(qx.changeIMUWithGlass(false), 0);
    ASSERT_TRUE(testing::eventually([&] { return callbacks.load() >= 50; }));
    EXPECT_EQ(parser.currentGeneration(), 2);

    glasses.unplug();
    ASSERT_TRUE(notes.waitFor(OrvexQXServer::kStatusChange, 2));
    EXPECT_EQ(notes.objects(OrvexQXServer::kStatusChange),
              (std::vector<Value>{Value(1), Value(0)}));
    EXPECT_FALSE(state.glassStatus.load());
    EXPECT_FALSE(qx.ioHidDevice());
    // What the Part keeps: the last transport, the name and the generation.
    ASSERT_TRUE(qx.connectedDevice());
    EXPECT_EQ(qx.connectedDevice()->deviceInfo().productId, 0x8003);
    EXPECT_EQ(qx.glassName(), "ORVEX Glass 2");
    EXPECT_EQ(qx.glassGeneration(), 2);
    EXPECT_EQ(qx.getOrvexGlassFirmwareVersion(), -1);
  }
  pool->stop();
  hid::HidBackend::install(nullptr);
}

}  // namespace
}  // namespace vistrelle::device
