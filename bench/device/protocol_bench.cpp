// Input reports parsed per second.  The glasses send about 1000 IMU reports a
// second; the parser runs on the HID thread for each, so it must stay far
// above that and must not allocate per report.  The "allocs/report" counter
// counts every operator new while the timed loop runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "device/protocol/glass_command_report.h"
#include "device/protocol/glass_report.h"
#include "support/allocation_counter.h"

namespace {

using vistrelle::NotificationCenter;
using vistrelle::device::GlassCommandReport;
using vistrelle::device::GlassReport;
using vistrelle::device::GlassReportOutputs;

GlassCommandReport firstGenerationImu() {
  GlassCommandReport report;
  report.setU16(0, 32);
  const float q[] = {0.1f, 0.2f, 0.3f, 0.9f};
  for (size_t i = 0; i < 4; ++i) report.setF32(28 + 4 * i, q[i]);
  return report;
}

GlassCommandReport secondGenerationImu(int16_t seed) {
  GlassCommandReport report;
  report.setU16(0, 32);
  for (size_t i = 0; i < 7; ++i) {
    report.setU16(28 + 2 * i, static_cast<uint16_t>(seed * static_cast<int16_t>(i + 1)));
  }
  return report;
}

// One second of a second-generation stream: 1000 IMU reports, one threshold
// reply and one bias-free reply of an unhandled group, as the glasses mix them.
std::vector<GlassCommandReport> secondGenerationMix() {
  std::vector<GlassCommandReport> reports;
  for (int i = 0; i < 1000; ++i) reports.push_back(secondGenerationImu(static_cast<int16_t>(i)));
  GlassCommandReport thresholds;
  thresholds.begin(5, 2);
  thresholds.setU16(14, 30);
  thresholds.setU16(16, 40);
  reports[500] = thresholds;
  GlassCommandReport other;
  other.begin(17, 1);
  reports[900] = other;
  return reports;
}

template <typename Parse>
void runStream(benchmark::State& state, const std::vector<GlassCommandReport>& reports,
               Parse parse) {
  size_t next = 0;
  const uint64_t before = vistrelle::bench::allocationCount();
  for (auto _ : state) {
    parse(reports[next].bytes());
    next = next + 1 == reports.size() ? 0 : next + 1;
  }
  const auto parsed = static_cast<double>(state.iterations());
  state.counters["reports/s"] = benchmark::Counter(parsed, benchmark::Counter::kIsRate);
  state.counters["allocs/report"] =
      static_cast<double>(vistrelle::bench::allocationCount() - before) / parsed;
}

void ParseFirstGenerationImu(benchmark::State& state) {
  NotificationCenter center;
  GlassReport parser(center);
  const std::vector<GlassCommandReport> reports{firstGenerationImu()};
  runStream(state, reports, [&](std::span<const uint8_t> bytes) {
    GlassReportOutputs outputs;
    parser.parseInputReport(1, bytes, outputs);
    benchmark::DoNotOptimize(outputs);
  });
}
BENCHMARK(ParseFirstGenerationImu);

void ParseSecondGenerationMix(benchmark::State& state) {
  NotificationCenter center;
  GlassReport parser(center);
  const auto reports = secondGenerationMix();
  runStream(state, reports, [&](std::span<const uint8_t> bytes) {
    GlassReportOutputs outputs;
    parser.parseInputReport(2, bytes, outputs);
    benchmark::DoNotOptimize(outputs);
  });
}
BENCHMARK(ParseSecondGenerationMix);

// The HID monitor's whole path per report: fresh outputs, parse, version
// check, quaternion callback.
void HandleSecondGenerationMix(benchmark::State& state) {
  NotificationCenter center;
  GlassReport parser(center);
  const auto reports = secondGenerationMix();
  float sink = 0;
  const GlassReport::ReadCallBack callback = [&](float q0, float, float, float) { sink += q0; };
  runStream(state, reports,
            [&](std::span<const uint8_t> bytes) { parser.handleInputReport(2, bytes, callback); });
  benchmark::DoNotOptimize(sink);
}
BENCHMARK(HandleSecondGenerationMix);

}  // namespace

BENCHMARK_MAIN();
