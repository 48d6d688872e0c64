// What building the key tables costs next to what the agent pays anyway to have the layout: loading
// the same XKB keymap. Prints "ratio <layout>: x.xx" (CPU time of table building / of keymap
// loading; CPU time, since the machines that run it are often busy with other work).
#include <benchmark/benchmark.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <map>
#include <string>

#include "agent/KeyTables.h"
#include "platform/Keyboards.h"

namespace {

void LoadKeymap(benchmark::State& state, const char* layout) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  xkb_rule_names names = {"evdev", "pc105", layout, "", ""};
  for (auto _ : state) {
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
      state.SkipWithError("the keymap does not load");
      break;
    }
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(context);
}

void BuildTables(benchmark::State& state, const char* layout) {
  if (KLSetCurrentKeyboardLayoutForTesting(layout) != noErr) {
    state.SkipWithError("the layout does not load");
    return;
  }
  for (auto _ : state) {
    UInt8* keys = nullptr;
    UInt8* mods = nullptr;
    benchmark::DoNotOptimize(BuildKeyTables(&keys, &mods));
    DisposeKeyTables(keys, mods);
  }
  KLSetCurrentKeyboardLayoutForTesting(nullptr);
}

// Keeps each run's time per iteration so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred && run.iterations > 0)
        seconds_[run.benchmark_name()] = run.cpu_accumulated_time / double(run.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const std::string& layout) const {
    auto build = seconds_.find("BuildKeyTables/" + layout);
    auto load = seconds_.find("LoadKeymap/" + layout);
    if (build == seconds_.end() || load == seconds_.end() || load->second <= 0) return;
    std::printf("ratio %s: %.2f (BuildKeyTables / LoadKeymap)\n", layout.c_str(),
                build->second / load->second);
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const char* layout : {"us", "de"}) {
    benchmark::RegisterBenchmark((std::string("LoadKeymap/") + layout).c_str(), LoadKeymap, layout)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("BuildKeyTables/") + layout).c_str(), BuildTables,
                                 layout)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("us");
  reporter.PrintRatio("de");
  benchmark::Shutdown();
  return 0;
}
