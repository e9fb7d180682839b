#include "device/protocol/companion_link.h"

namespace vistrelle::device {

CompanionLink& CompanionLink::none() {
  static CompanionLink link;
  return link;
}

}  // namespace vistrelle::device
