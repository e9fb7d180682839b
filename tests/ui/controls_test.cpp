// The small controls: the digits-only validator, the fitting label, the two
// hover buttons, the pointer watch and CJK text.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <climits>

#include "base/helpers/orvex_localization_helper.h"
#include "platform/notify/notification_center.h"
#include "ui/color_from_hex.h"
#include "ui/light_palette.h"
#include "ui/only_integer_value_formatter.h"
#include "ui/orvex_auto_fitting_text_field_label.h"
#include "ui/orvex_custom_button.h"
#include "ui/orvex_hover_button.h"
#include "ui/orvex_mouse_movement_manager.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

struct Posts {
  explicit Posts(const std::string& name)
      : subscription(NotificationCenter::defaultCenter().observe(
            name, nullptr, [this](const Notification& n) { objects.push_back(n.object); })) {}
  std::vector<Value> objects;
  Subscription subscription;
};

TEST(OnlyIntegerValueFormatter, AcceptsAsciiDigitsOnlyAndPostsForEveryCheck) {
  ui::OnlyIntegerValueFormatter formatter;
  Posts posts("TextFieldChangeValue_Formatter_NSNotificationName");
  const struct {
    const char* text;
    bool accepted;
  } cases[] = {{"", true},    {"0", true},       {"007", true},     {"1234567890", true},
               {"-1", false}, {"1.5", false},    {"1a", false},     {" 1", false},
               {"1 ", false}, {"\u0661", false}, {"\uff11", false}, {"+1", false}};
  for (const auto& c : cases) {
    QString text = QString::fromUtf8(c.text);
    const QString before = text;
    int position = 0;
    const auto state = formatter.validate(text, position);
    EXPECT_EQ(state, c.accepted ? QValidator::Acceptable : QValidator::Invalid) << c.text;
    EXPECT_EQ(text, before) << "no replacement is proposed";
  }
  ASSERT_EQ(posts.objects.size(), std::size(cases)) << "one post per check, refused ones too";
  for (const auto& object : posts.objects) EXPECT_EQ(object, Value(1));

  // In a field: a letter typed into "12" is refused and still posts.
  QLineEdit field;
  field.setValidator(&formatter);
  posts.objects.clear();
  field.setText("12");
  field.insert("x");
  EXPECT_EQ(field.text(), "12");
  EXPECT_GE(posts.objects.size(), 2u);
}

class FittingLabel : public ::testing::Test {
 protected:
  static int fitted(const QString& text, int px, QSize size) {
    return ui::OrvexAutoFittingTextFieldLabel::fittedPixelSize(text, px, size);
  }
  static int textHeight(const QString& text, int px, int width) {
    return QFontMetrics(ui::systemFont(px))
        .boundingRect(QRect(0, 0, width, INT_MAX / 4), Qt::TextWordWrap, text)
        .height();
  }
};

TEST_F(FittingLabel, EndsOnePixelBelowTheFirstSizeThatFits) {
  // A short text in a roomy label already fits: one pixel smaller all the same.
  EXPECT_EQ(fitted("Vistrelle", 20, QSize(300, 100)), 19);
  // A long text in a short label shrinks until it fits, then one more.
  const QString text =
      "升级完成，请重新插入眼镜 The update has finished, plug the glasses in again";
  const QSize size(200, 40);
  const int px = fitted(text, 24, size);
  EXPECT_LT(px, 23);
  EXPECT_GE(px, ui::OrvexAutoFittingTextFieldLabel::kMinimumPixelSize);
  EXPECT_LE(textHeight(text, px + 1, 150), 40) << "px + 1 is the first size that fits";
  EXPECT_GT(textHeight(text, px + 2, 150), 40) << "and px + 2 does not";
}

TEST_F(FittingLabel, StopsAtEightPixelsWhenNothingFits) {
  EXPECT_EQ(fitted("never fits", 20, QSize(300, 0)), 8) << "height 0";
  EXPECT_EQ(fitted("a narrow label", 20, QSize(40, 5)), 8)
      << "width 40: the wrap width is negative";
}

TEST_F(FittingLabel, EachTextIsFittedFromTheCreatedSizeAndFocusPosts) {
  ui::OrvexAutoFittingTextFieldLabel label(20);
  label.resize(300, 100);
  label.setObjectName("tipsLabel");
  label.setText("one");
  EXPECT_EQ(label.font().pixelSize(), 19);
  label.setText("two");
  EXPECT_EQ(label.font().pixelSize(), 19) << "never shrinks from the last fitted size";
  label.setText(QString("long words ").repeated(40));
  const int small = label.font().pixelSize();
  EXPECT_LT(small, 19);
  label.setText("short again");
  EXPECT_EQ(label.font().pixelSize(), 19);

  Posts posts("notificationName_TextFieldBecomeFirstResponder");
  uitest::showActive(&label);
  label.setFocus(Qt::MouseFocusReason);
  uitest::settle();
  ASSERT_EQ(posts.objects.size(), 1u);
  EXPECT_EQ(posts.objects[0], Value("tipsLabel"));
}

class Buttons : public ::testing::Test {
 protected:
  void SetUp() override {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    window.resize(300, 200);
    auto* layout = new QVBoxLayout(&window);
    hover = new ui::OrvexHoverButton("悬停", &window);
    hover->setFixedSize(120, 40);
    custom = new ui::OrvexCustomButton(&window);
    custom->setFixedSize(160, 40);
    layout->addWidget(hover);
    layout->addWidget(custom);
    uitest::showActive(&window);
    uitest::moveMouse(&window, QPoint(1, 1));
  }
  QColor hoverPixel() {
    // Near the left edge, away from the title.
    return uitest::pixel(uitest::grab(hover), QPoint(6, 20));
  }

  QWidget window;
  ui::OrvexHoverButton* hover;
  ui::OrvexCustomButton* custom;
};

TEST_F(Buttons, HoverButtonLightsUpWhileThePointerIsOverIt) {
  const QColor grey = ui::hexColor("#e7e9e7");
  EXPECT_TRUE(uitest::near(hoverPixel(), grey)) << hoverPixel().name().toStdString();
  uitest::moveMouse(hover, QPoint(60, 20));
  QColor blue = ui::systemBlue();
  blue.setAlphaF(0.6f);
  EXPECT_EQ(hover->titleColor(), QColor(Qt::white));
  // Drawn at 0.6 over the window.
  const QColor expected = uitest::over(blue, QApplication::palette().color(QPalette::Window));
  EXPECT_TRUE(uitest::near(hoverPixel(), expected))
      << hoverPixel().name().toStdString() << " vs " << expected.name().toStdString();
  uitest::saveSnapshot(&window, "hover-button-hovered");
  uitest::moveMouse(&window, QPoint(1, 1));
  EXPECT_TRUE(uitest::near(hoverPixel(), grey));
  EXPECT_EQ(hover->titleColor(), QColor(Qt::black));
}

TEST_F(Buttons, CustomButtonShowsItsHoverImageOnlyWhenEnabled) {
  EXPECT_EQ(custom->imageKey(), "jiaozhengpingmu");
  const QPoint inside = custom->rect().center();
  uitest::moveMouse(custom, inside);
  EXPECT_EQ(custom->imageKey(), "jiaozhengpingmuHover");
  const QImage hovered = uitest::grab(custom);
  uitest::moveMouse(&window, QPoint(1, 1));
  EXPECT_EQ(custom->imageKey(), "jiaozhengpingmu");
  EXPECT_EQ(custom->alternateImageKey(), "jiaozhengpingmuClick");
  EXPECT_NE(uitest::grab(custom), hovered) << "the image drawn changes with it";

  custom->setEnabled(false);
  uitest::moveMouse(custom, inside);
  EXPECT_EQ(custom->imageKey(), "jiaozhengpingmu") << "disabled: keeps its image on entry";
  uitest::moveMouse(&window, QPoint(1, 1));
  EXPECT_EQ(custom->imageKey(), "jiaozhengpingmu") << "and still resets on exit";
  custom->setEnabled(true);

  // Pressed: the pressed image.
  uitest::moveMouse(custom, inside);
  const QImage before = uitest::grab(custom);
  uitest::press(custom, inside);
  EXPECT_TRUE(custom->isDown());
  EXPECT_NE(uitest::grab(custom), before);
  uitest::release(custom, inside);
}

TEST(MouseMovementManager, RemovesItsWatchWhenItGoes) {
  QWidget widget;
  widget.resize(100, 100);
  widget.setMouseTracking(true);
  uitest::showActive(&widget);
  int moves = 0;
  {
    ui::OrvexMouseMovementManager manager;
    manager.setEventMonitor(&widget, [&](QPointF) { ++moves; });
    EXPECT_TRUE(manager.hasEventMonitor());
    uitest::moveMouse(&widget, QPoint(10, 10));
    uitest::moveMouse(&widget, QPoint(20, 20));
    EXPECT_EQ(moves, 2);
  }
  uitest::moveMouse(&widget, QPoint(30, 30));
  EXPECT_EQ(moves, 2) << "no calls after the manager is gone";
}

// Chinese texts draw real glyphs (a CJK font is installed), not boxes: two
// different characters draw two different, non-empty shapes.
TEST(ChineseText, DrawsGlyphs) {
  const auto render = [](const QString& text) {
    QLabel label(text);
    label.setFont(ui::systemFont(32));
    label.setFixedSize(60, 50);
    return uitest::grab(&label);
  };
  const QImage tui = render(QString::fromUtf8("退"));
  const QImage chu = render(QString::fromUtf8("出"));
  const QImage missing = render(QString(QChar(0xE000)));  // private use: no font has it
  EXPECT_NE(tui, chu);
  EXPECT_NE(tui, missing);
  int ink = 0;
  for (int y = 0; y < tui.height(); ++y)
    for (int x = 0; x < tui.width(); ++x) ink += qGray(tui.pixel(x, y)) < 128;
  EXPECT_GT(ink, 40);
  QLabel label(QString::fromUtf8("退出Vistrelle 升级完成，请重新插入眼镜"));
  label.setFont(ui::systemFont(20));
  label.adjustSize();
  uitest::saveSnapshot(&label, "chinese-label");
}

}  // namespace
}  // namespace vistrelle
