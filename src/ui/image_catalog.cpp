#include "ui/image_catalog.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <map>

#include "base/helpers/language_bundle.h"
#include "ui/light_palette.h"
#include "ui/top_logo_icon.h"

namespace vistrelle::ui {

namespace {

using Draw = std::function<void(QPainter&, const QSizeF&)>;

struct Entry {
  QSize size;
  Draw draw;
};

const QColor kGreen(0x34, 0xC7, 0x59);
const QColor kRed(0xFF, 0x3B, 0x30);
const QColor kGrey(0x8E, 0x8E, 0x93);

QPen roundPen(const QColor& colour, qreal width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A pair of display glasses in a box of the given size.
void drawGlassesShape(QPainter& p, const QRectF& box, const QColor& colour) {
  const qreal s = box.width() / 32.0;
  const qreal top = box.center().y() - 5 * s;
  p.setPen(roundPen(colour, 2.2 * s));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(box.x() + 3 * s, top, 11 * s, 9 * s), 3 * s, 3 * s);
  p.drawRoundedRect(QRectF(box.x() + 18 * s, top, 11 * s, 9 * s), 3 * s, 3 * s);
  QPainterPath bridge;
  bridge.moveTo(box.x() + 14 * s, top + 3 * s);
  bridge.quadTo(box.x() + 16 * s, top + 1 * s, box.x() + 18 * s, top + 3 * s);
  p.drawPath(bridge);
}

void drawTick(QPainter& p, const QRectF& r, const QColor& colour, qreal width) {
  p.setPen(roundPen(colour, width));
  p.setBrush(Qt::NoBrush);
  QPainterPath tick;
  tick.moveTo(r.x() + 0.22 * r.width(), r.y() + 0.52 * r.height());
  tick.lineTo(r.x() + 0.42 * r.width(), r.y() + 0.72 * r.height());
  tick.lineTo(r.x() + 0.78 * r.width(), r.y() + 0.32 * r.height());
  p.drawPath(tick);
}

void drawCross(QPainter& p, const QRectF& r, const QColor& colour, qreal width, qreal inset) {
  p.setPen(roundPen(colour, width));
  const QRectF c = r.adjusted(inset, inset, -inset, -inset);
  p.drawLine(c.topLeft(), c.bottomRight());
  p.drawLine(c.topRight(), c.bottomLeft());
}

void drawUpdateBadge(QPainter& p, const QSizeF& size, const QColor& badge,
                     const std::function<void(QPainter&, const QRectF&)>& mark) {
  const QRectF all(QPointF(0, 0), size);
  drawGlassesShape(p, all.adjusted(0, -size.height() * 0.12, 0, -size.height() * 0.12),
                   QColor(0x3A, 0x3A, 0x3C));
  const qreal d = size.width() * 0.38;
  const QRectF circle(size.width() - d - 2, size.height() - d - 2, d, d);
  p.setPen(Qt::NoPen);
  p.setBrush(badge);
  p.drawEllipse(circle);
  mark(p, circle);
}

void drawToggle(QPainter& p, const QSizeF& size, bool on) {
  const QRectF track(1, 1, size.width() - 2, size.height() - 2);
  p.setPen(Qt::NoPen);
  p.setBrush(on ? systemBlue() : QColor(0xD1, 0xD1, 0xD6));
  p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
  const qreal d = track.height() - 4;
  const qreal x = on ? track.right() - 2 - d : track.left() + 2;
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(x, track.top() + 2, d, d));
}

void drawClose(QPainter& p, const QSizeF& size, bool hover) {
  const QRectF r(1, 1, size.width() - 2, size.height() - 2);
  p.setPen(Qt::NoPen);
  p.setBrush(hover ? QColor(0x3A, 0x3A, 0x3C) : QColor(0xD1, 0xD1, 0xD6));
  p.drawEllipse(r);
  drawCross(p, r, hover ? Qt::white : QColor(0x3A, 0x3A, 0x3C), size.width() / 12,
            size.width() * 0.32);
}

// The calibration button: its title is part of the image, one per language.
void drawCalibrateButton(QPainter& p, const QSizeF& size, const QString& title, QColor fill,
                         QColor text) {
  const QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
  p.setPen(text);
  p.setFont(systemFont(16));
  p.drawText(r, Qt::AlignCenter, title);
}

const std::map<QString, Entry>& catalog() {
  static const std::map<QString, Entry> entries = [] {
    std::map<QString, Entry> m;
    m["toplogoIcon"] = {QSize(32, 32), [](QPainter& p, const QSizeF& size) {
                          p.drawPixmap(QRectF(QPointF(0, 0), size), topLogoIcon().pixmap(64),
                                       QRectF(0, 0, 64, 64));
                        }};
    m["glasses"] = {QSize(160, 100), [](QPainter& p, const QSizeF& size) {
                      drawGlassesShape(p, QRectF(QPointF(0, 0), size), QColor(0x1D, 0x1D, 0x1F));
                    }};
    m["update-dfu"] = {QSize(120, 120), [](QPainter& p, const QSizeF& size) {
                         drawUpdateBadge(p, size, systemBlue(), [](QPainter& q, const QRectF& c) {
                           q.setPen(roundPen(Qt::white, c.width() / 10));
                           const qreal cx = c.center().x();
                           q.drawLine(QPointF(cx, c.top() + c.height() * 0.25),
                                      QPointF(cx, c.bottom() - c.height() * 0.25));
                           q.drawLine(QPointF(cx, c.top() + c.height() * 0.25),
                                      QPointF(cx - c.width() * 0.2, c.top() + c.height() * 0.45));
                           q.drawLine(QPointF(cx, c.top() + c.height() * 0.25),
                                      QPointF(cx + c.width() * 0.2, c.top() + c.height() * 0.45));
                         });
                       }};
    m["update-dfu-success"] = {QSize(120, 120), [](QPainter& p, const QSizeF& size) {
                                 drawUpdateBadge(p, size, kGreen, [](QPainter& q, const QRectF& c) {
                                   drawTick(q, c, Qt::white, c.width() / 10);
                                 });
                               }};
    m["update-dfu-failed"] = {QSize(120, 120), [](QPainter& p, const QSizeF& size) {
                                drawUpdateBadge(p, size, kRed, [](QPainter& q, const QRectF& c) {
                                  drawCross(q, c, Qt::white, c.width() / 10, c.width() * 0.3);
                                });
                              }};
    m["Toggle_on"] = {QSize(40, 24),
                      [](QPainter& p, const QSizeF& size) { drawToggle(p, size, true); }};
    m["Toggle_Off"] = {QSize(40, 24),
                       [](QPainter& p, const QSizeF& size) { drawToggle(p, size, false); }};
    m["close"] = {QSize(24, 24),
                  [](QPainter& p, const QSizeF& size) { drawClose(p, size, false); }};
    m["close_hover"] = {QSize(24, 24),
                        [](QPainter& p, const QSizeF& size) { drawClose(p, size, true); }};
    m["yy_hud_success"] = {QSize(48, 48), [](QPainter& p, const QSizeF& size) {
                             drawTick(p, QRectF(QPointF(0, 0), size), Qt::white, 4);
                           }};
    m["yy_hud_fail"] = {QSize(48, 48), [](QPainter& p, const QSizeF& size) {
                          drawCross(p, QRectF(QPointF(0, 0), size), Qt::white, 4, 12);
                        }};
    m["slider_point"] = {QSize(20, 20), [](QPainter& p, const QSizeF& size) {
                           p.setPen(QPen(QColor(0, 0, 0, 40), 1));
                           p.setBrush(Qt::white);
                           p.drawEllipse(QRectF(1, 1, size.width() - 2, size.height() - 2));
                         }};
    m["mode_selected"] = {QSize(16, 16), [](QPainter& p, const QSizeF& size) {
                            p.setPen(Qt::NoPen);
                            p.setBrush(systemBlue());
                            p.drawEllipse(QRectF(QPointF(0, 0), size));
                            drawTick(p, QRectF(QPointF(0, 0), size), Qt::white, 2);
                          }};
    // The calibration button in its three states, Chinese and English.
    struct Variant {
      const char* suffix;
      QColor fill, text;
    };
    const Variant variants[] = {{"", Qt::white, systemBlue()},
                                {"Hover", systemBlue(), Qt::white},
                                {"Click", systemBlue().darker(130), Qt::white}};
    for (const auto& v : variants) {
      const QColor fill = v.fill, text = v.text;
      m[QString("jiaozhengpingmu") + v.suffix] = {
          QSize(160, 40), [fill, text](QPainter& p, const QSizeF& size) {
            drawCalibrateButton(p, size, QString::fromUtf8("校正屏幕"), fill, text);
          }};
      m[QString("jiaozhengpingmu") + v.suffix + "_en"] = {
          QSize(160, 40), [fill, text](QPainter& p, const QSizeF& size) {
            drawCalibrateButton(p, size, "Calibrate screen", fill, text);
          }};
    }
    return m;
  }();
  return entries;
}

}  // namespace

QStringList ImageCatalog::names() {
  QStringList list;
  for (const auto& [name, entry] : catalog()) list << name;
  return list;
}

bool ImageCatalog::contains(const QString& name) {
  return catalog().count(name) > 0;
}

QSize ImageCatalog::naturalSize(const QString& name) {
  auto it = catalog().find(name);
  return it == catalog().end() ? QSize() : it->second.size;
}

QPixmap ImageCatalog::pixmap(const QString& name, qreal devicePixelRatio) {
  auto it = catalog().find(name);
  if (it == catalog().end()) return QPixmap();
  const QSize size = it->second.size;
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  it->second.draw(painter, QSizeF(size));
  return pixmap;
}

QIcon ImageCatalog::icon(const QString& name) {
  // The status item's icon is drawn crisp at every tray size.
  if (name == "toplogoIcon") return topLogoIcon();
  QIcon icon;
  if (!contains(name)) return icon;
  icon.addPixmap(pixmap(name, 1.0));
  icon.addPixmap(pixmap(name, 2.0));
  return icon;
}

QPixmap ImageCatalog::localizedPixmap(std::string_view key, qreal devicePixelRatio) {
  const std::string name = base::LanguageBundle::shared().localizedStringForKey(key);
  return pixmap(QString::fromStdString(name), devicePixelRatio);
}

}  // namespace vistrelle::ui
