#pragma once

#include <initializer_list>

#include "ai3d/kernels/kernel_map.h"

namespace vistrelle::ai3d {

// Argument checks every kernel back-end makes before a dispatch; both throw
// std::invalid_argument naming the kernel.
void requireSameSize(const KernelMap& a, const KernelMap& b, const char* what);
// No map may be both read and written by one kernel.
void requireDistinct(std::initializer_list<const KernelMap*> maps, const char* what);

}  // namespace vistrelle::ai3d
