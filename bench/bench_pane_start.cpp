// From starting the pane host to the settings pane being shown (painted once), with a settings file
// of 100 applications, against the same with only the global record and against the host showing
// no pane. Each run is a real host process on Qt's offscreen platform; the host prints the time
// from its first instruction to the first paint, which is reported as the counter shown_ms next to
// the wall time of the whole process (start, show, save on leaving, exit).
//
// Prints "ratio: ..." lines and "shown: ... ms (goal < 300 ms)" after the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recordbase/PStrings.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
#include "testing/TempDir.h"

using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;

namespace {

#ifndef CORVIMUS_NO_PANE

struct World {
  TempDir dir;
  std::string bundle, config, run;
};

// A copy of the bundle without the agent it may carry, and a Preferences folder whose settings
// file holds `applications` application records after the global one.
World* MakeWorld(int applications) {
  auto* w = new World;
  w->bundle = w->dir / "Corvimus.prefPane";
  w->config = w->dir / "config";
  w->run = w->dir / "run";
  namespace fs = std::filesystem;
  for (const std::string& d : {w->bundle + "/Contents/MacOS", w->bundle + "/Contents/Resources/en.lproj",
                               w->config, w->run})
    fs::create_directories(d);
  fs::permissions(w->run, fs::perms::owner_all, fs::perm_options::replace);
  for (const char* f : {"/Contents/Info.plist", "/Contents/MacOS/Corvimus",
                        "/Contents/Resources/en.lproj/MouseButtonsView.strings",
                        "/Contents/Resources/en.lproj/StringLists.strings"})
    fs::copy_file(std::string(PANE_BUNDLE) + f, w->bundle + f);
  if (applications >= 0) {
    setenv("XDG_CONFIG_HOME", w->config.c_str(), 1);
    QBaseHandle base = NewMouseSettingsBase(4);
    QBaseAddRecord(base, &kCorvimusDefaultPrefs, kCorvimusPrefsRecSize);
    for (int i = 0; i < applications; ++i) {
      CorvimusPrefsRec r = kCorvimusDefaultPrefs;
      r.application = FourCC("????");
      std::string name = "Application " + std::to_string((i * 37) % applications);  // unsorted
      CStringPCopy(name.c_str(), r.appName, 31);
      CStringPCopy(name.c_str(), r.appFileName, 63);
      QBaseAddRecord(base, &r, kCorvimusPrefsRecSize);
    }
    Str255 file;
    CStringPCopy(kCorvimusPrefsFileName, file, 255);
    SaveMouseSettings(base, file, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
    QBaseDispose(base);
  }
  return w;
}

std::map<std::string, std::vector<double>> gShownMs;

void RunHost(benchmark::State& state, const std::string& label, int applications, bool withPane) {
  std::unique_ptr<World> w(MakeWorld(withPane ? applications : -1));
  std::vector<std::string> argv = {PANEHOST_EXECUTABLE, "--exit-when-shown"};
  if (withPane) argv.insert(argv.end(), {"--pane", w->bundle});
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + w->config,
                                  "XDG_RUNTIME_DIR=" + w->run, "HOME=" + w->dir.path()};
  double shownTotal = 0;
  for (auto _ : state) {
    auto r = RunProgram(argv, {}, env, 20000);
    auto at = r.out.find("shown after ");
    if (r.exitCode != 0 || at == std::string::npos) {
      state.SkipWithError(("host failed: " + r.err).c_str());
      return;
    }
    double ms = std::atof(r.out.c_str() + at + 12) / 1000.0;
    shownTotal += ms;
    gShownMs[label].push_back(ms);
  }
  state.counters["shown_ms"] = benchmark::Counter(shownTotal / double(state.iterations()));
}

void BM_HostOnly(benchmark::State& s) { RunHost(s, "host only", 0, false); }
void BM_PaneGlobalRecordOnly(benchmark::State& s) { RunHost(s, "global record only", 0, true); }
void BM_Pane100Applications(benchmark::State& s) { RunHost(s, "100 applications", 100, true); }
BENCHMARK(BM_HostOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_PaneGlobalRecordOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_Pane100Applications)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
#ifdef CORVIMUS_NO_PANE
  std::printf("bench_pane_start: the pane or its host is not built\n");
#else
  benchmark::RunSpecifiedBenchmarks();
  double host = Median(gShownMs["host only"]), one = Median(gShownMs["global record only"]),
         hundred = Median(gShownMs["100 applications"]);
  if (host > 0 && one > 0 && hundred > 0) {
    std::printf("ratio: 100 applications / global record only = %.2f (median time to shown)\n", hundred / one);
    std::printf("ratio: 100 applications / host only = %.2f\n", hundred / host);
    std::printf("shown: %.1f ms with 100 applications (goal < 300 ms: %s)\n", hundred,
                hundred < 300 ? "met" : "NOT met");
  }
#endif
  benchmark::Shutdown();
  return 0;
}
