#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/app_window.h"
#include "app/status_popover.h"
#include "platform/dispatch/main_queue.h"
#include "platform/settings/user_defaults.h"
#include "platform/statusbar/status_item.h"

namespace vistrelle {

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
};

}  // namespace vistrelle
