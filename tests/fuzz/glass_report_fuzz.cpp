// Fuzz target: the glasses' input-report parser, fed one report as the HID
// monitor hands it over (any length, any generation).
// Input: one byte for the generation (its value modulo 4: 1 and 2 are the two
// generations of glasses, 0 and 3 none), then the report's bytes.
// Links: vistrelle_device_protocol vistrelle_base

#include <cstring>
#include <string>
#include <vector>

#include "base/helpers/utf8.h"
#include "device/protocol/glass_report.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace vistrelle;
using device::GlassReport;
using device::GlassReportOutputs;

bool allZero(const void* bytes, size_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t generation = data[0] % 4;
  const std::span<const uint8_t> report(data + 1, size - 1);

  NotificationCenter center;
  auto companion = std::make_shared<device::CompanionLink>();
  device::WearThresholds thresholds;
  GlassReport parser(center, companion, thresholds, [](std::string_view) {});
  std::vector<std::string> versions;
  const Subscription subscription =
      center.observe(GlassReport::kVersionNotification, nullptr, [&](const Notification& n) {
        FUZZ_CHECK(n.object.asString() != nullptr);
        versions.push_back(*n.object.asString());
      });

  GlassReportOutputs outputs;
  parser.parseInputReport(generation, report, outputs);

  // Each generation fills only its own fields.
  if (generation != 1) {
    FUZZ_CHECK(allZero(outputs.quaternion.data(), sizeof outputs.quaternion));
    FUZZ_CHECK(allZero(parser.lastQuaternion().data(), sizeof outputs.quaternion));
  }
  if (generation != 2) {
    FUZZ_CHECK(allZero(outputs.tripleA.data(), sizeof outputs.tripleA));
    FUZZ_CHECK(allZero(outputs.tripleB.data(), sizeof outputs.tripleB));
    FUZZ_CHECK(outputs.scalarC == 0);
  }
  FUZZ_CHECK(outputs.versionLength <= GlassReport::kVersionMaxLength);
  FUZZ_CHECK(allZero(outputs.versionText.data() + outputs.versionLength,
                     outputs.versionText.size() - outputs.versionLength));

  const std::string text = GlassReport::versionText(outputs);
  FUZZ_CHECK(base::isValidUtf8(text));
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  for (const char c : text) FUZZ_CHECK(!(c >= 'a' && c <= 'z'));

  int quaternionCalls = 0;
  parser.deliverResults(generation, outputs, [&](float q0, float q1, float q2, float q3) {
    const float q[4] = {q0, q1, q2, q3};
    FUZZ_CHECK(std::memcmp(q, outputs.quaternion.data(), sizeof q) == 0);
    ++quaternionCalls;
  });
  // A version text goes out as the notification (for glasses of ours) and
  // never also as a quaternion.
  if (text.empty()) {
    FUZZ_CHECK(versions.empty() && quaternionCalls == 1);
  } else {
    FUZZ_CHECK(quaternionCalls == 0);
    FUZZ_CHECK(versions.size() == ((generation == 1 || generation == 2) ? 1u : 0u));
    FUZZ_CHECK(versions.empty() || versions.front() == text);
  }

  // The monitor's own road: fresh outputs, parse, deliver.
  parser.handleInputReport(generation, report, nullptr);
  FUZZ_CHECK(parser.currentGeneration() == generation);
  return 0;
}
