#include "ai3d/kernels/kernel_backend_factory.h"

#include <stdexcept>

#include "ai3d/kernels/cpu/cpu_kernel_backend.h"
#if VISTRELLE_HAVE_GL
#include "ai3d/kernels/gl/gl_kernel_backend.h"
#endif

namespace vistrelle::ai3d {

std::unique_ptr<KernelBackend> makeGlKernelBackend(std::string* reason) {
#if VISTRELLE_HAVE_GL
  try {
    return GlKernelBackend::create();
  } catch (const std::exception& e) {
    if (reason != nullptr) *reason = e.what();
    return nullptr;
  }
#else
  if (reason != nullptr) *reason = "built without EGL/OpenGL";
  return nullptr;
#endif
}

std::unique_ptr<KernelBackend> makeCpuKernelBackend(unsigned threads) {
  return std::make_unique<CpuKernelBackend>(threads);
}

std::unique_ptr<KernelBackend> makeKernelBackend(BackendChoice choice) {
  switch (choice) {
    case BackendChoice::Cpu:
      return makeCpuKernelBackend();
    case BackendChoice::OpenGl: {
      std::string reason;
      auto backend = makeGlKernelBackend(&reason);
      if (!backend) throw std::runtime_error("OpenGL kernel back-end unavailable: " + reason);
      return backend;
    }
    case BackendChoice::Automatic:
      break;
  }
  if (auto backend = makeGlKernelBackend()) return backend;
  return makeCpuKernelBackend();
}

}  // namespace vistrelle::ai3d
