#pragma once

namespace vistrelle {

// How the sleep and wake observers reach the AI-3D window.  The application
// wiring sets it; without one (no AI-3D manager yet) sleep and wake only
// change the observer's flags.
class SleepWakeWindowSeam {
 public:
  virtual ~SleepWakeWindowSeam() = default;
  // The AI-3D manager exists and has its window.
  virtual bool hasWindow() = 0;
  // Stops the 3D view's screen capture.
  virtual void stopCapture() = 0;
  // After the screens woke (isSleep false): the capture restarts when the
  // window is visible and stops when it is not; nothing without a window.
  virtual void handleWake(bool isSleep) = 0;
};

}  // namespace vistrelle
