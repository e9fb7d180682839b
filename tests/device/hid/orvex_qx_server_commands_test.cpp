#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

#include "base/settings/settings_keys.h"
#include "device/hid/qx_rig.h"
#include "device/protocol/glass_commands.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using sim::SimGlassesModel;
using testing::QxRig;

enum class Model { None, First, Second, Pro };

const char* nameOf(Model model) {
  switch (model) {
    case Model::None:
      return "no glasses";
    case Model::First:
      return "first generation";
    case Model::Second:
      return "second generation";
    case Model::Pro:
      return "second generation Pro";
  }
  return "";
}

// One command: how to call it, its result on first-generation, second-
// generation and Pro glasses (always -1 without glasses), and the report it
// sends to each (none: nothing is sent).
struct CommandCase {
  const char* name;
  std::function<int32_t(OrvexQXServer&)> call;
  std::array<int32_t, 3> results;
  std::function<std::optional<GlassCommandReport>(Model)> sends;
};

constexpr int32_t kNoResult = 1000;  // for the one command that answers nothing

using Builder = std::function<int32_t(GlassCommandReport&)>;

// The builder's report to the models listed, nothing to the others.
std::function<std::optional<GlassCommandReport>(Model)> to(std::vector<Model> models,
                                                           Builder build) {
  return [models, build](Model model) -> std::optional<GlassCommandReport> {
    if (std::find(models.begin(), models.end(), model) == models.end()) return std::nullopt;
    GlassCommandReport report;
    build(report);
    return report;
  };
}

const std::vector<Model> kAll{Model::First, Model::Second, Model::Pro};
const std::vector<Model> kSecondOnes{Model::Second, Model::Pro};

std::vector<CommandCase> commandTable() {
  return {
      {"change_display_volume(5)",
       [](OrvexQXServer& qx) { return qx.change_display_volume(5); },
       {0, 0, 0},
       to(kAll, [](GlassCommandReport& r) { return glass_cmd_set_volume(5, r); })},
      {"setDuty(200)",
       [](OrvexQXServer& qx) { return qx.setDuty(200); },
       {-1, 0, 0},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_set_duty(r, 200); })},
      {"setDuty(256)", [](OrvexQXServer& qx) { return qx.setDuty(256); }, {-1, -1, -1}, to({}, {})},
      {"setDuty(-1)", [](OrvexQXServer& qx) { return qx.setDuty(-1); }, {-1, -1, -1}, to({}, {})},
      {"changeIMUWithGlass(false)",
       [](OrvexQXServer& qx) { return qx.changeIMUWithGlass(false); },
       {-1, 0, 0},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_set_imu_enabled(r, false); })},
      {"changeIMUWithGlass(true)",
       [](OrvexQXServer& qx) { return qx.changeIMUWithGlass(true); },
       {-1, 0, 0},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_set_imu_enabled(r, true); })},
      {"getIMUOffSetNew",
       [](OrvexQXServer& qx) { return qx.getIMUOffSetNew(); },
       {-1, 0, 0},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_get_imu_offset(r); })},
      {"setUserImuTempBias(5)",
       [](OrvexQXServer& qx) { return qx.setUserImuTempBias(5, 31.5f, 0.25f, -0.5f, 1.0f); },
       {-1, 0, 0},
       to(kSecondOnes,
          [](GlassCommandReport& r) {
            return glass_cmd_set_user_temp_drift(r, 5, 31.5f, 0.25f, -0.5f, 1.0f);
          })},
      {"setUserImuTempBias(6)",
       [](OrvexQXServer& qx) { return qx.setUserImuTempBias(6, 31.5f, 0, 0, 0); },
       {-1, -1, -1},
       to({}, {})},
      {"getFactoryImuTempBias(3, 1)",
       [](OrvexQXServer& qx) {
         qx.getFactoryImuTempBias(3, 1);
         return kNoResult;
       },
       {kNoResult, kNoResult, kNoResult},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_get_temp_drift(r, 3, 1); })},
      // Only the Pro firmware has immersion: 0 and nothing sent for the others.
      {"setImmersion(40, first)",
       [](OrvexQXServer& qx) { return qx.setImmersion(40, true); },
       {-1, 0, 0},
       to({Model::Pro}, [](GlassCommandReport& r) { return glass_cmd_set_immersion(r, 40); })},
      {"getLightSensorWearInfo",
       [](OrvexQXServer& qx) { return qx.getLightSensorWearInfo(); },
       {-1, 0, 0},
       to(kSecondOnes, [](GlassCommandReport& r) { return glass_cmd_get_wear_info(r); })},
      {"setLightSensorWearDetection(false)",
       [](OrvexQXServer& qx) { return qx.setLightSensorWearDetection(false); },
       {-1, 0, 0},
       to(kSecondOnes,
          [](GlassCommandReport& r) { return glass_cmd_set_wear_detection(r, false); })},
      {"setLightSensorWearDetection(true)",
       [](OrvexQXServer& qx) { return qx.setLightSensorWearDetection(true); },
       {-1, 0, 0},
       to(kSecondOnes,
          [](GlassCommandReport& r) { return glass_cmd_set_wear_detection(r, true); })},
      // The first generation switches its mode; the second its width.
      {"start_display_3d",
       [](OrvexQXServer& qx) { return qx.start_display_3d(); },
       {0, 0, 0},
       [](Model model) -> std::optional<GlassCommandReport> {
         GlassCommandReport report;
         model == Model::First ? glass_cmd_set_3d_mode(report, true)
                               : glass_cmd_display_param(report);
         return report;
       }},
      {"stop_display_3d",
       [](OrvexQXServer& qx) { return qx.stop_display_3d(); },
       {0, 0, 0},
       to(kAll, [](GlassCommandReport& r) { return glass_cmd_set_3d_mode(r, false); })},
      // Last: the glasses stop taking commands in their boot loader.
      {"enterDfu",
       [](OrvexQXServer& qx) { return qx.enterDfu(); },
       {0, 0, 0},
       to(kAll, [](GlassCommandReport& r) { return glass_cmd_enter_dfu(r); })},
  };
}

SimGlassesModel modelOf(Model model) {
  switch (model) {
    case Model::First:
      return SimGlassesModel::firstGeneration();
    case Model::Pro:
      return SimGlassesModel::secondGenerationPro();
    default:
      return SimGlassesModel::secondGeneration();
  }
}

TEST(OrvexQXServerCommands, EveryCommandOnEveryModel) {
  for (Model model : {Model::None, Model::First, Model::Second, Model::Pro}) {
    SCOPED_TRACE(nameOf(model));
    QxRig rig;
    std::unique_ptr<sim::SimGlassesHidDevice> glasses;
    if (model != Model::None) {
      glasses = rig.plug(modelOf(model));
      rig.state.glassVersion.set(modelOf(model).versionText);
    }
    for (const CommandCase& c : commandTable()) {
      SCOPED_TRACE(c.name);
      if (model == Model::None) {
        const int32_t result = c.call(*rig.qx);
        if (result != kNoResult) {
          EXPECT_EQ(result, -1);
        }
        continue;
      }
      int32_t result = 0;
      const auto sent = rig.sentBy(*glasses, [&] { result = c.call(*rig.qx); });
      EXPECT_EQ(result, c.results[static_cast<size_t>(model) - 1]);
      const std::optional<GlassCommandReport> want = c.sends(model);
      if (!want) {
        EXPECT_TRUE(sent.empty()) << "sent " << sent[0].name;
        continue;
      }
      // Byte for byte the builder's report, as output report 2.
      ASSERT_EQ(sent.size(), 1u) << "result " << result << " writes " << glasses->writesReceived();
      EXPECT_EQ(sent[0].reportId, GlassCommandReport::kReportId);
      EXPECT_EQ(sent[0].report, *want) << sent[0].name;
      // A 3D switch holds the next one until its resolution change ran.
      rig.mainQueue->advanceBy(5s);
    }
  }
}

TEST(OrvexQXServerCommands, ConsoleLinesOfBiasReadsAndBootLoaderEntry) {
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  rig.qx->getFactoryImuTempBias(0, 1);
  EXPECT_EQ(rig.qx->enterDfu(), 0);
  const auto printed = rig.printedLines();
  ASSERT_GE(printed.size(), 4u);
  const std::string device = "device = " + rig.qx->connectedDevice()->description();
  EXPECT_EQ(std::vector<std::string>(printed.end() - 4, printed.end()),
            (std::vector<std::string>{device, "56 == 获取温漂 ret = 0", device,
                                      "56 == 进入dfu ret = 0"}));
}

TEST(OrvexQXServerCommands, AWriteFailurePropagatesAndSchedulesNothing) {
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  glasses->failWrites();
  EXPECT_EQ(rig.qx->change_display_volume(3), -EPIPE);
  EXPECT_EQ(rig.qx->getOrvexGlassFirmwareVersion(), -EPIPE);
  EXPECT_EQ(rig.qx->start_display_3d(), -EPIPE);
  EXPECT_EQ(rig.mainQueue->pendingCount(), 0u);
  EXPECT_TRUE(rig.qx->isSuccessChangeResolution());
}

TEST(OrvexQXServerCommands, ImmersionSetting) {
  QxRig rig;
  // Fresh: 76, and stored.
  EXPECT_EQ(rig.qx->getImmersion(), 76);
  EXPECT_EQ(rig.defaults.integerForKey(settings_keys::kImmersionValueNumber), 76);
  // What the glasses report on their own is stored.
  auto glasses = rig.plug(SimGlassesModel::secondGenerationPro());
  glasses->glasses().raiseImmersionChange(33);
  rig.sim.glassesClock->runUntilIdle();
  rig.settle(*glasses);
  EXPECT_EQ(rig.qx->getImmersion(), 33);
  // The same value again is sent only as the first of a connection.
  rig.state.glassVersion.set("ORVEX2PRO_FW_V1.12");
  EXPECT_TRUE(rig.sentBy(*glasses, [&] { EXPECT_EQ(rig.qx->setImmersion(33, false), 0); }).empty());
  EXPECT_EQ(rig.sentBy(*glasses, [&] { EXPECT_EQ(rig.qx->setImmersion(33, true), 0); }).size(), 1u);
  // A stored value that is no 32-bit integer counts as none.
  rig.defaults.setObject(settings_keys::kImmersionValueNumber, Value("high"));
  EXPECT_EQ(rig.qx->getImmersion(), 76);
}

}  // namespace
}  // namespace vistrelle::device
