#include "ui/orvex_home_new_view.h"

#include <QCursor>
#include <QLabel>

#include "device/display/display_configuration.h"
#include "ui/color_from_hex.h"
#include "ui/home_window.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui/qt_display_event_source.h"
#include "ui/rounded_color_view.h"
#include "ui/widget_text.h"

namespace vistrelle::ui {
namespace {

QLabel* makeLabel(QWidget* parent, const QString& text, const QRect& geometry, int pixelSize,
                  const QColor& colour, bool bold = false) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setFont(systemFont(pixelSize, bold));
  setTextColour(label, colour);
  return label;
}

}  // namespace

OrvexHomeNewView::OrvexHomeNewView(OrvexHomeNewViewController::Environment environment,
                                   QWidget* parent)
    : QWidget(parent) {
  setObjectName("OrvexHomeNewView");
  setFixedSize(HomeWindow::kWidth, HomeWindow::kHeight);
  outlets_[HomeOutlet::root] = this;
  const int width = HomeWindow::kWidth;

  auto* titleView = new RoundedColorView(this);
  titleView->setGeometry(0, 0, width, 56);
  makeLabel(titleView, localized("连接眼镜"), QRect(0, 12, width, 32), 18, Qt::black, true);
  outlets_[HomeOutlet::titleView] = titleView;

  auto* wiredBgView = new RoundedColorView(this);
  wiredBgView->setGeometry(20, 72, width - 40, 280);
  wiredBgView->setBackgroundColor(hexColor("#FFFFFF", 0.6));
  wiredBgView->setCornerRadius(10);
  outlets_[HomeOutlet::wiredBgView] = wiredBgView;
  auto* imageView = new QLabel(wiredBgView);
  imageView->setPixmap(ImageCatalog::pixmap("glasses", devicePixelRatioF()));
  imageView->setGeometry((wiredBgView->width() - 160) / 2, (wiredBgView->height() - 100) / 2, 160,
                         100);
  outlets_[HomeOutlet::imageView] = imageView;

  outlets_[HomeOutlet::tipsLabel0] = makeLabel(this, localized("请用数据线将眼镜连接到电脑"),
                                               QRect(30, 384, width - 60, 48), 17, Qt::black);
  outlets_[HomeOutlet::tipsLabel] =
      makeLabel(this, QString(), QRect(30, 436, width - 60, 44), 14, hexColor("#8E8E93"));

  // Over the tips: the connecting and error texts replace them.
  auto* connectBgView = new RoundedColorView(this);
  connectBgView->setGeometry(0, 368, width, 160);
  outlets_[HomeOutlet::connectBgView] = connectBgView;
  outlets_[HomeOutlet::connectingLabel] = makeLabel(connectBgView, localized("眼镜连接中…"),
                                                    QRect(30, 16, width - 60, 48), 17, Qt::black);
  outlets_[HomeOutlet::connectErrorLabel] = makeLabel(
      connectBgView, localized("连接失败"), QRect(30, 16, width - 60, 48), 17, hexColor("#FF3B30"));
  outlets_[HomeOutlet::connectErrorTipsLabel] =
      makeLabel(connectBgView, localized("眼镜上未能打开3D画面，请重新插拔眼镜后再试"),
                QRect(30, 68, width - 60, 48), 14, hexColor("#8E8E93"));

  if (!environment.displays) environment.displays = &device::DisplayConfiguration::shared();
  if (!environment.moveCursor) {
    environment.moveCursor = [](int x, int y) { QCursor::setPos(x, y); };
  }
  if (!environment.registerDisplayCallback) {
    device::DisplayConfiguration* displays = environment.displays;
    environment.registerDisplayCallback = [this,
                                           displays](DisplayReconfigurationCallback callback) {
      if (displayEvents_) return;
      displayEvents_ = new QtDisplayEventSource(
          std::move(callback),
          [displays](const std::string& output) { return displays->outputIdForName(output); },
          this);
    };
  }
  controller_ = std::make_unique<OrvexHomeNewViewController>(*this, std::move(environment));
}

OrvexHomeNewView::~OrvexHomeNewView() {
  // The display events reach the controller: they stop first.
  delete displayEvents_;
  controller_.reset();
}

void OrvexHomeNewView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  controller_->viewDidLoad();
}

QWidget* OrvexHomeNewView::outlet(HomeOutlet which) const {
  const auto found = outlets_.find(which);
  return found == outlets_.end() ? nullptr : found->second;
}

QLabel* OrvexHomeNewView::label(HomeOutlet which) const {
  return qobject_cast<QLabel*>(outlet(which));
}

void OrvexHomeNewView::setOutletHidden(HomeOutlet which, bool hidden) {
  if (QWidget* widget = outlet(which)) widget->setHidden(hidden);
}

void OrvexHomeNewView::setBackgroundColor(HomeOutlet which, const std::string& hex) {
  const QColor colour = colorFromHex(hex).value_or(QColor(Qt::white));
  if (which == HomeOutlet::root) {
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, colour);
    setPalette(background);
    return;
  }
  if (auto* view = qobject_cast<RoundedColorView*>(outlet(which))) view->setBackgroundColor(colour);
}

void OrvexHomeNewView::setTipsText(const std::string& text) {
  if (QLabel* tips = label(HomeOutlet::tipsLabel)) tips->setText(QString::fromStdString(text));
}

}  // namespace vistrelle::ui
