#include "netlocal/dnssd/mrb_server_environment.h"

#include <cstdio>

namespace vistrelle::netlocal {

void MRBServerEnvironment::log(const std::string& line) const {
  if (console) {
    console(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace vistrelle::netlocal
