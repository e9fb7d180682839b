#include "device/protocol/immersion_store.h"

namespace vistrelle::device {

ImmersionStore& ImmersionStore::none() {
  static ImmersionStore store;
  return store;
}

}  // namespace vistrelle::device
