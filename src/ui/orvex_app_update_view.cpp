#include "ui/orvex_app_update_view.h"

#include <QLabel>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/hud_no_mouse_view.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui/rounded_color_view.h"
#include "ui/widget_text.h"

namespace vistrelle::ui {
namespace {

// Panels are centred across the sheet, 320 wide.
constexpr int kPanelWidth = 320;
constexpr int kPanelX = (OrvexAppUpdateView::kWidth - kPanelWidth) / 2;
constexpr int kButtonWidth = 128;
constexpr int kButtonHeight = 40;
constexpr int kTrackWidth = 240;
constexpr int kTrackHeight = 4;

QLabel* centredLabel(QWidget* parent, const char* name, int y, int height, const QFont& font) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setGeometry(0, y, kPanelWidth, height);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(font);
  return label;
}

RoundedColorView* panelView(QWidget* parent, const char* name, int y, int height) {
  auto* view = new RoundedColorView(parent);
  view->setObjectName(name);
  view->setGeometry(kPanelX, y, kPanelWidth, height);
  view->setBackgroundColor(hexColor("#FFFFFF"));
  view->setCornerRadius(20);
  // A click on a panel is the sheet's, whatever the layer under it does.
  view->setAttribute(Qt::WA_NoMousePropagation);
  return view;
}

FlatButton* button(QWidget* parent, const char* name, const char* title, const char* tint,
                   const char* background, QRect geometry) {
  auto* control = new FlatButton(localized(title), parent);
  control->setObjectName(name);
  control->setGeometry(geometry);
  control->setFont(systemFont(14));
  control->setTitleColor(hexColor(tint));
  control->setBackgroundColor(hexColor(background));
  control->setCornerRadius(10);
  control->setCursor(Qt::PointingHandCursor);
  return control;
}

}  // namespace

OrvexAppUpdateView::OrvexAppUpdateView(bool hideInteractions, std::function<QWidget*()> superview)
    : QWidget(nullptr), superview_(std::move(superview)) {
  setObjectName("OrvexAppUpdateView");
  resize(kWidth, kHeight);

  interactionsView_ = new HUDNoMouseView(this);
  interactionsView_->setGeometry(0, 0, kWidth, kHeight);

  // Panel 1: the offer.
  updateBgView_ = panelView(this, "updateBgView", 110, 400);
  tipsLabel1_ = centredLabel(updateBgView_, "tipsLabel1", 28, 28, systemFont(20, true));
  versionLabel_ = centredLabel(updateBgView_, "versionLabel", 62, 20, systemFont(14));
  textView_ = new QTextEdit(updateBgView_);
  textView_->setObjectName("textView");
  textView_->setGeometry(24, 100, kPanelWidth - 48, 220);
  cancelButton_ = button(updateBgView_, "cancelButton", "取消", "#000000", "#F5F5F5",
                         QRect(24, 340, kButtonWidth, kButtonHeight));
  updateButton_ = button(updateBgView_, "updateButton", "立即下载", "#FFFFFF", "#007BFF",
                         QRect(kPanelWidth - 24 - kButtonWidth, 340, kButtonWidth, kButtonHeight));

  // Panel 2: the download.
  updateProgressBgView_ = panelView(this, "updateProgressBgView", 200, 220);
  tipsLabel2_ = centredLabel(updateProgressBgView_, "tipsLabel2", 28, 28, systemFont(20, true));
  versionLabel2_ = centredLabel(updateProgressBgView_, "versionLabel2", 62, 20, systemFont(14));
  const int trackX = (kPanelWidth - kTrackWidth) / 2;
  percentMaxView_ = new RoundedColorView(updateProgressBgView_);
  percentMaxView_->setObjectName("percentMaxView");
  percentMaxView_->setGeometry(trackX, 110, kTrackWidth, kTrackHeight);
  percentMinView_ = new RoundedColorView(updateProgressBgView_);
  percentMinView_->setObjectName("percentMinView");
  percentMinView_->setGeometry(trackX, 110, 0, kTrackHeight);
  percentLabel_ = centredLabel(updateProgressBgView_, "percentLabel", 122, 20, systemFont(12));
  cancelButton2_ =
      button(updateProgressBgView_, "cancelButton2", "取消", "#000000", "#F5F5F5",
             QRect((kPanelWidth - kButtonWidth) / 2, 156, kButtonWidth, kButtonHeight));

  // Panel 3: the result.
  updateStatusBgView_ = panelView(this, "updateStatusBgView", 110, 400);
  tipsLabel3_ = centredLabel(updateStatusBgView_, "tipsLabel3", 28, 28, systemFont(20, true));
  versionLabel3_ = centredLabel(updateStatusBgView_, "versionLabel3", 62, 20, systemFont(14));
  updateStatusImageView_ = new QLabel(updateStatusBgView_);
  updateStatusImageView_->setObjectName("updateStatusImageView");
  updateStatusImageView_->setGeometry((kPanelWidth - 120) / 2, 92, 120, 120);
  updateStatusImageView_->setAlignment(Qt::AlignCenter);
  installFailureLabel_ = new QLabel(updateStatusBgView_);
  installFailureLabel_->setObjectName("installFailureLabel");
  // Room for a long path over five lines.
  installFailureLabel_->setGeometry(24, 216, kPanelWidth - 48, 74);
  installFailureLabel_->setAlignment(Qt::AlignCenter);
  installFailureLabel_->setWordWrap(true);
  installFailureLabel_->setFont(systemFont(12));
  installFailureLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette failurePalette = installFailureLabel_->palette();
  failurePalette.setColor(QPalette::WindowText, hexColor("#000000", 0.6));
  installFailureLabel_->setPalette(failurePalette);
  openFolderButton_ = button(updateStatusBgView_, "openFolderButton", "打开所在文件夹", "#007BFF",
                             "#FFFFFF", QRect(24, 292, kPanelWidth - 48, 28));
  openFolderButton_->setFont(systemFont(13));
  statusButton_ = button(updateStatusBgView_, "statusButton", "安装", "#ffffff", "#007BFF",
                         QRect((kPanelWidth - kButtonWidth) / 2, 330, kButtonWidth, kButtonHeight));

  awakeFromNib();
  interactionsView_->setHidden(hideInteractions);

  QObject::connect(cancelButton_, &QPushButton::clicked, this,
                   [this] { cancenButtonClick(cloud::CancelButton::offer); });
  QObject::connect(cancelButton2_, &QPushButton::clicked, this,
                   [this] { cancenButtonClick(cloud::CancelButton::downloading); });
  QObject::connect(updateButton_, &QPushButton::clicked, this, [this] { updateButtonClick(); });
  QObject::connect(statusButton_, &QPushButton::clicked, this, [this] { statusButtonClick(); });
  QObject::connect(openFolderButton_, &QPushButton::clicked, this, [this] {
    if (actions_) actions_->openFolderClick();
  });
}

void OrvexAppUpdateView::awakeFromNib() {
  showPanel(Panel::offer);
  tipsLabel1_->setText(localized("发现新版本"));
  tipsLabel2_->setText(localized("正在下载"));
  tipsLabel3_->setText(localized("下载成功"));

  // The notes: transparent, no scroll bars (the wheel still scrolls).
  textView_->setReadOnly(true);
  textView_->setFrameShape(QFrame::NoFrame);
  textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  textView_->viewport()->setAutoFillBackground(false);
  textView_->setAutoFillBackground(false);
  QPalette notesPalette = textView_->palette();
  notesPalette.setColor(QPalette::Base, Qt::transparent);
  notesPalette.setColor(QPalette::Text, hexColor("#000000", 0.6));
  textView_->setPalette(notesPalette);
  textView_->setFont(systemFont(12));
  setNotes(QString());

  percentMaxView_->setCornerRadius(2);
  percentMaxView_->setBackgroundColor(hexColor("#000000", 0.1));
  percentMinView_->setCornerRadius(2);
  percentMinView_->setBackgroundColor(hexColor("#007BFF"));
  setPercentFillWidth(0);

  setResultImage("update-dfu-success");
  setInstallFailure("");
}

std::shared_ptr<cloud::UpdateSheet> OrvexAppUpdateView::loadFromNib(
    bool hideInteractions, std::function<QWidget*()> superview) {
  auto* view = new OrvexAppUpdateView(hideInteractions, std::move(superview));
  QPointer<OrvexAppUpdateView> alive(view);
  return std::shared_ptr<cloud::UpdateSheet>(view, [alive](cloud::UpdateSheet*) {
    if (alive) alive->deleteLater();
  });
}

void OrvexAppUpdateView::show() {
  QWidget* superview = superview_ ? superview_() : nullptr;
  if (!superview) return;
  setParent(superview);
  setGeometry(0, 0, kWidth, kHeight);
  raise();
  QWidget::show();
}

void OrvexAppUpdateView::remove() {
  hide();
  setParent(nullptr);
}

bool OrvexAppUpdateView::isShown() const {
  return parentWidget() != nullptr && !isHidden();
}

void OrvexAppUpdateView::showPanel(Panel panel) {
  panel_ = panel;
  updateBgView_->setVisible(panel == Panel::offer);
  updateProgressBgView_->setVisible(panel == Panel::downloading);
  updateStatusBgView_->setVisible(panel == Panel::result);
}

void OrvexAppUpdateView::setVersion(const std::string& releaseNote, const std::string& version) {
  const QString text = "V" + QString::fromStdString(version);
  versionLabel_->setText(text);
  versionLabel2_->setText(text);
  versionLabel3_->setText(text);
  setNotes(QString::fromStdString(releaseNote));
}

void OrvexAppUpdateView::setNotes(const QString& text) {
  QTextDocument* document = textView_->document();
  document->clear();
  QTextBlockFormat block;
  block.setLineHeight(5, QTextBlockFormat::LineDistanceHeight);
  QTextCharFormat characters;
  characters.setFont(systemFont(12));
  characters.setForeground(hexColor("#000000", 0.6));
  QTextCursor cursor(document);
  cursor.setBlockFormat(block);
  cursor.setBlockCharFormat(characters);
  // Every line a block of its own, each in the notes style.
  cursor.insertText(text, characters);
}

double OrvexAppUpdateView::percentTrackWidth() const {
  return percentMaxView_->width();
}

void OrvexAppUpdateView::setPercentFillWidth(double width) {
  const int pixels = std::clamp(static_cast<int>(std::lround(width)), 0, percentMaxView_->width());
  percentMinView_->resize(pixels, percentMinView_->height());
}

void OrvexAppUpdateView::setResultTitle(const std::string& text) {
  tipsLabel3_->setText(QString::fromStdString(text));
}

void OrvexAppUpdateView::setResultImage(const std::string& imageName) {
  statusImageName_ = QString::fromStdString(imageName);
  updateStatusImageView_->setPixmap(ImageCatalog::pixmap(statusImageName_, devicePixelRatioF()));
}

void OrvexAppUpdateView::setStatusButtonTitle(const std::string& title) {
  statusButton_->setText(QString::fromStdString(title));
}

std::string OrvexAppUpdateView::statusButtonTitle() const {
  return statusButton_->text().toStdString();
}

void OrvexAppUpdateView::setInstallFailure(const std::string& text) {
  installFailureLabel_->setText(QString::fromStdString(text));
  installFailureLabel_->setVisible(!text.empty());
  openFolderButton_->setVisible(!text.empty());
}

void OrvexAppUpdateView::cancenButtonClick(cloud::CancelButton sender) {
  if (actions_) actions_->cancenButtonClick(sender);
}

void OrvexAppUpdateView::updateButtonClick() {
  if (actions_) actions_->updateButtonClick();
}

void OrvexAppUpdateView::statusButtonClick() {
  if (actions_) actions_->statusButtonClick();
}

void OrvexAppUpdateView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), hexColor(kVeilHex, kVeilAlpha));
}

}  // namespace vistrelle::ui
