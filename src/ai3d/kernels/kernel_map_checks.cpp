#include "ai3d/kernels/kernel_map_checks.h"

#include <stdexcept>
#include <string>

namespace vistrelle::ai3d {

void requireSameSize(const KernelMap& a, const KernelMap& b, const char* what) {
  if (a.width() != b.width() || a.height() != b.height()) {
    throw std::invalid_argument(std::string(what) + ": maps of different sizes (" +
                                std::to_string(a.width()) + "x" + std::to_string(a.height()) +
                                " and " + std::to_string(b.width()) + "x" +
                                std::to_string(b.height()) + ")");
  }
}

void requireDistinct(std::initializer_list<const KernelMap*> maps, const char* what) {
  for (auto a = maps.begin(); a != maps.end(); ++a) {
    for (auto b = a + 1; b != maps.end(); ++b) {
      if (*a == *b) {
        throw std::invalid_argument(std::string(what) +
                                    ": a map cannot be read and written at once");
      }
    }
  }
}

}  // namespace vistrelle::ai3d
