#pragma once

class QWidget;

namespace vistrelle::ui {

// A widget's opacity, as the fades set it (1 when none was ever set).
void setViewOpacity(QWidget* view, double opacity);
double viewOpacity(const QWidget* view);

// The toast's fixed fade: opacity 1 to 0, linear, from 1 s after now for
// 1 s; the view is removed when it ends.  Stored under "hide animation".
void hideAnimation(QWidget* view);
// Fades with a given duration and delay (seconds): in to 1 under
// "show animation", out to 0 and removed under "hide animation".
void showAnimation(QWidget* view, double duration, double delay);
void hideAnimation(QWidget* view, double duration, double delay);

}  // namespace vistrelle::ui
