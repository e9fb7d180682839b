#pragma once

// For a test program whose Qt runs on an Xorg dummy server of its own rather
// than on the shared display of the other tests: the server with the glasses
// output brought up, and DISPLAY and Qt's platform pointed at it.  False, with
// the reason on standard error, when there is no such server.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/xorg_dummy_server.h"

namespace vistrelle::testing {

inline bool useXorgDummyForQt(const XorgDummyServer& server) {
  if (!server.running()) {
    std::fprintf(stderr, "no Xorg dummy server: %s\n", server.error().c_str());
    return false;
  }
  if (std::string error; !server.bringUpGlasses(&error)) {
    std::fprintf(stderr, "no glasses on the dummy server: %s\n", error.c_str());
    return false;
  }
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  return true;
}

}  // namespace vistrelle::testing
