// The settings panel's filter tuning reaches the 3D window's controller.
#include "app/depth_3d_filter_tuning.h"

#include <gtest/gtest.h>

#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/dynamic_filter_preset.h"
#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle {
namespace {

TEST(Depth3DFilterTuning, ReadsAndWritesTheControllersTuningAndAppliesTheModesPresets) {
  auto backend = ai3d::makeCpuKernelBackend(1);
  ai3d::CompositorEyeViewFactory views(*backend, 16, 9);
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  int modelType = 2;
  ai3d::OrvexDepth3DViewController::Environment env;
  env.backend = backend.get();
  env.viewFactory = &views;
  env.glassStatus = [] { return true; };
  env.modelType = [&modelType] { return modelType; };
  env.depthValue = [] { return 0.01f; };
  env.depthManager = [] { return std::make_shared<ai3d::DepthModelHolder>(); };
  env.mainQueue = queue;
  env.depthBufferQueue = queue;
  env.log = [](const std::string&) {};
  ai3d::OrvexDepth3DViewController controller(env);
  Depth3DFilterTuning tuning(controller);

  tuning.setAlpha(0.46f);
  tuning.setEta(0.31f);
  tuning.setSceneChangeThresh(0.9f);
  EXPECT_EQ(controller.alpha.load(), 0.46f);
  EXPECT_EQ(controller.eta.load(), 0.31f);
  EXPECT_EQ(controller.sceneChangeThresh.load(), 0.9f);

  tuning.setDynamicFilterParameters();
  const ai3d::DynamicFilterPreset video = ai3d::dynamicFilterPresetForModelType(2);
  EXPECT_EQ(tuning.alpha(), video.alpha);
  EXPECT_EQ(tuning.eta(), video.eta);
  EXPECT_EQ(tuning.sceneChangeThresh(), video.sceneChangeThresh);
}

}  // namespace
}  // namespace vistrelle
