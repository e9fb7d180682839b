#pragma once

#include <QFont>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/dispatch/delayed_task.h"
#include "ui/animator.h"
#include "ui/progress_hud_mask_type.h"
#include "ui/progress_hud_mode.h"
#include "ui/progress_hud_position.h"
#include "ui/progress_hud_style.h"
#include "ui/progress_indicator_layer.h"

namespace vistrelle::compositing {
class CompositingManager;
}

namespace vistrelle::ui {

class HUDLabel;

// The application's floating heads-up display: a rounded translucent box with
// a spinner, a progress ring, an information, success or error glyph and a
// status text, over a container view or, without one, in a window of its own
// over the first screen.  One shared instance serves the application; all of
// it runs on the main thread.  Of its class entry points the rest of the
// application uses showMessage(), which shows a toast instead.
//
// The box is laid out in coordinates that grow upward from the bottom of the
// HUD, as the panels measure, and converted to Qt's once (flipY).
//
// Its own window is frameless, stays on top and is translucent.  Where a
// compositing manager blends it with the desktop it covers the first screen,
// and while the mask is none only the box takes input, so clicks elsewhere
// reach the windows under it.  Where none runs, clear pixels would reach the
// screen as black, so the window covers only the box.
class ProgressHUD final : public QWidget {
  Q_OBJECT

 public:
  // Posted on the default notification centre, with no object.
  static constexpr std::string_view kWillAppear = "ProgressHUD.willAppear";
  static constexpr std::string_view kDidAppear = "ProgressHUD.didAppear";
  static constexpr std::string_view kWillDisappear = "ProgressHUD.willDisappear";
  static constexpr std::string_view kDidDisappear = "ProgressHUD.didDisappear";
  static constexpr std::string_view kDidReceiveMouseDownEvent =
      "ProgressHUD.didReceiveMouseDownEvent";

  // Hidden, fully transparent, in no view; its own window made and closed.
  ProgressHUD();
  ~ProgressHUD() override;

  // The process-wide instance, made at first use; it lives for the process.
  static ProgressHUD* shared();

  // --- Class entry points, on the shared instance ---

  // Main thread only (anywhere else stops the program): style custom(white,
  // "#7c7c7c"), mask none with `noMask` else black at 0.2, container `view`
  // (none: the own window), then show(status, indeterminate).
  static void showLoading(const QString& status, QWidget* view, bool noMask);
  // FNHUD's loading HUD, masked unless `noMask`, and its hide.  On the main
  // queue when called from elsewhere.
  static void showLoadingFNHUD(const QString& status, QWidget* view, bool noMask);
  static void hideFNHUD();
  // From any thread, all of it on the main queue: style custom(white,
  // "#525252"), mask and container as showLoading; progress 1.0 or more hides
  // the HUD, anything less shows the determinate ring at that progress.  A
  // view destroyed before the main queue gets there shows nothing.
  static void showProgressLoading(const QString& status, QWidget* view, bool noMask,
                                  double progress);
  // Safe from any thread: on the main queue, shows `message` as a key-window
  // toast (showKeyWindowToast).  Without a view, or when the view is gone by
  // then, nothing is shown.
  static void showMessage(const QString& message, QWidget* view);
  // From any thread: on the main queue, hide(true).
  static void hide();

  // --- Fields ---
  // (`style` and `size` are hudStyle and hudSize: QWidget has both names;
  // the status font is the widget's font().)

  const ProgressHUDStyle& hudStyle() const { return style_; }
  void setHudStyle(const ProgressHUDStyle& style);
  const ProgressHUDMaskType& maskType() const { return maskType_; }
  void setMaskType(const ProgressHUDMaskType& maskType);
  ProgressHUDPosition position() const { return position_; }
  void setPosition(ProgressHUDPosition position);
  // None: the HUD's own window.  A view destroyed meanwhile stays a
  // container that is missing, so show() then does nothing.
  QWidget* containerView() const { return containerView_; }
  void setContainerView(QWidget* view);
  double opacity() const { return opacity_; }
  void setOpacity(double opacity);
  double spinnerSize() const { return spinnerSize_; }
  void setSpinnerSize(double size);
  double margin() const { return margin_; }
  void setMargin(double margin);
  double padding() const { return padding_; }
  void setPadding(double padding);
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  bool dismissible() const { return dismissible_; }
  void setDismissible(bool dismissible) { dismissible_ = dismissible; }
  const ProgressHUDMode& mode() const { return mode_; }
  QWidget* indicator() const { return indicator_; }
  ProgressIndicatorLayer* progressIndicator() const { return progressIndicator_; }
  QSizeF hudSize() const { return size_; }
  bool useAnimation() const { return useAnimation_; }
  void setUseAnimation(bool animated) { useAnimation_ = animated; }
  HUDLabel* statusLabel() const { return statusLabel_; }
  const std::function<void()>& completionHandler() const { return completionHandler_; }
  void setCompletionHandler(std::function<void()> handler) {
    completionHandler_ = std::move(handler);
  }
  double progress() const { return progress_; }
  // Redraws the ring.
  void setProgress(double progress);
  // Kept for timed dismissal, which nothing performs.
  double minimumDismissTimeInterval() const { return minimumDismissTimeInterval_; }
  void setMinimumDismissTimeInterval(double seconds) { minimumDismissTimeInterval_ = seconds; }
  double maximumDismissTimeInterval() const { return maximumDismissTimeInterval_; }
  void setMaximumDismissTimeInterval(double seconds) { maximumDismissTimeInterval_ = seconds; }
  QWidget* ownWindow() const { return ownWindow_.get(); }

  // Asked at each show in the own window; by default the X11 check on the
  // xcb platform, always on Wayland, never elsewhere.
  void setCompositingManager(std::shared_ptr<compositing::CompositingManager> manager);

  // --- Instance operations ---

  // The container when one was given (the own window closes), else the own
  // window, shown over the first screen.  None without a screen or when the
  // given container is gone.
  QWidget* hudContainerView();
  // Shows `status` in `mode`: in the container (a hidden HUD gets a fresh
  // spinner; a shown one keeps its own), animated.  No container: nothing.
  void show(const QString& status, const ProgressHUDMode& mode);
  void setStatus(const QString& text);
  void updateIndicators();
  // willAppear; fades in over 0.2 s (or at once), then didAppear.
  void showHUDView(bool animated);
  // willDisappear; cancels pending delayed hides; fades out over 0.2 s (or
  // at once), then tearDown().
  void hide(bool animated);
  // Without a spinner (never shown, or already torn down) nothing.  Else: the
  // spinner stops and goes, the HUD leaves its view, indicator and text go,
  // the own window closes, then completionHandler and didDisappear.
  void tearDown();
  // Hides, animated unless `argument` is the number 0.
  void hideDelayed(std::optional<double> argument);
  // hideDelayed(argument) after `seconds` on the main queue, unless a hide
  // comes first.
  void performHideDelayed(std::optional<double> argument, double seconds);
  void layoutHUD();

  // The laid-out box and glyph square, in the HUD's coordinates.
  QRectF boxRect() const { return boxRect_; }
  QRectF glyphRect() const { return glyphRect_; }
  // The alpha the fades move (1 shown, 0 hidden).
  double alpha() const { return alpha_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void drawProgress(QPainter& painter, const QRectF& square) const;
  void drawInfo(QPainter& painter, const QRectF& square) const;
  void drawSuccess(QPainter& painter, const QRectF& square) const;
  void drawError(QPainter& painter, const QRectF& square) const;

  void relayout();
  void setAlpha(double alpha);
  void applyMouseRouting();
  void attachTo(QWidget* container);
  void watchParent();
  void parentDestroyed();
  void receivedMouseDown();
  void releaseIndicator();
  void placeOwnWindow();
  QSize frameSize() const;
  compositing::CompositingManager& compositingManager();

  ProgressHUDStyle style_ = ProgressHUDStyle::light();
  ProgressHUDMaskType maskType_ = ProgressHUDMaskType::none();
  ProgressHUDPosition position_ = ProgressHUDPosition::center;
  QPointer<QWidget> containerView_;
  bool containerGiven_ = false;
  double opacity_ = 0.9;
  double spinnerSize_ = 40;
  double margin_ = 18;
  double padding_ = 4;
  double cornerRadius_ = 10;
  bool dismissible_ = false;
  ProgressHUDMode mode_ = ProgressHUDMode::indeterminate();
  QPointer<QWidget> indicator_;
  bool ownsIndicator_ = false;
  QPointer<ProgressIndicatorLayer> progressIndicator_;
  QSizeF size_{0, 0};
  bool useAnimation_ = true;
  HUDLabel* statusLabel_;
  std::function<void()> completionHandler_;
  double progress_ = 0;
  double minimumDismissTimeInterval_ = 2.0;
  double maximumDismissTimeInterval_ = 5.0;
  std::unique_ptr<QWidget> ownWindow_;

  double alpha_ = 0;
  Animator fade_;
  std::vector<dispatch::DelayedTask> delayedHides_;
  QRectF boxRect_;
  QRectF glyphRect_;
  bool compositing_ = false;
  std::shared_ptr<compositing::CompositingManager> compositingManager_;
  QPointer<QWidget> watchedParent_;
  QMetaObject::Connection parentDestroyed_;
  bool watchingPresses_ = false;
};

}  // namespace vistrelle::ui
