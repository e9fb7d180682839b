#pragma once

namespace vistrelle::ui {

// Where the HUD's box sits: a fifth of the container's height above the
// middle, in the middle, or a fifth below.  The cases in their stored order.
enum class ProgressHUDPosition { top, center, bottom };

}  // namespace vistrelle::ui
