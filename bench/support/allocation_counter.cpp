#include "support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> allocations{0};
thread_local uint64_t threadAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  ++threadAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace vistrelle::bench {

uint64_t allocationCount() {
  return allocations.load(std::memory_order_relaxed);
}

uint64_t threadAllocationCount() {
  return threadAllocations;
}

}  // namespace vistrelle::bench
