// The shared HUD's progress asked for from several worker threads at once:
// nothing of it is touched off the main queue, and each call shows or hides
// there in turn.

#include <gtest/gtest.h>

#include <QWidget>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/notify/notification_center.h"
#include "ui/color_from_hex.h"
#include "ui/progress_hud.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::ProgressHUD;

constexpr double kProgress[] = {0.2, 0.4, 0.6, 0.8};

TEST(ShowProgressLoadingFromThreads, FourWorkersAtOnceEndInOneRingOnTheMainQueue) {
  QWidget window;
  window.resize(420, 500);
  uitest::settle();
  int appeared = 0;
  Subscription subscription = NotificationCenter::defaultCenter().observe(
      "ProgressHUD.willAppear", nullptr, [&](const Notification&) { ++appeared; });

  std::atomic<int> ready{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&ready, &window, i] {
      ++ready;
      while (ready.load() < 4) std::this_thread::yield();
      ProgressHUD::showProgressLoading(QString("part %1").arg(i), &window, true, kProgress[i]);
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(appeared, 0) << "nothing shown off the main queue";
  uitest::settle();
  EXPECT_EQ(appeared, 4) << "each call shows on the main queue in turn";
  ProgressHUD* hud = ProgressHUD::shared();
  EXPECT_EQ(hud->parentWidget(), &window);
  EXPECT_EQ(hud->mode().kind(), ui::ProgressHUDMode::Kind::determinate);
  EXPECT_EQ(hud->hudStyle().backgroud(), ui::hexColor("#525252"));
  EXPECT_NE(std::find(std::begin(kProgress), std::end(kProgress), hud->progress()),
            std::end(kProgress))
      << hud->progress();

  std::thread finisher([&window] { ProgressHUD::showProgressLoading("done", &window, true, 1.0); });
  finisher.join();
  uitest::advance(0.25);
  EXPECT_FALSE(hud->isVisible()) << "a finished progress hides it";

  std::thread fnhud([&window] { ProgressHUD::showLoadingFNHUD("wait", &window, true); });
  fnhud.join();
  uitest::settle();
  EXPECT_EQ(window.findChildren<QWidget*>("FNHUD").size(), 1);
  std::thread hider([] { ProgressHUD::hideFNHUD(); });
  hider.join();
  uitest::advance(0.3);
  EXPECT_TRUE(window.findChildren<QWidget*>("FNHUD").isEmpty());
}

}  // namespace
}  // namespace vistrelle
