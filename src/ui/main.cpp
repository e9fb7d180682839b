// The process entry: Qt's application object and main loop, the runtime's
// queues, and the application delegate on top.

#include <QApplication>
#include <QPointer>
#include <QSurfaceFormat>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>

#include "app/app_delegate.h"
#include "app/builtin_brightness_dimmer.h"
#include "app/glass_volume_control.h"
#include "app/media_key_monitors.h"
#include "app/orvex_system_sleep_or_power_on.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/log/orvex_log.h"
#include "base/settings/settings_keys.h"
#include "cloud/account/login.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "device/firmware/qx_server_dfu_port.h"
#include "platform/dispatch/runtime.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_io_transport.h"
#include "platform/message/logging_transient_message.h"
#include "platform/message/transient_message.h"
#include "platform/process/termination_signals.h"
#include "platform/settings/user_defaults.h"
#include "sim/hid/sim_hid_bus.h"
#include "sim/hid/sim_hid_io_transport.h"
#include "ui/glass_settings_widget.h"
#include "ui/home_window.h"
#include "ui/light_palette.h"
#include "ui/orvex_app_update_view.h"
#include "ui/orvex_dfu_update_view.h"
#include "ui/orvex_home_new_view.h"
#include "ui/popover.h"
#include "ui/qt_main_queue.h"
#include "ui/qt_status_item.h"
#include "ui/toast_transient_message.h"

namespace {

// The HID back-end, chosen once before anything opens a device:
// "--hid-backend=sim" runs on the simulated bus (nothing plugged until a
// simulated device is), "--hid-backend=hidraw" or nothing on the system's
// hidraw nodes.  The firmware updater's transport follows the same choice.
// False for any other value.
bool chooseHidBackend(int argc, char** argv) {
  constexpr std::string_view kOption = "--hid-backend=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument.substr(0, kOption.size()) != kOption) continue;
    const std::string_view value = argument.substr(kOption.size());
    if (value == "sim") {
      auto bus = vistrelle::sim::SimHidBus::create();
      vistrelle::hid::HidBackend::install(bus);
      vistrelle::hid::HidIoTransport::install(
          std::make_shared<vistrelle::sim::SimHidIoTransport>(bus));
    } else if (value != "hidraw") {
      std::fprintf(stderr, "vistrelle: unknown HID back-end \"%.*s\" (sim or hidraw)\n",
                   static_cast<int>(value.size()), value.data());
      return false;
    }
  }
  return true;
}

vistrelle::GlassSettingsController::Environment settingsEnvironment(
    vistrelle::AppDelegate& delegate) {
  vistrelle::GlassSettingsController::Environment environment;
  environment.delegate = &delegate;
  return environment;
}

// The main window's contents: home, the glasses settings panel and the
// firmware update.  Each content's view loads when the window first shows it.
void registerContents(vistrelle::ui::HomeWindow& window, vistrelle::AppDelegate& delegate) {
  using namespace vistrelle;
  OrvexHomeNewViewController::Environment home;
  home.delegate = &delegate;
  window.registerContent(WindowContent::home, new ui::OrvexHomeNewView(std::move(home)));
  window.registerContent(
      WindowContent::glassesPanel,
      new ui::GlassSettingsWidget(GlassSettingsVariant::panel(), settingsEnvironment(delegate)));
  // The command layer is not made yet: until the connection road is wired
  // there are no glasses for the update to reach.
  device::OrvexDFUUpdateViewController::Dependencies dfu;
  dfu.glasses =
      std::make_shared<device::QxServerDfuPort>([]() -> device::OrvexQXServer* { return nullptr; });
  window.registerContent(WindowContent::firmwareUpdate, new ui::OrvexDfuUpdateView(std::move(dfu)));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vistrelle;
  // Before any thread exists, so that every thread inherits the mask and the
  // termination signals reach the main queue instead of killing the process.
  TerminationSignals::blockInThisThread();
  // A peer that goes away mid-write (the companion application, an HTTP
  // server) is an error on that write, never the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  if (!chooseHidBackend(argc, argv)) return 2;

  // The 3D window's eye program is "#version 430" with layout(binding): its
  // surface needs an OpenGL 4.3 core context, and a context's format is
  // settled when the application object is made.
  QSurfaceFormat format;
  format.setVersion(4, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  QSurfaceFormat::setDefaultFormat(format);

  QApplication application(argc, argv);
  QApplication::setApplicationName("Vistrelle");
  // Closing the window does not end a status-bar application.
  QApplication::setQuitOnLastWindowClosed(false);
  // The panels are drawn for a light appearance, whatever the desktop's theme.
  ui::applyLightPalette(application);

  auto mainQueue = std::make_shared<ui::QtMainQueue>();
  dispatch::Runtime runtime(mainQueue);

  // Until the toast takes them, transient messages go to the text log.
  const auto logMessages = std::make_shared<message::LoggingTransientMessage>(
      [](const std::string& line) { OrvexLog::logMessage(line); });
  message::TransientMessage::install(logMessages);

  // The HTTP layer's worker thread starts with its first request; its stop
  // comes among the subsystems' stops, before the runtime's threads end.
  auto http = std::make_shared<cloud::OrvexAlamofireManager>();
  cloud::OrvexAlamofireManager::setShared(http);
  const dispatch::StopRegistration httpStop =
      runtime.registerStop("OrvexAlamofireManager", [http] { http->stop(); });

  UserDefaults& defaults = UserDefaults::standard();
  // The account session is the layer's session: its login gate, its token,
  // and the refresh or sign-out when a token expires.
  const std::shared_ptr<cloud::Login> account = cloud::Login::shared();
  http->setSession(account);
  base::OrvexLocalizationHelper::configureShared(
      {[&defaults] { return defaults.stringForKey(settings_keys::kDefaultUserSettings); },
       [&defaults](const std::string& code) {
         defaults.setString(settings_keys::kDefaultUserSettings, code);
         defaults.synchronize();
       }});

  ui::QtStatusItem statusItem;
  AppDelegate* delegatePointer = nullptr;
  ui::Popover popover(&statusItem, [&delegatePointer] { delegatePointer->terminate(); });
  QPointer<ui::HomeWindow> homeWindow;
  AppDelegate delegate(AppServices{mainQueue,
                                   &defaults,
                                   &statusItem,
                                   [&delegatePointer, &homeWindow]() -> std::unique_ptr<AppWindow> {
                                     auto window =
                                         std::make_unique<ui::HomeWindow>([&delegatePointer] {
                                           return delegatePointer->windowShouldCloseAndQuit();
                                         });
                                     registerContents(*window, *delegatePointer);
                                     homeWindow = window.get();
                                     return window;
                                   },
                                   {},
                                   &popover});
  delegatePointer = &delegate;
  delegate.setAccountSession(account);
  // What the windows reach through the delegate: the privacy dimming, the
  // media-key monitors that the home view installs once the permissions
  // allow, and the sleep observer its first showing makes.  The volume keys
  // reach no glasses until the command layer is started.
  BuiltinBrightnessDimmer dimmer(BuiltinBrightnessDimmer::Options{});
  delegate.setBrightnessControl(&dimmer);
  GlassVolumeControl::Options volumeOptions;
  volumeOptions.defaults = &defaults;
  GlassVolumeControl volume(std::move(volumeOptions));
  MediaKeyMonitors mediaKeys(volume, MediaKeyMonitors::Options{});
  delegate.setMediaKeyMonitorsInstaller([&mediaKeys] { mediaKeys.installMediaKeyMonitors(); });
  delegate.setSleepObserverFactory([] { OrvexSystemSleepOrPowerOn::shared(); });
  // The quick controls of a left click: made once, kept current by the
  // panel's messages while the popover is closed.
  popover.registerContent(
      PopoverContent::quickControls,
      new ui::GlassSettingsWidget(GlassSettingsVariant::popover(), settingsEnvironment(delegate)));
  // The update sheet goes over whatever the main window shows at the time;
  // the check itself runs only while that is the home content.
  delegate.configureUpdate([&homeWindow](bool hideInteractions) {
    return ui::OrvexAppUpdateView::loadFromNib(hideInteractions, [&homeWindow]() -> QWidget* {
      return homeWindow ? homeWindow->currentContentWidget() : nullptr;
    });
  });

  // Texts from below the user interface become toasts over the main window's
  // current content.
  message::TransientMessage::install(
      std::make_shared<ui::ToastTransientMessage>([&homeWindow]() -> QWidget* {
        return homeWindow ? homeWindow->currentContentWidget() : nullptr;
      }));

  TerminationSignals terminationSignals(runtime.reactor(), mainQueue,
                                        [&delegate](int) { delegate.terminate(); });
  // The session's logout and any other quit of the loop end in the same
  // clean-up (it runs once).
  QObject::connect(&application, &QCoreApplication::aboutToQuit,
                   [&delegate] { delegate.applicationWillTerminate(); });

  mainQueue->post([&delegate] { delegate.applicationDidFinishLaunching(); });
  const int status = mainQueue->run();
  // The toasts go with the window; later texts go to the text log again.
  message::TransientMessage::install(logMessages);
  // In order: the delegate's exit clean-up has run (aboutToQuit), then the
  // subsystems stop, latest started first, then the runtime's threads; the
  // objects above are destroyed after that.
  runtime.runStops();
  runtime.stop();
  return status;
}
