#include "device/hid/glasses_device_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vistrelle::device {
namespace {

TEST(GlassesDeviceTable, RowsAndGenerationRule) {
  const std::vector<USBMonitorData> expected{{0x0483, 0x5750}, {0xFFFF, 0x8866}, {0x0483, 0x8005},
                                             {0x0483, 0x8004}, {0x0483, 0x8003}, {0x0483, 0x8002},
                                             {0x0483, 0x8001}, {0x3318, 0x0428}, {0x0416, 0x3F00},
                                             {0x1234, 0x5678}, {0x0483, 0x6001}};
  EXPECT_EQ(GlassesDeviceTable::monitorData(), expected);

  struct Case {
    uint16_t vendorId, productId;
    std::optional<int32_t> generation;
    bool wake, bootLoader;
  };
  for (const Case& c : std::vector<Case>{{0x0483, 0x5750, 1, false, false},
                                         {0xFFFF, 0x8866, 2, false, false},
                                         {0x0483, 0x8001, 2, false, false},
                                         {0x3318, 0x0428, std::nullopt, false, false},
                                         {0x0416, 0x3F00, 2, false, true},
                                         {0x1234, 0x5678, std::nullopt, true, false},
                                         {0x0483, 0x6001, std::nullopt, true, false},
                                         {0x0483, 0x1111, std::nullopt, false, false}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.vendorId << ":" << c.productId);
    EXPECT_EQ(GlassesDeviceTable::generationRule(c.vendorId, c.productId), c.generation);
    EXPECT_EQ(GlassesDeviceTable::isWakeDevice(c.vendorId, c.productId), c.wake);
    EXPECT_EQ(GlassesDeviceTable::isBootLoader(c.vendorId, c.productId), c.bootLoader);
  }
}

// The committed rule file is what scripts/install-deps installs: read as udev
// would, it must grant exactly the table's devices, in the table's order,
// and be the build target's current output.
TEST(GlassesDeviceTable, CommittedUdevRuleFileMatchesTheTable) {
  std::ifstream file(std::string(VISTRELLE_SOURCE_DIR) + "/resources/udev/70-vistrelle.rules");
  ASSERT_TRUE(file) << "resources/udev/70-vistrelle.rules is missing";
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), GlassesDeviceTable::udevRules())
      << "regenerate it: cmake --build --preset default --target vistrelle_udev_rules";

  const std::regex rule(
      R"re(^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess"$)re");
  std::vector<USBMonitorData> granted;
  std::istringstream lines(text.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, rule)) << line;
    granted.push_back({static_cast<uint16_t>(std::stoul(match[1], nullptr, 16)),
                       static_cast<uint16_t>(std::stoul(match[2], nullptr, 16))});
  }
  EXPECT_EQ(granted, GlassesDeviceTable::monitorData());
}

}  // namespace
}  // namespace vistrelle::device
