#pragma once

// An application delegate on fakes, with its seams recorded, for the tests of
// the windows' contents: the settings store in memory, a fake status item and
// popover, a window that records its content, and recording hooks for the
// privacy dimming, the media-key monitors, the sleep observer and the filter
// tuning.  The main state starts from its launch values.

#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/fake/fake_filter_tuning.h"
#include "app/fake/fake_status_popover.h"
#include "platform/dispatch/main_queue.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "platform/statusbar/fake/fake_status_item.h"

namespace vistrelle::testing {

class RecordingWindow final : public AppWindow {
 public:
  void showCentered() override { ++shows; }
  void bringToFront() override { ++raises; }
  bool isVisible() const override { return shows > 0; }
  void setContent(WindowContent content) override {
    shown = content;
    contents.push_back(content);
  }
  WindowContent content() const override { return shown; }

  int shows = 0;
  int raises = 0;
  WindowContent shown = WindowContent::home;
  std::vector<WindowContent> contents;  // every setContent, in order
};

// Records the dimming calls: "close", "restore".
class RecordingBrightness final : public BrightnessControl {
 public:
  explicit RecordingBrightness(std::vector<std::string>& calls) : calls_(calls) {}
  void closeBuiltinBrightness() override { calls_.push_back("close"); }
  void restoreBuiltinBrightness() override { calls_.push_back("restore"); }

 private:
  std::vector<std::string>& calls_;
};

class AppDelegateRig {
 public:
  // `window` is what the delegate's window is (none: a recording one).
  explicit AppDelegateRig(std::shared_ptr<dispatch::MainQueue> mainQueue,
                          StatusPopover* popover = nullptr,
                          std::function<std::unique_ptr<AppWindow>()> makeWindow = {}) {
    MainState::shared().reset();
    if (!makeWindow) {
      makeWindow = [this] {
        auto made = std::make_unique<RecordingWindow>();
        window = made.get();
        return made;
      };
    }
    delegate = std::make_unique<AppDelegate>(
        AppServices{std::move(mainQueue), &defaults, &tray, std::move(makeWindow),
                    [this](const std::string& line) { traces.push_back(line); },
                    popover ? popover : &fakePopover});
    delegate->setBrightnessControl(&recordingBrightness);
    delegate->setMediaKeyMonitorsInstaller([this] { ++mediaKeyInstalls; });
    delegate->setSleepObserverFactory([this] { ++sleepObservers; });
    delegate->setFilterTuningSource(
        [this]() -> FilterTuning* { return tuningPresent ? &tuning : nullptr; });
    delegate->setGlassNameSource([this] { return glassName; });
  }

  InMemoryUserDefaults defaults;
  FakeStatusItem tray;
  FakeStatusPopover fakePopover;
  RecordingWindow* window = nullptr;  // made by showHomeWindow()
  std::vector<std::string> traces;
  std::vector<std::string> brightness;  // "close", "restore"
  RecordingBrightness recordingBrightness{brightness};
  int mediaKeyInstalls = 0;
  int sleepObservers = 0;
  FakeFilterTuning tuning;
  bool tuningPresent = true;
  std::string glassName = "ORVEX Glass 2";
  std::unique_ptr<AppDelegate> delegate;
};

}  // namespace vistrelle::testing
