// vistrelle_xorg_dummy: drives an Xorg dummy server for scripts/xorg-dummy-lib.sh,
// with the functions of the C++ fixture (tests/support/xorg_dummy_server.h).
//
//   vistrelle_xorg_dummy :N glasses                  DUMMY0 the panel, the glasses on DUMMY1
//   vistrelle_xorg_dummy :N layout <name> [primary]  extended, mirrored, glasses-alone,
//                                                    glasses-wide or glasses-off

#include <cstdio>
#include <string>

#include "support/xorg_dummy_server.h"

int main(int argc, char** argv) {
  using vistrelle::testing::XorgDummyServer;
  const std::string command = argc > 2 ? argv[2] : "";
  std::string error;
  bool ok = false;
  if (argc == 3 && command == "glasses") {
    ok = XorgDummyServer::bringUpGlasses(argv[1], &error);
  } else if ((argc == 4 || argc == 5) && command == "layout") {
    const auto layout = XorgDummyServer::layoutNamed(argv[3]);
    if (!layout) {
      std::fprintf(stderr, "vistrelle_xorg_dummy: no layout \"%s\"\n", argv[3]);
      return 2;
    }
    ok = XorgDummyServer::setLayout(argv[1], *layout, argc == 5 ? argv[4] : "", &error);
  } else {
    std::fprintf(stderr,
                 "usage: vistrelle_xorg_dummy :N glasses\n"
                 "       vistrelle_xorg_dummy :N layout <name> [primary]\n");
    return 2;
  }
  if (!ok) std::fprintf(stderr, "vistrelle_xorg_dummy: %s\n", error.c_str());
  return ok ? 0 : 1;
}
