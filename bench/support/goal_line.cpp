#include "support/goal_line.h"

#include <cstdio>

namespace vistrelle::bench {

bool printGoalLine(const char* what, double value, const char* goal, bool met) {
  std::printf("%-44s %10.4f  goal %-10s %s\n", what, value, goal, met ? "met" : "MISSED");
  return met;
}

}  // namespace vistrelle::bench
