// The agent end to end, against the simulated driver held in this process and a private X server:
//   - front window changed -> both mice hold the new record: with the X event path, and with the
//     0.5 s timer alone (the baseline; ratio = timer median / event median);
//   - 'CVda' -> 'CVtk' round trip, against the pane's device query to the same agent (baseline);
//   - resident memory after start-up with two mice, against the stand-in test application;
//   - wake-ups per second while idle, against the timer's own two a second;
//   - front window changed -> both mice hold the new record while a hostile driver at the system
//     driver's place answers the agent late, leaves its greeting halfway each time it is started
//     again, or sends half a frame and stops: each against the same switch without it (the
//     added delay should stay under 50 ms).
// Figures are wall-clock and cross processes. Medians and 95th percentiles are printed at the end.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/AgentMain.h"
#include "driver/SimDriver.h"
#include "platform/IOKit.h"
#include "platform/Processes.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "testing/ChildProcess.h"
#include "testing/ScriptedDriver.h"
#include "testing/TempDir.h"
#include "testing/XvfbServer.h"

using namespace corvimus;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kTimerOnlyFlag[] = "--run-agent-timer-only";
// The agent with the system driver's place at the given socket instead of /run/corvimus.
constexpr char kBesideFlag[] = "--run-agent-beside";
constexpr UInt8 kSpeedA = 20, kSpeedB = 30;

std::string BuildDir() {
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? size_t(n) : 0);
  return path.substr(0, path.rfind('/')) + "/..";
}

CorvimusPrefsRec Record(OSType application, UInt8 speed) {
  CorvimusPrefsRec record = kCorvimusDefaultPrefs;
  record.application = application;
  record.device[0].speed = speed;
  record.device[0].action[0].command = kCmdUndo;
  return record;
}

struct App {
  testing::ChildProcess process;
  xcb_window_t window = 0;
};

struct World {
  testing::TempDir dir;
  testing::XvfbServer x;
  SimDriver sim;
  App a, b;
  xcb_connection_t* conn = nullptr;
  xcb_ewmh_connection_t ewmh{};
  int screen = 0;
  std::string error;
  std::map<std::string, std::vector<double>> samplesMs;
  std::map<std::string, double> figures;
};
World* gWorld = nullptr;

void Pump(World& w, int timeoutMs) {
  pollfd p{w.sim.Server().Descriptor(), POLLIN, 0};
  poll(&p, 1, timeoutMs);
  w.sim.Server().Pump();
}

bool PumpUntil(World& w, const std::function<bool()>& done, int timeoutMs = 5000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    Pump(w, 1);
  }
  return true;
}

bool MiceHoldSpeed(World& w, UInt8 speed) {
  for (UInt32 mouse : {1u, 2u}) {
    const SimMouse* m = w.sim.Mouse(mouse);
    if (!m || !m->hasRecord || m->record.device[0].speed != speed) return false;
  }
  return true;
}

bool StartApp(World& w, App* app, const std::string& name, const std::string& signature) {
  std::string bundle = w.dir / (name + ".app");
  fs::create_directories(bundle + "/Contents/MacOS");
  fs::copy_file(BuildDir() + "/agent/agent_test_app", bundle + "/Contents/MacOS/" + name);
  testing::WriteFile(bundle + "/Contents/Info.plist",
                     "<plist version=\"1.0\"><dict><key>CFBundleSignature</key><string>" +
                         signature + "</string></dict></plist>");
  if (!app->process.Start({bundle + "/Contents/MacOS/" + name})) return false;
  std::string line;
  if (!app->process.ReadLine(&line) || line.rfind("ready ", 0) != 0) return false;
  app->window = xcb_window_t(std::stoul(line.substr(6)));
  return app->window != 0;
}

World* SetUpWorld() {
  auto* w = new World;
  for (const char* sub : {"run", "config", "home", "prefix"}) fs::create_directories(w->dir / sub);
  fs::create_directories(w->dir / "run/corvimus");
  chmod((w->dir / "run").c_str(), 0700);
  chmod((w->dir / "run/corvimus").c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (w->dir / "run").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (w->dir / "config").c_str(), 1);
  setenv("HOME", (w->dir / "home").c_str(), 1);
  setenv("CORVIMUS_PREFIX", (w->dir / "prefix").c_str(), 1);
  SetProcessScopeForTesting(getpid());
  if (!w->x.Start(&w->error)) return w;
  setenv("DISPLAY", w->x.display().c_str(), 1);
  w->conn = xcb_connect(w->x.display().c_str(), &w->screen);
  xcb_ewmh_init_atoms_replies(&w->ewmh, xcb_ewmh_init_atoms(w->conn, &w->ewmh), nullptr);

  QBaseHandle base = NewMouseSettingsBase(4);
  for (const auto& r :
       {Record(0, 10), Record(FourCC("ttxa"), kSpeedA), Record(FourCC("ttxb"), kSpeedB)})
    QBaseAddRecord(base, &r, sizeof r);
  Str255 name;
  name[0] = static_cast<unsigned char>(std::strlen(kCorvimusPrefsFileName));
  std::memcpy(name + 1, kCorvimusPrefsFileName, name[0]);
  SaveMouseSettings(base, name, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  QBaseDispose(base);

  if (w->sim.Start(w->dir / "run/corvimus/driver.sock", 2, 1, "") != noErr) {
    w->error = "the simulated driver did not start";
    return w;
  }
  if (!StartApp(*w, &w->a, "EditorA", "ttxa") || !StartApp(*w, &w->b, "EditorB", "ttxb"))
    w->error = "the stand-in applications did not start";
  return w;
}

void Activate(World& w, xcb_window_t window) {
  xcb_ewmh_set_active_window(&w.ewmh, w.screen, window);
  xcb_flush(w.conn);
}

// Starts an agent and waits until both mice are served and the first front window reached them.
// With `systemDriver`, the agent takes the system driver's place from there.
bool StartAgent(World& w, testing::ChildProcess* agent, bool timerOnly,
                const std::string& systemDriver = {}) {
  std::string helper = BuildDir() + "/agent/CorvimusHelper.app/Contents/MacOS/CorvimusHelper";
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string me(self, size_t(std::max<ssize_t>(n, 0)));
  std::vector<std::string> argv = timerOnly ? std::vector<std::string>{me, kTimerOnlyFlag}
                                  : !systemDriver.empty()
                                      ? std::vector<std::string>{me, kBesideFlag, systemDriver}
                                      : std::vector<std::string>{helper};
  // The mice remember what an earlier agent gave them: wait for this agent's own pushes.
  UInt32 pushes1 = w.sim.Mouse(1)->pushes, pushes2 = w.sim.Mouse(2)->pushes;
  Activate(w, w.b.window);
  if (!agent->Start(argv)) return false;
  if (!PumpUntil(
          w,
          [&] {
            return w.sim.Mouse(1)->pushes > pushes1 && w.sim.Mouse(2)->pushes > pushes2 &&
                   MiceHoldSpeed(w, kSpeedB);
          },
          10000))
    return false;
  Activate(w, w.a.window);
  return PumpUntil(
      w, [&] { return MiceHoldSpeed(w, kSpeedA); }, 10000);
}

void Percentiles(const std::vector<double>& samples, double* median, double* p95) {
  std::vector<double> s = samples;
  std::sort(s.begin(), s.end());
  *median = s.empty() ? 0 : s[s.size() / 2];
  *p95 = s.empty() ? 0 : s[std::min(s.size() - 1, size_t(double(s.size()) * 0.95))];
}

// Switches the front window back and forth with `agent` running, timing each switch until both
// mice hold the new record. `beforeSwitch` (when given) runs before each; false ends the run.
void MeasureSwitches(benchmark::State& state, testing::ChildProcess& agent, const char* key,
                     const std::function<bool()>& beforeSwitch = {}) {
  World& w = *gWorld;
  bool toB = true;
  for (auto _ : state) {
    UInt8 speed = toB ? kSpeedB : kSpeedA;
    // Each switch starts at a random point of the timer's period, as a user's would.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::rand() % 500));
    if (beforeSwitch && !beforeSwitch()) return state.SkipWithError("could not prepare the switch");
    auto t0 = Clock::now();
    Activate(w, toB ? w.b.window : w.a.window);
    if (!PumpUntil(w, [&] { return MiceHoldSpeed(w, speed); }))
      return state.SkipWithError("the record did not arrive");
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    state.SetIterationTime(ms / 1000);
    w.samplesMs[key].push_back(ms);
    toB = !toB;
  }
  agent.Signal(SIGINT);
  agent.Wait(5000);
}

void SwitchToPush(benchmark::State& state, bool timerOnly, const char* key) {
  World& w = *gWorld;
  if (!w.error.empty()) return state.SkipWithError(w.error.c_str());
  testing::ChildProcess agent;
  if (!StartAgent(w, &agent, timerOnly)) return state.SkipWithError("the agent did not start");
  MeasureSwitches(state, agent, key);
}

void BM_SwitchToPush_WindowEvents(benchmark::State& state) {
  SwitchToPush(state, false, "switch, X events");
}
void BM_SwitchToPush_TimerAlone(benchmark::State& state) {
  SwitchToPush(state, true, "switch, timer alone");
}
BENCHMARK(BM_SwitchToPush_WindowEvents)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwitchToPush_TimerAlone)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same switch with a hostile driver at the system place; `provoke` makes it misbehave afresh
// before each switch.
using HostileDriver = std::unique_ptr<testing::ScriptedDriver>;

void SwitchBesideHostileDriver(benchmark::State& state, const char* key,
                               const std::function<void(HostileDriver&)>& provoke) {
  World& w = *gWorld;
  if (!w.error.empty()) return state.SkipWithError(w.error.c_str());
  std::string socket = w.dir / "hostile/driver.sock";
  fs::create_directories(w.dir / "hostile");
  HostileDriver hostile = std::make_unique<testing::ScriptedDriver>(socket);
  hostile->Publish(1);
  if (!hostile->Start()) return state.SkipWithError("the hostile driver did not start");
  testing::ChildProcess agent;
  if (!StartAgent(w, &agent, false, socket)) return state.SkipWithError("the agent did not start");
  MeasureSwitches(state, agent, key, [&] {
    provoke(hostile);
    return hostile != nullptr;
  });
}

// Answers everything late: what it owes comes in before each switch, and the switch's own call
// then waits for an answer that does not come.
void BM_SwitchToPush_BesideLateDriver(benchmark::State& state) {
  SwitchBesideHostileDriver(state, "switch, late driver", [](HostileDriver& driver) {
    driver->ReleaseAnswers();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    driver->HoldAnswers();
  });
}
// Started again before each switch (the agent connects to it at once), it answers the greeting
// halfway and never finishes.
void BM_SwitchToPush_BesideHalfGreetingDriver(benchmark::State& state) {
  SwitchBesideHostileDriver(state, "switch, half greeting", [](HostileDriver& driver) {
    std::string socket = driver->path();
    driver.reset();
    driver = std::make_unique<testing::ScriptedDriver>(socket);
    driver->Publish(1);
    driver->HalveGreetings();
    if (!driver->Start()) driver.reset();
    // The agent hears of the new socket at once and connects.
    for (int i = 0; driver && i < 200 && driver->clients() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
}
// Sends the start of a frame, whose rest never comes, before the switch's call is answered.
void BM_SwitchToPush_BesideHalfFrameDriver(benchmark::State& state) {
  SwitchBesideHostileDriver(state, "switch, half frame", [](HostileDriver& driver) {
    driver->HoldAnswers();
    driver->SendRaw({0x40, 0, 0, 0, 1, 0x0D, 0, 0, 0, 0, 0, 0});
  });
}
BENCHMARK(BM_SwitchToPush_BesideLateDriver)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwitchToPush_BesideHalfGreetingDriver)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwitchToPush_BesideHalfFrameDriver)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

long StatusField(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  return -1;
}

// The action round trip, the device query beside it, then memory and idle wake-ups of the same
// agent once it has settled.
void BM_ActionRoundTrip(benchmark::State& state) {
  World& w = *gWorld;
  if (!w.error.empty()) return state.SkipWithError(w.error.c_str());
  testing::ChildProcess agent;
  if (!StartAgent(w, &agent, false)) return state.SkipWithError("the agent did not start");
  for (auto _ : state) {
    size_t before = w.sim.Mouse(1)->keystrokes.size();
    auto t0 = Clock::now();
    std::string answer;
    w.sim.Control("press 1 C0", &answer);
    if (!PumpUntil(w, [&] { return w.sim.Mouse(1)->keystrokes.size() > before; }))
      return state.SkipWithError(("no keystroke came back after " +
                                  std::to_string(w.samplesMs["CVda to CVtk"].size()) + ": " +
                                  answer + " connections " +
                                  std::to_string(w.sim.Server().ConnectionsOf(1).size()) +
                                  " peers " + std::to_string(w.sim.Server().ClientCount()))
                                     .c_str());
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    state.SetIterationTime(ms / 1000);
    w.samplesMs["CVda to CVtk"].push_back(ms);
  }
  for (int i = 0; i < 200; ++i) {
    CorvimusDeviceList list;
    auto t0 = Clock::now();
    if (GetConnectedDevices(&list) != noErr) break;
    w.samplesMs["device query"].push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }

  w.figures["agent resident kB"] = double(StatusField(agent.pid(), "VmRSS"));
  w.figures["test application resident kB"] = double(StatusField(w.a.process.pid(), "VmRSS"));
  long before = StatusField(agent.pid(), "voluntary_ctxt_switches") +
                StatusField(agent.pid(), "nonvoluntary_ctxt_switches");
  constexpr int kIdleSeconds = 5;
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  long after = StatusField(agent.pid(), "voluntary_ctxt_switches") +
               StatusField(agent.pid(), "nonvoluntary_ctxt_switches");
  w.figures["idle wake-ups per second"] = double(after - before) / kIdleSeconds;
  agent.Signal(SIGINT);
  agent.Wait(5000);
}
BENCHMARK(BM_ActionRoundTrip)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

void PrintSummary(World& w) {
  std::map<std::string, std::pair<double, double>> stats;
  for (const auto& [name, samples] : w.samplesMs) {
    double median, p95;
    Percentiles(samples, &median, &p95);
    stats[name] = {median, p95};
    std::printf("%-22s median %8.3f ms   95th percentile %8.3f ms   (%zu samples)\n", name.c_str(),
                median, p95, samples.size());
  }
  for (const auto& [name, value] : w.figures) std::printf("%-30s %.1f\n", name.c_str(), value);
  auto ratio = [&](const char* what, const char* a, const char* b, double goalMs) {
    if (!stats.count(a) || !stats.count(b) || stats[b].first <= 0) return;
    std::printf("ratio: %s = %.2f", what, stats[a].first / stats[b].first);
    if (goalMs > 0)
      std::printf("  (goal: median under %.0f ms: %s)", goalMs,
                  stats[b].first < goalMs ? "met" : "NOT met");
    std::printf("\n");
  };
  ratio("switch timer alone / X events (median)", "switch, timer alone", "switch, X events", 20);
  for (const char* hostile : {"switch, late driver", "switch, half greeting", "switch, half frame"}) {
    if (!stats.count(hostile) || !stats.count("switch, X events")) continue;
    double added = stats[hostile].first - stats["switch, X events"].first;
    std::printf("ratio: %s / X events (median) = %.2f  (added %.1f ms; goal under 50 ms: %s)\n",
                hostile, stats[hostile].first / stats["switch, X events"].first, added,
                added < 50 ? "met" : "NOT met");
  }
  if (stats.count("CVda to CVtk") && stats.count("device query"))
    std::printf("ratio: CVda-to-CVtk / device query (median) = %.2f  (goal: under 1 ms: %s)\n",
                stats["CVda to CVtk"].first / stats["device query"].first,
                stats["CVda to CVtk"].first < 1.0 ? "met" : "NOT met");
  if (w.figures.count("agent resident kB") && w.figures["test application resident kB"] > 0)
    std::printf("ratio: agent / test application resident memory = %.2f  (goal: under 8 MB: %s)\n",
                w.figures["agent resident kB"] / w.figures["test application resident kB"],
                w.figures["agent resident kB"] < 8192 ? "met" : "NOT met");
  if (w.figures.count("idle wake-ups per second"))
    std::printf("ratio: idle wake-ups / timer ticks (2 a second) = %.2f\n",
                w.figures["idle wake-ups per second"] / 2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], kTimerOnlyFlag) == 0) return RunCorvimusHelper(false);
  if (argc == 3 && std::strcmp(argv[1], kBesideFlag) == 0) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string user = std::string(runtime ? runtime : "") + "/corvimus/driver.sock";
    IOKitSetDriverPlacesForTesting(argv[2], user.c_str());
    return RunCorvimusHelper(true);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  gWorld = SetUpWorld();
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary(*gWorld);
  if (gWorld->conn) {
    xcb_ewmh_connection_wipe(&gWorld->ewmh);
    xcb_disconnect(gWorld->conn);
  }
  delete gWorld;
  benchmark::Shutdown();
  return 0;
}
