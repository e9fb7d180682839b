// Picks the kernel back-end at run time.
//
//   auto backend = makeKernelBackend(BackendChoice::Automatic);
//   // logs once: "AI 3D back-end: OpenGL, NVIDIA GeForce RTX 3060/PCIe/SSE2, 4.6.0 ... (device 0)"
//   //        or: "AI 3D back-end: CPU, 8 threads (OpenGL passed over: ...)"
//
// The automatic choice takes OpenGL only on a hardware renderer: Mesa's
// software rasteriser is slower than the CPU back-end, so the CPU comes
// before it. $VISTRELLE_AI3D_BACKEND ("cpu" or "opengl") forces either for
// tests and benchmarks; forced OpenGL also takes a software renderer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ai3d/kernels/kernel_backend.h"

namespace vistrelle::gpu {
class EglContext;
class EglDriver;
}  // namespace vistrelle::gpu

namespace vistrelle::ai3d {

enum class BackendChoice { Automatic, Cpu, OpenGl };

inline constexpr const char* kBackendEnvironmentVariable = "VISTRELLE_AI3D_BACKEND";

struct BackendOptions {
  gpu::EglDriver* egl = nullptr;                // default: libEGL (none where GL was not built)
  std::function<void(const std::string&)> log;  // default: the text log
  // The forcing value; default: $VISTRELLE_AI3D_BACKEND. Applies to Automatic only.
  std::optional<std::string> forced;
  unsigned cpuThreads = 0;  // 0: one per hardware thread
};

// What makeKernelBackend builds, decided without building it.
struct BackendPlan {
  BackendKind kind = BackendKind::Cpu;
  std::unique_ptr<gpu::EglContext> context;  // OpenGl: the context to build on
  std::string line;                          // "AI 3D back-end: ..."
  std::string glFailure;                     // why OpenGL was not taken, if it was not
  BackendPlan();
  BackendPlan(BackendPlan&&) noexcept;
  BackendPlan& operator=(BackendPlan&&) noexcept;
  ~BackendPlan();
};
BackendPlan planKernelBackend(BackendChoice choice, const BackendOptions& options);

// Automatic never fails (the CPU is always there) and logs its choice once.
// OpenGl throws with the reason when no GL 4.3 context can be made.
std::unique_ptr<KernelBackend> makeKernelBackend(BackendChoice choice,
                                                 const BackendOptions& options = {});

// Without logging or forcing: any GL 4.3 context, software renderers
// included; null (and the reason in *reason) where none can be made or GL
// support was not built.
std::unique_ptr<KernelBackend> makeGlKernelBackend(std::string* reason = nullptr);
std::unique_ptr<KernelBackend> makeCpuKernelBackend(unsigned threads = 0);

}  // namespace vistrelle::ai3d
