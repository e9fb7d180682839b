#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/alert_presenter.h"
#include "app/app_window.h"
#include "app/status_popover.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/dispatch/main_queue.h"
#include "platform/notify/notification_center.h"
#include "platform/settings/user_defaults.h"
#include "platform/statusbar/status_item.h"

namespace vistrelle {

namespace device {
class DisplayConfiguration;
}

class GCXTimer;

// What the delegate is given by the process entry: the main queue, the
// settings store, the status item with its popover and a way to make the main
// window.
struct AppServices {
  std::shared_ptr<dispatch::MainQueue> mainQueue;
  UserDefaults* defaults = nullptr;
  StatusItem* statusItem = nullptr;
  std::function<std::unique_ptr<AppWindow>()> makeWindow;
  // Debug prints (standard output by default).
  std::function<void(const std::string&)> trace;
  // The popover under the status item (none: clicks only record themselves).
  StatusPopover* statusPopover = nullptr;

  // ---- The glasses: what the launch, the connection road and the exit use ----
  // The command layer's options (the delegate makes its qxServer from them).
  device::OrvexQXServer::Options qxServer{};
  device::DisplayConfiguration* displays = nullptr;  // default: the shared one
  NotificationCenter* center = nullptr;              // default: the default centre
  dispatch::ExecutorPtr globalQueue{};               // default: the runtime's
  GCXTimer* timer = nullptr;                         // default: the shared registry
  AlertPresenter* alerts = nullptr;  // none: an alert is logged and answered with its last button
  // Default: whether the session is a Wayland one.
  std::function<bool()> isWaylandSession{};
  // Default: the USB-service facade's answer and its prompt.
  std::function<bool()> canRecordScreen{};
  std::function<void()> showScreenRecordingPrompt{};
  // Default: the display layer's lock query.
  std::function<bool()> isScreenLocked{};
  // Makes the companion server's bridge to the command layer (before the
  // HID monitor starts).  Default: installCompanionBridge.
  std::function<void(device::OrvexQXServer&)> installCompanionBridge{};
  // The second-generation glasses' sound device listener.  Default: the
  // shared OrvexAudioVolume.
  std::function<void()> addAudioOutputVolumeListener{};
  std::function<void()> removeAudioOutputVolumeListener{};
  // The exit restores the glasses' screen within this.
  std::chrono::milliseconds exitRestoreLimit{2000};
};

}  // namespace vistrelle
