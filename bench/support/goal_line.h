#pragma once

namespace vistrelle::bench {

// One line after the benchmark table that sets a figure against its goal
// ("met" or "MISSED"); answers `met`, so that lines can be and-ed together.
bool printGoalLine(const char* what, double value, const char* goal, bool met);

}  // namespace vistrelle::bench
