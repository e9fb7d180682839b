#include "platform/gpu/software_renderer.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace vistrelle::gpu {

bool isSoftwareRenderer(std::string_view renderer) {
  std::string lower(renderer);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (std::string_view name : {"llvmpipe", "softpipe", "swrast"}) {
    if (lower.find(name) != std::string::npos) return true;
  }
  return false;
}

}  // namespace vistrelle::gpu
