#include "platform/statusbar/fake/fake_status_item.h"

namespace vistrelle {

void FakeStatusItem::click(Click click) {
  if (clickHandler_) clickHandler_(click);
}

}  // namespace vistrelle
