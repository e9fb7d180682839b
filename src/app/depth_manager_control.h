#pragma once

namespace vistrelle {

// The AI-3D manager as the delegate holds it (its depthManager): made at the
// first open of the 3D window and kept for the process.
class DepthManagerControl {
 public:
  virtual ~DepthManagerControl() = default;
  // Main queue.
  virtual void open3DWindow() = 0;
  virtual void close3DWindow() = 0;
};

}  // namespace vistrelle
