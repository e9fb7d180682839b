#include "app/orvex_home_new_view_controller.h"

#include <algorithm>
#include <cctype>

#include "app/app_delegate.h"
#include "base/helpers/language_bundle.h"
#include "base/timer/gcx_timer.h"
#include "device/display/display_configuration.h"
#include "device/hid/orvex_usb_service_oc.h"
#include "netlocal/companion/orvex_local_server.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {
namespace {

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

OrvexHomeNewViewController::OrvexHomeNewViewController(HomeView& view, Environment environment)
    : view_(view), env_(std::move(environment)) {
  if (!env_.displays) env_.displays = &device::DisplayConfiguration::shared();
  if (!env_.center) env_.center = &NotificationCenter::defaultCenter();
  if (!env_.mainQueue) env_.mainQueue = dispatch::mainQueue();
  if (!env_.timer) env_.timer = &GCXTimer::shared();
  if (!env_.startCompanionServer) {
    env_.startCompanionServer = [] { netlocal::OrvexLocalServer::shareManager(); };
  }
  if (!env_.canRecordScreen) {
    env_.canRecordScreen = [] {
      return device::OrvexUSBServiceOC::shareManager().canRecordScreen();
    };
  }
}

OrvexHomeNewViewController::~OrvexHomeNewViewController() {
  // The task holds this controller.
  env_.timer->cancel(checkAccessibilityTimer_);
}

void OrvexHomeNewViewController::viewDidLoad() {
  if (loaded_) return;
  loaded_ = true;
  addObservers();
  env_.delegate->createSleepObserver();
  setupUI();
  const bool macMiniTip = env_.displays->needsExternalDisplayTip();
  // The companion-application server is first made here, as the tip check
  // asks for the device model.
  env_.startCompanionServer();
  view_.setTipsText(base::LanguageBundle::shared().localizedStringForKey(
      macMiniTip ? "Mac mini需连接外接显示器" : "连接前请断开其他外接显示器"));
}

void OrvexHomeNewViewController::addObservers() {
  if (env_.registerDisplayCallback) {
    env_.registerDisplayCallback(
        [this](uint32_t displayId, uint32_t flags) { displayReconfigured(displayId, flags); });
  }
  plugStatus_ = env_.center->observe(kStatusChange, env_.mainQueue, [this](const Notification& n) {
    glassDisplayStatusChanged(n);
  });
  ai3DStatus_ = env_.center->observe(kAI3DResult, env_.mainQueue,
                                     [this](const Notification& n) { ai3DResult(n); });
  // On the main queue: the monitors it installs belong to the UI thread.
  checkAccessibilityTimer_ =
      env_.timer->start([this] { checkPermissions(); }, kPermissionFirstCheck, kPermissionInterval,
                        /*repeats=*/true, /*async=*/false);
}

void OrvexHomeNewViewController::setupUI() {
  view_.setBackgroundColor(HomeOutlet::titleView, kBackground);
  view_.setBackgroundColor(HomeOutlet::root, kBackground);
  view_.setBackgroundColor(HomeOutlet::connectBgView, kBackground);
  view_.setOutletHidden(HomeOutlet::connectBgView, true);
  view_.setOutletHidden(HomeOutlet::connectingLabel, false);
  view_.setOutletHidden(HomeOutlet::connectErrorLabel, true);
  view_.setOutletHidden(HomeOutlet::connectErrorTipsLabel, true);
}

void OrvexHomeNewViewController::showTipState() {
  view_.setOutletHidden(HomeOutlet::tipsLabel0, false);
  view_.setOutletHidden(HomeOutlet::tipsLabel, false);
  view_.setOutletHidden(HomeOutlet::connectBgView, true);
}

void OrvexHomeNewViewController::showConnectingState() {
  view_.setOutletHidden(HomeOutlet::connectBgView, false);
  view_.setOutletHidden(HomeOutlet::connectingLabel, false);
  view_.setOutletHidden(HomeOutlet::connectErrorLabel, true);
  view_.setOutletHidden(HomeOutlet::connectErrorTipsLabel, true);
  view_.setOutletHidden(HomeOutlet::tipsLabel0, true);
  view_.setOutletHidden(HomeOutlet::tipsLabel, true);
}

void OrvexHomeNewViewController::showErrorState() {
  view_.setOutletHidden(HomeOutlet::connectBgView, false);
  view_.setOutletHidden(HomeOutlet::connectErrorLabel, false);
  view_.setOutletHidden(HomeOutlet::connectErrorTipsLabel, false);
  view_.setOutletHidden(HomeOutlet::connectingLabel, true);
}

void OrvexHomeNewViewController::glassDisplayStatusChanged(const Notification& notification) {
  // Numbers and booleans count; anything else is not a status.
  const auto plugged = notification.object.asBool();
  if (!plugged) return;
  if (!*plugged) {
    showTipState();
    return;
  }
  showConnectingState();
  if (env_.displays->isMacMiniWithOnlyGlassesScreens()) showTipState();
}

void OrvexHomeNewViewController::ai3DResult(const Notification& notification) {
  const auto opened = notification.object.asBool();
  if (!opened) return;
  AppDelegate& delegate = *env_.delegate;
  if (!*opened) {
    showErrorState();
    if (!delegate.glassStatus()) showTipState();
    return;
  }
  if (!delegate.glassStatus()) {
    // A success that arrives after the glasses went: no panel for glasses
    // that are not there, and no dimming of the only display left.
    showTipState();
    AppWindow* window = delegate.window();
    if (window && window->content() == WindowContent::glassesPanel) {
      window->setContent(WindowContent::home);
    }
    return;
  }
  view_.setOutletHidden(HomeOutlet::connectBgView, true);
  view_.setOutletHidden(HomeOutlet::connectingLabel, false);
  view_.setOutletHidden(HomeOutlet::connectErrorLabel, true);
  view_.setOutletHidden(HomeOutlet::connectErrorTipsLabel, true);
  if (AppWindow* window = delegate.window()) window->setContent(WindowContent::glassesPanel);
  if (delegate.privacyScreenLockButtonState() == 1) delegate.closeBuiltinBrightness();
}

void OrvexHomeNewViewController::checkPermissions() {
  if (monitorsInstalled_) return;
  if (!env_.canRecordScreen() || !env_.displays->checkAccessibilityPermission()) return;
  monitorsInstalled_ = true;
  env_.delegate->installMediaKeyMonitors();
  env_.timer->cancel(checkAccessibilityTimer_);
  checkAccessibilityTimer_.clear();
}

void OrvexHomeNewViewController::displayReconfigured(uint32_t displayId, uint32_t flags) {
  device::DisplayConfiguration& displays = *env_.displays;
  AppDelegate& delegate = *env_.delegate;
  if (flags & DisplayReconfiguration::kAdd) {
    if (!displays.isDesktopHost() || displayId == delegate.glassDisplayID() ||
        displays.onlineDisplayCount() < 2) {
      return;
    }
    for (const device::DisplayScreen& screen : displays.screens()) {
      const std::string name = lowerCased(screen.name);
      if (name.find("orvex") != std::string::npos && name.find("monitor") == std::string::npos) {
        env_.center->post(kStatusChange, Value(1));
        return;
      }
    }
    return;
  }
  if (flags & DisplayReconfiguration::kRemove) {
    if (displays.isDesktopHost() && displayId != delegate.glassDisplayID() &&
        displays.onlineDisplayCount() <= 1) {
      env_.center->post(kStatusChange, Value(0));
    }
    return;
  }
  if (flags & (DisplayReconfiguration::kSetMode | DisplayReconfiguration::kSetMain)) {
    if (!env_.moveCursor) return;
    const auto main = displays.mainScreen();
    if (!main) return;
    for (const device::DisplayScreen& screen : displays.screens()) {
      if (screen.displayID != displayId) continue;
      env_.moveCursor(screen.x + main->width / 2, screen.y + main->height / 2);
      return;
    }
  }
}

}  // namespace vistrelle
