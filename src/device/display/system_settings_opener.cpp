#include "device/display/system_settings_opener.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "base/helpers/language_bundle.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/transient_message.h"
#include "platform/process/linux/linux_process_launcher.h"

namespace vistrelle::device {
namespace {

bool inPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

const std::vector<std::vector<std::string>>& SystemSettingsOpener::displaySettingsCommands() {
  static const std::vector<std::vector<std::string>> commands = {
      {"gnome-control-center", "display"},   // GNOME
      {"systemsettings", "kcm_kscreen"},     // KDE Plasma 6
      {"kcmshell5", "kcm_kscreen"},          // KDE Plasma 5
      {"cinnamon-settings", "display"},      // Cinnamon
      {"mate-display-properties"},           // MATE
      {"xfce4-display-settings"},            // Xfce
      {"lxqt-config-monitor"},               // LXQt
      {"budgie-control-center", "display"},  // Budgie
      {"arandr"},                            // any X11 desktop
      {"lxrandr"},
  };
  return commands;
}

SystemSettingsOpener::SystemSettingsOpener(Options options) : options_(std::move(options)) {
  if (!options_.programExists) options_.programExists = inPath;
  if (!options_.showMessage) {
    options_.showMessage = [](const std::string& text) { message::TransientMessage::show(text); };
  }
  if (!options_.log) options_.log = [](std::string_view) {};
}

process::ProcessLauncher& SystemSettingsOpener::launcher() {
  if (!options_.launcher) options_.launcher = std::make_shared<process::LinuxProcessLauncher>();
  return *options_.launcher;
}

bool SystemSettingsOpener::start(std::vector<std::string> argv) {
  dispatch::ExecutorPtr queue =
      options_.reportQueue ? options_.reportQueue : dispatch::globalQueue();
  const std::string program = argv.front();
  process::LaunchRequest request;
  request.argv = std::move(argv);
  process::LaunchResult started = launcher().launch(
      request, queue, [log = options_.log, program](const process::ProcessExit& exit) {
        if (exit.succeeded()) return;
        log(program + (exit.exited() ? " exited with " + std::to_string(exit.exitCode)
                                     : " ended by signal " + std::to_string(exit.signal)));
      });
  if (!started) options_.log("cannot start " + program + ": " + started.reason);
  return static_cast<bool>(started);
}

void SystemSettingsOpener::openURLString(const std::string& text) {
  if (text.empty()) return;
  start({"xdg-open", text});
}

void SystemSettingsOpener::openDisplaysSettings() {
  for (const auto& command : displaySettingsCommands()) {
    if (options_.programExists(command.front()) && start(command)) return;
  }
  options_.showMessage(base::LanguageBundle::shared().localizedStringForKey(kSetExtendedText));
}

void SystemSettingsOpener::openScreenCapturePrivacySettings() {
  options_.log("no screen-capture permission to set on X11: nothing to open");
}

}  // namespace vistrelle::device
