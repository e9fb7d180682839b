#pragma once

#include <string_view>

namespace vistrelle::gpu {

// True for the renderers that rasterise on the CPU (Mesa's llvmpipe, softpipe
// and swrast), whatever the case of the name.
bool isSoftwareRenderer(std::string_view renderer);

}  // namespace vistrelle::gpu
