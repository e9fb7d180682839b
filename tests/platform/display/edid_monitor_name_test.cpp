#include "platform/display/edid_monitor_name.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/xorg_dummy_server.h"

namespace vistrelle::display {
namespace {

using testing::XorgDummyServer;

std::vector<uint8_t> named(std::string_view name) {
  const auto edid = XorgDummyServer::edidNamed(name);
  return {edid.begin(), edid.end()};
}

// The name descriptor of edidNamed() is the second one, at byte 72.
std::vector<uint8_t> withNameBytes(std::vector<uint8_t> edid, std::vector<uint8_t> text) {
  for (size_t i = 0; i < 13; ++i) edid[72 + 5 + i] = i < text.size() ? text[i] : 0x20;
  return edid;
}

TEST(EdidMonitorName, ReadsTheNameDescriptor) {
  struct Case {
    const char* what;
    std::vector<uint8_t> edid;
    std::optional<std::string> name;
  };
  const std::vector<uint8_t> glasses = named("ORVEX Glass");
  std::vector<uint8_t> noHeader = glasses;
  noHeader[1] = 0x00;
  std::vector<uint8_t> noDescriptor = glasses;
  noDescriptor[72 + 3] = 0x10;
  std::vector<uint8_t> timingThere = glasses;
  timingThere[72] = 0x01;  // a pixel clock: a timing, not a descriptor
  std::vector<uint8_t> extended = glasses;
  extended.resize(256, 0x5A);  // an extension block after the base one
  std::vector<uint8_t> lastDescriptor = noDescriptor;
  lastDescriptor[108 + 3] = 0xFC;
  for (size_t i = 0; i < 13; ++i) lastDescriptor[108 + 5 + i] = "Far Panel\n   "[i];

  const Case cases[] = {
      {"the glasses", glasses, "ORVEX Glass"},
      {"13 bytes, no end mark", named("ORVEX Glass 3D"), "ORVEX Glass 3"},
      {"padding after the end mark", withNameBytes(glasses, {'A', '\n', 'B', 'C'}), "A"},
      {"trailing spaces, no end mark", withNameBytes(glasses, {'O', 'r', 'v', 'e', 'x', ' '}),
       "Orvex"},
      {"leading spaces kept", withNameBytes(glasses, {' ', 'X', '\n'}), " X"},
      {"control and high bytes", withNameBytes(glasses, {'A', 0x00, 0x1B, 0xC3, 'B', '\n'}),
       "A???B"},
      {"an empty name", withNameBytes(glasses, {'\n'}), std::nullopt},
      {"only spaces", withNameBytes(glasses, {}), std::nullopt},
      {"the fourth descriptor", lastDescriptor, "Far Panel"},
      {"no name descriptor", noDescriptor, std::nullopt},
      {"a timing where the name was", timingThere, std::nullopt},
      {"with an extension block", extended, "ORVEX Glass"},
      {"no EDID header", noHeader, std::nullopt},
      {"one byte short", std::vector<uint8_t>(glasses.begin(), glasses.end() - 1), std::nullopt},
      {"empty", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(edidMonitorName(c.edid), c.name) << c.what;
  }
}

}  // namespace
}  // namespace vistrelle::display
