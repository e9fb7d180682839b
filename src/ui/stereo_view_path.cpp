#include "ui/stereo_view_path.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "platform/gpu/software_renderer.h"
#include "ui/stereo_gl_renderer.h"

namespace vistrelle::ui {

std::string StereoViewPath::describe() const {
  if (kind == Kind::OpenGl) return "OpenGL, " + renderer;
  std::string text = "raster (" + reason + ")";
  if (!renderer.empty() && reason.find(renderer) == std::string::npos) {
    text += ", renderer " + renderer;
  }
  return text;
}

std::optional<StereoViewChoice> forcedStereoView() {
  const char* value = std::getenv(kStereoViewEnvironmentVariable);
  if (value == nullptr) return std::nullopt;
  std::string lower(value);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "opengl" || lower == "gl") return StereoViewChoice::OpenGl;
  if (lower == "raster") return StereoViewChoice::Raster;
  return std::nullopt;
}

StereoViewPath chooseStereoViewPath(StereoViewChoice choice,
                                    const std::function<void(const std::string&)>& print) {
  auto say = [&print](const std::string& line) {
    if (print) {
      print(line);
    } else {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    }
  };
  if (choice == StereoViewChoice::Automatic) choice = forcedStereoView().value_or(choice);
  StereoViewPath path;
  if (choice == StereoViewChoice::Raster) {
    path.reason = "forced";
    return path;
  }

  const QSurfaceFormat format = QSurfaceFormat::defaultFormat();
  QOpenGLContext context;
  context.setFormat(format);
  QOffscreenSurface surface;
  surface.setFormat(format);
  surface.create();
  if (!context.create() || !surface.isValid() || !context.makeCurrent(&surface)) {
    say("Metal resources not available");
    path.reason = "no OpenGL context";
    return path;
  }
  const QSurfaceFormat got = context.format();
  path.renderer = StereoGlRenderer::currentRenderer();
  const bool core43 =
      got.version() >= qMakePair(4, 3) && got.profile() == QSurfaceFormat::CoreProfile;
  if (!core43) {
    say("Metal resources not available");
    path.reason = "OpenGL " + std::to_string(got.majorVersion()) + "." +
                  std::to_string(got.minorVersion()) + " without a 4.3 core profile";
  } else if (choice == StereoViewChoice::Automatic && gpu::isSoftwareRenderer(path.renderer)) {
    path.reason = "software renderer " + path.renderer;
  } else {
    try {
      StereoGlRenderer renderer;  // builds the eye program in this context
      path.kind = StereoViewPath::Kind::OpenGl;
    } catch (const std::exception& error) {
      say(std::string("Failed to create pipeline state: ") + error.what());
      path.reason = std::string("the eye program failed: ") + error.what();
    }
  }
  context.doneCurrent();
  return path;
}

}  // namespace vistrelle::ui
