// The status item's popover and its exit view, the main window's content
// slot, and the right click from a tray to the exit view.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QScreen>

#include "app/app_delegate.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/state/main_state.h"
#include "platform/dispatch/runtime.h"
#include "platform/statusbar/fake/fake_status_item.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/light_palette.h"
#include "ui/orvex_exit_app_view_controller.h"
#include "ui/popover.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::OrvexExitAppViewController;
using ui::Popover;

TEST(PopoverPlacement, BelowAnIconUpTopAboveOneDownBelowAndAlwaysOnScreen) {
  const QRect screen(0, 0, 1920, 1080);
  const QRect topPanel(0, 28, 1920, 1052);
  const QRect bottomPanel(0, 0, 1920, 1040);
  const QSize size(160, 52);
  const struct Case {
    const char* name;
    std::optional<QRect> icon;
    QPoint cursor;
    QRect available;
    QRect expected;
  } cases[] = {
      {"icon in a top panel", QRect(1000, 2, 24, 24), {}, topPanel, QRect(932, 28, 160, 52)},
      {"icon in a bottom panel",
       QRect(1000, 1050, 24, 24),
       {},
       bottomPanel,
       QRect(932, 988, 160, 52)},
      {"no icon: at the cursor, upper half", std::nullopt, QPoint(400, 300), topPanel,
       QRect(320, 301, 160, 52)},
      {"no icon: at the cursor, lower half", std::nullopt, QPoint(400, 900), topPanel,
       QRect(320, 848, 160, 52)},
      {"icon at the right edge", QRect(1900, 2, 20, 24), {}, topPanel, QRect(1760, 28, 160, 52)},
      {"icon at the left edge", QRect(0, 1050, 20, 24), {}, bottomPanel, QRect(0, 988, 160, 52)},
      {"cursor in a corner", std::nullopt, QPoint(1919, 1079), screen, QRect(1760, 1027, 160, 52)},
      {"a second screen to the right",
       QRect(2900, 2, 24, 24),
       {},
       QRect(1920, 28, 1920, 1052),
       QRect(2832, 28, 160, 52)},
  };
  for (const auto& c : cases) {
    const QRect screenOf = c.available.x() >= 1920 ? QRect(1920, 0, 1920, 1080) : screen;
    EXPECT_EQ(Popover::placement(size, c.icon, c.cursor, screenOf, c.available), c.expected)
        << c.name;
  }
}

class PopoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    window = std::make_unique<ui::HomeWindow>([] { return false; });
    uitest::showActive(window.get());
  }
  void TearDown() override {
    popover.close();
    uitest::settle();
  }
  QImage grabPopover() { return uitest::grab(&popover); }
  QColor buttonPixel() {
    // Near the button's left edge, away from its title.
    auto* button = popover.exitView()->extiButton();
    return uitest::pixel(grabPopover(), button->geometry().topLeft() + QPoint(4, 8));
  }

  FakeStatusItem tray;
  int quits = 0;
  Popover popover{&tray, [this] { ++quits; }};
  std::unique_ptr<ui::HomeWindow> window;
};

TEST_F(PopoverTest, ShowsNothingWithoutContentAndSizesToItsContent) {
  popover.show();
  EXPECT_FALSE(popover.isShown());
  popover.setContent(PopoverContent::quickControls);
  EXPECT_FALSE(popover.hasContent()) << "nobody provided the quick controls yet";
  popover.show();
  EXPECT_FALSE(popover.isShown());

  auto* controls = new QWidget;
  controls->resize(300, 200);
  popover.registerContent(PopoverContent::quickControls, controls);
  EXPECT_TRUE(popover.hasContent());
  EXPECT_EQ(popover.size(), QSize(300, 200));
  popover.setContent(PopoverContent::exitView);
  EXPECT_EQ(popover.size(),
            QSize(OrvexExitAppViewController::kWidth, OrvexExitAppViewController::kHeight));
  EXPECT_FALSE(controls->isVisible());
  popover.setContent(PopoverContent::quickControls);
  EXPECT_EQ(popover.exitView(), nullptr);
  EXPECT_EQ(popover.contentWidget(), controls) << "the quick controls are kept, not rebuilt";
}

TEST_F(PopoverTest, OpensAtTheIconAndAClickOutsideClosesIt) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  tray.setIconGeometry(StatusItem::Geometry{screen.width() / 2 - 12, 0, 24, 24});
  popover.setContent(PopoverContent::exitView);
  popover.show();
  uitest::settle();
  ASSERT_TRUE(popover.isShown());
  EXPECT_EQ(popover.geometry().top(), 24) << "under the icon";
  EXPECT_EQ(popover.geometry().center().x(), screen.width() / 2 - 1);
  uitest::saveSnapshot(&popover, "popover-exit-view");

  uitest::click(window.get(), QPoint(10, 600));
  EXPECT_FALSE(popover.isShown()) << "a click elsewhere closes it";
  EXPECT_EQ(quits, 0);
}

TEST_F(PopoverTest, ExitViewLightsUpWhileThePointerIsOverItAndQuitsOnce) {
  popover.setContent(PopoverContent::exitView);
  popover.show();
  uitest::settle();
  OrvexExitAppViewController* view = popover.exitView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->extiButton()->text(), QString("退出Vistrelle"));
  EXPECT_EQ(view->extiButton()->objectName(), "extiButton");
  const QColor grey = ui::hexColor("#e7e9e7");
  EXPECT_TRUE(uitest::near(buttonPixel(), grey)) << buttonPixel().name().toStdString();
  EXPECT_TRUE(uitest::near(uitest::pixel(grabPopover(), QPoint(3, 3)), grey))
      << "the view's own colour";

  uitest::moveMouse(view, QPoint(4, 4));  // inside the view, beside the button
  EXPECT_TRUE(view->isHovered());
  QColor blue = ui::systemBlue();
  blue.setAlphaF(0.6f);
  EXPECT_TRUE(uitest::near(buttonPixel(), uitest::over(blue, grey)))
      << buttonPixel().name().toStdString();
  EXPECT_EQ(view->extiButton()->titleColor(), QColor(Qt::white));
  uitest::saveSnapshot(&popover, "popover-exit-view-hovered");

  // Out of it, on the screen: the popup still sees the move.
  uitest::moveMouse(view, QPoint(20, OrvexExitAppViewController::kHeight + 30));
  EXPECT_FALSE(view->isHovered());
  EXPECT_TRUE(uitest::near(buttonPixel(), grey));
  EXPECT_EQ(view->extiButton()->titleColor(), QColor(Qt::black));

  uitest::moveMouse(view->extiButton(), view->extiButton()->rect().center());
  EXPECT_TRUE(view->isHovered()) << "over the button is over the view";
  uitest::click(view->extiButton());
  EXPECT_EQ(quits, 1);
}

TEST_F(PopoverTest, EveryExitViewIsFreshAndNoneOutlivesItsTurn) {
  std::vector<QPointer<OrvexExitAppViewController>> views;
  for (int i = 0; i < 10; ++i) {
    popover.setContent(PopoverContent::exitView);
    popover.show();
    uitest::settle();
    views.emplace_back(popover.exitView());
    // Below the view: outside it, still on the screen.
    uitest::moveMouse(popover.exitView(), QPoint(20 + i, OrvexExitAppViewController::kHeight + 30));
    EXPECT_FALSE(popover.exitView()->isHovered());
    uitest::moveMouse(popover.exitView(), QPoint(4, 4));
    EXPECT_TRUE(popover.exitView()->isHovered());
    popover.close();
    uitest::settle();
  }
  for (size_t i = 0; i + 1 < views.size(); ++i) {
    EXPECT_FALSE(views[i]) << "view " << i << " is gone";
  }
  ASSERT_TRUE(views.back());
  // The last one still works, and the ones before left nothing that reacts.
  popover.show();
  uitest::settle();
  EXPECT_FALSE(popover.exitView()->isHovered()) << "closing left no stale highlight";
  uitest::moveMouse(popover.exitView(), QPoint(5, 5));
  EXPECT_TRUE(popover.exitView()->isHovered());
  uitest::moveMouse(popover.exitView(), QPoint(20, OrvexExitAppViewController::kHeight + 40));
  EXPECT_FALSE(popover.exitView()->isHovered());
  uitest::click(popover.exitView()->extiButton());
  EXPECT_EQ(quits, 1);
}

// The whole right-click road with a tray that clicks: the delegate records
// the click and opens a fresh exit view in the popover.
TEST_F(PopoverTest, ARightClickOnTheItemOpensTheExitView) {
  MainState::shared().reset();
  auto main = dispatch::mainQueue();
  AppDelegate delegate(AppServices{main, nullptr, &tray, {}, [](const std::string&) {}, &popover});
  delegate.setupStatusItem();
  tray.click(StatusItem::Click::Right);
  uitest::settle();
  EXPECT_EQ(delegate.mouseClick(), 2);
  ASSERT_TRUE(popover.isShown());
  ASSERT_NE(popover.exitView(), nullptr);
  QPointer<OrvexExitAppViewController> first = popover.exitView();
  popover.close();
  tray.click(StatusItem::Click::Right);
  uitest::settle();
  EXPECT_TRUE(popover.isShown());
  EXPECT_NE(popover.exitView(), first.data());
  EXPECT_FALSE(first);
}

TEST(HomeWindowContent, ShowsOneRegisteredContentAndKeepsTheOthers) {
  ui::HomeWindow window([] { return false; });
  EXPECT_EQ(window.content(), WindowContent::home);
  EXPECT_TRUE(window.isShowingHome());
  QWidget* empty = window.currentContentWidget();
  ASSERT_NE(empty, nullptr) << "an unregistered content shows empty";

  auto* home = new QWidget;
  auto* panel = new QWidget;
  QPointer<QWidget> homeAlive(home);
  window.registerContent(WindowContent::home, home);
  window.registerContent(WindowContent::glassesPanel, panel);
  uitest::showActive(&window);
  EXPECT_EQ(window.currentContentWidget(), home);
  EXPECT_TRUE(home->isVisible());
  EXPECT_EQ(home->geometry(), window.rect()) << "fills the window";

  window.setContent(WindowContent::glassesPanel);
  EXPECT_FALSE(window.isShowingHome());
  EXPECT_EQ(window.content(), WindowContent::glassesPanel);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(home->isVisible());
  EXPECT_TRUE(homeAlive) << "kept alive while another content shows";

  window.setContent(WindowContent::firmwareUpdate);
  EXPECT_EQ(window.currentContentWidget(), empty);
  EXPECT_FALSE(panel->isVisible());
  window.setContent(WindowContent::home);
  EXPECT_EQ(window.currentContentWidget(), home);

  auto* newer = new QWidget;
  window.registerContent(WindowContent::home, newer);
  EXPECT_FALSE(homeAlive) << "a replaced content is deleted";
  EXPECT_EQ(window.currentContentWidget(), newer);
  EXPECT_EQ(window.size(), QSize(420, 620));
}

}  // namespace
}  // namespace vistrelle
