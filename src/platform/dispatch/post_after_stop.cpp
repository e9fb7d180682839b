#include "platform/dispatch/post_after_stop.h"

#include <cstdio>
#include <cstdlib>

namespace vistrelle::dispatch {

void reportPostAfterStop(const std::string& queueLabel) {
#ifndef NDEBUG
  std::fprintf(stderr, "dispatch: task posted to \"%s\" after its threads stopped\n",
               queueLabel.c_str());
  std::abort();
#else
  std::fprintf(stderr, "dispatch: task posted to \"%s\" after its threads stopped; dropped\n",
               queueLabel.c_str());
#endif
}

}  // namespace vistrelle::dispatch
