// GlError: thrown when the GL/EGL side cannot do what was asked; what()
// carries the reason (EGL error code, shader info log, GL error).
#pragma once

#include <stdexcept>
#include <string>

namespace vistrelle::gpu {

class GlError : public std::runtime_error {
 public:
  explicit GlError(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace vistrelle::gpu
