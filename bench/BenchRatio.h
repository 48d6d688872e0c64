// Ratios between benchmarks of one run: each program names pairs (measured, baseline) and gets a
// line "ratio: <measured> / <baseline> = x.xx (goal ...)" after the usual table.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace corvimus::bench {

struct RatioGoal {
  std::string measured;
  std::string baseline;
  double goal;  // the ratio should stay at or below this
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only on a terminal, so that logs of a run stay readable.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    ConsoleReporter::ReportRuns(runs);
  }
  // Prints each ratio; returns false when a pair was not measured.
  bool PrintRatios(const std::vector<RatioGoal>& goals) const {
    bool all = true;
    for (const RatioGoal& g : goals) {
      auto m = times_.find(g.measured), b = times_.find(g.baseline);
      if (m == times_.end() || b == times_.end() || b->second.real <= 0 || b->second.cpu <= 0) {
        all = false;
        continue;
      }
      // Both clocks; the goal is judged on CPU time, since on a busy machine the wall-clock ratio
      // also measures the other processes.
      double ratio = m->second.real / b->second.real;
      double cpuRatio = m->second.cpu / b->second.cpu;
      std::printf("ratio: %s / %s = %.2f (cpu %.2f; goal on cpu <= %.2f: %s)\n", g.measured.c_str(),
                  g.baseline.c_str(), ratio, cpuRatio, g.goal,
                  cpuRatio <= g.goal ? "met" : "NOT met");
    }
    return all;
  }

 private:
  struct Times {
    double real;
    double cpu;
  };
  std::map<std::string, Times> times_;
};

inline int RunWithRatios(int argc, char** argv, const std::vector<RatioGoal>& goals) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(goals);
  benchmark::Shutdown();
  return 0;
}

}  // namespace corvimus::bench
