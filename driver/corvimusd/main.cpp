// corvimusd: the Corvimus driver for real mice. Takes every mouse (evdev, grabbed), runs the action
// engine on its events and sends the result out through a virtual pointer that looks like the
// mouse, plus one shared virtual keyboard (uinput); publishes one service of class "Corvimus" per
// mouse on the driver socket for the agents.
//
//   corvimusd [--socket PATH] [--seat-file FILE]
//
// --socket: where to listen (default /run/corvimus/driver.sock, the system driver's place).
// --seat-file: take the active user from FILE ("UID [DESKTOP]") instead of logind; for machines
// without logind, such as the test virtual machine.
//
// Prints "ready PATH" once it listens and has taken the mice present, tells systemd the same, and
// runs until SIGINT or SIGTERM.
#include <errno.h>
#include <libudev.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "Daemon.h"
#include "EvdevDevices.h"
#include "Seat.h"
#include "platform/IOKit.h"

using namespace corvimus;

namespace {

constexpr char kDefaultSocket[] = "/run/corvimus/driver.sock";

enum : UInt64 { kTagServer = 1, kTagUdev, kTagSeat, kTagTimer, kTagSignal, kTagMouse = 0x100 };

UInt64 NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return UInt64(ts.tv_sec) * 1000000u + UInt64(ts.tv_nsec) / 1000u;
}

void Watch(int epfd, int fd, UInt64 tag) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag;
  epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev);
}

class Driver {
 public:
  Driver(int epfd, CorvimusDaemon* daemon) : epfd_(epfd), daemon_(daemon) {}

  void Consider(udev_device* device) {
    const char* syspath = udev_device_get_syspath(device);
    if (!syspath || bySysPath_.count(syspath)) return;
    std::string why;
    std::unique_ptr<EvdevMouse> mouse = EvdevMouse::Open(device, &why);
    const char* sysname = udev_device_get_sysname(device);
    if (!mouse) {
      if (!why.empty()) std::fprintf(stderr, "corvimusd: %s: %s\n", sysname, why.c_str());
      return;
    }
    int err = 0;
    std::string phys = std::string(kCorvimusPhysPrefix) + (sysname ? sysname : "");
    std::unique_ptr<UinputDevice> pointer = UinputDevice::PointerLike(mouse->Device(), phys, &err);
    if (!pointer) {
      // Without a pointer of its own the mouse stays with the desktop, as if corvimusd were not there.
      std::fprintf(stderr, "corvimusd: %s: no virtual pointer: %s\n", sysname,
                   std::strerror(-err));
      return;
    }
    std::string node = pointer->DevNode() ? pointer->DevNode() : "?";
    UInt32 id = daemon_->AddMouse(mouse->Description(), std::move(pointer));
    std::fprintf(stderr, "corvimusd: mouse %u: \"%s\" (%s) as %s\n", id,
                 mouse->Description().name.c_str(), sysname, node.c_str());
    Watch(epfd_, mouse->Descriptor(), kTagMouse + id);
    bySysPath_[mouse->SysPath()] = id;
    mice_[id] = std::move(mouse);
  }

  void Forget(const char* syspath) {
    auto it = syspath ? bySysPath_.find(syspath) : bySysPath_.end();
    if (it != bySysPath_.end()) Drop(it->second);
  }

  void Read(UInt32 id) {
    auto it = mice_.find(id);
    if (it == mice_.end()) return;
    Feed feed{daemon_, id, NowUs()};
    if (!it->second->Read(&Driver::Sink, &feed)) Drop(id);
  }

 private:
  struct Feed {
    CorvimusDaemon* daemon;
    UInt32 id;
    UInt64 nowUs;
  };
  static void Sink(void* context, const input_event& e) {
    auto* feed = static_cast<Feed*>(context);
    feed->daemon->MouseEvent(feed->id, e.type, e.code, e.value, feed->nowUs);
  }

  void Drop(UInt32 id) {
    auto it = mice_.find(id);
    if (it == mice_.end()) return;
    epoll_ctl(epfd_, EPOLL_CTL_DEL, it->second->Descriptor(), nullptr);
    bySysPath_.erase(it->second->SysPath());
    mice_.erase(it);
    daemon_->RemoveMouse(id);
    std::fprintf(stderr, "corvimusd: mouse %u gone\n", id);
  }

  int epfd_;
  CorvimusDaemon* daemon_;
  std::map<UInt32, std::unique_ptr<EvdevMouse>> mice_;
  std::map<std::string, UInt32> bySysPath_;
};

void ApplySeat(SeatWatcher* seat, CorvimusDaemon* daemon) {
  SeatUser user = seat ? seat->Current() : SeatUser{};
  if (user.uid != daemon->ActiveUser())
    std::fprintf(stderr, "corvimusd: active user %s\n",
                 user.uid == kDriverUnknownUid ? "none" : std::to_string(user.uid).c_str());
  daemon->SetActiveUser(user.uid, DesktopKindFromName(user.desktop.c_str()));
}

void ArmTimer(int timerfd, UInt64 atUs) {
  itimerspec timer{};
  if (atUs) {
    timer.it_value.tv_sec = static_cast<time_t>(atUs / 1000000u);
    timer.it_value.tv_nsec = static_cast<long>(atUs % 1000000u) * 1000;
  }
  timerfd_settime(timerfd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath = kDefaultSocket, seatFile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--socket" && i + 1 < argc && argv[i + 1][0]) {
      socketPath = argv[++i];
    } else if (arg == "--seat-file" && i + 1 < argc && argv[i + 1][0]) {
      seatFile = argv[++i];
    } else {
      std::fprintf(stderr, "corvimusd: bad argument: %s\nusage: corvimusd [--socket PATH] "
                   "[--seat-file FILE]\n", arg.c_str());
      return 2;
    }
  }
  if (socketPath == kDefaultSocket) mkdir("/run/corvimus", 0755);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  int err = 0;
  std::unique_ptr<UinputDevice> keyboard = UinputDevice::Keyboard(&err);
  if (!keyboard) {
    std::fprintf(stderr, "corvimusd: cannot make virtual devices through /dev/uinput: %s\n",
                 std::strerror(-err));
    return 1;
  }
  CorvimusDaemon daemon(keyboard.get());
  OSErr listenErr = daemon.Server().Listen(socketPath);
  if (listenErr != noErr) {
    std::string why = listenErr == fBsyErr    ? "another driver is there"
                      : listenErr == dupFNErr ? "something else is there"
                                              : "error " + std::to_string(listenErr);
    std::fprintf(stderr, "corvimusd: cannot listen at %s: %s\n", socketPath.c_str(), why.c_str());
    return 1;
  }

  std::unique_ptr<SeatWatcher> seat = seatFile.empty() ? WatchLogindSeat() : WatchSeatFile(seatFile);
  if (!seat)
    std::fprintf(stderr, "corvimusd: cannot follow the active session; every mouse passes through\n");
  UdevInputWatcher udev;
  if (!udev.Start()) {
    std::fprintf(stderr, "corvimusd: cannot watch input devices with libudev\n");
    return 1;
  }

  int epfd = epoll_create1(EPOLL_CLOEXEC);
  int timerfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  int sigfd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  Watch(epfd, daemon.Server().Descriptor(), kTagServer);
  Watch(epfd, udev.Descriptor(), kTagUdev);
  if (seat) Watch(epfd, seat->Descriptor(), kTagSeat);
  Watch(epfd, timerfd, kTagTimer);
  Watch(epfd, sigfd, kTagSignal);

  Driver driver(epfd, &daemon);
  ApplySeat(seat.get(), &daemon);
  for (udev_device* d : udev.Present()) {
    driver.Consider(d);
    udev_device_unref(d);
  }
  std::printf("ready %s\n", socketPath.c_str());
  std::fflush(stdout);
  sd_notify(0, "READY=1");

  UInt64 armedUs = 0;
  bool running = true;
  while (running) {
    epoll_event events[16];
    int n = epoll_wait(epfd, events, 16, -1);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      UInt64 tag = events[i].data.u64;
      if (tag >= kTagMouse) {
        driver.Read(static_cast<UInt32>(tag - kTagMouse));
      } else if (tag == kTagServer) {
        daemon.Server().Pump();
      } else if (tag == kTagUdev) {
        bool added = false;
        while (udev_device* d = udev.Receive(&added)) {
          if (added)
            driver.Consider(d);
          else
            driver.Forget(udev_device_get_syspath(d));
          udev_device_unref(d);
        }
      } else if (tag == kTagSeat) {
        ApplySeat(seat.get(), &daemon);
      } else if (tag == kTagTimer) {
        UInt64 expirations;
        while (read(timerfd, &expirations, sizeof expirations) > 0) {
        }
        armedUs = 0;
        daemon.HandleTimer(NowUs());
      } else if (tag == kTagSignal) {
        running = false;
      }
    }
    UInt64 next = daemon.NextTimerUs();
    if (next != armedUs) {
      ArmTimer(timerfd, next);
      armedUs = next;
    }
  }
  std::fprintf(stderr, "corvimusd: stopping; every mouse goes back to the desktop\n");
  daemon.Server().Shutdown(500);
  close(epfd);
  close(timerfd);
  close(sigfd);
  return 0;
}
