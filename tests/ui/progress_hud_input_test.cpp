// The progress HUD's clicks (through with no mask, swallowed with one), its
// own window over the screen, and the class entry points on the shared HUD.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <memory>
#include <string>
#include <thread>

#include "platform/compositing/fake/fake_compositing_manager.h"
#include "platform/notify/notification_center.h"
#include "ui/color_from_hex.h"
#include "ui/fnhud.h"
#include "ui/hud_no_mouse_view.h"
#include "ui/progress_hud.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::ProgressHUD;
using ui::ProgressHUDMaskType;
using ui::ProgressHUDMode;
using ui::ProgressHUDStyle;

struct Presses {
  Presses()
      : subscription(NotificationCenter::defaultCenter().observe(
            "ProgressHUD.didReceiveMouseDownEvent", nullptr,
            [this](const Notification&) { ++count; })) {}
  int count = 0;
  Subscription subscription;
};

class HUDInput : public ::testing::Test {
 protected:
  void SetUp() override {
    window = new QWidget;
    window->resize(420, 500);
    centre = new QPushButton("behind the box", window);
    centre->setGeometry(160, 230, 100, 40);
    corner = new QPushButton("corner", window);
    corner->setGeometry(10, 10, 80, 30);
    QObject::connect(centre, &QPushButton::clicked, [this] { ++centreClicks; });
    QObject::connect(corner, &QPushButton::clicked, [this] { ++cornerClicks; });
    uitest::showActive(window);
  }
  void TearDown() override {
    // The shared HUD outlives every test: put it back as it was made.
    ProgressHUD* shared = ProgressHUD::shared();
    shared->hide(false);
    shared->setContainerView(nullptr);
    shared->setHudStyle(ProgressHUDStyle::light());
    shared->setMaskType(ProgressHUDMaskType::none());
    shared->setDismissible(false);
    hud.reset();
    delete window;
    ui::FNHUD::hide();
    uitest::advance(1.0);
  }
  ProgressHUD& showIn(QWidget* container, const ProgressHUDMaskType& mask) {
    hud = std::make_unique<ProgressHUD>();
    hud->setMaskType(mask);
    hud->setContainerView(container);
    hud->show("Loading", ProgressHUDMode::indeterminate());
    uitest::advance(0.25);
    return *hud;
  }

  QWidget* window = nullptr;
  QPushButton* centre = nullptr;
  QPushButton* corner = nullptr;
  int centreClicks = 0;
  int cornerClicks = 0;
  std::unique_ptr<ProgressHUD> hud;
};

TEST_F(HUDInput, ClicksGoThroughWithNoMaskAndStopWithOne) {
  const struct {
    const char* name;
    ProgressHUDMaskType mask;
    bool through;
  } cases[] = {{"none", ProgressHUDMaskType::none(), true},
               {"clear", ProgressHUDMaskType::clear(), false},
               {"black", ProgressHUDMaskType::black(), false},
               {"custom black 0.2", ProgressHUDMaskType::custom(QColor(0, 0, 0, 51)), false}};
  for (const auto& c : cases) {
    centreClicks = cornerClicks = 0;
    ProgressHUD& shown = showIn(window, c.mask);
    ASSERT_TRUE(shown.boxRect().contains(QPointF(210, 250))) << c.name;
    Presses presses;
    uitest::click(window, QPoint(210, 250));
    uitest::click(window, QPoint(50, 25));
    EXPECT_EQ(centreClicks, c.through ? 1 : 0) << c.name << ": the button behind the box";
    EXPECT_EQ(cornerClicks, c.through ? 1 : 0) << c.name << ": a button beside it";
    EXPECT_EQ(presses.count, 2) << c.name << ": each press on the HUD is announced";
    EXPECT_TRUE(shown.isVisible()) << c.name << ": not dismissible";
    shown.hide(false);
  }
  Presses presses;
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(presses.count, 0) << "a hidden HUD hears nothing";
}

TEST_F(HUDInput, ADismissibleHUDHidesOnAPress) {
  for (const auto& mask : {ProgressHUDMaskType::none(), ProgressHUDMaskType::black()}) {
    ProgressHUD& shown = showIn(window, mask);
    shown.setDismissible(true);
    uitest::click(window, QPoint(210, 250));
    EXPECT_TRUE(shown.isVisible()) << "fading";
    uitest::advance(0.2);
    EXPECT_FALSE(shown.isVisible());
  }
}

TEST_F(HUDInput, ShowLoadingOnTheMainThread) {
  ProgressHUD::showLoading("加载中", window, false);
  ProgressHUD* shared = ProgressHUD::shared();
  EXPECT_EQ(shared->parentWidget(), window) << "at once";
  EXPECT_EQ(shared->mode().kind(), ProgressHUDMode::Kind::indeterminate);
  EXPECT_EQ(shared->hudStyle().kind(), ProgressHUDStyle::Kind::custom);
  EXPECT_EQ(shared->hudStyle().foreground(), QColor(Qt::white));
  EXPECT_EQ(shared->hudStyle().backgroud(), ui::hexColor("#7c7c7c"));
  EXPECT_EQ(shared->maskType().kind(), ProgressHUDMaskType::Kind::custom);
  EXPECT_EQ(shared->maskType().color(), QColor(0, 0, 0, 51));
  uitest::advance(0.25);
  uitest::saveSnapshot(window, "progress-hud-show-loading");
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(centreClicks, 0) << "the mask takes the click";

  ProgressHUD::showLoading("加载中", window, true);
  EXPECT_EQ(shared->maskType().kind(), ProgressHUDMaskType::Kind::none);
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(centreClicks, 1);

  ProgressHUD::hide();
  EXPECT_TRUE(shared->isVisible()) << "on the main queue";
  uitest::advance(0.2);
  EXPECT_FALSE(shared->isVisible());
}

TEST_F(HUDInput, ShowLoadingOffTheMainThreadStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        std::thread worker([] { ProgressHUD::showLoading("x", nullptr, true); });
        worker.join();
      },
      "showLoading must be called on the main thread");
}

TEST_F(HUDInput, ShowProgressLoadingShowsTheRingOrHides) {
  ProgressHUD* shared = ProgressHUD::shared();
  ProgressHUD::showProgressLoading("上传中", window, true, 0.5);
  EXPECT_FALSE(shared->isVisible()) << "nothing before the main queue runs";
  EXPECT_NE(shared->hudStyle().backgroud(), ui::hexColor("#525252"))
      << "not even the style: the main thread draws from it";
  uitest::settle();
  EXPECT_EQ(shared->parentWidget(), window);
  EXPECT_EQ(shared->mode().kind(), ProgressHUDMode::Kind::determinate);
  EXPECT_DOUBLE_EQ(shared->progress(), 0.5);
  EXPECT_EQ(shared->hudStyle().backgroud(), ui::hexColor("#525252"));
  uitest::advance(0.25);
  uitest::saveSnapshot(window, "progress-hud-progress-loading");
  // White on grey: the ring's right half is light, its left half is not.
  const QImage image = uitest::grab(window);
  const QRectF g = shared->glyphRect();
  EXPECT_GT(qGray(image.pixel(static_cast<int>(g.right()), static_cast<int>(g.center().y()))), 200);
  EXPECT_LT(qGray(image.pixel(static_cast<int>(g.left()), static_cast<int>(g.center().y()))), 120);

  for (const double done : {1.0, 1.5}) {
    ProgressHUD::showProgressLoading("上传中", window, true, 0.9);
    uitest::advance(0.25);
    ASSERT_TRUE(shared->isVisible());
    ProgressHUD::showProgressLoading("上传中", window, true, done);
    uitest::advance(0.25);
    EXPECT_FALSE(shared->isVisible()) << done << " hides instead of drawing a full ring";
  }

  auto* doomed = new QWidget(window);
  ProgressHUD::showProgressLoading("gone", doomed, true, 0.3);
  delete doomed;
  uitest::advance(0.25);
  EXPECT_FALSE(shared->isVisible()) << "the caller's view went first";
  EXPECT_FALSE(shared->ownWindow()->isVisible());
}

TEST_F(HUDInput, FNHUDForwarders) {
  ProgressHUD::showLoadingFNHUD("请稍候", window, false);
  QList<QWidget*> shown = ui::FNHUD::shownHUDs();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_NE(qobject_cast<ui::HUDNoMouseView*>(shown[0]), nullptr) << "masked unless noMask";
  ProgressHUD::hideFNHUD();
  uitest::advance(0.3);
  EXPECT_TRUE(ui::FNHUD::shownHUDs().isEmpty());
  ProgressHUD::showLoadingFNHUD("请稍候", window, true);
  shown = ui::FNHUD::shownHUDs();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_NE(qobject_cast<ui::FNHUD*>(shown[0]), nullptr) << "no mask";
}

// --- The own window ---

class OwnWindow : public HUDInput {
 protected:
  ProgressHUD& showAlone(bool compositing, const ProgressHUDMaskType& mask) {
    hud = std::make_unique<ProgressHUD>();
    manager = std::make_shared<compositing::FakeCompositingManager>(compositing);
    hud->setCompositingManager(manager);
    hud->setMaskType(mask);
    hud->show("Loading", ProgressHUDMode::indeterminate());
    uitest::advance(0.25);
    return *hud;
  }
  static QRect screen() { return QGuiApplication::screens().first()->geometry(); }

  std::shared_ptr<compositing::FakeCompositingManager> manager;
};

TEST_F(OwnWindow, WithoutCompositingItCoversOnlyTheBox) {
  ProgressHUD& shown = showAlone(false, ProgressHUDMaskType::black());
  QWidget* own = shown.ownWindow();
  ASSERT_TRUE(own->isVisible());
  EXPECT_EQ(shown.parentWidget(), own);
  EXPECT_TRUE(own->isWindow());
  EXPECT_TRUE(own->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(own->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(own->testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_EQ(manager->queries(), 1);
  EXPECT_EQ(shown.size(), screen().size()) << "laid out over the whole screen";
  const QRect box = shown.boxRect().toAlignedRect();
  EXPECT_EQ(own->geometry(), box.translated(screen().topLeft())) << "but showing only the box";
  EXPECT_EQ(shown.pos(), -box.topLeft());
  EXPECT_EQ(own->mask().boundingRect(), QRect(QPoint(0, 0), box.size()));
  EXPECT_FALSE(own->mask().contains(QPoint(0, 0))) << "round corners cut";
  uitest::saveSnapshot(own, "progress-hud-own-window");

  Presses presses;
  uitest::click(own, QPoint(box.width() / 2, box.height() / 2));
  EXPECT_EQ(presses.count, 1);
  shown.hide(true);
  uitest::advance(0.2);
  EXPECT_FALSE(own->isVisible()) << "closed with the HUD";
}

TEST_F(OwnWindow, WithCompositingOnlyTheBoxTakesInputWhileThereIsNoMask) {
  ProgressHUD& shown = showAlone(true, ProgressHUDMaskType::none());
  QWidget* own = shown.ownWindow();
  EXPECT_EQ(own->geometry(), screen()) << "the whole first screen";
  EXPECT_EQ(shown.pos(), QPoint(0, 0));
  const QRect box = shown.boxRect().toAlignedRect();
  EXPECT_EQ(own->mask(), QRegion(box)) << "the window's input region";

  Presses presses;
  uitest::click(own, QPoint(5, 5));
  EXPECT_EQ(presses.count, 0) << "beside the box the press belongs to other windows";
  uitest::click(own, box.center());
  EXPECT_EQ(presses.count, 1);

  shown.setMaskType(ProgressHUDMaskType::black());
  EXPECT_TRUE(own->mask().isEmpty()) << "a mask takes the whole screen's input";
  uitest::click(own, QPoint(5, 5));
  EXPECT_EQ(presses.count, 2);
  const QImage image = uitest::grab(own);
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 5)), QColor(0, 0, 0, 153)))
      << "the mask dims the screen";

  shown.setContainerView(window);
  shown.show("In a view", ProgressHUDMode::indeterminate());
  EXPECT_FALSE(own->isVisible()) << "a container closes the own window";
  EXPECT_EQ(shown.parentWidget(), window);
}

}  // namespace
}  // namespace vistrelle
