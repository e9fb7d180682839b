#include "platform/gpu/linux/egl_context.h"

#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <cstring>
#include <vector>

#include "platform/gpu/linux/gl_error.h"

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

struct Candidate {
  EGLDisplay display;
  std::string platform;
};

std::vector<Candidate> candidateDisplays() {
  std::vector<Candidate> out;
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay != nullptr) {
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
      EGLDisplay d =
          getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      if (d != EGL_NO_DISPLAY) out.push_back({d, "surfaceless"});
    }
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (queryDevices != nullptr && hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
      EGLDeviceEXT devices[8];
      EGLint count = 0;
      if (queryDevices(8, devices, &count) == EGL_TRUE) {
        for (EGLint i = 0; i < count; ++i) {
          EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
          if (d != EGL_NO_DISPLAY) out.push_back({d, "device " + std::to_string(i)});
        }
      }
    }
  }
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d != EGL_NO_DISPLAY) out.push_back({d, "default"});
  return out;
}

EGLContext createCoreContext(EGLDisplay display) {
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  if (!hasExtension(extensions, "EGL_KHR_surfaceless_context")) return EGL_NO_CONTEXT;
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) return EGL_NO_CONTEXT;
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                               4,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_NONE};
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!hasExtension(extensions, "EGL_KHR_no_config_context") &&
      !hasExtension(extensions, "EGL_MESA_configless_context")) {
    const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint count = 0;
    if (eglChooseConfig(display, wanted, &config, 1, &count) != EGL_TRUE || count < 1) {
      return EGL_NO_CONTEXT;
    }
  }
  return eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
}

}  // namespace

std::unique_ptr<EglContext> EglContext::create() {
  std::string reasons;
  for (const Candidate& candidate : candidateDisplays()) {
    EGLint major = 0, minor = 0;
    if (eglInitialize(candidate.display, &major, &minor) != EGL_TRUE) {
      reasons += " [" + candidate.platform + ": " + eglErrorText("eglInitialize") + "]";
      continue;
    }
    EGLContext context = createCoreContext(candidate.display);
    if (context == EGL_NO_CONTEXT) {
      reasons += " [" + candidate.platform + ": no OpenGL 4.3 core context]";
      continue;
    }
    return std::unique_ptr<EglContext>(
        new EglContext(candidate.display, context, candidate.platform));
  }
  throw GlError("no headless OpenGL 4.3 context could be made:" +
                (reasons.empty() ? std::string(" no EGL display") : reasons));
}

EglContext::EglContext(EGLDisplay display, EGLContext context, std::string platform)
    : display_(display), context_(context), platform_(std::move(platform)) {
  Current current(*this);
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  renderer_ = std::string(renderer ? renderer : "?") + ", " + (version ? version : "?");
}

// The display is left initialised: EGL displays are per process, and
// terminating one would pull the ground from under any other context on it.
EglContext::~EglContext() {
  eglDestroyContext(display_, context_);
}

EglContext::Current::Current(EglContext& context) : context_(context), lock_(context.mutex_) {
  if (eglMakeCurrent(context_.display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_.context_) !=
      EGL_TRUE) {
    throw GlError(eglErrorText("eglMakeCurrent"));
  }
}

EglContext::Current::~Current() {
  eglMakeCurrent(context_.display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

}  // namespace vistrelle::gpu
