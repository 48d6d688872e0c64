// corvimusd on a real kernel, measured inside the test virtual machine (it re-runs itself there
// through corvimus-vm.sh when started on a host, since corvimusd takes every mouse it finds):
//   - the time from a frame written to a mouse to the same frame read from what the desktop reads,
//     through corvimusd (passing through, and through the engine while an agent is connected)
//     against a plain program that grabs the mouse and copies its bytes to a uinput clone, the
//     three taking turns frame by frame; the medians' ratios are printed at the end (goal <= 1.2);
//   - corvimusd's resident memory with two mice;
//   - how often corvimusd wakes while no event arrives (the goal is never).
// Under TCG every time is the emulator's, so only the ratios mean something.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/uinput.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "../driver/tests/DriverTestClient.h"
#include "settings/MouseSettings.h"

using corvimus::testing::DriverTestClient;

namespace {

constexpr char kSeatFile[] = "/run/corvimus-bench-seat";
constexpr char kSocket[] = "/run/corvimus/driver.sock";

// A mouse made through uinput. withLeft false: a pointer corvimusd does not take, for the baseline.
libevdev_uinput* MakeMouse(const char* name, bool withLeft) {
  libevdev* dev = libevdev_new();
  libevdev_set_name(dev, name);
  libevdev_set_id_bustype(dev, BUS_USB);
  libevdev_set_id_vendor(dev, 0x4b56);
  libevdev_set_id_product(dev, 0x0300);
  if (withLeft) libevdev_enable_event_code(dev, EV_KEY, BTN_LEFT, nullptr);
  libevdev_enable_event_code(dev, EV_KEY, BTN_RIGHT, nullptr);
  for (unsigned code : {REL_X, REL_Y, REL_WHEEL}) libevdev_enable_event_code(dev, EV_REL, code, nullptr);
  libevdev_uinput* uidev = nullptr;
  if (libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uidev) != 0)
    uidev = nullptr;
  libevdev_free(dev);
  return uidev;
}

// The event device whose phys starts with prefix and whose name is name, waited for.
std::string FindDevice(const std::string& prefix, const std::string& name) {
  for (int tries = 0; tries < 600; ++tries) {
    DIR* dir = opendir("/dev/input");
    while (dirent* e = dir ? readdir(dir) : nullptr) {
      if (std::strncmp(e->d_name, "event", 5) != 0) continue;
      std::string node = std::string("/dev/input/") + e->d_name;
      int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK);
      char phys[256] = {}, devName[256] = {};
      bool match = fd >= 0 && ioctl(fd, EVIOCGPHYS(sizeof phys - 1), phys) >= 0 &&
                   ioctl(fd, EVIOCGNAME(sizeof devName - 1), devName) >= 0 &&
                   std::strncmp(phys, prefix.c_str(), prefix.size()) == 0 && name == devName;
      if (fd >= 0) close(fd);
      if (match) {
        closedir(dir);
        return node;
      }
    }
    if (dir) closedir(dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "";
}

// The plain grab-and-copy program the driver is measured against: whole reads passed on as whole
// writes, nothing looked at.
int GrabAndCopy(const char* node) {
  int in = open(node, O_RDONLY | O_CLOEXEC);
  libevdev* dev = nullptr;
  if (in < 0 || libevdev_new_from_fd(in, &dev) != 0 || ioctl(in, EVIOCGRAB, 1) != 0) return 1;
  int out = open("/dev/uinput", O_RDWR | O_CLOEXEC);
  libevdev_uinput* uidev = nullptr;
  if (out < 0 || ioctl(out, UI_SET_PHYS, "grabcopy/0") != 0 ||
      libevdev_uinput_create_from_device(dev, out, &uidev) != 0)
    return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  input_event events[64];
  for (;;) {
    ssize_t n = read(in, events, sizeof events);
    if (n <= 0) return 0;
    if (write(out, events, size_t(n)) != n) return 1;
  }
}

pid_t Spawn(const std::vector<std::string>& argv, bool waitReady) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(ready[1], STDOUT_FILENO);
    close(ready[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(ready[1]);
  if (waitReady) {
    char buf[256];
    pollfd p{ready[0], POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0 || read(ready[0], buf, sizeof buf) <= 0) pid = -1;
  }
  close(ready[0]);
  return pid;
}

long StatusField(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

struct World {
  libevdev_uinput* plain = nullptr;  // copied by the baseline
  libevdev_uinput* passing = nullptr;  // through corvimusd, no agent
  libevdev_uinput* remapped = nullptr;  // through corvimusd's engine, an agent connected
  int plainOut = -1, passingOut = -1, remappedOut = -1;
  pid_t driver = -1, copier = -1;
  std::unique_ptr<DriverTestClient> agent;
  bool ok = false;

  World() {
    std::ofstream(kSeatFile) << "0\n";
    passing = MakeMouse("Bench Mouse Passing", true);
    remapped = MakeMouse("Bench Mouse Remapped", true);
    driver = Spawn({CORVIMUSD, "--seat-file", kSeatFile}, true);
    if (!passing || !remapped || driver < 0) return;
    passingOut = open(FindDevice("corvimusd/", "Bench Mouse Passing").c_str(), O_RDONLY | O_NONBLOCK);
    remappedOut = open(FindDevice("corvimusd/", "Bench Mouse Remapped").c_str(), O_RDONLY | O_NONBLOCK);
    agent = std::make_unique<DriverTestClient>(kSocket);
    for (UInt32 service : agent->Services()) {
      UInt32 connection = 0;
      CorvimusDeviceInfo info{};
      if (agent->Open(service, &connection) != kIOReturnSuccess) continue;
      agent->DeviceInfo(connection, &info);
      if (std::strcmp(info.productName, "Bench Mouse Remapped") == 0)
        agent->PushRecord(connection, kCorvimusDefaultPrefs);
      else
        agent->Close(connection);
    }
    plain = MakeMouse("Bench Mouse Plain", false);
    std::string plainNode = plain ? libevdev_uinput_get_devnode(plain) : "";
    copier = Spawn({SelfPath(), "--grab-copy", plainNode}, true);
    plainOut = open(FindDevice("grabcopy/", "Bench Mouse Plain").c_str(), O_RDONLY | O_NONBLOCK);
    ok = passingOut >= 0 && remappedOut >= 0 && plainOut >= 0 && copier > 0;
  }
  ~World() {
    for (pid_t pid : {driver, copier})
      if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
  }
  static std::string SelfPath() {
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return std::string(self, n > 0 ? size_t(n) : 0);
  }
};
World* gWorld = nullptr;

World& TheWorld() {
  if (!gWorld) gWorld = new World;
  return *gWorld;
}

// One frame in, the same frame out; the time between, by the wall clock. Seconds, or < 0 when the
// frame did not come through.
double RoundTrip(libevdev_uinput* source, int out, int step) {
  input_event buf[64];
  auto start = std::chrono::steady_clock::now();
  libevdev_uinput_write_event(source, EV_REL, REL_X, step);
  libevdev_uinput_write_event(source, EV_SYN, SYN_REPORT, 0);
  for (bool done = false; !done;) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return -1;
    ssize_t n = read(out, buf, sizeof buf);
    for (ssize_t i = 0; i < n / ssize_t(sizeof(input_event)); ++i)
      done |= buf[i].type == EV_SYN && buf[i].code == SYN_REPORT;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Latencies {
  double grabCopy = 0, passing = 0, remapped = 0;  // medians, seconds
};
Latencies gLatencies;

// The three paths take turns within each iteration, so that whatever else the machine does at a
// moment weighs on all of them alike; the medians make the ratios.
void BM_FrameLatency(benchmark::State& state) {
  World& w = TheWorld();
  if (!w.ok) return state.SkipWithError("the mice or corvimusd did not come up");
  input_event buf[64];
  for (int fd : {w.plainOut, w.passingOut, w.remappedOut})
    while (read(fd, buf, sizeof buf) > 0) {
    }
  std::vector<double> plain, passing, remapped;
  int step = 1;
  for (auto _ : state) {
    double a = RoundTrip(w.plain, w.plainOut, step);
    double b = RoundTrip(w.passing, w.passingOut, step);
    double c = RoundTrip(w.remapped, w.remappedOut, step);
    if (a < 0 || b < 0 || c < 0) return state.SkipWithError("a frame was lost");
    plain.push_back(a);
    passing.push_back(b);
    remapped.push_back(c);
    state.SetIterationTime(a + b + c);
    step = -step;
  }
  gLatencies = {Median(plain), Median(passing), Median(remapped)};
  state.counters["grabcopy_us"] = gLatencies.grabCopy * 1e6;
  state.counters["corvimusd_us"] = gLatencies.passing * 1e6;
  state.counters["engine_us"] = gLatencies.remapped * 1e6;
}
BENCHMARK(BM_FrameLatency)->UseManualTime()->MinTime(3.0);

long gResidentKiB = 0;

// Resident memory with its two mice, after they have been used; the copier's beside it.
void BM_ResidentMemory(benchmark::State& state) {
  World& w = TheWorld();
  if (!w.ok) return state.SkipWithError("the mice or corvimusd did not come up");
  for (auto _ : state) benchmark::DoNotOptimize(StatusField(w.driver, "VmRSS:"));
  gResidentKiB = StatusField(w.driver, "VmRSS:");
  state.counters["corvimusd_rss_KiB"] = double(gResidentKiB);
  state.counters["grabcopy_rss_KiB"] = double(StatusField(w.copier, "VmRSS:"));
}
BENCHMARK(BM_ResidentMemory)->Iterations(1);

// Context switches of corvimusd over two idle seconds: each is a wake-up.
void BM_IdleWakeups(benchmark::State& state) {
  World& w = TheWorld();
  if (!w.ok) return state.SkipWithError("the mice or corvimusd did not come up");
  long before = 0, after = 0;
  for (auto _ : state) {
    before = StatusField(w.driver, "voluntary_ctxt_switches:") +
             StatusField(w.driver, "nonvoluntary_ctxt_switches:");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    after = StatusField(w.driver, "voluntary_ctxt_switches:") +
            StatusField(w.driver, "nonvoluntary_ctxt_switches:");
  }
  state.counters["wakeups_in_2s_idle"] = double(after - before);
}
BENCHMARK(BM_IdleWakeups)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--grab-copy") == 0) return GrabAndCopy(argv[2]);
  if (!std::getenv("CORVIMUS_VM")) {
    // On a host corvimusd would take the user's own mice: into the virtual machine with us.
    std::vector<char*> args = {const_cast<char*>(CORVIMUS_VM_SCRIPT), const_cast<char*>("--cache"),
                               const_cast<char*>(CORVIMUS_VM_CACHE), const_cast<char*>("--")};
    std::string self = World::SelfPath();
    args.push_back(self.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    std::printf("bench_corvimusd: running in the test virtual machine\n");
    std::fflush(stdout);
    execv(args[0], args.data());
    std::perror("bench_corvimusd: corvimus-vm.sh");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto ratio = [](const char* what, double measured) {
    if (gLatencies.grabCopy <= 0 || measured <= 0) return;
    double r = measured / gLatencies.grabCopy;
    std::printf("ratio: %s / grab-and-copy (median frame latency) = %.2f (goal <= 1.20: %s)\n", what,
                r, r <= 1.2 ? "met" : "NOT met");
  };
  ratio("corvimusd passing through", gLatencies.passing);
  ratio("corvimusd with the engine", gLatencies.remapped);
  if (gResidentKiB > 0)
    std::printf("corvimusd resident with two mice: %.2f MiB (goal < 4 MiB: %s)\n",
                gResidentKiB / 1024.0, gResidentKiB < 4096 ? "met" : "NOT met");
  delete gWorld;
  return 0;
}
