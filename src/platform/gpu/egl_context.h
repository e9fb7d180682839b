// EglContext: a headless OpenGL 4.3 core context (no window, no X server),
// found through an EglDriver.
//
//   auto context = EglContext::create(LinuxEglDriver::shared(), {});  // throws GlError
//   { EglContext::Current current(*context);    // serialises GL use across threads
//     glDispatchCompute(...); }
//
// The search tries every EGL device first, so that a GPU whose driver Mesa
// cannot load (the proprietary NVIDIA driver beside Mesa) is still found,
// then Mesa's surfaceless platform, then the default display. Devices that
// call themselves software are skipped; a context whose renderer is a
// software rasteriser (llvmpipe and its kind) is refused unless the options
// allow it. The context has no config and no surface: all rendering goes to
// framebuffer objects.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/gpu/egl_driver.h"

namespace vistrelle::gpu {

class EglContext {
 public:
  struct Options {
    // A software renderer is taken where nothing better exists (tests and a
    // forced choice); the automatic road refuses it.
    bool allowSoftware = true;
  };

  // The first display that gives a usable context. Throws GlError naming
  // each display tried and why it was passed over.
  static std::unique_ptr<EglContext> create(EglDriver& driver, const Options& options);
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  // Holds the context current on the calling thread for its lifetime; one
  // thread at a time. Nested scopes on the thread that holds it cost nothing,
  // so a frame's calls can share one outer scope (one make-current a frame).
  class Current {
   public:
    explicit Current(EglContext& context) : context_(context) { context_.acquire(); }
    ~Current() { context_.release(); }
    Current(const Current&) = delete;
    Current& operator=(const Current&) = delete;

   private:
    EglContext& context_;
  };

  // What Current does, for scopes that are not blocks (a back-end's batch):
  // acquire throws GlError when the context cannot be made current.
  void acquire();
  void release();

  // GL_RENDERER and GL_VERSION, e.g. "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa".
  const std::string& renderer() const { return renderer_; }
  // The display it lives on: "device 0", "surfaceless" or "default".
  const std::string& platform() const { return display_.platform; }
  bool isSoftware() const { return software_; }

 private:
  EglContext(EglDriver& driver, EglDriver::Display display, EglDriver::Handle context);

  EglDriver& driver_;
  EglDriver::Display display_;
  EglDriver::Handle context_;
  std::string renderer_;
  bool software_ = false;
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // scopes held by the owner
};

}  // namespace vistrelle::gpu
