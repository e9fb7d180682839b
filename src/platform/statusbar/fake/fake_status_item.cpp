#include "platform/statusbar/fake/fake_status_item.h"

namespace vistrelle {

bool FakeStatusItem::choose(const std::string& title) {
  for (const auto& entry : menu_) {
    if (entry.title == title) {
      if (entry.action) entry.action();
      return true;
    }
  }
  return false;
}

void FakeStatusItem::click(Click click) {
  if (clickHandler_) clickHandler_(click);
}

}  // namespace vistrelle
