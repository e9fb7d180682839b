#pragma once

namespace vistrelle {

// What the status item's popover holds: nothing, the quick glasses controls
// (left click while glasses are connected) or the exit view (right click).
enum class PopoverContent { none, quickControls, exitView };

// The transient popover under the status item, as the delegate drives it; the
// Qt popover lives in ui/.  It closes by itself when the user clicks anywhere
// outside it.
class StatusPopover {
 public:
  virtual ~StatusPopover() = default;
  // Every exitView is a fresh view; the quick controls are one view kept for
  // the life of the process.
  virtual void setContent(PopoverContent content) = 0;
  virtual PopoverContent content() const = 0;
  // False for none, and for a content nobody has provided a view for.
  virtual bool hasContent() const = 0;
  // Shows the content at the status item's icon, else at the pointer; without
  // content nothing is shown.
  virtual void show() = 0;
  virtual void close() = 0;
  virtual bool isShown() const = 0;
};

}  // namespace vistrelle
