#include "device/display/display_configuration.h"

#include <algorithm>
#include <iostream>

#include "base/log/orvex_log.h"
#include "device/display/glasses_layout.h"
#include "device/display/glasses_screen_name.h"
#include "device/hid/orvex_usb_service_oc.h"
#include "platform/dispatch/runtime.h"

#ifdef VISTRELLE_HAVE_RANDR
#include "platform/display/linux/randr_display_server.h"
#endif

namespace vistrelle::device {
namespace {

void printLine(std::string_view line) {
  std::cout << line << std::endl;
}

std::shared_ptr<display::DisplayServer> defaultServer() {
#ifdef VISTRELLE_HAVE_RANDR
  return std::make_shared<display::RandrDisplayServer>();
#else
  return nullptr;
#endif
}

}  // namespace

DisplayConfiguration::DisplayConfiguration() : DisplayConfiguration(Options{}) {}

DisplayConfiguration::DisplayConfiguration(Options options)
    : options_(std::move(options)),
      systemBus_(std::make_shared<LazyBus>(options_.buses, bus::BusKind::System)),
      sessionBus_(std::make_shared<LazyBus>(options_.buses, bus::BusKind::Session)),
      backlight_({options_.backlightRoot, systemBus_, std::chrono::milliseconds(1000),
                  [this](std::string_view line) { options_.log(line); }}),
      lock_(systemBus_, sessionBus_),
      opener_([this] {
        SystemSettingsOpener::Options opener = options_.opener;
        if (!opener.log) opener.log = [this](std::string_view line) { options_.log(line); };
        return opener;
      }()) {
  if (!options_.server) options_.server = defaultServer();
  if (options_.state == nullptr) options_.state = &MainState::shared();
  if (options_.center == nullptr) options_.center = &NotificationCenter::defaultCenter();
  if (!options_.accessibilityTrusted) options_.accessibilityTrusted = [] { return true; };
  if (!options_.printLog) {
    options_.printLog = [](std::string_view line) {
      OrvexUSBServiceOC::shareManager().printLog(std::string(line));
    };
  }
  if (!options_.print) options_.print = printLine;
  if (!options_.trace) {
#ifdef NDEBUG
    options_.trace = [](std::string_view) {};
#else
    options_.trace = printLine;
#endif
  }
  if (!options_.log) options_.log = [](std::string_view line) { OrvexLog::logMessage(line); };
}

DisplayConfiguration& DisplayConfiguration::shared() {
  // Never destroyed: its callers run until the process ends.
  static DisplayConfiguration* shared = new DisplayConfiguration();
  return *shared;
}

void DisplayConfiguration::logOnce(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    // A server that fails in ever new ways still cannot fill the memory.
    if (logged_.size() >= kMaxLoggedReasons) logged_.clear();
    if (!logged_.insert(reason).second) return;
  }
  options_.log("displays: " + reason);
}

void DisplayConfiguration::changeSucceeded() {
  std::lock_guard lock(mutex_);
  logged_.clear();
}

std::optional<display::DisplayLayout> DisplayConfiguration::readLayout() {
  if (!options_.server) {
    logOnce("no display server support in this build");
    return std::nullopt;
  }
  auto layout = options_.server->layout(false, display::DisplayServer::kDefaultLimit);
  if (!layout) {
    logOnce(layout.error().reason);
    return std::nullopt;
  }
  return std::move(layout).value();
}

// ---- Screens ----

std::vector<DisplayScreen> DisplayConfiguration::screens() {
  const auto layout = readLayout();
  return layout ? screensOf(*layout) : std::vector<DisplayScreen>{};
}

std::optional<DisplayScreen> DisplayConfiguration::mainScreen() {
  for (const DisplayScreen& screen : screens()) {
    if (screen.primary) return screen;
  }
  return std::nullopt;
}

std::optional<DisplayScreen> DisplayConfiguration::glassesScreen() {
  for (const DisplayScreen& screen : screens()) {
    if (isGlassesScreenName(screen.name)) return screen;
  }
  return std::nullopt;
}

std::optional<uint32_t> DisplayConfiguration::outputIdForName(const std::string& outputName) {
  const auto layout = readLayout();
  if (!layout) return std::nullopt;
  const display::DisplayOutput* output = layout->findByName(outputName);
  if (output == nullptr) return std::nullopt;
  return output->id;
}

std::optional<DisplayScreen> DisplayConfiguration::builtinScreenIn(
    const display::DisplayLayout& layout) {
  {
    std::lock_guard lock(mutex_);
    if (builtinScreen_) return builtinScreen_;
  }
  for (const DisplayScreen& screen : screensOf(layout)) {
    if (!screen.builtin) continue;
    std::lock_guard lock(mutex_);
    // Another thread may have found it meanwhile: the first one stays.
    if (!builtinScreen_) builtinScreen_ = screen;
    return builtinScreen_;
  }
  return std::nullopt;
}

std::optional<DisplayScreen> DisplayConfiguration::builtinScreen() {
  {
    std::lock_guard lock(mutex_);
    if (builtinScreen_) return builtinScreen_;
  }
  const auto layout = readLayout();
  return layout ? builtinScreenIn(*layout) : std::nullopt;
}

std::optional<DisplayScreen> DisplayConfiguration::externalNonGlassesScreenIn(
    const display::DisplayLayout& layout) {
  if (builtinScreenIn(layout)) return std::nullopt;
  for (const DisplayScreen& screen : screensOf(layout)) {
    if (!nameContains(screen.name, "orvex") && !nameContains(screen.name, "monitor")) {
      return screen;
    }
  }
  return std::nullopt;
}

std::optional<DisplayScreen> DisplayConfiguration::externalNonGlassesScreen() {
  const auto layout = readLayout();
  return layout ? externalNonGlassesScreenIn(*layout) : std::nullopt;
}

std::optional<uint32_t> DisplayConfiguration::externalScreenDisplayID() {
  const auto screen = externalNonGlassesScreen();
  if (!screen) return std::nullopt;
  return screen->displayID;
}

// ---- Host questions ----

bool DisplayConfiguration::isDesktopHost() {
  const auto layout = readLayout();
  if (!layout) return false;
  return std::none_of(layout->outputs.begin(), layout->outputs.end(),
                      [](const display::DisplayOutput& output) { return output.builtin(); });
}

bool DisplayConfiguration::needsExternalDisplayTip() {
  if (isDesktopHost()) return true;
  if (builtinScreen()) return false;
  return !externalNonGlassesScreen();
}

bool DisplayConfiguration::isMacMiniWithOnlyGlassesScreens() {
  if (!isDesktopHost() || builtinScreen()) return false;
  const std::vector<DisplayScreen> all = screens();
  return std::all_of(all.begin(), all.end(), [](const DisplayScreen& screen) {
    return nameContains(screen.name, "orvex");
  });
}

int DisplayConfiguration::onlineDisplayCount() {
  if (!options_.server) return 0;
  auto layout = options_.server->layout(false, display::DisplayServer::kDefaultLimit);
  if (!layout) {
    options_.print("获取显示器列表失败: " + layout.error().reason);
    return 0;
  }
  const auto& outputs = layout.value().outputs;
  const auto online = std::count_if(outputs.begin(), outputs.end(), [](const auto& output) {
    return output.connected || output.active();
  });
  return static_cast<int>(std::min<long>(online, kMaxOnlineDisplays));
}

// ---- Brightness, lock, permissions ----

float DisplayConfiguration::builtinDisplayBrightness() {
  if (options_.state->builtinDisplayID.load() == 0) return 0;
  return backlight_.read();
}

void DisplayConfiguration::setBuiltinDisplayBrightness(float value) {
  if (options_.state->builtinDisplayID.load() == 0) return;
  backlight_.write(value);
}

bool DisplayConfiguration::isScreenLocked() {
  return lock_.isLocked();
}

bool DisplayConfiguration::checkAccessibilityPermission() {
  const bool trusted = options_.accessibilityTrusted();
  if (trusted) return true;
  {
    std::lock_guard lock(mutex_);
    if (mouseMovePosted_) return false;
    mouseMovePosted_ = true;
  }
  dispatch::ExecutorPtr queue = options_.mainQueue ? options_.mainQueue : dispatch::mainQueue();
  // The server and the log, not this object: the motion may outlive a
  // configuration made for a test.
  queue->postAfter(kMouseMoveDelay, [server = options_.server, log = options_.log] {
    if (!server) return;
    auto moved = server->nudgePointer(display::DisplayServer::kDefaultLimit);
    if (!moved) log("displays: synthetic pointer motion: " + moved.error().reason);
  });
  return false;
}

void DisplayConfiguration::postSyntheticMouseMove() {
  if (!options_.server) return;
  auto moved = options_.server->nudgePointer(display::DisplayServer::kDefaultLimit);
  if (!moved) logOnce("synthetic pointer motion: " + moved.error().reason);
}

// ---- Notices and openers ----

void DisplayConfiguration::postNotification(const std::string& name, Value object) {
  options_.center->post(name, std::move(object));
}

void DisplayConfiguration::openDisplaysSettings() {
  opener_.openDisplaysSettings();
}

void DisplayConfiguration::openScreenCapturePrivacySettings() {
  opener_.openScreenCapturePrivacySettings();
}

void DisplayConfiguration::openURLString(const std::string& text) {
  opener_.openURLString(text);
}

}  // namespace vistrelle::device
