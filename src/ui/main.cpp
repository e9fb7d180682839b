// The process entry: one application per user, Qt's application object and
// main loop, the runtime's queues, the application delegate on top, and
// every seam between the subsystems connected.
//
//   vistrelle                          the glasses on the system's hidraw nodes
//   vistrelle --hid-backend=sim        on a simulated bus (nothing plugged)
//   vistrelle --simulate [--old-firmware] [--shots=DIR] [--exit-after-shots]
//                                      simulated glasses plugged a moment after
//                                      the start (scripts/run --simulate)

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_delegate.h"
#include "app/builtin_brightness_dimmer.h"
#include "app/calibration/qx_server_temperature_drift_commands.h"
#include "app/calibration/temperature_drift_restore.h"
#include "app/display_glass_screen_finder.h"
#include "app/glass_volume_control.h"
#include "app/media_key_monitors.h"
#include "app/orvex_depth_manager_control.h"
#include "app/orvex_system_sleep_or_power_on.h"
#include "app/qx_glasses_control.h"
#include "app/qx_server_volume_commands.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/log/orvex_log.h"
#include "base/settings/settings_keys.h"
#include "cloud/account/login.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "device/display/display_configuration.h"
#include "device/display/glasses_display_adapter.h"
#include "device/firmware/dfu_update_driver.h"
#include "device/firmware/qx_server_dfu_port.h"
#include "device/hid/orvex_usb_service_oc.h"
#include "platform/dispatch/runtime.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_io_transport.h"
#include "platform/message/logging_transient_message.h"
#include "platform/message/transient_message.h"
#include "platform/process/single_instance.h"
#include "platform/process/termination_signals.h"
#include "platform/settings/user_defaults.h"
#include "sim/hid/sim_hid_bus.h"
#include "sim/hid/sim_hid_io_transport.h"
#include "sim/run/simulated_glasses_run.h"
#include "ui/glass_settings_widget.h"
#include "ui/home_window.h"
#include "ui/light_palette.h"
#include "ui/orvex_app_update_view.h"
#include "ui/orvex_dfu_update_view.h"
#include "ui/orvex_home_new_view.h"
#include "ui/popover.h"
#include "ui/qt_alert_presenter.h"
#include "ui/qt_depth_window.h"
#include "ui/qt_main_queue.h"
#include "ui/qt_status_item.h"
#include "ui/road_shots.h"
#include "ui/toast_transient_message.h"

namespace {

using namespace vistrelle;

struct LaunchOptions {
  std::string hidBackend = "hidraw";
  bool simulate = false;
  bool oldFirmware = false;
  std::string shots;
  bool exitAfterShots = false;
};

// Our options; anything else is Qt's.  None when an option is wrong.
std::optional<LaunchOptions> parseOptions(int argc, char** argv) {
  LaunchOptions options;
  bool backendGiven = false;
  auto value = [](std::string_view argument, std::string_view option) {
    return argument.substr(0, option.size()) == option
               ? std::optional(argument.substr(option.size()))
               : std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (auto backend = value(argument, "--hid-backend=")) {
      if (*backend != "sim" && *backend != "hidraw") {
        std::fprintf(stderr, "vistrelle: unknown HID back-end \"%.*s\" (sim or hidraw)\n",
                     static_cast<int>(backend->size()), backend->data());
        return std::nullopt;
      }
      options.hidBackend = std::string(*backend);
      backendGiven = true;
    } else if (argument == "--simulate") {
      options.simulate = true;
    } else if (argument == "--old-firmware") {
      options.oldFirmware = true;
    } else if (auto folder = value(argument, "--shots=")) {
      options.shots = std::string(*folder);
    } else if (argument == "--exit-after-shots") {
      options.exitAfterShots = true;
    }
  }
  if (options.simulate && !backendGiven) options.hidBackend = "sim";
  if (options.simulate && options.hidBackend != "sim") {
    std::fprintf(stderr, "vistrelle: --simulate plugs its glasses into the simulated bus only\n");
    return std::nullopt;
  }
  if (options.oldFirmware && !options.simulate) {
    std::fprintf(stderr, "vistrelle: --old-firmware goes with --simulate\n");
    return std::nullopt;
  }
  return options;
}

// The HID back-end, chosen once before anything opens a device; the firmware
// updater's transport follows the same choice.  The simulated bus when it
// is the one.
std::shared_ptr<sim::SimHidBus> installHidBackend(const LaunchOptions& options) {
  if (options.hidBackend != "sim") return nullptr;
  auto bus = sim::SimHidBus::create();
  hid::HidBackend::install(bus);
  hid::HidIoTransport::install(std::make_shared<sim::SimHidIoTransport>(bus));
  return bus;
}

// A later launch hands over to the running one: true when this process is
// to end here, with `status`.
bool handOverToRunningInstance(SingleInstance& instance, int& status) {
  switch (instance.claim()) {
    case SingleInstance::Claim::First:
      return false;
    case SingleInstance::Claim::Failed:
      std::fprintf(stderr, "vistrelle: cannot tell whether it runs already (%s); starting\n",
                   instance.failure().c_str());
      return false;
    case SingleInstance::Claim::Taken:
      break;
  }
  if (instance.askFirstToReopen()) {
    std::printf("Vistrelle is running already: its window was brought to the front.\n");
    status = 0;
    return true;
  }
  if (instance.heldByAnotherUser()) {
    std::fprintf(stderr, "vistrelle: %s; starting anyway\n", instance.failure().c_str());
    return false;
  }
  std::fprintf(stderr, "vistrelle: another Vistrelle runs but does not answer (%s)\n",
               instance.failure().c_str());
  status = 1;
  return true;
}

GlassSettingsController::Environment settingsEnvironment(AppDelegate& delegate) {
  GlassSettingsController::Environment environment;
  environment.delegate = &delegate;
  return environment;
}

struct Contents {
  ui::OrvexHomeNewView* home = nullptr;
  ui::OrvexDfuUpdateView* firmwareUpdate = nullptr;
};

// The main window's contents: home, the glasses settings panel and the
// firmware update.  Each content's view loads when the window first shows it.
Contents registerContents(ui::HomeWindow& window, AppDelegate& delegate,
                          std::function<int()> runUpdate) {
  Contents contents;
  OrvexHomeNewViewController::Environment home;
  home.delegate = &delegate;
  contents.home = new ui::OrvexHomeNewView(std::move(home));
  window.registerContent(WindowContent::home, contents.home);
  window.registerContent(
      WindowContent::glassesPanel,
      new ui::GlassSettingsWidget(GlassSettingsVariant::panel(), settingsEnvironment(delegate)));
  device::OrvexDFUUpdateViewController::Dependencies dfu;
  dfu.glasses = std::make_shared<device::QxServerDfuPort>(
      [&delegate]() -> device::OrvexQXServer* { return &delegate.qxServer(); });
  dfu.runUpdate = std::move(runUpdate);
  contents.firmwareUpdate = new ui::OrvexDfuUpdateView(std::move(dfu));
  window.registerContent(WindowContent::firmwareUpdate, contents.firmwareUpdate);
  return contents;
}

void print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits the mask and the
  // termination signals reach the main queue instead of killing the process.
  TerminationSignals::blockInThisThread();
  // A peer that goes away mid-write (the companion application, an HTTP
  // server) is an error on that write, never the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  const std::optional<LaunchOptions> options = parseOptions(argc, argv);
  if (!options) return 2;

  // One application per user: a second one would share the settings, the
  // glasses and the companion port with the first.
  SingleInstance instance(SingleInstance::nameForUser());
  if (int status = 0; handOverToRunningInstance(instance, status)) return status;

  const std::shared_ptr<sim::SimHidBus> simulatedBus = installHidBackend(*options);

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

  // The simulated glasses, and for the update road the firmware image their
  // boot loader expects, in a folder the update driver reads.
  std::unique_ptr<sim::SimulatedGlassesRun> simulatedGlasses;
  std::unique_ptr<device::DfuUpdateDriver> simulatedDriver;
  QTemporaryDir firmwareFolder;
  if (options->simulate) {
    sim::SimulatedGlassesRun::Options run;
    run.oldFirmware = options->oldFirmware;
    run.executor = runtime.makeSerialQueue("simulated glasses");
    run.log = print;
    simulatedGlasses = std::make_unique<sim::SimulatedGlassesRun>(simulatedBus, run);
    if (options->oldFirmware) {
      device::DfuUpdateDriver::Options driver;
      driver.imageFolder = firmwareFolder.path().toStdString();
      if (simulatedGlasses->prepareFirmwareImage(driver.imageFolder).empty()) {
        std::fprintf(stderr, "vistrelle: the simulated firmware image could not be written\n");
        return 1;
      }
      simulatedDriver = std::make_unique<device::DfuUpdateDriver>(driver);
    }
  }
  std::function<int()> runUpdate;
  if (simulatedDriver) runUpdate = [&simulatedDriver] { return simulatedDriver->runDfuUpdate(); };

  ui::QtStatusItem statusItem;
  AppDelegate* delegatePointer = nullptr;
  ui::Popover popover(&statusItem, [&delegatePointer] { delegatePointer->terminate(); });
  QPointer<ui::HomeWindow> homeWindow;
  Contents contents;
  ui::QtAlertPresenter alerts([&homeWindow]() -> QWidget* { return homeWindow; });
  AppServices services{mainQueue,
                       &defaults,
                       &statusItem,
                       [&]() -> std::unique_ptr<AppWindow> {
                         auto window = std::make_unique<ui::HomeWindow>([&delegatePointer] {
                           return delegatePointer->windowShouldCloseAndQuit();
                         });
                         contents = registerContents(*window, *delegatePointer, runUpdate);
                         homeWindow = window.get();
                         return window;
                       },
                       {},
                       &popover};
  services.alerts = &alerts;
  AppDelegate delegate(std::move(services));
  delegatePointer = &delegate;

  delegate.setAccountSession(account);

  // The glasses' screen follows their 3D switches, for the application's
  // command layer and the USB-service facade's.
  device::DisplayConfiguration& displays = device::DisplayConfiguration::shared();
  delegate.qxServer().setDisplayPort(std::make_shared<device::GlassesDisplayAdapter>(displays));
  device::OrvexUSBServiceOC::shareManager().qxService().setDisplayPort(
      std::make_shared<device::GlassesDisplayAdapter>(displays));

  // What the windows and the road reach through the delegate: the privacy
  // dimming, the volume keys over the command layer, the media-key monitors
  // that the home view installs once the permissions allow, the sleep
  // observer its first showing makes, the tips and the update view's reset.
  BuiltinBrightnessDimmer dimmer(BuiltinBrightnessDimmer::Options{});
  delegate.setBrightnessDimmer(&dimmer);
  GlassVolumeControl::Options volumeOptions;
  volumeOptions.commands = std::make_shared<QXServerVolumeCommands>(delegate.qxServer());
  volumeOptions.defaults = &defaults;
  GlassVolumeControl volume(std::move(volumeOptions));
  delegate.setGlassVolumeControl(&volume);
  MediaKeyMonitors mediaKeys(volume, MediaKeyMonitors::Options{});
  delegate.setMediaKeyMonitorsInstaller([&mediaKeys] { mediaKeys.installMediaKeyMonitors(); });
  delegate.setSleepObserverFactory([] { OrvexSystemSleepOrPowerOn::shared(); });
  delegate.setConnectTipsPresenter([&contents] {
    if (contents.home) contents.home->controller().showTipState();
  });
  delegate.setUpdateViewReset([&contents] {
    if (contents.firmwareUpdate) contents.firmwareUpdate->controller().resetUpdateView();
  });

  // The 3D window: its manager is made at the first open, over the command
  // layer and the displays; the sleep observer and the settings panel's
  // filter rows reach it from then on.
  QxGlassesControl glassesControl(delegate.qxServer());
  DisplayGlassScreenFinder screenFinder(displays);
  std::shared_ptr<OrvexDepthManagerControl> depthControl;
  delegate.setDepthManagerFactory([&]() -> std::shared_ptr<DepthManagerControl> {
    ai3d::OrvexDepthCustomManager::Environment env;
    env.glasses = &glassesControl;
    env.screens = &screenFinder;
    env.makeWindow = [](ai3d::KernelBackend& backend) { return ui::QtDepthWindow::make(backend); };
    depthControl = std::make_shared<OrvexDepthManagerControl>(
        ai3d::OrvexDepthCustomManager::makeDepthManager(std::move(env)));
    OrvexSystemSleepOrPowerOn::shared().setWindowSeam(depthControl);
    return depthControl;
  });
  delegate.setFilterTuningSource([&depthControl]() -> FilterTuning* {
    return depthControl ? depthControl->filterTuning() : nullptr;
  });
  // The calibration panel's restore road sends through the command layer.
  installTemperatureDriftRestore(
      std::make_shared<QXServerTemperatureDriftCommands>(delegate.qxServer()));

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
  QObject::connect(&application, &QGuiApplication::applicationStateChanged,
                   [&delegate](Qt::ApplicationState state) {
                     if (state == Qt::ApplicationActive) delegate.applicationDidBecomeActive();
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
  // A later launch brings the window to the front.
  instance.serve(runtime.reactor(), mainQueue, [&delegate] {
    print("reopen: a later launch brings the window to the front");
    delegate.applicationShouldHandleReopen(delegate.window() && delegate.window()->isVisible());
  });

  // The simulated run: pictures of the road, and the user's click on the
  // update window's button.
  std::unique_ptr<ui::RoadShots> shots;
  mainQueue->post([&] {
    delegate.applicationDidFinishLaunching();
    if (!homeWindow) return;
    if (!options->shots.empty()) {
      ui::RoadShots::Options shotOptions;
      shotOptions.folder = QString::fromStdString(options->shots);
      shotOptions.glassesOutput = [&displays] {
        const auto screen = displays.glassesScreen();
        return screen ? screen->outputName : std::string();
      };
      if (options->exitAfterShots) shotOptions.afterLast = [&delegate] { delegate.terminate(); };
      shots = std::make_unique<ui::RoadShots>(*homeWindow, shotOptions);
    }
    if (options->oldFirmware) {
      // Once: the window comes back to the update content after the flash.
      QObject::connect(homeWindow, &ui::HomeWindow::contentChanged, homeWindow,
                       [&contents, clicked = std::make_shared<bool>(false)](WindowContent content) {
                         if (content != WindowContent::firmwareUpdate || *clicked) return;
                         *clicked = true;
                         QTimer::singleShot(1500, [&contents] {
                           print("模拟用户: 点击“开始升级”");
                           contents.firmwareUpdate->controller().updateButtonClick();
                         });
                       });
    }
    if (simulatedGlasses) simulatedGlasses->start();
  });
  const int status = mainQueue->run();
  shots.reset();
  // The toasts go with the window; later texts go to the text log again.
  message::TransientMessage::install(logMessages);
  // In order: the delegate's exit clean-up has run (aboutToQuit), then the
  // subsystems stop, latest started first, then the runtime's threads; the
  // objects above are destroyed after that.
  runtime.runStops();
  runtime.stop();
  return status;
}
