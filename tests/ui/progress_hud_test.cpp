// The progress HUD in a container on the virtual clock: layout against Qt's
// own font metrics, drawing by pixels, the notifications and their order,
// indicators and the class entry points.

#include "ui/progress_hud.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPointer>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify/notification_center.h"
#include "ui/color_from_hex.h"
#include "ui/hud_label.h"
#include "ui/light_palette.h"
#include "ui/progress_indicator_layer.h"
#include "ui/spinning_progress_indicator_layer.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::ProgressHUD;
using ui::ProgressHUDMaskType;
using ui::ProgressHUDMode;
using ui::ProgressHUDPosition;
using ui::ProgressHUDStyle;

QSize textSize(const QString& text) {
  if (text.isEmpty()) return QSize(0, 0);
  return QFontMetrics(ui::systemFont(15)).size(0, text);
}

// Every "ProgressHUD." notification, in order, with what it carried.
struct HUDPosts {
  HUDPosts()
      : subscription(
            NotificationCenter::defaultCenter().observe("", nullptr, [this](const Notification& n) {
              if (n.name.rfind("ProgressHUD.", 0) != 0) return;
              names.push_back(n.name);
              objectsNull = objectsNull && n.object.isNull();
            })) {}
  std::vector<std::string> names;
  bool objectsNull = true;
  Subscription subscription;
};

class HUDInContainer : public ::testing::Test {
 protected:
  void SetUp() override { makeWindow(420, 500); }
  void TearDown() override {
    hud.reset();
    delete window;
    uitest::advance(1.0);
  }
  void makeWindow(int width, int height) {
    delete window;
    window = new QWidget;
    window->resize(width, height);
    uitest::showActive(window);
  }
  // A fresh HUD in the window, shown and settled at full alpha.
  ProgressHUD& showIn(const QString& status, const ProgressHUDMode& mode) {
    hud = std::make_unique<ProgressHUD>();
    hud->setContainerView(window);
    hud->show(status, mode);
    uitest::advance(0.25);
    return *hud;
  }
  QColor background() const { return QApplication::palette().color(QPalette::Window); }

  QWidget* window = nullptr;
  std::unique_ptr<ProgressHUD> hud;
};

TEST(ProgressHUDFields, StartWithTheirFirstValues) {
  ProgressHUD hud;
  EXPECT_EQ(hud.hudStyle().kind(), ProgressHUDStyle::Kind::light);
  EXPECT_EQ(hud.maskType().kind(), ProgressHUDMaskType::Kind::none);
  EXPECT_EQ(hud.position(), ProgressHUDPosition::center);
  EXPECT_EQ(hud.containerView(), nullptr);
  EXPECT_EQ(hud.font().pixelSize(), 15);
  EXPECT_FALSE(hud.font().bold());
  EXPECT_DOUBLE_EQ(hud.opacity(), 0.9);
  EXPECT_DOUBLE_EQ(hud.spinnerSize(), 40);
  EXPECT_DOUBLE_EQ(hud.margin(), 18);
  EXPECT_DOUBLE_EQ(hud.padding(), 4);
  EXPECT_DOUBLE_EQ(hud.cornerRadius(), 10);
  EXPECT_FALSE(hud.dismissible());
  EXPECT_EQ(hud.mode().kind(), ProgressHUDMode::Kind::indeterminate);
  EXPECT_EQ(hud.indicator(), nullptr);
  EXPECT_EQ(hud.progressIndicator(), nullptr);
  EXPECT_EQ(hud.hudSize(), QSizeF(0, 0));
  EXPECT_TRUE(hud.useAnimation());
  EXPECT_TRUE(hud.statusLabel()->text().isEmpty());
  EXPECT_EQ(hud.statusLabel()->geometry(), QRect(0, 0, 0, 0));
  EXPECT_FALSE(hud.completionHandler());
  EXPECT_DOUBLE_EQ(hud.progress(), 0);
  EXPECT_DOUBLE_EQ(hud.minimumDismissTimeInterval(), 2.0);
  EXPECT_DOUBLE_EQ(hud.maximumDismissTimeInterval(), 5.0);
  EXPECT_TRUE(hud.isHidden());
  EXPECT_DOUBLE_EQ(hud.alpha(), 0);
  ASSERT_NE(hud.ownWindow(), nullptr);
  EXPECT_FALSE(hud.ownWindow()->isVisible()) << "made, not shown";
  hud.showHUDView(false);
  EXPECT_FALSE(hud.isVisible()) << "in no view it never becomes a window of its own";
  // The style's colours.
  EXPECT_EQ(ProgressHUDStyle::light().foregroundColor(), QColor(Qt::black));
  EXPECT_EQ(ProgressHUDStyle::dark().foregroundColor(), QColor::fromRgbF(0.95f, 0.95f, 0.95f));
  EXPECT_EQ(ProgressHUDStyle::light().boxColor(0.9), QColor::fromRgbF(1, 1, 1, 0.9f));
  EXPECT_EQ(ProgressHUDStyle::dark().boxColor(0.9), QColor::fromRgbF(0, 0, 0, 0.9f));
  EXPECT_EQ(ProgressHUDStyle::custom(Qt::white, QColor(1, 2, 3, 40)).boxColor(0.5),
            QColor::fromRgbF(1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 0.5f))
      << "the box at `opacity`, whatever alpha its colour had";
}

TEST(ProgressHUDSpinner, TwelveFinsOfTheShortTurnLitEveryTickAndFading) {
  ui::ProgressIndicatorLayer spinner(Qt::black, 40);
  EXPECT_EQ(spinner.size(), QSize(40, 40));
  EXPECT_EQ(spinner.numFins(), 12);
  EXPECT_FALSE(spinner.isRunning()) << "the HUD starts it";
  for (int i = 0; i < 12; ++i) {
    // Clockwise by 6.282185 / 12 per fin: the constant, not 2 pi.
    EXPECT_DOUBLE_EQ(ui::SpinningProgressIndicatorLayer::finAngle(i, 12), 6.282185 / 12 * i);
  }
  EXPECT_LT(ui::SpinningProgressIndicatorLayer::finAngle(11, 12), 2 * M_PI / 12 * 11 - 5e-4);
  spinner.setFposition(spinner.numFins() - 1);
  spinner.startAnimation();
  uitest::settle();
  EXPECT_EQ(spinner.fposition(), 0) << "the first tick wraps";
  EXPECT_DOUBLE_EQ(spinner.finOpacity(0), 1);
  uitest::advance(0.05);
  EXPECT_EQ(spinner.fposition(), 1) << "a tick every 0.05 s";
  uitest::advance(0.3);
  EXPECT_NEAR(spinner.finOpacity(0), 0.5, 1e-9) << "half way through 0.7 s";
  spinner.stopAnimation();  // before fin 0 comes round again at 0.6 s
  uitest::advance(0.35);
  EXPECT_DOUBLE_EQ(spinner.finOpacity(0), 0) << "down to fadeDownOpacity";
}

TEST_F(HUDInContainer, LayoutOverModesTextsAndWidths) {
  const QString shortText = "Loading";
  const QString longText =
      "A status far longer than any container it could be shown in, and longer still";
  ASSERT_GT(textSize(longText).width(), 420);
  enum class Kind { indeterminate, determinate, text };
  const auto modeOf = [](Kind kind) {
    return kind == Kind::indeterminate ? ProgressHUDMode::indeterminate()
           : kind == Kind::determinate ? ProgressHUDMode::determinate()
                                       : ProgressHUDMode::text();
  };
  for (const int W : {420, 112, 100, 60}) {
    makeWindow(W, 400);
    for (const Kind kind : {Kind::indeterminate, Kind::determinate, Kind::text}) {
      for (const QString& text : {QString(), shortText, longText}) {
        const std::string label = "W " + std::to_string(W) + ", mode " +
                                  std::to_string(static_cast<int>(kind)) + ", \"" +
                                  text.toStdString() + "\"";
        ProgressHUD& shown = showIn(text, modeOf(kind));
        const QSize t = textSize(text);
        const double ih = kind == Kind::text ? 0 : 40;
        const double iw = kind == Kind::indeterminate ? 40 : 0;
        double height = 36 + ih + t.height();
        if (ih > 0) height += 4;
        if (ih > 0 && t.height() > 0) height += 4;
        const double labelWidth = t.width() > 0 ? t.width() + 10 : 0;
        const double width = 36 + std::max(0.0, std::min(W - 72.0, std::max(labelWidth, iw)));
        EXPECT_EQ(shown.hudSize(), QSizeF(width, height)) << label;
        EXPECT_EQ(shown.boxRect().size(), shown.hudSize()) << label;
        EXPECT_NEAR(shown.boxRect().center().x(), W / 2.0, 0.5) << label;
        EXPECT_NEAR(shown.boxRect().center().y(), 200, 0.5) << label;
        EXPECT_GE(shown.statusLabel()->width(), 0) << label;
        EXPECT_LE(shown.statusLabel()->width(), std::max(0, W - 72)) << label;
      }
    }
  }
  // The issue's own examples.
  makeWindow(420, 400);
  EXPECT_EQ(showIn("", ProgressHUDMode::indeterminate()).hudSize(), QSizeF(76, 80));
  EXPECT_EQ(showIn("", ProgressHUDMode::determinate()).hudSize(), QSizeF(36, 80))
      << "the ring is wider than its box when there is no text";
  EXPECT_EQ(showIn(longText, ProgressHUDMode::indeterminate()).hudSize().width(), 420 - 36)
      << "capped at the container less twice the margin";
}

TEST_F(HUDInContainer, IndicatorAboveTheTextAndTheGlyphFromTheBoxTop) {
  const QString text = "正在加载 Loading";
  ProgressHUD& shown = showIn(text, ProgressHUDMode::indeterminate());
  const QRectF box = shown.boxRect();
  const QRect spinner = shown.indicator()->geometry();
  const QRect label = shown.statusLabel()->geometry();
  const int th = textSize(text).height();
  EXPECT_EQ(spinner.size(), QSize(40, 40));
  EXPECT_EQ(spinner.top(), box.top() + 18) << "a margin below the box's top edge";
  EXPECT_NEAR(spinner.center().x(), box.center().x(), 1);
  EXPECT_EQ(label.height(), th);
  EXPECT_EQ(label.width(), textSize(text).width() + 10);
  EXPECT_EQ(label.bottom() + 1, box.bottom() - 18 + 4) << "the layout's last step down";
  EXPECT_GT(label.top(), spinner.bottom()) << "the text under the spinner, not over it";
  uitest::saveSnapshot(window, "progress-hud-indeterminate");

  shown.show(text, ProgressHUDMode::success());
  uitest::settle();
  const QRectF glyph = shown.glyphRect();
  EXPECT_EQ(glyph.size(), QSizeF(40, 40));
  EXPECT_DOUBLE_EQ(glyph.center().x(), shown.boxRect().center().x());
  EXPECT_DOUBLE_EQ(glyph.center().y(), shown.boxRect().top() + 36) << "0.9 s below the top";
}

TEST_F(HUDInContainer, TopAndBottomSitAFifthOfTheHeightFromTheMiddle) {
  const struct {
    ProgressHUDPosition position;
    double centreY;
  } cases[] = {{ProgressHUDPosition::top, 250 - 100},
               {ProgressHUDPosition::center, 250},
               {ProgressHUDPosition::bottom, 250 + 100}};
  for (const auto& c : cases) {
    ProgressHUD& shown = showIn("Loading", ProgressHUDMode::indeterminate());
    shown.setPosition(c.position);
    uitest::settle();
    EXPECT_NEAR(shown.boxRect().center().y(), c.centreY, 1) << static_cast<int>(c.position);
    EXPECT_NEAR(shown.indicator()->geometry().top(), shown.boxRect().top() + 18, 1)
        << "the contents move with the box";
    if (c.position == ProgressHUDPosition::top) uitest::saveSnapshot(window, "progress-hud-top");
  }
}

TEST_F(HUDInContainer, BoxAndMaskColours) {
  const QColor bg = background();
  const struct {
    const char* name;
    ProgressHUDStyle style;
    ProgressHUDMaskType mask;
    QColor box;      // expected over the window's colour
    QColor outside;  // expected beside the box
  } cases[] = {
      {"light", ProgressHUDStyle::light(), ProgressHUDMaskType::none(),
       uitest::over(QColor(255, 255, 255, 230), bg), bg},
      {"dark", ProgressHUDStyle::dark(), ProgressHUDMaskType::none(),
       uitest::over(QColor(0, 0, 0, 230), bg), bg},
      {"black-mask", ProgressHUDStyle::light(), ProgressHUDMaskType::black(),
       uitest::over(QColor(255, 255, 255, 230), uitest::over(QColor(0, 0, 0, 153), bg)),
       uitest::over(QColor(0, 0, 0, 153), bg)},
      {"custom", ProgressHUDStyle::custom(Qt::white, ui::hexColor("#525252")),
       ProgressHUDMaskType::custom(QColor(0, 0, 0, 51)),
       uitest::over(QColor(0x52, 0x52, 0x52, 230), uitest::over(QColor(0, 0, 0, 51), bg)),
       uitest::over(QColor(0, 0, 0, 51), bg)},
  };
  for (const auto& c : cases) {
    hud = std::make_unique<ProgressHUD>();
    hud->setHudStyle(c.style);
    hud->setMaskType(c.mask);
    hud->setContainerView(window);
    hud->show("", ProgressHUDMode::text());
    uitest::advance(0.25);
    const QImage image = uitest::grab(window);
    uitest::saveSnapshot(image, QString("progress-hud-") + c.name);
    const QRectF box = hud->boxRect();
    const QPoint inBox(static_cast<int>(box.left()) + 12, static_cast<int>(box.center().y()));
    EXPECT_TRUE(uitest::near(uitest::pixel(image, inBox), c.box))
        << c.name << ": " << uitest::pixel(image, inBox).name().toStdString();
    EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 5)), c.outside))
        << c.name << ": " << uitest::pixel(image, QPoint(5, 5)).name().toStdString();
  }
}

TEST_F(HUDInContainer, GlyphsDrawWhereAndWhichWayThePartsPutThem) {
  // Half a ring: 12 o'clock clockwise to 6, so the right side and not the
  // left; the tick's low corner below its ends; the cross from its offsets.
  ProgressHUD& shown = showIn("Uploading", ProgressHUDMode::determinate());
  shown.setProgress(0.5);
  uitest::settle();
  QImage image = uitest::grab(window);
  uitest::saveSnapshot(image, "progress-hud-determinate");
  const QRectF g = shown.glyphRect();
  const auto dark = [&](double x, double y) {
    return qGray(image.pixel(static_cast<int>(x), static_cast<int>(y))) < 110;
  };
  EXPECT_TRUE(dark(g.right(), g.center().y())) << "3 o'clock on the ring";
  EXPECT_FALSE(dark(g.left(), g.center().y())) << "not 9 o'clock";
  EXPECT_TRUE(dark(g.center().x() + 2, g.top())) << "the second arc, just right of 12";

  shown.show("Done", ProgressHUDMode::success());
  uitest::settle();
  image = uitest::grab(window);
  uitest::saveSnapshot(image, "progress-hud-success");
  const QRectF s = shown.glyphRect();
  EXPECT_TRUE(dark(s.left() + 0.31429 * 40, s.bottom() - 0.19167 * 40)) << "the tick's low corner";
  EXPECT_FALSE(dark(s.left() + 0.31429 * 40, s.top() + 0.19167 * 40)) << "not upside down";
  EXPECT_TRUE(dark(s.left() + 0.93333 * 40, s.bottom() - 0.80833 * 40)) << "its high end";

  shown.show("Failed", ProgressHUDMode::error());
  uitest::settle();
  image = uitest::grab(window);
  uitest::saveSnapshot(image, "progress-hud-error");
  const QRectF e = shown.glyphRect();
  // The strokes cross at (minX + 30, maxY - 30): 10 right of and 10 below the
  // square's centre.
  EXPECT_TRUE(dark(e.left() + 30, e.top() + 30)) << "where the strokes cross";
  EXPECT_TRUE(dark(e.left() + 50, e.top() + 50)) << "beyond the square, as drawn";

  shown.show("Note", ProgressHUDMode::info());
  uitest::settle();
  image = uitest::grab(window);
  uitest::saveSnapshot(image, "progress-hud-info");
  const QRectF i = shown.glyphRect();
  EXPECT_TRUE(dark(i.center().x() - 29, i.center().y())) << "the 58-point ring's left side";
  EXPECT_TRUE(dark(i.center().x(), i.center().y() + 6)) << "the letter's stem";
}

TEST_F(HUDInContainer, IndicatorsByMode) {
  ProgressHUD& shown = showIn("Loading", ProgressHUDMode::indeterminate());
  QPointer<ui::ProgressIndicatorLayer> spinner = shown.progressIndicator();
  ASSERT_TRUE(spinner);
  EXPECT_EQ(spinner->parentWidget(), shown.indicator());
  EXPECT_EQ(shown.indicator()->size(), QSize(40, 40));
  EXPECT_TRUE(spinner->isRunning());
  EXPECT_EQ(spinner->numFins(), 12);
  EXPECT_EQ(spinner->color(), QColor(Qt::black)) << "the light style's foreground";
  EXPECT_DOUBLE_EQ(spinner->fadeDownOpacity(), 0);

  QPointer<QWidget> firstView = shown.indicator();
  shown.show("Still loading", ProgressHUDMode::indeterminate());
  uitest::settle();
  EXPECT_EQ(shown.progressIndicator(), spinner.data()) << "a shown HUD keeps its spinner";
  EXPECT_FALSE(firstView) << "in a fresh view";
  EXPECT_TRUE(spinner->isRunning());

  auto* custom = new QWidget;
  custom->resize(30, 20);
  QPointer<QWidget> held(custom);
  shown.show("Custom", ProgressHUDMode::custom(custom));
  uitest::settle();
  EXPECT_EQ(shown.indicator(), custom);
  EXPECT_EQ(custom->parentWidget(), &shown);
  for (const auto& mode :
       {ProgressHUDMode::determinate(), ProgressHUDMode::info(), ProgressHUDMode::success(),
        ProgressHUDMode::error(), ProgressHUDMode::text()}) {
    shown.show("Glyph", mode);
    EXPECT_EQ(shown.indicator(), nullptr);
  }
  ASSERT_TRUE(held) << "the caller's view is handed back, not destroyed";
  EXPECT_EQ(custom->parentWidget(), nullptr);
  EXPECT_TRUE(custom->isHidden());
  delete custom;

  shown.hide(false);
  EXPECT_FALSE(spinner) << "torn down with the HUD";
  shown.show("Again", ProgressHUDMode::indeterminate());
  EXPECT_NE(shown.progressIndicator(), nullptr) << "a fresh one for the next show";
}

TEST_F(HUDInContainer, NotificationsInOrderOnTheClock) {
  HUDPosts posts;
  hud = std::make_unique<ProgressHUD>();
  int completions = 0;
  hud->setCompletionHandler([&] { ++completions; });

  hud->hide(true);
  uitest::advance(1.0);
  EXPECT_EQ(posts.names, std::vector<std::string>{"ProgressHUD.willDisappear"})
      << "never shown: it fades, but nothing disappears";
  EXPECT_EQ(completions, 0);
  posts.names.clear();

  hud->setContainerView(window);
  hud->show("Loading", ProgressHUDMode::indeterminate());
  EXPECT_EQ(posts.names, std::vector<std::string>{"ProgressHUD.willAppear"});
  EXPECT_DOUBLE_EQ(hud->alpha(), 0);
  uitest::advance(0.1);
  EXPECT_NEAR(hud->alpha(), 0.5, 0.1);
  EXPECT_NE(hud->graphicsEffect(), nullptr) << "faded through an opacity effect";
  uitest::advance(0.09);
  EXPECT_EQ(posts.names.size(), 1u);
  uitest::advance(0.01);
  EXPECT_EQ(posts.names.back(), "ProgressHUD.didAppear") << "at 0.2 s";
  EXPECT_DOUBLE_EQ(hud->alpha(), 1);
  EXPECT_EQ(hud->graphicsEffect(), nullptr) << "drawn directly once fully shown";

  posts.names.clear();
  hud->hide(true);
  EXPECT_EQ(posts.names, std::vector<std::string>{"ProgressHUD.willDisappear"});
  uitest::advance(0.19);
  EXPECT_EQ(completions, 0);
  EXPECT_TRUE(hud->isVisible());
  uitest::advance(0.01);
  EXPECT_EQ(posts.names,
            (std::vector<std::string>{"ProgressHUD.willDisappear", "ProgressHUD.didDisappear"}));
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(hud->parentWidget(), nullptr) << "out of its container";
  EXPECT_TRUE(hud->statusLabel()->text().isEmpty());

  posts.names.clear();
  hud->hide(true);
  uitest::advance(1.0);
  EXPECT_EQ(posts.names, std::vector<std::string>{"ProgressHUD.willDisappear"})
      << "a second hide announces no second disappearance";
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(posts.objectsNull);
}

TEST_F(HUDInContainer, DelayedHidesAndAShowDuringTheFade) {
  HUDPosts posts;
  ProgressHUD& shown = showIn("Saving", ProgressHUDMode::indeterminate());
  shown.performHideDelayed(0.0, 1.0);
  uitest::advance(0.99);
  EXPECT_TRUE(shown.isVisible());
  posts.names.clear();
  uitest::advance(0.01);
  EXPECT_EQ(posts.names,
            (std::vector<std::string>{"ProgressHUD.willDisappear", "ProgressHUD.didDisappear"}))
      << "the number 0: no fade";
  EXPECT_FALSE(shown.isVisible());

  shown.show("Saving", ProgressHUDMode::indeterminate());
  uitest::advance(0.25);
  shown.performHideDelayed(std::nullopt, 1.0);
  uitest::advance(1.0);
  EXPECT_TRUE(shown.isVisible()) << "no argument: animated";
  uitest::advance(0.2);
  EXPECT_FALSE(shown.isVisible());

  shown.show("Saving", ProgressHUDMode::indeterminate());
  uitest::advance(0.25);
  shown.performHideDelayed(0.0, 1.0);
  shown.hide(true);
  shown.show("Back", ProgressHUDMode::indeterminate());
  uitest::advance(2.0);
  EXPECT_TRUE(shown.isVisible()) << "a hide cancels the delayed one; a show takes over its fade";
  EXPECT_DOUBLE_EQ(shown.alpha(), 1);
  EXPECT_EQ(shown.parentWidget(), window);
}

TEST_F(HUDInContainer, FollowsANewContainerAndOutlivesAnOldOne) {
  HUDPosts posts;
  ProgressHUD& shown = showIn("Loading", ProgressHUDMode::indeterminate());
  auto* other = new QWidget(window);
  other->setGeometry(0, 0, 300, 300);
  other->show();
  shown.setContainerView(other);
  shown.show("Moved", ProgressHUDMode::indeterminate());
  uitest::settle();
  EXPECT_EQ(shown.parentWidget(), other) << "not left behind in the first container";
  EXPECT_EQ(shown.size(), QSize(300, 300));
  other->resize(200, 260);
  uitest::settle();
  EXPECT_EQ(shown.size(), QSize(200, 260)) << "covers its container as it resizes";
  EXPECT_NEAR(shown.boxRect().center().x(), 100, 0.5);

  posts.names.clear();
  delete other;
  EXPECT_EQ(posts.names.back(), "ProgressHUD.didDisappear");
  EXPECT_FALSE(shown.isVisible());
  shown.show("Nowhere", ProgressHUDMode::indeterminate());
  EXPECT_EQ(shown.parentWidget(), nullptr) << "a container that is gone shows nothing";
  EXPECT_FALSE(shown.ownWindow()->isVisible()) << "and not the own window either";
}

}  // namespace
}  // namespace vistrelle
