#include "ai3d/kernels/cpu/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace vistrelle::ai3d {

bool cpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = [] {
    __builtin_cpu_init();
    // F16C from cpuid itself: clang 14 (which builds the fuzz preset) has no
    // "f16c" for __builtin_cpu_supports.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const bool f16c = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && f16c;
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace vistrelle::ai3d
