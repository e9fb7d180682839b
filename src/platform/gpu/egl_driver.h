// EglDriver: what the search for a headless OpenGL context asks of EGL. The
// Linux backend (LinuxEglDriver) calls libEGL; the fake (FakeEglDriver)
// answers from a table, so that the choice between GPUs, software renderers
// and the CPU can be tested without them.
//
//   for (const EglDriver::Display& d : driver.displays()) {
//     void* context = driver.createContext(d, &reason);   // GL 4.3 core, no surface
//     driver.makeCurrent(d, context, &reason);  std::string r = driver.currentRenderer();
//   }
#pragma once

#include <string>
#include <vector>

namespace vistrelle::gpu {

class EglDriver {
 public:
  using Handle = void*;

  struct Display {
    std::string platform;         // "device 0", "surfaceless", "default"
    bool softwareDevice = false;  // an EGL device that says EGL_MESA_device_software
    Handle handle = nullptr;
  };

  virtual ~EglDriver() = default;

  // The displays in the order a search tries them: every EGL device (each GPU,
  // whatever driver serves it), then Mesa's surfaceless platform, then the
  // default display. Empty where EGL offers none.
  virtual std::vector<Display> displays() = 0;
  // Initialises the display and makes an OpenGL 4.3 core context on it that
  // needs no surface; null with the reason.
  virtual Handle createContext(const Display& display, std::string* reason) = 0;
  virtual void destroyContext(const Display& display, Handle context) = 0;
  // Makes context current on the calling thread without a surface; a null
  // context releases the thread's current one. False with the reason.
  virtual bool makeCurrent(const Display& display, Handle context, std::string* reason) = 0;
  // GL_RENDERER and GL_VERSION of the current context, e.g.
  // "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6".
  virtual std::string currentRenderer() = 0;
};

}  // namespace vistrelle::gpu
