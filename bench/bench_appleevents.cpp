// The pane's device query against the agent, and the process walk behind every look-up by name.
//
//   AppleEventRoundTrip  'CvMP'/'CVco' sent with kAEWaitReply, answered with a 1804-byte list by
//                        another process, the list taken out of the reply
//   UnixSocketEcho       baseline: the same 1804 bytes written to another process over a Unix
//                        socket and read back
//   GetConnectedDevices  the pane's whole call: the agent found by name, then the round trip
//   ProcessWalk          GetNextProcess and GetProcessInformation over every process of the user
//   ProcStatScan         baseline: reading /proc/<pid>/stat of every process
//   AppleEventRoundTrip/RepliesUnread     the round trip while another program keeps asking on
//                        four connections and never reads the replies
//   NewClientAsks        a client that connects, asks for the device list, reads it and hangs up
//                        (a pane or a settings tool starting), alone and
//   NewClientAsks/ConnectionsHeld         while another program holds 64 idle connections
// Prints "ratio:" lines at the end (goal for the round trip: within 2x of the echo; with a
// misbehaving client beside it: within 2x of the undisturbed round trip).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/AppleEventFrames.h"
#include "platform/AppleEvents.h"
#include "platform/EventLoop.h"
#include "platform/Processes.h"
#include "settings/PaneAgentEvents.h"

namespace {

ProcessSerialNumber gAgent;
std::string gAgentSocket;
int gEchoFd = -1;

OSErr AnswerDevices(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusDeviceList list;
  std::memset(&list, 0, sizeof list);
  list.count = 2;
  std::strcpy(list.device[0].productName, "Mouse 1");
  std::strcpy(list.device[1].productName, "Mouse 2");
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusDeviceList, &list, sizeof list);
}

[[noreturn]] void RunAgent() {
  InstallAgentEventHandlers(nullptr, AnswerDevices);
  std::printf("ready\n");
  std::fflush(stdout);
  RunApplicationEventLoop();
  _exit(0);
}

[[noreturn]] void RunEcho(int listenFd) {
  int fd = accept(listenFd, nullptr, nullptr);
  std::vector<char> buf(sizeof(CorvimusDeviceList));
  for (;;) {
    size_t got = 0;
    while (got < buf.size()) {
      ssize_t n = read(fd, buf.data() + got, buf.size() - got);
      if (n <= 0) _exit(0);
      got += size_t(n);
    }
    if (write(fd, buf.data(), buf.size()) != ssize_t(buf.size())) _exit(0);
  }
}

int ConnectToAgent() {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, gAgentSocket.c_str(), sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The pane's device query as it travels on the socket, asking for a reply.
std::vector<UInt8> DeviceQueryFrame() {
  corvimus::ae::FrameMessage ask;
  ask.flags = corvimus::ae::kFrameFlagWantsReply;
  ask.eventClass = kCorvimusEventClass;
  ask.eventID = kCorvimusEventDevices;
  std::vector<UInt8> frame;
  corvimus::ae::EncodeFrame(ask, &frame);
  return frame;
}

// Another program of the same user, misbehaving until it is killed: holding `held` idle
// connections, or asking on four connections for device lists it never reads (connecting again
// whenever the agent gives up on one).
pid_t StartMisbehaving(int held, bool unreadReplies) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  std::vector<int> fds;
  for (int i = 0; i < held; ++i) fds.push_back(ConnectToAgent());
  if (!unreadReplies) pause();
  const std::vector<UInt8> frame = DeviceQueryFrame();
  fds.assign(4, -1);
  for (;;) {
    for (int& fd : fds) {
      if (fd < 0) fd = ConnectToAgent();
      while (fd >= 0) {
        ssize_t n = send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EAGAIN) break;
        close(fd);
        fd = -1;
      }
    }
    usleep(10 * 1000);
  }
}

void StopMisbehaving(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void AppleEventRoundTrip(benchmark::State& state) {
  AEAddressDesc target;
  AECreateDesc(typeProcessSerialNumber, &gAgent, sizeof gAgent, &target);
  CorvimusDeviceList list;
  for (auto _ : state) {
    AppleEvent event, reply;
    AECreateAppleEvent(kCorvimusEventClass, kCorvimusEventDevices, &target, kAutoGenerateReturnID,
                       kAnyTransactionID, &event);
    OSErr err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority,
                       kCorvimusDevicesTimeoutTicks, nullptr, nullptr);
    if (err == noErr)
      err = AEGetParamPtr(&reply, keyDirectObject, typeCorvimusDeviceList, nullptr, &list,
                          sizeof list, nullptr);
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    if (err != noErr || list.count != 2) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  AEDisposeDesc(&target);
}
BENCHMARK(AppleEventRoundTrip);

void AppleEventRoundTripWhileRepliesUnread(benchmark::State& state) {
  pid_t other = StartMisbehaving(0, true);
  usleep(200 * 1000);
  AppleEventRoundTrip(state);
  StopMisbehaving(other);
}
BENCHMARK(AppleEventRoundTripWhileRepliesUnread)->Name("AppleEventRoundTrip/RepliesUnread");

// One question on a connection of its own, as a program does that just started.
bool AskOnANewConnection(const std::vector<UInt8>& frame) {
  int fd = ConnectToAgent();
  if (fd < 0) return false;
  bool answered = send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == ssize_t(frame.size());
  std::vector<UInt8> in;
  while (answered) {
    corvimus::ae::FrameMessage reply;
    size_t used = 0;
    auto status = corvimus::ae::DecodeFrame(in.data(), in.size(), &reply, &used);
    if (status == corvimus::ae::FrameStatus::kComplete) break;
    UInt8 buf[4096];
    ssize_t n = status == corvimus::ae::FrameStatus::kIncomplete ? read(fd, buf, sizeof buf) : -1;
    if (n <= 0) answered = false;
    if (n > 0) in.insert(in.end(), buf, buf + n);
  }
  close(fd);
  return answered;
}

void NewClientAsks(benchmark::State& state) {
  const std::vector<UInt8> frame = DeviceQueryFrame();
  for (auto _ : state) {
    if (!AskOnANewConnection(frame)) {
      state.SkipWithError("no answer on a new connection");
      break;
    }
  }
}
BENCHMARK(NewClientAsks);

void NewClientAsksWhileConnectionsHeld(benchmark::State& state) {
  pid_t other = StartMisbehaving(64, false);
  usleep(200 * 1000);  // its connections are all in before the first question
  NewClientAsks(state);
  StopMisbehaving(other);
}
BENCHMARK(NewClientAsksWhileConnectionsHeld)->Name("NewClientAsks/ConnectionsHeld");

void UnixSocketEcho(benchmark::State& state) {
  std::vector<char> out(sizeof(CorvimusDeviceList), 'x'), in(out.size());
  for (auto _ : state) {
    if (write(gEchoFd, out.data(), out.size()) != ssize_t(out.size())) {
      state.SkipWithError("write failed");
      break;
    }
    size_t got = 0;
    while (got < in.size()) {
      ssize_t n = read(gEchoFd, in.data() + got, in.size() - got);
      if (n <= 0) break;
      got += size_t(n);
    }
    benchmark::DoNotOptimize(in.data());
  }
}
BENCHMARK(UnixSocketEcho);

void GetConnectedDevicesCall(benchmark::State& state) {
  CorvimusDeviceList list;
  for (auto _ : state) {
    if (GetConnectedDevices(&list) != noErr) {
      state.SkipWithError("GetConnectedDevices failed");
      break;
    }
  }
}
BENCHMARK(GetConnectedDevicesCall);

void ProcessWalk(benchmark::State& state) {
  int processes = 0;
  for (auto _ : state) {
    processes = 0;
    ProcessSerialNumber psn{0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
      Str255 name;
      ProcessInfoRec info{};
      info.processName = name;
      if (GetProcessInformation(&psn, &info) == noErr) ++processes;
    }
  }
  state.counters["processes"] = processes;
}
BENCHMARK(ProcessWalk);

void ProcStatScan(benchmark::State& state) {
  for (auto _ : state) {
    DIR* dir = opendir("/proc");
    int processes = 0;
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
      char path[300], buf[512];
      std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
      int fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      if (read(fd, buf, sizeof buf) > 0) ++processes;
      close(fd);
    }
    closedir(dir);
    benchmark::DoNotOptimize(processes);
  }
}
BENCHMARK(ProcStatScan);

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (!run.error_occurred) perIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
};

void PrintRatio(const Collector& c, const char* what, const char* subject, const char* baseline) {
  auto s = c.perIteration.find(subject), b = c.perIteration.find(baseline);
  if (s == c.perIteration.end() || b == c.perIteration.end() || b->second <= 0) return;
  std::printf("ratio: %s %.2f (%s / %s)\n", what, s->second / b->second, subject, baseline);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--agent") == 0) RunAgent();

  // A private runtime folder, and the agent under its real name so the pane's call finds it.
  char folder[] = "/tmp/corvimus-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  setenv("XDG_RUNTIME_DIR", folder, 1);
  std::string bundle = std::string(folder) + "/CorvimusHelper.app/Contents/MacOS";
  std::filesystem::create_directories(bundle);
  std::string agentPath = bundle + "/CorvimusHelper";
  std::filesystem::copy_file("/proc/self/exe", agentPath);
  std::filesystem::permissions(agentPath, std::filesystem::perms::owner_all);

  int ready[2];
  if (pipe(ready) != 0) return 1;
  pid_t agent = fork();
  if (agent == 0) {
    dup2(ready[1], 1);
    execl(agentPath.c_str(), agentPath.c_str(), "--agent", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  char line[16] = {};
  if (read(ready[0], line, sizeof line - 1) <= 0) return 1;

  std::string echoPath = std::string(folder) + "/echo.sock";
  int listenFd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, echoPath.c_str(), sizeof addr.sun_path - 1);
  if (bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd, 1))
    return 1;
  pid_t echo = fork();
  if (echo == 0) RunEcho(listenFd);
  gEchoFd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (connect(gEchoFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  if (GetProcessForPID(agent, &gAgent) != noErr) return 1;
  gAgentSocket = std::string(folder) + "/corvimus/ae-" + std::to_string(gAgent.lowLongOfPSN) + "-" +
                 std::to_string(gAgent.highLongOfPSN) + ".sock";

  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintRatio(collector, "CVco round trip vs socket echo", "AppleEventRoundTrip", "UnixSocketEcho");
  PrintRatio(collector, "GetConnectedDevices vs socket echo", "GetConnectedDevicesCall",
             "UnixSocketEcho");
  PrintRatio(collector, "process walk vs /proc stat scan", "ProcessWalk", "ProcStatScan");
  PrintRatio(collector, "new client with 64 connections held by another program vs alone",
             "NewClientAsks/ConnectionsHeld", "NewClientAsks");
  PrintRatio(collector, "round trip beside a client that never reads its replies vs alone",
             "AppleEventRoundTrip/RepliesUnread", "AppleEventRoundTrip");
  benchmark::Shutdown();

  close(gEchoFd);
  kill(agent, SIGTERM);
  kill(echo, SIGTERM);
  waitpid(agent, nullptr, 0);
  waitpid(echo, nullptr, 0);
  std::filesystem::remove_all(folder);
  return 0;
}
