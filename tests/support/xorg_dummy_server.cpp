#include "support/xorg_dummy_server.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#ifndef VISTRELLE_XORG_DUMMY_CONF
#error "VISTRELLE_XORG_DUMMY_CONF names the server's configuration file"
#endif

namespace vistrelle::testing {
namespace {

using namespace std::chrono_literals;

// Above the numbers of the shared Xvfb (90-140) and the private ones (150-199).
constexpr int kFirstDisplay = 200;
constexpr int kLastDisplay = 299;

std::string lockPath(int number) {
  return "/tmp/.X" + std::to_string(number) + "-lock";
}
std::string socketPath(int number) {
  return "/tmp/.X11-unix/X" + std::to_string(number);
}

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// The pid in a server's lock file, or -1.
pid_t lockOwner(int number) {
  std::ifstream file(lockPath(number));
  long pid = -1;
  if (!(file >> pid)) return -1;
  return static_cast<pid_t>(pid);
}

std::string tail(const std::string& path, size_t bytes = 2000) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  return all.size() > bytes ? all.substr(all.size() - bytes) : all;
}

bool runXrandr(const std::string& display, std::vector<std::string> args, std::string* output,
               std::string* error) {
  std::vector<std::string> argv{"xrandr", "--display", display};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess xrandr(argv);
  const std::optional<int> status = xrandr.waitExit(10s);
  if (output != nullptr) *output = xrandr.output();
  if (status == 0) return true;
  if (error != nullptr) {
    std::string command;
    for (const auto& arg : argv) command += arg + " ";
    *error = command + "failed: " + xrandr.output();
  }
  return false;
}

template <class T>
struct Freed {
  T* reply;
  ~Freed() { std::free(reply); }
  T* operator->() const { return reply; }
  explicit operator bool() const { return reply != nullptr; }
};

struct Connection {
  xcb_connection_t* c;
  xcb_window_t root = 0;
  explicit Connection(const std::string& display) : c(xcb_connect(display.c_str(), nullptr)) {
    if (!xcb_connection_has_error(c)) root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  }
  ~Connection() { xcb_disconnect(c); }
  bool ok() const { return root != 0; }

  xcb_atom_t atom(const char* name) {
    Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr)};
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }

  // Every output by name; `probe` asks the driver to probe first.
  std::map<std::string, xcb_randr_output_t> outputs(bool probe) {
    std::map<std::string, xcb_randr_output_t> byName;
    std::vector<xcb_randr_output_t> ids;
    xcb_timestamp_t timestamp = 0;
    if (probe) {
      Freed<xcb_randr_get_screen_resources_reply_t> resources{xcb_randr_get_screen_resources_reply(
          c, xcb_randr_get_screen_resources(c, root), nullptr)};
      if (!resources) return byName;
      const auto* list = xcb_randr_get_screen_resources_outputs(resources.reply);
      ids.assign(list, list + resources->num_outputs);
      timestamp = resources->config_timestamp;
    } else {
      Freed<xcb_randr_get_screen_resources_current_reply_t> resources{
          xcb_randr_get_screen_resources_current_reply(
              c, xcb_randr_get_screen_resources_current(c, root), nullptr)};
      if (!resources) return byName;
      const auto* list = xcb_randr_get_screen_resources_current_outputs(resources.reply);
      ids.assign(list, list + resources->num_outputs);
      timestamp = resources->config_timestamp;
    }
    for (xcb_randr_output_t id : ids) {
      Freed<xcb_randr_get_output_info_reply_t> info{
          xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, id, timestamp), nullptr)};
      if (!info) continue;
      byName[std::string(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.reply)),
                         static_cast<size_t>(xcb_randr_get_output_info_name_length(info.reply)))] =
          id;
    }
    return byName;
  }

  bool setProperty(xcb_randr_output_t output, const char* name, xcb_atom_t type, uint8_t format,
                   uint32_t count, const void* data) {
    xcb_generic_error_t* error = xcb_request_check(
        c, xcb_randr_change_output_property_checked(c, output, atom(name), type, format,
                                                    XCB_PROP_MODE_REPLACE, count, data));
    std::free(error);
    return error == nullptr;
  }
};

}  // namespace

XorgDummyServer::XorgDummyServer() {
  char pattern[] = "/tmp/vistrelle-xorg-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    error_ = "cannot make a temporary folder";
    return;
  }
  folder_ = pattern;
  const std::string log = folder_ + "/xorg.log";
  for (int number = kFirstDisplay; number <= kLastDisplay && display_.empty(); ++number) {
    if (exists(lockPath(number)) || exists(socketPath(number))) continue;
    // setpriv hands the server a parent-death signal: a test that crashes or
    // is killed still takes its server with it.
    auto server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"setpriv", "--pdeathsig", "TERM", "Xorg",
                                 ":" + std::to_string(number), "-noreset", "-nolisten", "tcp",
                                 "-novtswitch", "-sharevts", "-config", VISTRELLE_XORG_DUMMY_CONF,
                                 "-logfile", log},
        std::vector<std::string>{}, false);
    // Ready once its socket is there and the lock is its own (a test started
    // at the same moment may have won this number), and it answers.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
      if (server->waitExit(0ms)) break;
      if (exists(socketPath(number)) && lockOwner(number) == server->pid()) {
        xcb_connection_t* probe = xcb_connect((":" + std::to_string(number)).c_str(), nullptr);
        const bool answers = !xcb_connection_has_error(probe);
        xcb_disconnect(probe);
        if (answers) {
          display_ = ":" + std::to_string(number);
          number_ = number;
          server_ = std::move(server);
          break;
        }
      }
      std::this_thread::sleep_for(10ms);
    }
    if (!display_.empty()) break;
    if (server->waitExit(0ms) && lockOwner(number) != server->pid() && exists(lockPath(number))) {
      continue;  // another server took the number first
    }
    error_ = "Xorg did not start on :" + std::to_string(number) + ": " + tail(log);
    return;
  }
  if (display_.empty() && error_.empty()) error_ = "no free display number for Xorg";
}

XorgDummyServer::~XorgDummyServer() {
  server_.reset();  // SIGTERM: the server removes its socket and lock
  removeStaleFiles();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void XorgDummyServer::kill() {
  if (!server_) return;
  server_->signal(SIGKILL);
  server_->waitExit(10s);
  removeStaleFiles();
}

void XorgDummyServer::removeStaleFiles() {
  if (number_ < 0 || !server_) return;
  // A killed server leaves its lock and socket: only ours are removed.
  if (server_->waitExit(0ms) && lockOwner(number_) == server_->pid()) {
    unlink(socketPath(number_).c_str());
    unlink(lockPath(number_).c_str());
  }
}

bool XorgDummyServer::bringUpGlasses(std::string* error) const {
  return bringUpGlasses(display_, error);
}

bool XorgDummyServer::setLayout(DummyLayout layout, const std::string& primary,
                                std::string* error) const {
  return setLayout(display_, layout, primary, error);
}

std::string XorgDummyServer::xrandr() const {
  std::string output;
  runXrandr(display_, {"--current"}, &output, nullptr);
  return output;
}

std::optional<XrandrOutput> XorgDummyServer::witness(const std::string& output) const {
  return parseXrandr(xrandr(), output);
}

bool XorgDummyServer::bringUpGlasses(const std::string& display, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  // The order matters: the modes, a mode set, one probe (it connects the
  // output and drops what was set on it before), then the EDID.
  if (!runXrandr(display, {"--addmode", kGlasses, "1920x1080"}, nullptr, error)) return false;
  if (!runXrandr(display, {"--addmode", kGlasses, "3840x1080"}, nullptr, error)) return false;
  if (!setLayout(display, DummyLayout::Extended, {}, error)) return false;
  Connection x(display);
  if (!x.ok()) {
    *error = "cannot connect to " + display;
    return false;
  }
  const auto outputs = x.outputs(/*probe=*/true);
  if (!outputs.contains(kBuiltin) || !outputs.contains(kGlasses)) {
    *error = "the server has no DUMMY0/DUMMY1";
    return false;
  }
  const xcb_atom_t panel = x.atom("Panel");
  if (!x.setProperty(outputs.at(kBuiltin), "ConnectorType", XCB_ATOM_ATOM, 32, 1, &panel)) {
    *error = "cannot set DUMMY0's ConnectorType";
    return false;
  }
  const auto edid = edidNamed(kGlassesName);
  if (!x.setProperty(outputs.at(kGlasses), "EDID", XCB_ATOM_INTEGER, 8, edid.size(), edid.data())) {
    *error = "cannot set DUMMY1's EDID";
    return false;
  }
  return true;
}

bool XorgDummyServer::setLayout(const std::string& display, DummyLayout layout,
                                const std::string& primary, std::string* error) {
  std::vector<std::string> builtin{"--output", kBuiltin, "--mode", "1920x1080", "--pos", "0x0"};
  std::vector<std::string> glasses{"--output", kGlasses, "--mode", "1920x1080", "--pos", "1920x0"};
  std::string defaultPrimary = kBuiltin;
  switch (layout) {
    case DummyLayout::Extended:
      break;
    case DummyLayout::Mirrored:
      glasses = {"--output", kGlasses, "--mode", "1920x1080", "--pos", "0x0"};
      break;
    case DummyLayout::GlassesAlone:
      builtin = {"--output", kBuiltin, "--off"};
      glasses = {"--output", kGlasses, "--mode", "1920x1080", "--pos", "0x0"};
      defaultPrimary = kGlasses;
      break;
    case DummyLayout::GlassesWide:
      glasses = {"--output", kGlasses, "--mode", "3840x1080", "--pos", "1920x0"};
      break;
    case DummyLayout::GlassesOff:
      glasses = {"--output", kGlasses, "--off"};
      break;
  }
  const std::string& chosen = primary.empty() ? defaultPrimary : primary;
  (chosen == kBuiltin ? builtin : glasses).push_back("--primary");
  // Off first, so the screen never has to hold both old and new places.
  std::vector<std::string> args;
  if (builtin[2] == "--off") args.insert(args.end(), builtin.begin(), builtin.end());
  if (glasses[2] == "--off") args.insert(args.end(), glasses.begin(), glasses.end());
  if (builtin[2] != "--off") args.insert(args.end(), builtin.begin(), builtin.end());
  if (glasses[2] != "--off") args.insert(args.end(), glasses.begin(), glasses.end());
  return runXrandr(display, args, nullptr, error);
}

std::optional<DummyLayout> XorgDummyServer::layoutNamed(std::string_view name) {
  static const std::map<std::string_view, DummyLayout> kNames = {
      {"extended", DummyLayout::Extended},          {"mirrored", DummyLayout::Mirrored},
      {"glasses-alone", DummyLayout::GlassesAlone}, {"glasses-wide", DummyLayout::GlassesWide},
      {"glasses-off", DummyLayout::GlassesOff},
  };
  auto it = kNames.find(name);
  if (it == kNames.end()) return std::nullopt;
  return it->second;
}

std::optional<XrandrOutput> XorgDummyServer::parseXrandr(const std::string& text,
                                                         const std::string& output) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string name;
    std::string state;
    words >> name >> state;
    if (name != output || (state != "connected" && state != "disconnected")) continue;
    XrandrOutput result;
    result.connected = state == "connected";
    std::string word;
    while (words >> word) {
      if (word == "primary") {
        result.primary = true;
        continue;
      }
      int w = 0, h = 0, x = 0, y = 0;
      char c1 = 0, c2 = 0, c3 = 0;
      std::istringstream geometry(word);
      if (geometry >> w >> c1 >> h >> c2 >> x >> c3 >> y && c1 == 'x' && c2 == '+' && c3 == '+') {
        result = XrandrOutput{result.connected, true, result.primary, x, y, w, h};
        break;
      }
      if (word.starts_with("(")) break;
    }
    return result;
  }
  return std::nullopt;
}

std::array<uint8_t, 128> XorgDummyServer::edidNamed(std::string_view name) {
  std::array<uint8_t, 128> edid{};
  const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::memcpy(edid.data(), header, sizeof header);
  // Maker "ORV" in five-bit letters, product 0x0001, EDID 1.4.
  const uint16_t maker =
      static_cast<uint16_t>((('O' - '@') << 10) | (('R' - '@') << 5) | ('V' - '@'));
  edid[8] = static_cast<uint8_t>(maker >> 8);
  edid[9] = static_cast<uint8_t>(maker & 0xFF);
  edid[10] = 0x01;
  edid[18] = 1;
  edid[19] = 4;
  // Gamma 2.2 and the sRGB primaries and white point (Qt builds a colour
  // space from them).
  edid[23] = 120;
  const uint8_t chromaticity[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
  std::memcpy(&edid[25], chromaticity, sizeof chromaticity);
  // Descriptor 1: the 1920x1080 timing (pixel clock 148.5 MHz in 10 kHz units).
  edid[54] = 14850 & 0xFF;
  edid[55] = 14850 >> 8;
  edid[56] = 1920 & 0xFF;
  edid[58] = static_cast<uint8_t>((1920 >> 8) << 4);
  edid[59] = 1080 & 0xFF;
  edid[61] = static_cast<uint8_t>((1080 >> 8) << 4);
  // Descriptor 2: the monitor's name, ended by 0x0A and padded with spaces.
  uint8_t* text = &edid[72];
  text[3] = 0xFC;
  for (size_t i = 0; i < 13; ++i) {
    text[5 + i] =
        i < name.size() ? static_cast<uint8_t>(name[i]) : (i == name.size() ? 0x0A : 0x20);
  }
  // Descriptors 3 and 4: dummies (tag 0x10).
  edid[90 + 3] = 0x10;
  edid[108 + 3] = 0x10;
  uint8_t sum = 0;
  for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + edid[i]);
  edid[127] = static_cast<uint8_t>(256 - sum);
  return edid;
}

}  // namespace vistrelle::testing
