#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace vistrelle::bench {

// The console table, followed by one line per benchmark that sets its figure
// against the goal: a "ratio" counter (runtime over bare baseline) should be
// at least 0.5, a "p99_us" counter (timer lateness) under 2 ms.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  static constexpr double kMinRatio = 0.5;
  static constexpr double kMaxP99Micros = 2000.0;

  // Coloured only on a terminal, so that a log file stays plain text.
  RatioReporter();

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // False once any figure has missed its goal.
  bool allMet() const { return allMet_; }

 private:
  std::vector<std::string> lines_;
  bool allMet_ = true;
};

}  // namespace vistrelle::bench
