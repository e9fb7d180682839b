#include "platform/hid/hid_report_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/hid/hid_report_frame.h"

namespace vistrelle::hid {
namespace {

using Bytes = std::vector<uint8_t>;

// A vendor collection with the items given in between.
Bytes collection(const Bytes& items) {
  Bytes bytes{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  for (uint8_t item : items) bytes.push_back(item);
  bytes.push_back(0xC0);
  return bytes;
}

struct LayoutCase {
  const char* name;
  Bytes descriptor;
  bool usesReportIds;
  std::map<uint8_t, uint32_t> input;
  std::map<uint8_t, uint32_t> output;
  bool wellFormed;
};

TEST(HidReportLayout, DescriptorTable) {
  const std::vector<LayoutCase> cases{
      {"unnumbered 64 in, 64 out",
       collection({0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0x95, 0x40, 0x91, 0x02}),
       false,
       {{0, 64}},
       {{0, 64}},
       true},
      {"IDs 1 in and 2 out",
       collection(
           {0x75, 0x08, 0x85, 0x01, 0x95, 0x40, 0x81, 0x02, 0x85, 0x02, 0x95, 0x40, 0x91, 0x02}),
       true,
       {{1, 64}},
       {{2, 64}},
       true},
      {"bits add up per report and round up to bytes",
       collection({0x85, 0x03, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02, 0x75, 0x03,
                   0x95, 0x01, 0x81, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02}),
       true,
       {{3, 2}},
       {},
       true},
      {"two-byte count and four-byte size",
       collection({0x77, 0x08, 0x00, 0x00, 0x00, 0x96, 0x00, 0x01, 0x81, 0x02}),
       false,
       {{0, 256}},
       {},
       true},
      {"push and pop keep the globals",
       collection({0x75, 0x08, 0x95, 0x10, 0xA4, 0x95, 0x02, 0x91, 0x02, 0xB4, 0x81, 0x02}),
       false,
       {{0, 16}},
       {{0, 2}},
       true},
      {"long item skipped",
       collection({0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02}),
       false,
       {{0, 4}},
       {},
       true},
      {"cut inside an item keeps what came before",
       Bytes{0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x95},
       false,
       {{0, 4}},
       {},
       false},
      {"report ID 0 is refused",
       collection({0x85, 0x00, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02}),
       false,
       {},
       {},
       false},
      {"pop without push",
       collection({0xB4, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02}),
       false,
       {},
       {},
       false},
      {"a report beyond the kernel's buffer is capped",
       collection({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}),
       false,
       {{0, HidReportLayout::kMaxReportBytes}},
       {},
       false},
      {"empty", {}, false, {}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HidReportLayout layout = parseReportDescriptor(c.descriptor);
    EXPECT_EQ(layout.usesReportIds, c.usesReportIds);
    EXPECT_EQ(layout.inputBytes, c.input);
    EXPECT_EQ(layout.outputBytes, c.output);
    EXPECT_EQ(layout.wellFormed, c.wellFormed);
  }
}

TEST(HidReportLayout, PushDeeperThanTheKernelAllowsIsRefused) {
  Bytes items;
  for (int i = 0; i < 5; ++i) items.push_back(0xA4);
  EXPECT_FALSE(parseReportDescriptor(collection(items)).wellFormed);
  items.pop_back();
  EXPECT_TRUE(parseReportDescriptor(collection(items)).wellFormed);
}

TEST(HidReportLayout, OversizedDescriptorIsReadOnlyToTheLimit) {
  Bytes bytes(HidReportLayout::kMaxDescriptorBytes, 0xB0);  // Main items with no data
  for (uint8_t item : {0x75, 0x08, 0x95, 0x04, 0x81, 0x02}) bytes.push_back(item);
  const HidReportLayout layout = parseReportDescriptor(bytes);
  EXPECT_FALSE(layout.wellFormed);
  EXPECT_TRUE(layout.inputBytes.empty());
}

TEST(HidReportFrame, WritesCarryTheIdOrZeroAndTheDeclaredSize) {
  const HidReportLayout numbered = parseReportDescriptor(collection(
      {0x75, 0x08, 0x85, 0x01, 0x95, 0x40, 0x81, 0x02, 0x85, 0x02, 0x95, 0x20, 0x91, 0x02}));
  const HidReportLayout unnumbered =
      parseReportDescriptor(collection({0x75, 0x08, 0x95, 0x40, 0x81, 0x02}));
  Bytes payload(100, 0);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i + 1);

  // Numbered: [2, 32 declared bytes].
  Bytes frame = frameOutputReport(numbered, 2, payload);
  ASSERT_EQ(frame.size(), 33u);
  EXPECT_EQ(frame[0], 2);
  EXPECT_EQ(frame[1], 1);
  EXPECT_EQ(frame[32], 32);
  // An undeclared output report (or none at all) is 64 bytes.
  EXPECT_EQ(frameOutputReport(numbered, 5, payload).size(), 65u);
  frame = frameOutputReport(unnumbered, 2, payload);
  ASSERT_EQ(frame.size(), 65u);
  EXPECT_EQ(frame[0], 0);
  EXPECT_EQ(frame[64], 64);
  // A short payload is padded with zeros.
  frame = frameOutputReport(unnumbered, 2, Bytes{7, 8});
  EXPECT_EQ(frame, [] {
    Bytes expected(65, 0);
    expected[1] = 7;
    expected[2] = 8;
    return expected;
  }());
}

TEST(HidReportFrame, ReadsLoseTheIdByteOnlyWhenIdsAreDeclared) {
  const HidReportLayout numbered =
      parseReportDescriptor(collection({0x85, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02}));
  const HidReportLayout unnumbered =
      parseReportDescriptor(collection({0x75, 0x08, 0x95, 0x02, 0x81, 0x02}));
  const Bytes raw{1, 0xAA, 0xBB};
  HidInputReport report = stripInputReport(numbered, raw);
  EXPECT_EQ(report.reportId, 1);
  EXPECT_EQ(Bytes(report.bytes.begin(), report.bytes.end()), (Bytes{0xAA, 0xBB}));
  report = stripInputReport(unnumbered, raw);
  EXPECT_EQ(report.reportId, 0);
  EXPECT_EQ(Bytes(report.bytes.begin(), report.bytes.end()), raw);
  EXPECT_TRUE(stripInputReport(numbered, {}).bytes.empty());
}

}  // namespace
}  // namespace vistrelle::hid
