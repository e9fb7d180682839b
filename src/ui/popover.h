#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

#include "app/status_popover.h"
#include "ui/orvex_exit_app_view_controller.h"

namespace vistrelle {
class StatusItem;
}

namespace vistrelle::ui {

// The status item's popover: a frameless popup sized to its one content,
// placed at the icon (or the pointer where the tray does not say where the
// icon is).  A click anywhere outside it closes it.
class Popover final : public QWidget, public StatusPopover {
  Q_OBJECT

 public:
  // `quit` is what the exit view's button runs.
  Popover(const StatusItem* statusItem, std::function<void()> quit);
  ~Popover() override;

  // The quick controls, made once and kept (the popover takes the widget).
  void registerContent(PopoverContent content, QWidget* widget);

  void setContent(PopoverContent content) override;
  PopoverContent content() const override { return content_; }
  bool hasContent() const override { return contentWidget() != nullptr; }
  void show() override;
  void close() override;
  bool isShown() const override { return isVisible(); }

  QWidget* contentWidget() const;
  OrvexExitAppViewController* exitView() const { return exitView_; }

  // Where a popover of `size` goes for an icon at `anchor` (none: at
  // `cursor`): centred under the anchor when it is in the upper half of
  // `screen`, centred over it otherwise; then moved inside `available`.
  static QRect placement(QSize size, std::optional<QRect> anchor, QPoint cursor, QRect screen,
                         QRect available);

 protected:
  // While open, the popup gets the pointer's moves outside its content too.
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  const StatusItem* statusItem_;
  std::function<void()> quit_;
  PopoverContent content_ = PopoverContent::none;
  QPointer<QWidget> quickControls_;
  QPointer<OrvexExitAppViewController> exitView_;
};

}  // namespace vistrelle::ui
