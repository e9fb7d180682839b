#include "platform/gpu/kernel_library.h"

#include <algorithm>
#include <stdexcept>

namespace vistrelle::gpu {

KernelLibrary::KernelLibrary(std::vector<KernelFunction> functions)
    : functions_(std::move(functions)) {
  for (size_t i = 0; i < functions_.size(); ++i) {
    for (size_t j = i + 1; j < functions_.size(); ++j) {
      if (functions_[i].name == functions_[j].name) {
        throw std::invalid_argument("kernel library holds two functions named " +
                                    functions_[i].name);
      }
    }
  }
}

const KernelFunction* KernelLibrary::find(std::string_view name) const {
  auto it = std::find_if(functions_.begin(), functions_.end(),
                         [&](const KernelFunction& f) { return f.name == name; });
  return it == functions_.end() ? nullptr : &*it;
}

KernelLibrary KernelLibrary::without(std::string_view name) const {
  std::vector<KernelFunction> kept;
  for (const auto& f : functions_) {
    if (f.name != name) kept.push_back(f);
  }
  return KernelLibrary(std::move(kept));
}

}  // namespace vistrelle::gpu
