// DepthWindow: the 3D window as the AI-3D manager drives it. The user
// interface implements it (a top-level window whose content draws the two
// eyes); tests fake it. Every call comes on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ai3d/manager/glass_screen_finder.h"
#include "ai3d/pipeline/eye_view.h"

namespace vistrelle::ai3d {

class KernelBackend;

class DepthWindow {
 public:
  virtual ~DepthWindow() = default;

  // What makes the two eye views over the window's content.
  virtual EyeViewFactory& viewFactory() = 0;
  // How the eyes are drawn, for the log: the path and the renderer, e.g.
  // "OpenGL, NVIDIA GeForce RTX 3060/PCIe/SSE2" or "raster (software renderer
  // llvmpipe (LLVM 15.0.6, 256 bits))".
  virtual std::string drawingPath() const = 0;

  // Shows the window and brings it to the front.
  virtual void makeKeyAndOrderFront() = 0;
  virtual bool isVisible() const = 0;
  // Whether the window's current screen is `screen` (by its output).
  virtual bool isOnScreen(const GlassScreen& screen) const = 0;
  virtual bool isFullScreen() const = 0;
  virtual void toggleFullScreen() = 0;
  // Moves the window so that it is centred in the screen's available area.
  virtual void centreOnScreen(const GlassScreen& screen) = 0;
  // Closes (hides) the window; it can be shown again.
  virtual void close() = 0;
  // Runs whenever the window closes: by close() or by the window manager.
  virtual void setWillClose(std::function<void()> willClose) = 0;
};

// Makes the window on the main queue, its eyes drawn from maps of `backend`;
// null when it cannot be made.
using DepthWindowMaker = std::function<std::unique_ptr<DepthWindow>(KernelBackend& backend)>;

}  // namespace vistrelle::ai3d
