#include "app/app_delegate.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/builtin_brightness_dimmer.h"
#include "base/helpers/host_info.h"
#include "base/helpers/language_bundle.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/log/orvex_log.h"
#include "base/settings/launch_settings.h"
#include "cloud/account/login.h"
#include "device/display/display_configuration.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle {

AppDelegate* appDelegate = nullptr;

AppDelegate::AppDelegate(AppServices services)
    : services_(std::move(services)),
      updateHost_([this] { return window_.get(); },
                  [this](bool hideInteractions) -> std::shared_ptr<cloud::UpdateSheet> {
                    return makeUpdateSheet_ ? makeUpdateSheet_(hideInteractions) : nullptr;
                  },
                  [this] { terminate(); }) {
  if (!services_.trace) {
    services_.trace = [](const std::string& text) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    };
  }
  // The command layer works on the delegate's queue, store and centre
  // unless told otherwise.
  device::OrvexQXServer::Options qx = services_.qxServer;
  if (!qx.mainQueue) qx.mainQueue = services_.mainQueue;
  if (!qx.defaults) qx.defaults = services_.defaults;
  if (!qx.center) qx.center = services_.center;
  qxServer_ = std::make_unique<device::OrvexQXServer>(std::move(qx));
  road_ = makeConnectionRoad();
}

AppDelegate::~AppDelegate() {
  *alive_ = false;
  unmirrorRetry_.cancel();
  observers_.clear();
  // The monitor's thread ends before what it reaches does.
  qxServer_->stop();
  // The session outlives the delegate.
  if (account_) account_->setShowMainWindow(nullptr);
  if (appDelegate == this) appDelegate = nullptr;
}

void AppDelegate::setAccountSession(std::shared_ptr<cloud::Login> account) {
  if (account_) account_->setShowMainWindow(nullptr);
  account_ = std::move(account);
  // The session lives in cloud/, below the windows: it reaches the main
  // window through this callback.
  if (account_) account_->setShowMainWindow([this] { showHomeWindow(); });
}

void AppDelegate::applicationDidFinishLaunching() {
  appDelegate = this;
  OrvexLog::logMessage("=== App Start ===");
  setIsOverseas(!base::isChinaRegion());
  if (isOverseas()) {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  }
  setIsCPUARM(getCPUTypeIsARM());
  setupStatusItem();
  // The built-in screen: with several, the last one wins.
  for (const device::DisplayScreen& screen : displays().screens()) {
    if (screen.builtin) setBuiltinDisplayID(screen.displayID);
  }
  // A panel an earlier session left dark is lit again.
  if (dimmer_) dimmer_->restoreSavedBrightnessAtLaunch();
  if (services_.defaults) {
    LaunchSettings settings = LaunchSettings::load(*services_.defaults);
    setModelType(settings.modelType);
    setDepthValue(settings.depthValue);
  }
  showHomeWindow();
  addObservers();
  startGlassMonitoring();
}

bool AppDelegate::getCPUTypeIsARM() const {
  std::string brand = base::cpuBrandString();
  std::transform(brand.begin(), brand.end(), brand.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return brand.find("intel") == std::string::npos;
}

bool AppDelegate::checkisChinaSimplified() const {
  return base::OrvexLocalizationHelper::shared().language() == base::Language::Chinese;
}

void AppDelegate::setupStatusItem() {
  StatusItem* item = services_.statusItem;
  if (item) {
    item->setImage("toplogoIcon");
    item->setToolTip("Vistrelle");
    item->setClickHandler([this](StatusItem::Click click) { itemActionWithBtn(click); });
    item->show();
  }
  updatePopoverContent();
  appMenu_ = {{base::LanguageBundle::shared().localizedStringForKey("退出Vistrelle"),
               [this] { terminate(); }}};
}

void AppDelegate::itemActionWithBtn(StatusItem::Click click) {
  setMouseClick(click == StatusItem::Click::Right ? 2 : 1);
  showPopover();
}

void AppDelegate::showPopover() {
  StatusPopover* popover = services_.statusPopover;
  switch (mouseClick()) {
    case 2:
      // A fresh exit view every time, replacing whatever the popover held.
      if (!popover) return;
      popover->setContent(PopoverContent::exitView);
      popover->show();
      break;
    case 1:
      if (!popover) return;
      updatePopoverContent();
      if (popover->hasContent()) {
        popover->show();
      } else if (popover->isShown()) {
        // An open popover whose content just went shows nothing either.
        popover->close();
      }
      break;
    default:
      break;
  }
}

void AppDelegate::updatePopoverContent() {
  StatusPopover* popover = services_.statusPopover;
  if (!popover) return;
  popover->setContent(PopoverContent::none);
  if (glassStatus() && !isDfuUpdate()) popover->setContent(PopoverContent::quickControls);
}

void AppDelegate::closeBuiltinBrightness() {
  if (brightness_) brightness_->closeBuiltinBrightness();
}

void AppDelegate::restoreBuiltinBrightness() {
  if (brightness_) brightness_->restoreBuiltinBrightness();
}

void AppDelegate::setMediaKeyMonitorsInstaller(std::function<void()> install) {
  installMediaKeyMonitors_ = std::move(install);
}

void AppDelegate::installMediaKeyMonitors() {
  if (installMediaKeyMonitors_) installMediaKeyMonitors_();
}

void AppDelegate::setSleepObserverFactory(std::function<void()> factory) {
  sleepObserverFactory_ = std::move(factory);
}

void AppDelegate::createSleepObserver() {
  if (sleepObserverFactory_) sleepObserverFactory_();
}

void AppDelegate::setFilterTuningSource(std::function<FilterTuning*()> source) {
  filterTuningSource_ = std::move(source);
}

FilterTuning* AppDelegate::filterTuning() const {
  return filterTuningSource_ ? filterTuningSource_() : nullptr;
}

void AppDelegate::setGlassNameSource(std::function<std::string()> source) {
  glassNameSource_ = std::move(source);
}

std::string AppDelegate::glassName() const {
  return glassNameSource_ ? glassNameSource_() : qxServer_->glassName();
}

void AppDelegate::showHomeWindow() {
  if (!window_ && services_.makeWindow) window_ = services_.makeWindow();
  if (window_) window_->showCentered();
}

void AppDelegate::configureUpdate(AppUpdateHost::SheetFactory makeSheet,
                                  cloud::UpdateServices services) {
  makeUpdateSheet_ = std::move(makeSheet);
  updateServices_ = std::move(services);
}

void AppDelegate::checkAppUpdate(std::function<void(bool nothingInTheWay)> completion) {
  if (!appUpdate_) appUpdate_ = std::make_unique<cloud::AppUpdate>(updateHost_, updateServices_);
  appUpdate_->checkAppUpdate(std::move(completion));
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
  if (window_) window_->bringToFront();
  return true;
}

bool AppDelegate::windowShouldCloseAndQuit() {
  if (services_.statusItem && services_.statusItem->isAvailable()) return false;
  terminate();
  return true;
}

void AppDelegate::terminate() {
  if (terminating_.exchange(true)) return;
  auto main = services_.mainQueue;
  main->post([this, main] {
    applicationWillTerminate();
    main->quit(0);
  });
}

void AppDelegate::applicationWillTerminate() {
  if (exitCleanupRuns_.load() > 0) return;
  exitAppWithIsRecover(false);
}

}  // namespace vistrelle
