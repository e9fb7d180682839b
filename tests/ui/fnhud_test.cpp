// FNHUD on the virtual clock: boxes measured with Qt's font metrics, the
// veil's clicks, auto-hide, hide and the hex colour reader.

#include "ui/fnhud.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPointer>
#include <QPushButton>

#include "ui/fade_animations.h"
#include "ui/hud_label.h"
#include "ui/hud_no_mouse_view.h"
#include "ui/light_palette.h"
#include "ui/spinning_progress_indicator_layer.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::FNHUD;

QSize textSize(const QString& text, int wrap = Qt::TextWordWrap) {
  return QFontMetrics(ui::systemFont(15, true))
      .boundingRect(QRect(0, 0, 320, 240), Qt::AlignLeft | wrap, text)
      .size();
}

FNHUD* boxOf(QWidget* shown) {
  if (auto* box = qobject_cast<FNHUD*>(shown)) return box;
  return shown ? shown->findChild<FNHUD*>() : nullptr;
}

class FNHUDs : public ::testing::Test {
 protected:
  void SetUp() override {
    window = new QWidget;
    window->resize(420, 500);
    button = new QPushButton("under the HUD", window);
    button->setGeometry(160, 230, 100, 40);
    corner = new QPushButton("corner", window);
    corner->setGeometry(10, 10, 80, 30);
    QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
    QObject::connect(corner, &QPushButton::clicked, [this] { ++cornerClicks; });
    uitest::showActive(window);
  }
  void TearDown() override {
    FNHUD::hide();
    uitest::advance(4.0);
    delete window;
    uitest::settle();
  }
  QList<QWidget*> inTree() const {
    QList<QWidget*> found;
    for (auto* view : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (qobject_cast<FNHUD*>(view) || qobject_cast<ui::HUDNoMouseView*>(view)) found << view;
    }
    return found;
  }

  QWidget* window = nullptr;
  QPushButton* button = nullptr;
  QPushButton* corner = nullptr;
  int clicks = 0;
  int cornerClicks = 0;
};

// First in this program, so that nothing has called setup() before it: the
// entry points do it themselves, or hide() could never find the HUD.
TEST_F(FNHUDs, ALoadingHUDWithAMaskTakesTheClicksUntilHideRemovesIt) {
  FNHUD::showLoading("加载中", true, window);
  const QList<QWidget*> shown = inTree();
  ASSERT_EQ(shown.size(), 1);
  auto* veil = qobject_cast<ui::HUDNoMouseView*>(shown[0]);
  ASSERT_NE(veil, nullptr);
  EXPECT_EQ(veil->geometry(), window->rect());
  EXPECT_EQ(veil->backgroundColor().rgb(), QColor(Qt::black).rgb());
  EXPECT_NEAR(veil->backgroundColor().alphaF(), 0.1, 1e-4) << "#000000 at 0.1";
  FNHUD* box = boxOf(veil);
  ASSERT_NE(box, nullptr);
  ASSERT_NE(box->spinner(), nullptr);
  EXPECT_TRUE(box->spinner()->isRunning());
  EXPECT_EQ(box->spinner()->foreColor(), QColor(Qt::white));
  EXPECT_EQ(box->spinner()->geometry(), QRect((box->width() - 48) / 2, 20, 48, 48));
  EXPECT_EQ(box->height(), 58 + textSize("加载中").height() + 40) << "the spinner's slot";
  uitest::advance(0.25);
  uitest::saveSnapshot(window, "fnhud-loading");

  uitest::click(window, QPoint(210, 250));
  uitest::click(window, QPoint(50, 25));
  EXPECT_EQ(clicks + cornerClicks, 0) << "the veil takes every click";
  uitest::advance(10.0);
  EXPECT_EQ(inTree().size(), 1) << "a loading HUD stays";

  FNHUD::hide();
  uitest::advance(0.24);
  EXPECT_EQ(inTree().size(), 1) << "fading";
  uitest::advance(0.01);
  EXPECT_TRUE(inTree().isEmpty());
  EXPECT_TRUE(FNHUD::shownHUDs().isEmpty());
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(clicks, 1);
}

TEST_F(FNHUDs, BoxTable) {
  const QString longText =
      "A message long enough to need more than one line in the box, so that it wraps "
      "within three hundred and twenty points and grows downward";
  const QString oneWord = "Averyveryveryveryveryveryveryveryveryverylongwordwithoutanyspaces";
  const struct {
    const char* name;
    QString message;
    bool image;
  } cases[] = {{"short", "OK", false},       {"short-image", "OK", true},
               {"long", longText, false},    {"long-image", longText, true},
               {"one-word", oneWord, false}, {"chinese", "保存成功", true}};
  for (const auto& c : cases) {
    if (c.image) {
      FNHUD::showSuccess(c.message, window);
    } else {
      FNHUD::showMessage(c.message, window);
    }
    uitest::advance(0.25);
    FNHUD* box = boxOf(FNHUD::shownHUDs().value(0));
    ASSERT_NE(box, nullptr) << c.name;
    QSize text = textSize(c.message);
    if (text.width() > 320) text = textSize(c.message, Qt::TextWrapAnywhere);
    EXPECT_LE(text.width(), 320) << c.name;
    const int width = std::max(text.width(), 120) + 40;
    const int height = (c.image ? 58 : 0) + text.height() + 40;
    EXPECT_EQ(box->size(), QSize(width, height)) << c.name;
    EXPECT_LE(box->width(), 360) << c.name;
    EXPECT_EQ(FNHUD::calcRectWithMessage(c.message, c.image, QSizeF(420, 500)),
              QRectF((420 - width) / 2.0, (500 - height) / 2.0, width, height))
        << c.name;
    EXPECT_NEAR(box->geometry().center().x(), 210, 1) << c.name;
    EXPECT_NEAR(box->geometry().center().y(), 250, 1) << c.name;
    // Flipped from the bottom-up frames: the image 20 below the top, the text
    // under its slot.
    const int labelWidth = std::min(text.width() + 10, 320);
    EXPECT_EQ(box->label()->geometry(),
              QRect(static_cast<int>(std::lround((width - labelWidth) / 2.0)),
                    (c.image ? 58 : 0) + 20, labelWidth, text.height()))
        << c.name;
    EXPECT_EQ(box->label()->textColor(), QColor(Qt::white));
    EXPECT_TRUE(box->label()->font().bold());
    if (c.image) {
      ASSERT_NE(box->imageView(), nullptr);
      EXPECT_EQ(box->imageView()->geometry(),
                QRect(static_cast<int>(std::lround((width - 48) / 2.0)), 20, 48, 48));
    } else {
      EXPECT_EQ(box->imageView(), nullptr);
      EXPECT_EQ(box->spinner(), nullptr) << "a message has no spinner";
    }
    EXPECT_EQ(box->boxColor(), FNHUD::colorWithHex("#525252", 1.0));
    uitest::saveSnapshot(window, QString("fnhud-") + c.name);
  }
  EXPECT_GT(textSize(longText).height(), textSize("OK").height()) << "it did wrap";

  FNHUD::showError("保存失败", window);
  uitest::advance(0.25);
  const QImage image = uitest::grab(window);
  uitest::saveSnapshot(image, "fnhud-error");
  FNHUD* box = boxOf(FNHUD::shownHUDs().value(0));
  ASSERT_NE(box, nullptr);
  const QPoint inBox = box->geometry().topLeft() + QPoint(8, box->height() / 2);
  EXPECT_TRUE(uitest::near(uitest::pixel(image, inBox), QColor(0x52, 0x52, 0x52)));
  EXPECT_GT(qGray(image.pixel(box->geometry().topLeft() + box->imageView()->geometry().center())),
            200)
      << "the white cross";
}

TEST_F(FNHUDs, AMessageFadesInAndIsGoneFromTheTreeAfterItsAutoHide) {
  FNHUD::showMessage("已保存", window);
  QPointer<QWidget> shown = FNHUD::shownHUDs().value(0);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->parentWidget(), window) << "no mask";
  uitest::settle();
  EXPECT_NEAR(ui::viewOpacity(shown), 0, 0.01);
  uitest::advance(0.25);
  EXPECT_DOUBLE_EQ(ui::viewOpacity(shown), 1);
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(clicks, 0) << "the box is over the button";
  uitest::click(window, QPoint(50, 25));
  EXPECT_EQ(cornerClicks, 1) << "without a mask the rest of the view works";

  uitest::advance(2.75);  // 3 s after the show
  ASSERT_TRUE(shown);
  EXPECT_TRUE(FNHUD::shownHUDs().isEmpty()) << "out of the list as its fade starts";
  uitest::advance(0.24);
  EXPECT_TRUE(shown);
  uitest::advance(0.01);
  EXPECT_FALSE(shown) << "gone from the tree, not left at alpha 0";
  EXPECT_TRUE(inTree().isEmpty());
  uitest::click(window, QPoint(210, 250));
  EXPECT_EQ(clicks, 1) << "the button at the centre gets its click again";
}

TEST_F(FNHUDs, ASecondShowFadesTheFirstOut) {
  FNHUD::showMessage("first", window);
  uitest::advance(0.25);
  QPointer<QWidget> first = FNHUD::shownHUDs().value(0);
  FNHUD::showSuccess("second", window);
  QPointer<QWidget> second = FNHUD::shownHUDs().value(1);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  uitest::advance(0.1);
  EXPECT_LT(ui::viewOpacity(first), 1.0);
  EXPECT_GT(ui::viewOpacity(second), 0.0);
  uitest::advance(0.15);
  EXPECT_FALSE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(FNHUD::shownHUDs(), QList<QWidget*>{second.data()});
  EXPECT_DOUBLE_EQ(ui::viewOpacity(second), 1);
}

TEST_F(FNHUDs, StaysCentredAsTheViewResizes) {
  FNHUD::showLoading("加载中", true, window);
  QWidget* veil = FNHUD::shownHUDs().value(0);
  FNHUD* box = boxOf(veil);
  ASSERT_NE(box, nullptr);
  window->resize(600, 300);
  uitest::settle();
  EXPECT_EQ(veil->geometry(), QRect(0, 0, 600, 300));
  EXPECT_NEAR(box->geometry().center().x(), 300, 1);
  EXPECT_NEAR(box->geometry().center().y(), 150, 1);
}

TEST_F(FNHUDs, NothingWithoutAMessageOrAView) {
  FNHUD::showMessage(QString(), window);
  FNHUD::showSuccess("no view", nullptr);
  FNHUD::showLoading(QString(), true, window);
  EXPECT_TRUE(FNHUD::shownHUDs().isEmpty());
  EXPECT_TRUE(inTree().isEmpty());
  FNHUD::showMessage("", window);
  EXPECT_EQ(FNHUD::shownHUDs().size(), 1) << "an empty message is still a message";
  EXPECT_EQ(boxOf(FNHUD::shownHUDs().value(0))->size(), QSize(160, 40));
}

TEST(FNHUDColour, HexTable) {
  const QColor grey = QColor::fromRgbF(0x52 / 255.0f, 0x52 / 255.0f, 0x52 / 255.0f, 1.0f);
  const QColor clear(0, 0, 0, 0);
  const struct {
    const char* text;
    QColor expected;
  } cases[] = {{"#525252", grey},
               {"0x525252", grey},
               {"0X525252", grey},
               {"525252", grey},
               {" #525252\n", grey},
               {"\t0x525252 ", grey},
               {"#5c5c5c", QColor(0x5C, 0x5C, 0x5C)},
               {"52525", clear},
               {"#52525", clear},
               {"5252525", clear},
               {"52525252", clear},
               {"#5252525", clear},
               {"", clear},
               {"#GG5252", clear},
               {"#-15252", clear},
               {"##525252", clear}};
  for (const auto& c : cases) {
    EXPECT_EQ(FNHUD::colorWithHex(c.text, 1.0), c.expected) << '"' << c.text << '"';
  }
  EXPECT_NEAR(FNHUD::colorWithHex("#525252", 0.25).alphaF(), 0.25, 1e-4);
  EXPECT_EQ(FNHUD::colorWithHex("#525252", 0.25).rgb(), grey.rgb());
}

}  // namespace
}  // namespace vistrelle
