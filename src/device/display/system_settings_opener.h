#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::device {

// Opens URLs and the desktop's display settings by starting programs from
// an argument list, never through a shell, so a text is only ever one
// argument.
class SystemSettingsOpener {
 public:
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<process::ProcessLauncher> launcher;     // default: the system's, at first use
    std::function<bool(const std::string&)> programExists;  // default: found in PATH
    std::function<void(const std::string&)> showMessage;    // default: TransientMessage::show
    dispatch::ExecutorPtr reportQueue;                      // default: the global queue
    LogSink log;
  };

  // The display-settings programs of the common desktops, tried in order.
  static const std::vector<std::vector<std::string>>& displaySettingsCommands();
  static constexpr const char* kSetExtendedText = "请在系统设置中将眼镜设为扩展显示器";

  explicit SystemSettingsOpener(Options options);

  // xdg-open with the text as it is (nothing for an empty text).
  void openURLString(const std::string& text);
  // The first display-settings program installed; with none, a message that
  // tells the user what to set there.
  void openDisplaysSettings();
  // X11 has no screen-capture permission, so no pane to open: logged only.
  void openScreenCapturePrivacySettings();

 private:
  bool start(std::vector<std::string> argv);
  process::ProcessLauncher& launcher();

  Options options_;
};

}  // namespace vistrelle::device
