// Colours from hex texts, the y-up conversion, the fixed light palette and
// the image catalog.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <set>

#include "base/helpers/orvex_localization_helper.h"
#include "ui/color_from_hex.h"
#include "ui/flip_y.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::colorFromHex;

struct HexCase {
  const char* text;
  std::optional<double> alpha;  // the two-argument form when set
  std::optional<QColor> expected;
};

QColor rgba(int r, int g, int b, int a) {
  return QColor(r, g, b, a);
}

TEST(ColorFromHex, FollowsTheDigitRule) {
  const HexCase cases[] = {
      {"#5C5C5C", {}, rgba(0x5C, 0x5C, 0x5C, 255)},
      {"#5c5c5c", {}, rgba(0x5C, 0x5C, 0x5C, 255)},
      {"  #5C5C5C \n", {}, rgba(0x5C, 0x5C, 0x5C, 255)},
      {"#5C5C5CFF", {}, rgba(0x5C, 0x5C, 0x5C, 255)},
      // Eight digits, one argument: the last two are the alpha.
      {"#11223380", {}, rgba(0x11, 0x22, 0x33, 0x80)},
      // Eight digits with an alpha given: the alpha digits are ignored.
      {"#11223380", 0.25, rgba(0x11, 0x22, 0x33, 64)},
      {"#FFFFFF", 0.8, rgba(255, 255, 255, 204)},
      {"#e7e9e7", {}, rgba(0xE7, 0xE9, 0xE7, 255)},
      // Only hex digits count, wherever they are.
      {"0x12-34-56", {}, std::nullopt},  // seven digits: the x's 0 counts
      {"12-34-56", {}, rgba(0x12, 0x34, 0x56, 255)},
      {"#ABC", {}, std::nullopt},
      {"", {}, std::nullopt},
      {"#12345", {}, std::nullopt},
      {"#1234567", {}, std::nullopt},
      {"#123456789", {}, std::nullopt},
      {"#FFFFFFFFFFFFFFFF", {}, std::nullopt},
      {"no colour", {}, std::nullopt},
      {"#5C5C5C", std::nan(""), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto colour = c.alpha ? colorFromHex(c.text, *c.alpha) : colorFromHex(c.text);
    ASSERT_EQ(colour.has_value(), c.expected.has_value()) << c.text;
    if (colour) {
      EXPECT_EQ(colour->rgba(), c.expected->rgba()) << c.text;
    }
  }
}

TEST(ColorFromHex, EveryColourConstantOfThePanelsParses) {
  for (const char* constant :
       {"#5C5C5C", "#FFFFFF", "#e7e9e7", "#ECEDEE", "#068EFF", "#FF0000", "#000000", "#EEF1F7",
        "#018DFF", "#007BFF", "#F5F5F5", "#7c7c7c", "#525252", "#ffffff"}) {
    EXPECT_TRUE(colorFromHex(constant)) << constant;
    EXPECT_TRUE(colorFromHex(constant, 0.4)) << constant;
  }
}

TEST(FlipY, TurnsBottomUpRectanglesIntoQtsAndBack) {
  // A 20-high box 10 above the bottom of a 100-high parent starts 70 down.
  EXPECT_EQ(ui::flipY(QRect(5, 10, 30, 20), 100), QRect(5, 70, 30, 20));
  EXPECT_EQ(ui::flipY(QRectF(0.5, 0, 10, 100), 100.0), QRectF(0.5, 0, 10, 100));
  const QRectF any(3, 7.25, 11, 13);
  EXPECT_EQ(ui::flipY(ui::flipY(any, 64.0), 64.0), any);
}

TEST(LightPalette, IsFusionWithSystemBlueAsItsHighlight) {
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
  EXPECT_EQ(QApplication::palette().color(QPalette::Highlight), ui::systemBlue());
  EXPECT_EQ(ui::systemFont(16).pixelSize(), 16);
}

// Every image the windows name is in the catalog, drawn (not blank) and
// distinct from the others.
TEST(ImageCatalog, DrawsEveryNamedImage) {
  const QStringList named = {"toplogoIcon",
                             "update-dfu",
                             "update-dfu-success",
                             "update-dfu-failed",
                             "Toggle_on",
                             "Toggle_Off",
                             "close",
                             "close_hover",
                             "yy_hud_success",
                             "yy_hud_fail",
                             "jiaozhengpingmu",
                             "jiaozhengpingmuHover",
                             "jiaozhengpingmuClick"};
  std::set<QByteArray> seen;
  const int rows = (static_cast<int>(ui::ImageCatalog::names().size()) + 5) / 6;
  QImage sheet(6 * 170, rows * 130, QImage::Format_ARGB32);
  sheet.fill(QColor(0xEC, 0xED, 0xEE));
  QPainter painter(&sheet);
  int slot = 0;
  for (const QString& name : ui::ImageCatalog::names()) {
    const QPixmap pixmap = ui::ImageCatalog::pixmap(name);
    ASSERT_FALSE(pixmap.isNull()) << name.toStdString();
    EXPECT_EQ(pixmap.size(), ui::ImageCatalog::naturalSize(name));
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(drawn, image.width() * image.height() / 50) << name.toStdString() << " is blank";
    const QByteArray bytes(reinterpret_cast<const char*>(image.constBits()),
                           static_cast<int>(image.sizeInBytes()));
    EXPECT_TRUE(seen.insert(bytes).second) << name.toStdString() << " looks like another image";
    const QPoint at((slot % 6) * 170 + 5, (slot / 6) * 130 + 5);
    // The HUD's white glyphs are meant for its dark box.
    if (name.startsWith("yy_hud"))
      painter.fillRect(QRect(at, pixmap.size()), QColor(0x52, 0x52, 0x52));
    painter.drawPixmap(at, pixmap);
    ++slot;
  }
  for (const QString& name : named)
    EXPECT_TRUE(ui::ImageCatalog::contains(name)) << name.toStdString();
  EXPECT_TRUE(ui::ImageCatalog::pixmap("no such image").isNull());
  EXPECT_EQ(ui::ImageCatalog::pixmap("close", 2.0).size(), QSize(48, 48));
  painter.end();
  uitest::saveSnapshot(sheet, "image-catalog");
}

// The calibration button's images are named through the in-app language.
TEST(ImageCatalog, LooksTheButtonImagesUpThroughTheLanguage) {
  auto& helper = base::OrvexLocalizationHelper::shared();
  helper.setLanguage(base::Language::Chinese);
  const QImage chinese = ui::ImageCatalog::localizedPixmap("jiaozhengpingmu").toImage();
  helper.setLanguage(base::Language::English);
  const QImage english = ui::ImageCatalog::localizedPixmap("jiaozhengpingmu").toImage();
  helper.setLanguage(base::Language::Chinese);
  EXPECT_FALSE(chinese.isNull());
  EXPECT_FALSE(english.isNull());
  EXPECT_NE(chinese, english);
  EXPECT_EQ(english, ui::ImageCatalog::pixmap("jiaozhengpingmu_en").toImage());
}

}  // namespace
}  // namespace vistrelle
