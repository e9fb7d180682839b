#include "platform/gpu/egl_context.h"

#include "platform/gpu/gl_error.h"
#include "platform/gpu/software_renderer.h"

namespace vistrelle::gpu {

std::unique_ptr<EglContext> EglContext::create(EglDriver& driver, const Options& options) {
  std::string reasons;
  for (const EglDriver::Display& display : driver.displays()) {
    if (display.softwareDevice) {
      reasons += " [" + display.platform + ": a software device]";
      continue;
    }
    std::string reason;
    EglDriver::Handle handle = driver.createContext(display, &reason);
    if (handle == nullptr) {
      reasons += " [" + display.platform + ": " + reason + "]";
      continue;
    }
    std::unique_ptr<EglContext> context(new EglContext(driver, display, handle));
    try {
      Current current(*context);
      context->renderer_ = driver.currentRenderer();
    } catch (const GlError& error) {
      reasons += " [" + display.platform + ": " + error.what() + "]";
      continue;
    }
    context->software_ = isSoftwareRenderer(context->renderer_);
    if (context->software_ && !options.allowSoftware) {
      reasons += " [" + display.platform + ": software renderer " + context->renderer_ + "]";
      continue;
    }
    return context;
  }
  throw GlError("no headless OpenGL 4.3 context could be made:" +
                (reasons.empty() ? std::string(" no EGL display") : reasons));
}

EglContext::EglContext(EglDriver& driver, EglDriver::Display display, EglDriver::Handle context)
    : driver_(driver), display_(std::move(display)), context_(context) {}

// The display is left initialised: EGL displays are per process, and
// terminating one would pull the ground from under any other context on it.
EglContext::~EglContext() {
  driver_.destroyContext(display_, context_);
}

void EglContext::acquire() {
  if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
    ++depth_;
    return;
  }
  mutex_.lock();
  std::string reason;
  if (!driver_.makeCurrent(display_, context_, &reason)) {
    mutex_.unlock();
    throw GlError(reason);
  }
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  depth_ = 1;
}

void EglContext::release() {
  if (--depth_ > 0) return;
  driver_.makeCurrent(display_, nullptr, nullptr);
  owner_.store(std::thread::id(), std::memory_order_relaxed);
  mutex_.unlock();
}

}  // namespace vistrelle::gpu
