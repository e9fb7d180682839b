#pragma once

#include <functional>
#include <memory>

#include "app/app_window.h"
#include "cloud/update/update_host.h"

namespace vistrelle {

// The update check's view of the application: the main window's content,
// the sheet the user interface makes, and the delegate's exit road.
class AppUpdateHost final : public cloud::UpdateHost {
 public:
  using SheetFactory = std::function<std::shared_ptr<cloud::UpdateSheet>(bool hideInteractions)>;

  // `window` answers the main window (none before it exists).
  AppUpdateHost(std::function<AppWindow*()> window, SheetFactory makeSheet,
                std::function<void()> terminate);

  bool isShowingHome() const override;
  std::shared_ptr<cloud::UpdateSheet> loadSheet(bool hideInteractions) override;
  void terminate() override;

 private:
  std::function<AppWindow*()> window_;
  SheetFactory makeSheet_;
  std::function<void()> terminate_;
};

}  // namespace vistrelle
