#include "ui/fnhud.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>

#include "platform/dispatch/runtime.h"
#include "ui/animator.h"
#include "ui/fade_animations.h"
#include "ui/flip_y.h"
#include "ui/hud_label.h"
#include "ui/hud_no_mouse_view.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui/spinning_progress_indicator_layer.h"

namespace vistrelle::ui {

namespace {

// The class-wide state, set by setup().
struct ClassState {
  std::optional<QFont> font;
  double top = 0, left = 0, bottom = 0, right = 0;
  std::optional<QList<QPointer<QWidget>>> shown;
  std::optional<QColor> boxColor;
  std::optional<QColor> textColor;
  std::optional<QPixmap> successImage;
  std::optional<QPixmap> failImage;
};

ClassState& state() {
  // For the life of the process: fonts and pixmaps may not be destroyed after
  // the application object, as a static's destructor would.
  static ClassState* instance = new ClassState;
  return *instance;
}

QList<QPointer<QWidget>>& shownList() {
  FNHUD::setup();
  return *state().shown;
}

dispatch::Nanos seconds(double value) {
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(value));
}

struct Measured {
  QSize size{0, 0};
  int wrap = Qt::TextWordWrap;
};

// The text within 320 x 240, wrapped at words; a word too long for a line is
// broken anywhere rather than let out of the box.  An empty text is 0 x 0
// (Qt would measure one line).
Measured measure(const QString& message) {
  if (message.isEmpty()) return {};
  const QFontMetrics metrics(*state().font);
  const QRect bounds(0, 0, static_cast<int>(FNHUD::kMaxTextWidth),
                     static_cast<int>(FNHUD::kMaxTextHeight));
  Measured measured{metrics.boundingRect(bounds, Qt::AlignLeft | Qt::TextWordWrap, message).size(),
                    Qt::TextWordWrap};
  if (measured.size.width() > FNHUD::kMaxTextWidth) {
    measured = {metrics.boundingRect(bounds, Qt::AlignLeft | Qt::TextWrapAnywhere, message).size(),
                Qt::TextWrapAnywhere};
  }
  return measured;
}

QRect widgetRect(const QRectF& rect) {
  return QRect(static_cast<int>(std::lround(rect.x())), static_cast<int>(std::lround(rect.y())),
               static_cast<int>(std::lround(rect.width())),
               static_cast<int>(std::lround(rect.height())));
}

// One running fade of a shown HUD, a child of the view it fades.
class Fade final : public QObject {
 public:
  explicit Fade(QWidget* view) : QObject(view) {}
  Animator animator;
};

// Fades `view` from where it is to `to` over 0.25 s, taking over from any
// fade it is in; `finished` runs when it gets there.
void fade(QWidget* view, double to, std::function<void()> finished) {
  for (QObject* child : view->children()) {
    if (auto* old = dynamic_cast<Fade*>(child)) {
      old->setParent(nullptr);
      old->animator.stop();
      old->deleteLater();
    }
  }
  auto* run = new Fade(view);
  QPointer<QWidget> target(view);
  run->animator.start(viewOpacity(view), to, seconds(FNHUD::kFadeDuration), dispatch::Nanos(0),
                      {nullptr,
                       [target](double value) {
                         if (target) setViewOpacity(target, value);
                       },
                       [finished = std::move(finished)](bool done) {
                         if (done && finished) finished();
                       }});
}

// Out of the view tree, so that nothing invisible is left taking clicks.
void removeShown(const QPointer<QWidget>& view) {
  shownList().removeAll(view);
  if (!view) return;
  view->hide();
  view->setParent(nullptr);
  view->deleteLater();
}

}  // namespace

void FNHUD::setup() {
  ClassState& s = state();
  if (!s.font) s.font = systemFont(15, true);
  s.top = s.left = s.bottom = s.right = 20;
  if (!s.shown) s.shown.emplace();
  if (!s.boxColor) s.boxColor = colorWithHex("#525252", 1.0);
  if (!s.textColor) s.textColor = QColor::fromRgbF(1, 1, 1, 1);
  const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
  if (!s.successImage) s.successImage = ImageCatalog::pixmap("yy_hud_success", ratio);
  if (!s.failImage) s.failImage = ImageCatalog::pixmap("yy_hud_fail", ratio);
}

void FNHUD::showLoading(const QString& message, bool mask, QWidget* view) {
  createUIWithMsg(message, QPixmap(), view, mask, false);
}

void FNHUD::showMessage(const QString& message, QWidget* view) {
  createUIWithMsg(message, QPixmap(), view, false, true);
}

void FNHUD::showSuccess(const QString& message, QWidget* view) {
  setup();
  createUIWithMsg(message, *state().successImage, view, false, true);
}

void FNHUD::showError(const QString& message, QWidget* view) {
  setup();
  createUIWithMsg(message, *state().failImage, view, false, true);
}

void FNHUD::hide() {
  // A copy: views leave the list as their fades end.
  const QList<QPointer<QWidget>> shown = shownList();
  for (const QPointer<QWidget>& view : shown) {
    if (!view) {
      shownList().removeAll(view);
      continue;
    }
    fade(view, 0.0, [view] { removeShown(view); });
  }
}

QColor FNHUD::colorWithHex(const QString& text, double alpha) {
  QString digits = text.trimmed().toUpper();
  if (digits.size() >= 6 && digits.size() <= 8) {
    if (digits.startsWith("0X")) {
      digits = digits.mid(2);
    } else if (digits.startsWith('#')) {
      digits = digits.mid(1);
    }
  }
  const QColor clear(0, 0, 0, 0);
  if (digits.size() != 6) return clear;
  int components[3];
  for (int i = 0; i < 3; ++i) {
    const QString pair = digits.mid(2 * i, 2);
    // Only the digits themselves: no sign, no space.
    for (QChar c : pair) {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return clear;
    }
    components[i] = pair.toInt(nullptr, 16);
  }
  if (!std::isfinite(alpha)) return clear;
  return QColor::fromRgbF(
      static_cast<float>(components[0] / 255.0), static_cast<float>(components[1] / 255.0),
      static_cast<float>(components[2] / 255.0), static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
}

QRectF FNHUD::calcRectWithMessage(const QString& message, bool hasImage, QSizeF parentSize) {
  setup();
  const ClassState& s = state();
  const QSize text = measure(message).size;
  const double width = std::max<double>(text.width(), kMinTextWidth) + s.left + s.right;
  const double height = (hasImage ? kImageSlot : 0) + text.height() + s.top + s.bottom;
  return QRectF((parentSize.width() - width) / 2, (parentSize.height() - height) / 2, width,
                height);
}

FNHUD* FNHUD::createInstanceWithFrame(const QRectF& frame) {
  setup();
  return new FNHUD(frame);
}

FNHUD::FNHUD(const QRectF& frame) : QWidget(nullptr), boxColor_(*state().boxColor) {
  setObjectName("FNHUD");
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(widgetRect(frame));
}

void FNHUD::createUIWithMsg(const QString& message, const QPixmap& image, QWidget* view, bool mask,
                            bool autoHide) {
  if (message.isNull() || !view) return;
  setup();
  const ClassState& s = state();
  hide();

  // A loading HUD keeps the image slot for its spinner.
  const bool hasImage = !image.isNull() || !autoHide;
  const QRectF frame = calcRectWithMessage(message, hasImage, view->size());
  FNHUD* box = createInstanceWithFrame(frame);
  const double boxWidth = box->width();
  const double boxHeight = box->height();

  const Measured text = measure(message);
  const double labelWidth = std::min<double>(text.size.width() + 10, kMaxTextWidth);
  box->label_ = new HUDLabel(box);
  box->label_->setFont(*s.font);
  box->label_->setTextColor(*s.textColor);
  box->label_->setTextFlags(Qt::AlignHCenter | Qt::AlignTop | text.wrap);
  box->label_->setText(message);
  box->label_->setGeometry(widgetRect(
      flipY(QRectF((boxWidth - labelWidth) / 2,
                   boxHeight - ((hasImage ? kImageSlot : 0) + text.size.height() + s.top),
                   labelWidth, text.size.height()),
            boxHeight)));

  const QRect slot = widgetRect(flipY(
      QRectF((boxWidth - kImageSide) / 2, boxHeight - s.top - kImageSide, kImageSide, kImageSide),
      boxHeight));
  if (!image.isNull()) {
    auto* imageView = new QLabel(box);
    imageView->setAttribute(Qt::WA_TransparentForMouseEvents);
    imageView->setScaledContents(true);
    imageView->setPixmap(image);
    imageView->setGeometry(slot);
    box->imageView_ = imageView;
  } else if (!autoHide) {
    auto* spinner = new SpinningProgressIndicatorLayer(box);
    spinner->setNumFins(12);
    spinner->setForeColor(Qt::white);
    spinner->setGeometry(slot);
    spinner->startAnimation();
    box->spinner_ = spinner;
  }

  QWidget* shown = box;
  if (mask) {
    auto* veil = new HUDNoMouseView(view);
    veil->setObjectName("HUDNoMouseView");
    veil->setBackgroundColor(colorWithHex("#000000", 0.1));
    box->setParent(veil);
    shown = veil;
  } else {
    box->setParent(view);
  }
  box->centreInParent();
  box->QWidget::show();

  setViewOpacity(shown, 0.0);
  shown->QWidget::show();
  shown->raise();
  fade(shown, 1.0, nullptr);
  QPointer<QWidget> held(shown);
  shownList().append(held);

  if (autoHide) {
    dispatch::mainQueue()->postAfter(seconds(kAutoHideDelay), [held] {
      if (!held || viewOpacity(held) == 0) return;
      shownList().removeAll(held);
      fade(held, 0.0, [held] { removeShown(held); });
    });
  }
}

QList<QWidget*> FNHUD::shownHUDs() {
  QList<QWidget*> views;
  for (const QPointer<QWidget>& view : shownList()) {
    if (view) views << view.data();
  }
  return views;
}

bool FNHUD::event(QEvent* event) {
  if (event->type() == QEvent::ParentAboutToChange && parentWidget()) {
    parentWidget()->removeEventFilter(this);
  } else if (event->type() == QEvent::ParentChange && parentWidget()) {
    parentWidget()->installEventFilter(this);
  }
  return QWidget::event(event);
}

bool FNHUD::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) centreInParent();
  return QWidget::eventFilter(watched, event);
}

void FNHUD::centreInParent() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  move((parent->width() - width()) / 2, (parent->height() - height()) / 2);
}

void FNHUD::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), 6, 6);
  painter.fillPath(path, boxColor_);
}

}  // namespace vistrelle::ui
