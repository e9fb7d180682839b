#include "ui/progress_hud.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/compositing/compositing_manager.h"
#include "platform/dispatch/runtime.h"
#include "platform/notify/notification_center.h"
#include "ui/color_from_hex.h"
#include "ui/fade_animations.h"
#include "ui/fnhud.h"
#include "ui/hud_label.h"
#include "ui/light_palette.h"
#include "ui/progress_indicator_layer.h"
#include "ui/toast.h"

namespace vistrelle::ui {

namespace {

constexpr dispatch::Nanos kFade{200'000'000};

void post(std::string_view name) {
  NotificationCenter::defaultCenter().post(std::string(name));
}

dispatch::Nanos seconds(double value) {
  if (!std::isfinite(value) || value < 0) value = 0;
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(value));
}

// A programming error: the caller broke the entry point's contract.
void requireMainThread(const char* entry) {
  if (dispatch::mainQueue()->isCurrent()) return;
  std::fprintf(stderr, "ProgressHUD::%s must be called on the main thread\n", entry);
  std::abort();
}

// Runs `task` at once on the main thread, else posts it to the main queue.
void onMainQueue(std::function<void()> task) {
  if (dispatch::mainQueue()->isCurrent()) {
    task();
  } else {
    dispatch::mainQueue()->post(std::move(task));
  }
}

ProgressHUDMaskType maskFor(bool noMask) {
  return noMask ? ProgressHUDMaskType::none() : ProgressHUDMaskType::custom(QColor(0, 0, 0, 51));
}

}  // namespace

ProgressHUD::ProgressHUD() : QWidget(nullptr), statusLabel_(new HUDLabel(this)) {
  setObjectName("ProgressHUD");
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setFont(systemFont(15));
  setAlpha(0);
  QWidget::setVisible(false);
  statusLabel_->setTextFlags(Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap);
  statusLabel_->setGeometry(0, 0, 0, 0);
  applyMouseRouting();

  ownWindow_ = std::make_unique<QWidget>(
      nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
  ownWindow_->setObjectName("ProgressHUD window");
  ownWindow_->setWindowTitle("ProgressHUD");
  ownWindow_->setAttribute(Qt::WA_TranslucentBackground);
  ownWindow_->setAttribute(Qt::WA_ShowWithoutActivating);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ownWindow_->setGeometry((screens.isEmpty() ? screen : screens.first())->geometry());
  }
}

ProgressHUD::~ProgressHUD() {
  fade_.stop();
  for (auto& pending : delayedHides_) pending.cancel();
  if (watchingPresses_ && qApp) qApp->removeEventFilter(this);
  if (watchedParent_) watchedParent_->removeEventFilter(this);
  QObject::disconnect(parentDestroyed_);
  // The own window must not take this HUD down with it.
  if (parentWidget() == ownWindow_.get()) setParent(nullptr);
  if (indicator_ && !ownsIndicator_) {
    indicator_->hide();
    indicator_->setParent(nullptr);
  }
}

ProgressHUD* ProgressHUD::shared() {
  // Made on the main thread at first use and never destroyed: widgets may
  // not outlive the application object, and this one lives for the process.
  static QPointer<ProgressHUD>* instance = new QPointer<ProgressHUD>;
  if (!*instance) *instance = new ProgressHUD;
  return *instance;
}

// --- Class entry points ---

void ProgressHUD::showLoading(const QString& status, QWidget* view, bool noMask) {
  requireMainThread("showLoading");
  ProgressHUD* hud = shared();
  hud->setHudStyle(ProgressHUDStyle::custom(Qt::white, hexColor("#7c7c7c", 1.0)));
  hud->setMaskType(maskFor(noMask));
  hud->setContainerView(view);
  hud->show(status, ProgressHUDMode::indeterminate());
}

void ProgressHUD::showLoadingFNHUD(const QString& status, QWidget* view, bool noMask) {
  QPointer<QWidget> target(view);
  const bool given = view != nullptr;
  onMainQueue([status, target, given, noMask] {
    if (given && !target) return;
    FNHUD::showLoading(status, !noMask, target);
  });
}

void ProgressHUD::hideFNHUD() {
  onMainQueue([] { FNHUD::hide(); });
}

void ProgressHUD::showProgressLoading(const QString& status, QWidget* view, bool noMask,
                                      double progress) {
  // All of it on the main queue: the shared HUD's style, mask and container
  // are what the main thread draws from.
  QPointer<QWidget> target(view);
  const bool given = view != nullptr;
  dispatch::mainQueue()->post([status, target, given, noMask, progress] {
    ProgressHUD* hud = shared();
    hud->setHudStyle(ProgressHUDStyle::custom(Qt::white, hexColor("#525252", 1.0)));
    hud->setMaskType(maskFor(noMask));
    if (given && !target) {
      // The caller's view is gone: no HUD in a window the caller never asked
      // for, but a finished progress still hides it.
      if (progress >= 1.0) ProgressHUD::hide();
      return;
    }
    hud->setContainerView(target);
    if (progress >= 1.0) {
      ProgressHUD::hide();
      return;
    }
    hud->show(status, ProgressHUDMode::determinate());
    hud->setProgress(progress);
  });
}

void ProgressHUD::showMessage(const QString& message, QWidget* view) {
  if (!view) return;
  // Held weakly: the view may be destroyed before the main queue gets here.
  QPointer<QWidget> target(view);
  dispatch::mainQueue()->post([message, target] {
    if (target) showKeyWindowToast(message, target);
  });
}

void ProgressHUD::hide() {
  dispatch::mainQueue()->post([] { shared()->hide(true); });
}

// --- Fields ---

void ProgressHUD::setHudStyle(const ProgressHUDStyle& style) {
  style_ = style;
  update();
}

void ProgressHUD::setMaskType(const ProgressHUDMaskType& maskType) {
  maskType_ = maskType;
  applyMouseRouting();
  relayout();
}

void ProgressHUD::setPosition(ProgressHUDPosition position) {
  position_ = position;
  relayout();
}

void ProgressHUD::setContainerView(QWidget* view) {
  containerView_ = view;
  containerGiven_ = view != nullptr;
}

void ProgressHUD::setOpacity(double opacity) {
  opacity_ = opacity;
  update();
}

void ProgressHUD::setSpinnerSize(double size) {
  spinnerSize_ = size;
  relayout();
}

void ProgressHUD::setMargin(double margin) {
  margin_ = margin;
  relayout();
}

void ProgressHUD::setPadding(double padding) {
  padding_ = padding;
  relayout();
}

void ProgressHUD::setCornerRadius(double radius) {
  cornerRadius_ = radius;
  relayout();
}

void ProgressHUD::setProgress(double progress) {
  progress_ = progress;
  relayout();
}

void ProgressHUD::setCompositingManager(std::shared_ptr<compositing::CompositingManager> manager) {
  compositingManager_ = std::move(manager);
}

compositing::CompositingManager& ProgressHUD::compositingManager() {
  if (!compositingManager_) {
    const QString platform = QGuiApplication::platformName();
    if (platform == "xcb") compositingManager_ = compositing::CompositingManager::x11();
    if (platform.startsWith("wayland")) {
      compositingManager_ = compositing::CompositingManager::fixed(true);
    }
    if (!compositingManager_) compositingManager_ = compositing::CompositingManager::fixed(false);
  }
  return *compositingManager_;
}

// --- Showing and hiding ---

QWidget* ProgressHUD::hudContainerView() {
  if (containerGiven_) {
    ownWindow_->hide();
    return containerView_;
  }
  if (QGuiApplication::screens().isEmpty()) return nullptr;
  compositing_ = compositingManager().isActive();
  placeOwnWindow();
  ownWindow_->show();
  return ownWindow_.get();
}

void ProgressHUD::show(const QString& status, const ProgressHUDMode& mode) {
  QWidget* container = hudContainerView();
  if (!container) return;
  mode_ = mode;
  if (isHidden()) {
    delete progressIndicator_;
    progressIndicator_ = new ProgressIndicatorLayer(style_.foregroundColor(), spinnerSize_, this);
    progressIndicator_->QWidget::hide();
    attachTo(container);
  }
  // A shown HUD follows a new container rather than stay in the old one,
  // where it would be left invisible (own window closed) or under a window
  // that covers the screen with nothing in it.
  if (parentWidget() != container) attachTo(container);
  if (!watchingPresses_) {
    qApp->installEventFilter(this);
    watchingPresses_ = true;
  }
  updateIndicators();
  setStatus(status);
  showHUDView(true);
}

void ProgressHUD::attachTo(QWidget* container) {
  setParent(container);
  raise();
  layoutHUD();
}

void ProgressHUD::setStatus(const QString& text) {
  statusLabel_->setTextColor(style_.foregroundColor());
  statusLabel_->setFont(font());
  statusLabel_->setText(text);
  relayout();
}

void ProgressHUD::releaseIndicator() {
  QWidget* old = indicator_;
  indicator_ = nullptr;
  if (!old) return;
  // The spinner outlives the view that held it.
  if (progressIndicator_ && progressIndicator_->parentWidget() == old) {
    progressIndicator_->QWidget::hide();
    progressIndicator_->setParent(this);
  }
  if (ownsIndicator_) {
    delete old;
  } else {
    // A caller's view goes back to the caller.
    old->QWidget::hide();
    old->setParent(nullptr);
  }
  ownsIndicator_ = false;
}

void ProgressHUD::updateIndicators() {
  releaseIndicator();
  switch (mode_.kind()) {
    case ProgressHUDMode::Kind::indeterminate: {
      if (!progressIndicator_) {
        progressIndicator_ =
            new ProgressIndicatorLayer(style_.foregroundColor(), spinnerSize_, this);
      }
      const int side = static_cast<int>(std::lround(std::max(0.0, spinnerSize_)));
      auto* view = new QWidget(this);
      view->setObjectName("ProgressHUD spinner view");
      view->resize(side, side);
      progressIndicator_->setParent(view);
      progressIndicator_->setGeometry(0, 0, side, side);
      progressIndicator_->setFposition(progressIndicator_->numFins() - 1);
      progressIndicator_->QWidget::show();
      progressIndicator_->update();
      progressIndicator_->startAnimation();
      indicator_ = view;
      ownsIndicator_ = true;
      view->show();
      break;
    }
    case ProgressHUDMode::Kind::custom:
      if (QWidget* view = mode_.view()) {
        view->setParent(this);
        view->show();
        indicator_ = view;
        ownsIndicator_ = false;
      }
      break;
    default:
      break;
  }
  relayout();
}

void ProgressHUD::setAlpha(double alpha) {
  alpha_ = alpha;
  if (alpha >= 1.0) {
    // Fully shown, the HUD (a whole screen in its own window) is drawn
    // directly rather than through an effect's off-screen copy at every
    // spinner step.
    setGraphicsEffect(nullptr);
    return;
  }
  setViewOpacity(this, alpha);
}

void ProgressHUD::showHUDView(bool animated) {
  post(kWillAppear);
  useAnimation_ = animated;
  update();
  // Never as a window of its own: only inside a container or the own window.
  if (parentWidget()) {
    QWidget::setVisible(true);
    raise();
  }
  if (animated) {
    QPointer<ProgressHUD> self(this);
    fade_.start(alpha_, 1.0, kFade, dispatch::Nanos(0),
                {nullptr,
                 [self](double value) {
                   if (self) self->setAlpha(value);
                 },
                 [](bool finished) {
                   // An appearance cut short by a hide never completed.
                   if (finished) post(kDidAppear);
                 }});
  } else {
    fade_.stop();
    setAlpha(1.0);
    post(kDidAppear);
  }
}

void ProgressHUD::hide(bool animated) {
  post(kWillDisappear);
  useAnimation_ = animated;
  for (auto& pending : delayedHides_) pending.cancel();
  delayedHides_.clear();
  if (animated) {
    QPointer<ProgressHUD> self(this);
    fade_.start(alpha_, 0.0, kFade, dispatch::Nanos(0),
                {nullptr,
                 [self](double value) {
                   if (self) self->setAlpha(value);
                 },
                 [self](bool finished) {
                   // A show during the fade takes over: no tear-down then.
                   if (finished && self) self->tearDown();
                 }});
  } else {
    fade_.stop();
    setAlpha(0.0);
    tearDown();
  }
}

void ProgressHUD::tearDown() {
  if (!progressIndicator_) return;
  progressIndicator_->stopAnimation();
  setAlpha(0.0);
  QWidget::setVisible(false);
  setParent(nullptr);
  releaseIndicator();
  statusLabel_->setText(QString());
  ownWindow_->hide();
  // The next show builds a fresh spinner; a second hide finds none and ends
  // before announcing a disappearance that already happened.
  delete progressIndicator_;
  if (watchingPresses_) {
    qApp->removeEventFilter(this);
    watchingPresses_ = false;
  }
  // Last, so that a handler may show the HUD again.
  if (std::function<void()> handler = completionHandler_) handler();
  post(kDidDisappear);
}

void ProgressHUD::hideDelayed(std::optional<double> argument) {
  for (auto& pending : delayedHides_) pending.cancel();
  delayedHides_.clear();
  const bool animated = !argument || *argument != 0;
  hide(animated);
}

void ProgressHUD::performHideDelayed(std::optional<double> argument, double delay) {
  QPointer<ProgressHUD> self(this);
  delayedHides_.push_back(dispatch::mainQueue()->postAfter(seconds(delay), [self, argument] {
    if (self) self->hideDelayed(argument);
  }));
}

// --- Input ---

void ProgressHUD::applyMouseRouting() {
  // With no mask, presses go to what lies behind; the press is still seen
  // (eventFilter) and announced.
  setAttribute(Qt::WA_TransparentForMouseEvents,
               maskType_.kind() == ProgressHUDMaskType::Kind::none);
}

void ProgressHUD::mousePressEvent(QMouseEvent* event) {
  // Only reached with a mask: the press stops here (announced by the
  // window's filter).
  event->accept();
}

void ProgressHUD::receivedMouseDown() {
  post(kDidReceiveMouseDownEvent);
  if (!dismissible_) return;
  QPointer<ProgressHUD> self(this);
  dispatch::mainQueue()->post([self] {
    if (self) self->hide(self->useAnimation_);
  });
}

bool ProgressHUD::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) watchParent();
  return QWidget::event(event);
}

void ProgressHUD::watchParent() {
  if (watchedParent_) watchedParent_->removeEventFilter(this);
  QObject::disconnect(parentDestroyed_);
  watchedParent_ = parentWidget();
  if (!watchedParent_) return;
  watchedParent_->installEventFilter(this);
  parentDestroyed_ =
      connect(watchedParent_, &QObject::destroyed, this, [this] { parentDestroyed(); });
}

void ProgressHUD::parentDestroyed() {
  // The container goes before its children: this HUD leaves it instead of
  // going with it, and is hidden at once.
  setParent(nullptr);
  if (progressIndicator_) hide(false);
}

bool ProgressHUD::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedParent_ && event->type() == QEvent::Resize) {
    relayout();
  } else if (event->type() == QEvent::MouseButtonPress && watched->isWindowType() && isVisible()) {
    // Every press the window system gives this HUD's window, before Qt
    // hands it to a widget: with no mask the widget is one behind the HUD.
    QWidget* top = window();
    if (top && top != this && top->windowHandle() == watched) {
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      const bool takesInput = top->mask().isEmpty() || top->mask().contains(at);
      if (takesInput && rect().contains(mapFrom(top, at))) receivedMouseDown();
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vistrelle::ui
