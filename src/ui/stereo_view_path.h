// How the 3D window draws its eyes: on OpenGL (one surface, the eye
// program) where a hardware renderer gives an OpenGL 4.3 core context that
// builds the program; else raster (the kernel back-end's compositor into a
// canvas the window paints): without a context, when the program fails, or
// on a software renderer (llvmpipe and its kind, slower than the CPU
// compositor). $VISTRELLE_3D_VIEW ("opengl" or "raster") forces either for
// tests and benchmarks; forced OpenGL also takes a software renderer, and
// still falls back to raster when no context or program can be made.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vistrelle::ui {

enum class StereoViewChoice { Automatic, OpenGl, Raster };

inline constexpr const char* kStereoViewEnvironmentVariable = "VISTRELLE_3D_VIEW";

struct StereoViewPath {
  enum class Kind { OpenGl, Raster };
  Kind kind = Kind::Raster;
  std::string renderer;  // GL_RENDERER, GL_VERSION of the probed context; empty without one
  std::string reason;    // why raster
  // "OpenGL, <renderer>" or "raster (<reason>)".
  std::string describe() const;
};

// The choice of $VISTRELLE_3D_VIEW for Automatic; none when unset or not
// one of its two values.
std::optional<StereoViewChoice> forcedStereoView();

// Decides by probing a context of the application's default surface format
// (GUI thread, a QGuiApplication running). `print` gets the console lines of
// a failed probe ("Metal resources not available", "Failed to create
// pipeline state: ..."); default: standard output.
StereoViewPath chooseStereoViewPath(StereoViewChoice choice,
                                    const std::function<void(const std::string&)>& print = {});

}  // namespace vistrelle::ui
