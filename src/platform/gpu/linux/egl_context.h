// EglContext: a headless OpenGL 4.3 core context (no window, no X server).
//
//   auto context = EglContext::create();        // throws GlError with the reason
//   { EglContext::Current current(*context);    // serialises GL use across threads
//     glDispatchCompute(...); }
//
// Tries Mesa's surfaceless platform, then the EGL device platform (one GPU
// without a display), then the default display. The context is created
// without a config (EGL_KHR_no_config_context) because Mesa's surfaceless
// platform offers no config with the OpenGL bit, and is only ever made
// current without a surface: all rendering goes to framebuffer objects.
#pragma once

#include <EGL/egl.h>

#include <memory>
#include <mutex>
#include <string>

namespace vistrelle::gpu {

class EglContext {
 public:
  static std::unique_ptr<EglContext> create();
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  // Holds the context current on the calling thread for its lifetime; one
  // thread at a time. Not re-entrant.
  class Current {
   public:
    explicit Current(EglContext& context);
    ~Current();
    Current(const Current&) = delete;
    Current& operator=(const Current&) = delete;

   private:
    EglContext& context_;
    std::lock_guard<std::mutex> lock_;
  };

  // GL_RENDERER and GL_VERSION of the context, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
  const std::string& renderer() const { return renderer_; }
  const std::string& platform() const { return platform_; }

 private:
  EglContext(EGLDisplay display, EGLContext context, std::string platform);

  EGLDisplay display_;
  EGLContext context_;
  std::string platform_;
  std::string renderer_;
  std::mutex mutex_;
};

}  // namespace vistrelle::gpu
