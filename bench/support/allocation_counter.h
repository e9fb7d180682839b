#pragma once

#include <cstdint>

namespace vistrelle::bench {

// Every operator new in the process since it started.  Linking
// vistrelle_bench_support replaces the global operator new to count them.
uint64_t allocationCount();
// The operator new calls made by the calling thread since it started.
uint64_t threadAllocationCount();

}  // namespace vistrelle::bench
