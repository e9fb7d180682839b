// The AI-3D manager's waits, all timers; tests inject short ones.
#pragma once

#include <chrono>

#include "platform/dispatch/clock.h"

namespace vistrelle::ai3d {

struct DepthManagerDelays {
  // The start check: reports 0 unless the window stood on the glasses first.
  dispatch::Nanos startCheck = std::chrono::seconds(30);
  // Between passes of the search for the glasses' screen.
  dispatch::Nanos searchPass = std::chrono::seconds(1);
  // Between attempts to take the glasses out of mirroring.
  dispatch::Nanos mirrorRetry = std::chrono::milliseconds(1250);
  // From the glasses' screen found to the duty and wear-detection commands,
  // and between those two.
  dispatch::Nanos duty = std::chrono::seconds(3);
  dispatch::Nanos dutyStep = std::chrono::milliseconds(50);
  // From the glasses' screen found to the window's placement.
  dispatch::Nanos placement = std::chrono::seconds(1);
  // Between a move of the window and the check of where it landed.
  dispatch::Nanos placementRetry = std::chrono::milliseconds(500);
  // For the window manager to take the window out of full screen.
  dispatch::Nanos fullScreenSettle = std::chrono::milliseconds(300);
};

}  // namespace vistrelle::ai3d
