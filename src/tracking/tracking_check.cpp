#include "tracking/tracking_check.h"

#include <cstdio>
#include <cstdlib>

namespace vistrelle::tracking {

void tracking_check_failed(const char* function, const char* file, const char* expression) {
  // Written straight to stderr: the process is about to end, and a log sink
  // that buffers or forwards could lose the one line that explains why.
  std::fprintf(stderr, "%s: %s: Assertion `%s' failed.\n", file, function, expression);
  std::fflush(stderr);
  std::abort();
}

}  // namespace vistrelle::tracking
