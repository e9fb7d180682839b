#include "bench/platform/ratio_reporter.h"

#include <unistd.h>

#include <cstdio>
#include <ostream>

namespace vistrelle::bench {

namespace {
double counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
  auto found = run.counters.find(name);
  return found == run.counters.end() ? -1.0 : found->second.value;
}

std::string format(const char* pattern, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}
}  // namespace

RatioReporter::RatioReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    const std::string name = run.benchmark_name();
    if (const double ratio = counter(run, "ratio"); ratio >= 0) {
      const bool met = ratio >= kMinRatio;
      allMet_ = allMet_ && met;
      lines_.push_back(format("%-40s ratio %.2f of the bare baseline (goal >= %.1f)  %s",
                              name.c_str(), ratio, kMinRatio, met ? "met" : "MISSED"));
      if (const double handoff = counter(run, "handoff_ratio"); handoff >= 0) {
        lines_.push_back(format("%-40s ratio %.2f of a bare epoll thread + worker hand-off",
                                name.c_str(), handoff));
      }
    }
    if (const double p99 = counter(run, "p99_us"); p99 >= 0) {
      const bool met = p99 < kMaxP99Micros;
      allMet_ = allMet_ && met;
      lines_.push_back(format(
          "%-40s lateness p50 %.0f us, p99 %.0f us (bare %.0f / %.0f us; goal p99 < %.0f us)  %s",
          name.c_str(), counter(run, "p50_us"), p99, counter(run, "raw_p50_us"),
          counter(run, "raw_p99_us"), kMaxP99Micros, met ? "met" : "MISSED"));
    }
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  auto& out = GetOutputStream();
  out << "\nAgainst the goals:\n";
  for (const auto& line : lines_) out << "  " << line << "\n";
  out << (allMet_ ? "All goals met.\n" : "Some goals MISSED.\n");
}

}  // namespace vistrelle::bench
