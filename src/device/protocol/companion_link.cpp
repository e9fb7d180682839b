#include "device/protocol/companion_link.h"

namespace vistrelle::device {

std::shared_ptr<CompanionLink> CompanionLink::none() {
  // Never destroyed: a HID thread still parsing at exit may hold it.
  static const auto* link = new std::shared_ptr<CompanionLink>(std::make_shared<CompanionLink>());
  return *link;
}

}  // namespace vistrelle::device
