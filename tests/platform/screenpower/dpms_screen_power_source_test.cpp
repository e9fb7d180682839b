// Neither test X server has DPMS; the back-end must say it cannot tell,
// and so must one without a server.  (The observers' tests fake DPMS.)
#include "platform/screenpower/linux/dpms_screen_power_source.h"

#include <gtest/gtest.h>

#include "support/xvfb_server.h"

namespace vistrelle::screenpower {
namespace {

TEST(DpmsScreenPowerSource, CannotTellWithoutDpmsOrWithoutAServer) {
  auto xvfb = std::make_unique<testing::XvfbServer>(320, 240);
  ASSERT_TRUE(xvfb->available());
  DpmsScreenPowerSource source(xvfb->display());
  EXPECT_FALSE(source.screensOn());
  EXPECT_FALSE(source.screensOn());
  // The server goes: still none, and this process lives on.
  xvfb.reset();
  EXPECT_FALSE(source.screensOn());
  EXPECT_FALSE(DpmsScreenPowerSource(":4095").screensOn());
}

}  // namespace
}  // namespace vistrelle::screenpower
