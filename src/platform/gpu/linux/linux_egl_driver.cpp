#include "platform/gpu/linux/linux_egl_driver.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <cstdio>
#include <cstring>

namespace vistrelle::gpu {
namespace {

std::string eglErrorText(const char* what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(eglGetError()));
  return std::string(what) + " failed (EGL error " + code + ")";
}

bool hasExtension(const char* list, const char* name) {
  if (list == nullptr) return false;
  const size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
    const bool startOk = p == list || p[-1] == ' ';
    const bool endOk = p[length] == ' ' || p[length] == '\0';
    if (startOk && endOk) return true;
  }
  return false;
}

EGLDisplay eglDisplay(const EglDriver::Display& display) {
  return static_cast<EGLDisplay>(display.handle);
}

}  // namespace

LinuxEglDriver& LinuxEglDriver::shared() {
  static LinuxEglDriver driver;
  return driver;
}

std::vector<EglDriver::Display> LinuxEglDriver::displays() {
  std::vector<Display> out;
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay != nullptr) {
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryDeviceString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
        eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (queryDevices != nullptr && queryDeviceString != nullptr &&
        hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
      EGLDeviceEXT devices[16];
      EGLint count = 0;
      if (queryDevices(16, devices, &count) == EGL_TRUE) {
        for (EGLint i = 0; i < count; ++i) {
          Display display;
          display.platform = "device " + std::to_string(i);
          display.softwareDevice = hasExtension(queryDeviceString(devices[i], EGL_EXTENSIONS),
                                                "EGL_MESA_device_software");
          if (!display.softwareDevice) {
            display.handle = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
            if (display.handle == EGL_NO_DISPLAY) continue;
          }
          out.push_back(display);
        }
      }
    }
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
      EGLDisplay d =
          getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      if (d != EGL_NO_DISPLAY) out.push_back({"surfaceless", false, d});
    }
  }
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d != EGL_NO_DISPLAY) out.push_back({"default", false, d});
  return out;
}

EglDriver::Handle LinuxEglDriver::createContext(const Display& display, std::string* reason) {
  EGLDisplay egl = eglDisplay(display);
  EGLint major = 0, minor = 0;
  if (eglInitialize(egl, &major, &minor) != EGL_TRUE) {
    *reason = eglErrorText("eglInitialize");
    return nullptr;
  }
  const char* extensions = eglQueryString(egl, EGL_EXTENSIONS);
  if (!hasExtension(extensions, "EGL_KHR_surfaceless_context")) {
    *reason = "no EGL_KHR_surfaceless_context";
    return nullptr;
  }
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
    *reason = eglErrorText("eglBindAPI(OpenGL)");
    return nullptr;
  }
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                               4,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};
  // Mesa's surfaceless platform offers no config with the OpenGL bit: make
  // the context without one where EGL allows it.
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!hasExtension(extensions, "EGL_KHR_no_config_context") &&
      !hasExtension(extensions, "EGL_MESA_configless_context")) {
    const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint count = 0;
    if (eglChooseConfig(egl, wanted, &config, 1, &count) != EGL_TRUE || count < 1) {
      *reason = "no EGL config for OpenGL";
      return nullptr;
    }
  }
  EGLContext context = eglCreateContext(egl, config, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    *reason = "no OpenGL 4.3 core context (" + eglErrorText("eglCreateContext") + ")";
    return nullptr;
  }
  return context;
}

void LinuxEglDriver::destroyContext(const Display& display, Handle context) {
  eglDestroyContext(eglDisplay(display), static_cast<EGLContext>(context));
}

bool LinuxEglDriver::makeCurrent(const Display& display, Handle context, std::string* reason) {
  if (eglMakeCurrent(eglDisplay(display), EGL_NO_SURFACE, EGL_NO_SURFACE,
                     context != nullptr ? static_cast<EGLContext>(context) : EGL_NO_CONTEXT) !=
      EGL_TRUE) {
    if (reason != nullptr) *reason = eglErrorText("eglMakeCurrent");
    return false;
  }
  return true;
}

std::string LinuxEglDriver::currentRenderer() {
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return std::string(renderer ? renderer : "?") + ", " + (version ? version : "?");
}

}  // namespace vistrelle::gpu
