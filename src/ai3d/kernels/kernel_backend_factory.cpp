#include "ai3d/kernels/kernel_backend_factory.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "ai3d/kernels/cpu/cpu_kernel_backend.h"
#include "base/log/orvex_log.h"
#include "platform/gpu/egl_context.h"
#include "platform/gpu/gl_error.h"
#if VISTRELLE_HAVE_GL
#include "ai3d/kernels/gl/gl_kernel_backend.h"
#include "platform/gpu/linux/linux_egl_driver.h"
#endif

namespace vistrelle::ai3d {
namespace {

gpu::EglDriver* systemEglDriver() {
#if VISTRELLE_HAVE_GL
  return &gpu::LinuxEglDriver::shared();
#else
  return nullptr;
#endif
}

std::optional<BackendChoice> parseForced(std::string value) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (value == "cpu") return BackendChoice::Cpu;
  if (value == "opengl" || value == "gl") return BackendChoice::OpenGl;
  return std::nullopt;
}

unsigned cpuThreads(unsigned requested) {
  return requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
}

std::string cpuLine(unsigned threads, const std::string& glFailure, const std::string& note) {
  std::string line = "AI 3D back-end: CPU, " + std::to_string(cpuThreads(threads)) + " threads";
  if (!glFailure.empty()) line += " (OpenGL passed over: " + glFailure + ")";
  return line + note;
}

std::unique_ptr<KernelBackend> buildGl(std::unique_ptr<gpu::EglContext> context) {
#if VISTRELLE_HAVE_GL
  return GlKernelBackend::create(std::move(context));
#else
  (void)context;
  throw std::runtime_error("built without EGL/OpenGL");
#endif
}

}  // namespace

BackendPlan::BackendPlan() = default;
BackendPlan::BackendPlan(BackendPlan&&) noexcept = default;
BackendPlan& BackendPlan::operator=(BackendPlan&&) noexcept = default;
BackendPlan::~BackendPlan() = default;

BackendPlan planKernelBackend(BackendChoice choice, const BackendOptions& options) {
  std::string note;
  if (choice == BackendChoice::Automatic) {
    std::string forced;
    if (options.forced) {
      forced = *options.forced;
    } else if (const char* value = std::getenv(kBackendEnvironmentVariable); value != nullptr) {
      forced = value;
    }
    if (!forced.empty()) {
      const std::string setting = std::string(kBackendEnvironmentVariable) + "=" + forced;
      if (const std::optional<BackendChoice> parsed = parseForced(forced)) {
        choice = *parsed;
        note = " (forced by " + setting + ")";
      } else {
        note = " (" + setting + " ignored: cpu or opengl)";
      }
    }
  }
  BackendPlan plan;
  if (choice != BackendChoice::Cpu) {
    gpu::EglDriver* driver = options.egl != nullptr ? options.egl : systemEglDriver();
    if (driver == nullptr) {
      plan.glFailure = "built without EGL/OpenGL";
    } else {
      try {
        // Software GL only where OpenGL was asked for by name: the automatic
        // road prefers the CPU back-end to it.
        plan.context = gpu::EglContext::create(*driver, {choice == BackendChoice::OpenGl});
        plan.kind = BackendKind::OpenGl;
        plan.line = "AI 3D back-end: OpenGL, " + plan.context->renderer() + " (" +
                    plan.context->platform() + ")" + note;
        return plan;
      } catch (const gpu::GlError& error) {
        plan.glFailure = error.what();
      }
    }
  }
  plan.kind = BackendKind::Cpu;
  plan.line = cpuLine(options.cpuThreads, plan.glFailure, note);
  return plan;
}

std::unique_ptr<KernelBackend> makeKernelBackend(BackendChoice choice,
                                                 const BackendOptions& options) {
  BackendPlan plan = planKernelBackend(choice, options);
  std::unique_ptr<KernelBackend> backend;
  if (plan.kind == BackendKind::OpenGl) {
    try {
      backend = buildGl(std::move(plan.context));
    } catch (const std::exception& error) {
      plan.glFailure = error.what();
      plan.line = cpuLine(options.cpuThreads, plan.glFailure, "");
    }
  }
  if (!backend) {
    if (choice == BackendChoice::OpenGl) {
      throw std::runtime_error("OpenGL kernel back-end unavailable: " + plan.glFailure);
    }
    backend = makeCpuKernelBackend(options.cpuThreads);
  }
  if (options.log) {
    options.log(plan.line);
  } else {
    OrvexLog::logMessage(plan.line);
  }
  return backend;
}

std::unique_ptr<KernelBackend> makeGlKernelBackend(std::string* reason) {
#if VISTRELLE_HAVE_GL
  try {
    return GlKernelBackend::create(
        gpu::EglContext::create(gpu::LinuxEglDriver::shared(), {/*allowSoftware=*/true}));
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

}  // namespace vistrelle::ai3d
