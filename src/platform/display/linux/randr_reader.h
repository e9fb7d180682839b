#pragma once

#include "platform/display/display_result.h"
#include "platform/display/linux/randr_state.h"
#include "platform/display/linux/xcb_connection.h"

namespace vistrelle::display {

// Reads outputs, CRTCs, the primary output, each output's EDID name and
// ConnectorType, and the screen's limits.  The requests go out together and
// their answers are then collected, so the cost is a few round trips
// whatever the number of outputs.  `probe` asks the drivers to probe the
// connectors first (GetScreenResources instead of the Current variant).
DisplayResult<RandrState> readRandrState(XcbConnection& connection, bool probe, Deadline deadline);

}  // namespace vistrelle::display
