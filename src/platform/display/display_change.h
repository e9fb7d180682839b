// A change of the display layout, applied as one step: outputs moved (and
// given another mode), and the primary output.
#pragma once

#include <cstdint>
#include <vector>

namespace vistrelle::display {

struct OutputPlacement {
  uint32_t output = 0;
  int x = 0;
  int y = 0;
  uint32_t mode = 0;  // 0: the mode it has
  bool operator==(const OutputPlacement&) const = default;
};

struct LayoutChange {
  std::vector<OutputPlacement> placements;
  uint32_t primary = 0;  // 0: the primary output stays as it is
  bool operator==(const LayoutChange&) const = default;

  bool empty() const { return placements.empty() && primary == 0; }
};

}  // namespace vistrelle::display
