// What an open needs before it touches the glasses: the glasses, a kernel
// back-end and a loaded model (waited for while it installs), a window.
#include <gtest/gtest.h>

#include "manager_rig.h"

namespace vistrelle::ai3d {
namespace {

using testing::ManagerRig;
using testing::RigOptions;
using namespace std::chrono_literals;

TEST(DepthManagerGate, RefusedWithoutAModelOrABackendAndNothingSentToTheGlasses) {
  struct Case {
    const char* what;
    RigOptions options;
    const char* reason;
  };
  const Case cases[] = {
      {"the model did not load",
       {.modelLoads = false},
       "AI 3D unavailable: the depth model did not load"},
      {"no kernel back-end",
       {.backend = false},
       "AI 3D unavailable: no kernel back-end (none could be made)"},
  };
  for (const Case& c : cases) {
    ManagerRig rig(c.options);
    rig.manager->open3DWindow();
    rig.settle();
    rig.advance(60s);
    EXPECT_EQ(rig.messages, std::vector<std::string>{"电脑或系统不支持"}) << c.what;
    EXPECT_TRUE(rig.logs("====电脑或系统不支持====")) << c.what;
    EXPECT_TRUE(rig.logs(c.reason)) << c.what;
    EXPECT_TRUE(rig.glasses.calls().empty()) << c.what;
    EXPECT_EQ(rig.windowsMade, 0) << c.what;
    EXPECT_TRUE(rig.posted.empty()) << c.what << ": the check was cancelled";
  }
}

TEST(DepthManagerGate, AnOpenDuringTheInstallWaitsForItsOutcome) {
  for (const bool loads : {true, false}) {
    ManagerRig rig({.modelLoads = loads, .separateInstall = true});
    rig.manager->open3DWindow();
    rig.settle();
    rig.advance(5s);
    EXPECT_EQ(rig.manager->modelState(), DepthModelLoader::State::Loading);
    EXPECT_EQ(rig.windowsMade, 0);
    EXPECT_TRUE(rig.messages.empty()) << "not refused for the install under way";
    rig.install->runUntilIdle();
    rig.settle();
    EXPECT_EQ(rig.windowsMade, loads ? 1 : 0);
    EXPECT_EQ(rig.messages.size(), loads ? 0u : 1u);
    EXPECT_EQ(rig.glasses.calls().size(), loads ? 1u : 0u);
  }
}

TEST(DepthManagerGate, WithoutGlassesTheOpenStopsAtOnce) {
  ManagerRig rig;
  rig.state.glassStatus.store(false);
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(60s);
  EXPECT_TRUE(rig.logs("====眼镜拔出===="));
  EXPECT_EQ(rig.timer.liveCount(), 0u);
  EXPECT_TRUE(rig.posted.empty());
  EXPECT_EQ(rig.windowsMade, 0);
}

TEST(DepthManagerGate, AWindowThatCannotBeMadeIsLoggedAndTheCheckReportsZero) {
  ManagerRig rig;
  rig.manager.reset();
  auto env = rig.environment();
  env.makeWindow = [](KernelBackend&) -> std::unique_ptr<DepthWindow> { return nullptr; };
  rig.manager = OrvexDepthCustomManager::create(std::move(env));
  rig.manager->open3DWindow();
  rig.settle();
  EXPECT_TRUE(rig.logs("====3D窗口创建失败===="));
  EXPECT_TRUE(rig.glasses.calls().empty());
  rig.advance(30s);
  EXPECT_EQ(rig.posted, std::vector<int>{0});
}

}  // namespace
}  // namespace vistrelle::ai3d
