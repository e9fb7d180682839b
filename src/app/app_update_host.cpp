#include "app/app_update_host.h"

namespace vistrelle {

AppUpdateHost::AppUpdateHost(std::function<AppWindow*()> window, SheetFactory makeSheet,
                             std::function<void()> terminate)
    : window_(std::move(window)),
      makeSheet_(std::move(makeSheet)),
      terminate_(std::move(terminate)) {}

bool AppUpdateHost::isShowingHome() const {
  const AppWindow* window = window_ ? window_() : nullptr;
  return window && window->isShowingHome();
}

std::shared_ptr<cloud::UpdateSheet> AppUpdateHost::loadSheet(bool hideInteractions) {
  return makeSheet_ ? makeSheet_(hideInteractions) : nullptr;
}

void AppUpdateHost::terminate() {
  if (terminate_) terminate_();
}

}  // namespace vistrelle
