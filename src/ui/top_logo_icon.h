#pragma once

#include <QIcon>

namespace vistrelle::ui {

// The status item's image "toplogoIcon": a pair of display glasses, drawn
// rather than loaded so that no image file has to travel with the program.
QIcon topLogoIcon();

}  // namespace vistrelle::ui
