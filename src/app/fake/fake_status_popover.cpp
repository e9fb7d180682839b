#include "app/fake/fake_status_popover.h"

namespace vistrelle {

const char* toString(PopoverContent content) {
  switch (content) {
    case PopoverContent::none:
      return "none";
    case PopoverContent::quickControls:
      return "quickControls";
    case PopoverContent::exitView:
      return "exitView";
  }
  return "?";
}

void FakeStatusPopover::setContent(PopoverContent content) {
  content_ = content;
  if (content == PopoverContent::exitView) ++exitViewsMade_;
  calls_.push_back(std::string("content:") + toString(content));
}

void FakeStatusPopover::show() {
  calls_.push_back("show");
  // As the real one: nothing is shown without content.
  if (hasContent()) shown_ = true;
}

void FakeStatusPopover::close() {
  calls_.push_back("close");
  shown_ = false;
}

}  // namespace vistrelle
