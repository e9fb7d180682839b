#include "ui/road_shots.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "app/connection_road.h"
#include "device/firmware/dfu_notifications.h"
#include "platform/dispatch/runtime.h"
#include "ui/screen_for_output.h"

namespace vistrelle::ui {

RoadShots::RoadShots(HomeWindow& window, Options options)
    : window_(&window), options_(std::move(options)) {
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.print) {
    options_.print = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  }
  QDir().mkpath(options_.folder);
  NotificationCenter& center =
      options_.center ? *options_.center : NotificationCenter::defaultCenter();
  auto on = [&](const char* name, std::function<void(const Value&)> handler) {
    observers_.push_back(center.observe(
        name, options_.mainQueue, [handler](const Notification& note) { handler(note.object); }));
  };
  on(ConnectionRoad::kStatusChange, [this](const Value& plugged) {
    if (plugged.boolOr(false)) {
      onceAfter("home", options_.windowDelayMs, [this] { grabWindow("home-window"); });
    }
  });
  on(ai3d::OrvexDepthCustomManager::kSuccessOrError, [this](const Value& opened) {
    if (!opened.boolOr(false)) return;
    onceAfter("panel", options_.windowDelayMs, [this] { grabWindow("settings-panel"); });
    onceAfter("3d", options_.glassesDelayMs, [this] {
      grabGlassesScreen("3d-window", options_.glassesRetries);
    });
  });
  on(device::dfu_notifications::kVersionShow, [this](const Value&) {
    onceAfter("flashing", options_.windowDelayMs, [this] { grabWindow("firmware-update"); });
  });
  on(device::dfu_notifications::kStatus, [this](const Value&) {
    onceAfter("result", options_.windowDelayMs, [this] { grabWindow("firmware-update-result"); });
  });
}

RoadShots::~RoadShots() = default;

void RoadShots::onceAfter(const char* key, int delayMs, std::function<void()> grab) {
  if (std::find(done_.begin(), done_.end(), key) != done_.end()) return;
  done_.emplace_back(key);
  QTimer::singleShot(delayMs, this, std::move(grab));
}

void RoadShots::grabWindow(const QString& name) {
  if (!window_) return;
  save(window_->grab().toImage(), name);
}

namespace {

// Whether the picture's left and right halves differ anywhere (sampled): a
// window that shows no frame yet is one colour, or two equal halves.
bool halvesDiffer(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  const int half = image.width() / 2;
  for (int y = 0; y < image.height(); y += 4) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < half; x += 4) {
      if (row[x] != row[x + half]) return true;
    }
  }
  return false;
}

}  // namespace

void RoadShots::grabGlassesScreen(const QString& name, int retriesLeft) {
  const std::string output = options_.glassesOutput ? options_.glassesOutput() : std::string();
  QScreen* screen = output.empty() ? nullptr : screenForOutput(output);
  if (!screen) {
    options_.print("截图失败: 找不到眼镜屏幕 " + output);
    return;
  }
  QImage image = screen->grabWindow(0).toImage();
  if (retriesLeft > 0 && !halvesDiffer(image)) {
    QTimer::singleShot(1000, this, [this, name, retriesLeft] {
      grabGlassesScreen(name, retriesLeft - 1);
    });
    return;
  }
  save(image, name);
}

void RoadShots::save(const QImage& image, const QString& name) {
  const QString path =
      QDir(options_.folder).filePath(QString("%1-%2.png").arg(taken_ + 1).arg(name));
  if (image.isNull() || !image.save(path)) {
    options_.print("截图失败: " + path.toStdString());
    return;
  }
  ++taken_;
  options_.print("截图: " + path.toStdString() + " (" + std::to_string(image.width()) + "x" +
                 std::to_string(image.height()) + ")");
  if (taken_ == options_.count && options_.afterLast) options_.afterLast();
}

}  // namespace vistrelle::ui
