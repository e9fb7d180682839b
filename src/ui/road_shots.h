#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"
#include "platform/notify/subscription.h"
#include "ui/home_window.h"

namespace vistrelle::ui {

// Pictures of the connection road for a person to look at (the simulated
// run takes them): the main window once the glasses are detected, the main
// window once the settings panel took it and the glasses' screen with the 3D
// window on it; on the update road, the update window while it flashes and
// at its result.  Each is a PNG file in the folder, numbered in the order
// taken; after the last one `afterLast` runs.
class RoadShots : public QObject {
  Q_OBJECT

 public:
  struct Options {
    QString folder;
    int count = 3;
    std::function<void()> afterLast;
    // Where the glasses' screen is: its RandR output name (empty: none).
    std::function<std::string()> glassesOutput;
    NotificationCenter* center = nullptr;  // default: the default centre
    dispatch::ExecutorPtr mainQueue;       // default: the runtime's main queue
    // The windows settle this long before they are grabbed; the 3D window
    // shows a few frames first.
    int windowDelayMs = 800;
    int glassesDelayMs = 4000;
    // A slow machine may not show the first stereo frame by then: the
    // glasses' screen is grabbed again each second until its two halves
    // differ, this many times at the most (the last grab is kept as it is).
    int glassesRetries = 30;
    std::function<void(const std::string&)> print;  // default: standard output
  };

  RoadShots(HomeWindow& window, Options options);
  ~RoadShots() override;

  int taken() const { return taken_; }

 private:
  void onceAfter(const char* key, int delayMs, std::function<void()> grab);
  void grabWindow(const QString& name);
  void grabGlassesScreen(const QString& name, int retriesLeft);
  void save(const QImage& image, const QString& name);

  QPointer<HomeWindow> window_;
  Options options_;
  int taken_ = 0;
  std::vector<std::string> done_;
  std::vector<Subscription> observers_;
};

}  // namespace vistrelle::ui
