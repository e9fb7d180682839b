// The flasher's reports as the application's notifications.
#include <gtest/gtest.h>

#include "device/firmware/dfu_callback.h"
#include "device/firmware/dfu_notifications.h"
#include "device/firmware/firmware_test_support.h"

namespace vistrelle::device {
namespace {

TEST(DfuCallback, ProgressIsCappedAt95AndFailureIsStatusFalse) {
  NotificationCenter center;
  std::vector<Notification> posted;
  Subscription all =
      center.observe("", nullptr, [&](const Notification& note) { posted.push_back(note); });
  testing::LogLines log;
  DfuCallback callback(center, log.sink());

  for (float percent : {0.f, 4.f, 95.f, 96.f, 100.f}) callback.onProgress(percent);
  ASSERT_EQ(posted.size(), 5u);
  std::vector<double> shown;
  for (const auto& note : posted) {
    EXPECT_EQ(note.name, dfu_notifications::kProgress);
    EXPECT_TRUE(note.object.isDouble()) << "a float number";
    shown.push_back(note.object.doubleOr(-1));
  }
  EXPECT_EQ(shown, (std::vector<double>{0, 4, 95, 95, 95}));

  posted.clear();
  callback.onStart();
  callback.onSuccess();
  EXPECT_TRUE(posted.empty()) << "a success is only logged";
  callback.onFail(-5);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].name, dfu_notifications::kStatus);
  EXPECT_EQ(posted[0].object, Value(false));
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"开始进行升级了...", "升级成功!", "升级失败 ret=-5！！！"}));
}

}  // namespace
}  // namespace vistrelle::device
