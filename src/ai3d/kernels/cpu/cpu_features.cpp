#include "ai3d/kernels/cpu/cpu_features.h"

namespace vistrelle::ai3d {

bool cpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("f16c");
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace vistrelle::ai3d
