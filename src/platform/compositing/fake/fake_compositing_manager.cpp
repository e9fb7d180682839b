#include "platform/compositing/fake/fake_compositing_manager.h"

namespace vistrelle::compositing {

bool FakeCompositingManager::isActive() {
  ++queries_;
  return active_;
}

}  // namespace vistrelle::compositing
