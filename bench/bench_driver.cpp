// The cost of talking to the driver: a settings push (selector 0, the 1012-byte record) through the
// IOKit layer to a running corvimus-simdriver, against a plain echo of the same 1012 bytes over a
// Unix stream socket to another process, and pushes to 1, 10 and 100 mice as the agent makes them.
// Round trips cross processes, so the ratios are of wall-clock time.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/IOKit.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using namespace corvimus;

namespace {

constexpr int kMice = 100;

struct World {
  testing::TempDir dir;
  testing::ChildProcess sim;
  std::vector<io_connect_t> connections;
  int echo = -1;
  pid_t echoPid = -1;
  CorvimusPrefsRec record{};
  bool ready = false;
};
World* gWorld = nullptr;

std::string SimDriverPath() {
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? size_t(n) : 0);
  return path.substr(0, path.rfind('/')) + "/../driver/corvimus-simdriver";
}

void AddService(void*, io_iterator_t it) {
  while (io_service_t service = IOIteratorNext(it)) {
    io_connect_t c = 0;
    if (IOServiceOpen(service, mach_task_self(), 0, &c) == kIOReturnSuccess)
      gWorld->connections.push_back(c);
    IOObjectRelease(service);
  }
}

bool SetUpWorld() {
  gWorld = new World;
  World& w = *gWorld;
  std::string socket = w.dir / "driver.sock";
  if (!w.sim.Start({SimDriverPath(), "--mice", std::to_string(kMice), "--socket", socket}))
    return false;
  std::string line;
  if (!w.sim.ReadLine(&line) || line != "ready " + socket) return false;
  IOKitSetDriverPlacesForTesting("", socket.c_str());
  mach_port_t master = 0;
  if (IOMasterPort(MACH_PORT_NULL, &master) != kIOReturnSuccess) return false;
  IONotificationPortRef port = IONotificationPortCreate(master);
  io_iterator_t added = 0;
  IOServiceAddMatchingNotification(port, kIOFirstMatchNotification,
                                   IOServiceMatching(kCorvimusServiceClass), AddService, nullptr,
                                   &added);
  AddService(nullptr, added);
  if (w.connections.size() != kMice) return false;

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  w.echoPid = fork();
  if (w.echoPid == 0) {
    close(pair[0]);
    char buf[sizeof(CorvimusPrefsRec)];
    for (;;) {
      size_t got = 0;
      while (got < sizeof buf) {
        ssize_t n = read(pair[1], buf + got, sizeof buf - got);
        if (n <= 0) _exit(0);
        got += size_t(n);
      }
      if (write(pair[1], buf, sizeof buf) != ssize_t(sizeof buf)) _exit(1);
    }
  }
  close(pair[1]);
  w.echo = pair[0];
  w.record.active = 1;
  w.record.device[0].speed = 255;
  w.record.device[0].acceleration = 255;
  w.record.device[0].action[0].command = kCmdMainClick;
  w.ready = true;
  return true;
}

void TearDownWorld() {
  if (!gWorld) return;
  if (gWorld->echo >= 0) close(gWorld->echo);
  if (gWorld->echoPid > 0) waitpid(gWorld->echoPid, nullptr, 0);
  gWorld->sim.Command("quit");
  gWorld->sim.Wait();
  IOKitShutdownForTesting();
  delete gWorld;
}

kern_return_t Push(io_connect_t c) {
  return IOConnectMethodScalarIStructureI(c, kCorvimusSelectorSetPrefs, 4, sizeof(CorvimusPrefsRec),
                                          int(c), int(kCorvimusSetPrefsCode),
                                          int(kCorvimusSetPrefsVersion), 0, &gWorld->record);
}

void BM_SocketEcho1012(benchmark::State& state) {
  if (!gWorld->ready) return state.SkipWithError("no simulator");
  char back[sizeof(CorvimusPrefsRec)];
  for (auto _ : state) {
    if (write(gWorld->echo, &gWorld->record, sizeof back) != ssize_t(sizeof back))
      return state.SkipWithError("echo write");
    size_t got = 0;
    while (got < sizeof back) {
      ssize_t n = read(gWorld->echo, back + got, sizeof back - got);
      if (n <= 0) return state.SkipWithError("echo read");
      got += size_t(n);
    }
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_SocketEcho1012)->UseRealTime();

void BM_PushRecord(benchmark::State& state) {
  if (!gWorld->ready) return state.SkipWithError("no simulator");
  io_connect_t c = gWorld->connections[0];
  for (auto _ : state)
    if (Push(c) != kIOReturnSuccess) return state.SkipWithError("push refused");
}
BENCHMARK(BM_PushRecord)->UseRealTime();

// One pass of the agent's settings push over the first N mice.
void BM_PushToMice(benchmark::State& state) {
  if (!gWorld->ready) return state.SkipWithError("no simulator");
  size_t mice = size_t(state.range(0));
  for (auto _ : state)
    for (size_t i = 0; i < mice; ++i)
      if (Push(gWorld->connections[i]) != kIOReturnSuccess)
        return state.SkipWithError("push refused");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(mice));
}
BENCHMARK(BM_PushToMice)->Arg(1)->Arg(10)->Arg(100)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const std::string& measured, const std::string& baseline, double divisor,
                  double goal) const {
    auto m = times_.find(measured), b = times_.find(baseline);
    if (m == times_.end() || b == times_.end() || b->second <= 0) return;
    double ratio = m->second / divisor / b->second;
    std::printf(
        "ratio: %s%s / %s = %.2f%s\n", measured.c_str(),
        divisor != 1 ? (" per mouse (/" + std::to_string(int(divisor)) + ")").c_str() : "",
        baseline.c_str(), ratio,
        goal > 0 ? (ratio <= goal ? " (goal <= 2.00: met)" : " (goal <= 2.00: NOT met)") : "");
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  signal(SIGPIPE, SIG_IGN);
  if (!SetUpWorld()) std::fprintf(stderr, "bench_driver: the simulated driver did not start\n");
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("BM_PushRecord/real_time", "BM_SocketEcho1012/real_time", 1, 2.0);
  reporter.PrintRatio("BM_PushToMice/10/real_time", "BM_PushToMice/1/real_time", 10, 0);
  reporter.PrintRatio("BM_PushToMice/100/real_time", "BM_PushToMice/1/real_time", 100, 0);
  TearDownWorld();
  benchmark::Shutdown();
  return 0;
}
