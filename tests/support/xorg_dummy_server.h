#pragma once

// An Xorg server of the test's own with the dummy video driver: sixteen
// outputs (DUMMY0-15, one CRTC each) that RandR can switch, mirror and move,
// where Xvfb has one fixed output.  DUMMY0 plays the machine's built-in
// panel and DUMMY1 the glasses ("ORVEX Glass" in its EDID, modes 1920x1080
// and 3840x1080).  The server starts on a free display number whatever
// DISPLAY says, and stops with the object.
//
//   XorgDummyServer server;
//   ASSERT_TRUE(server.running()) << server.error();
//   ASSERT_TRUE(server.bringUpGlasses());
//   ASSERT_TRUE(server.setLayout(DummyLayout::Mirrored));
//   auto glasses = server.witness("DUMMY1");   // what xrandr reads
//
// scripts/xorg-dummy-lib.sh is its shell twin: it starts the same server and
// drives it through the vistrelle_xorg_dummy tool, which runs the functions
// below.  No DPMS here (nor on Xvfb): anything using DPMS fakes it.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace vistrelle::testing {

// The layouts the tests start from (DUMMY0 the built-in, DUMMY1 the glasses).
enum class DummyLayout {
  Extended,      // DUMMY0 at 0,0 and primary; DUMMY1 1920x1080 to its right
  Mirrored,      // both at 0,0; DUMMY0 primary
  GlassesAlone,  // DUMMY0 off; DUMMY1 at 0,0 and primary
  GlassesWide,   // as Extended with DUMMY1 at 3840x1080
  GlassesOff,    // DUMMY0 alone
};

// What xrandr says about one output.
struct XrandrOutput {
  bool connected = false;
  bool active = false;
  bool primary = false;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

class XorgDummyServer {
 public:
  static constexpr const char* kBuiltin = "DUMMY0";
  static constexpr const char* kGlasses = "DUMMY1";
  static constexpr const char* kGlassesName = "ORVEX Glass";

  XorgDummyServer();
  ~XorgDummyServer();
  XorgDummyServer(const XorgDummyServer&) = delete;
  XorgDummyServer& operator=(const XorgDummyServer&) = delete;

  bool running() const { return !display_.empty(); }
  // Why it is not running (empty while it runs).
  const std::string& error() const { return error_; }
  // ":N".
  const std::string& display() const { return display_; }
  pid_t pid() const { return server_ ? server_->pid() : -1; }

  // DUMMY0 becomes the panel and the glasses come up on DUMMY1, extended.
  bool bringUpGlasses(std::string* error = nullptr) const;
  // `primary` empty: the layout's own choice.
  bool setLayout(DummyLayout layout, const std::string& primary = {},
                 std::string* error = nullptr) const;

  // xrandr's reading of the server, the independent witness: its whole
  // output, and one output's line taken apart (none when xrandr failed or
  // lists no such output).
  std::string xrandr() const;
  std::optional<XrandrOutput> witness(const std::string& output) const;

  // Kills the server at once, as a crash would; its clients lose the connection.
  void kill();

  // The same operations on any display (the tool behind the shell twin).
  static bool bringUpGlasses(const std::string& display, std::string* error);
  static bool setLayout(const std::string& display, DummyLayout layout, const std::string& primary,
                        std::string* error);
  static std::optional<DummyLayout> layoutNamed(std::string_view name);
  static std::optional<XrandrOutput> parseXrandr(const std::string& text,
                                                 const std::string& output);

  // A 128-byte EDID base block whose monitor-name descriptor holds `name`
  // (13 bytes at most), with a detailed timing before it and a valid checksum.
  static std::array<uint8_t, 128> edidNamed(std::string_view name);

 private:
  void removeStaleFiles();

  std::string folder_;
  std::string display_;
  int number_ = -1;
  std::string error_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace vistrelle::testing
