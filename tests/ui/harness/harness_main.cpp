// main() of the UI tests: Qt first (offscreen unless the environment names a
// platform), then the runtime on a virtual main queue, then the tests.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "ui/light_palette.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  vistrelle::ui::applyLightPalette(application);
  auto mainQueue = std::make_shared<vistrelle::dispatch::VirtualExecutor>("main");
  vistrelle::dispatch::Runtime runtime(mainQueue, {.workers = 2});
  return RUN_ALL_TESTS();
}
