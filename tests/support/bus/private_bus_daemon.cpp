#include "support/bus/private_bus_daemon.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vistrelle::testing {

namespace {

constexpr std::chrono::seconds kStartLimit{10};

std::string makeFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrelle-bus-XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace

PrivateBusDaemon::PrivateBusDaemon(const std::string& type) {
  folder_ = makeFolder();
  if (folder_.empty()) {
    error_ = "no temporary folder";
    return;
  }
  const std::string config = folder_ + "/" + type + ".conf";
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>"
        << type
        << "</type>\n"
           "  <listen>unix:path="
        << folder_
        << "/bus</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
        // A desktop's session bus lifts the daemon's low defaults (128
        // waiting replies per connection); the system bus keeps them.
        << (type == "session" ? "  <limit name=\"max_replies_per_connection\">50000</limit>\n"
                                "  <limit name=\"max_match_rules_per_connection\">50000</limit>\n"
                              : "")
        << "</busconfig>\n";
    if (!out) {
      error_ = "configuration not written to " + config;
      return;
    }
  }
  auto daemon = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile",
                               "--nosyslog", "--print-address=1"});
  if (!daemon->started()) {
    error_ = "dbus-daemon not started";
    return;
  }
  // The daemon prints its address once it listens.
  const auto end = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < end) {
    const std::string& output = daemon->output();
    if (auto newline = output.find('\n'); newline != std::string::npos) {
      address_ = output.substr(0, newline);
      break;
    }
    if (auto status = daemon->waitExit(std::chrono::milliseconds(0))) {
      error_ = "dbus-daemon exited with " + std::to_string(*status) + ": " + daemon->output();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (address_.rfind("unix:", 0) != 0) {
    error_ = "dbus-daemon printed no address: " + daemon->output();
    address_.clear();
    return;
  }
  daemon_ = std::move(daemon);
}

PrivateBusDaemon::~PrivateBusDaemon() {
  stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void PrivateBusDaemon::stop() {
  daemon_.reset();  // SIGTERM, then SIGKILL if it lingers
}

}  // namespace vistrelle::testing
