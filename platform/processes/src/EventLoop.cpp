#include "platform/EventLoop.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "EventLoopInternal.h"

struct OpaqueEventLoopRef {};

struct OpaqueEventLoopTimerRef {
  EventLoopTimerUPP proc = nullptr;
  void* userData = nullptr;
  std::int64_t nextFireNs = 0;  // kNever: not scheduled
  std::int64_t intervalNs = 0;  // 0: one-shot
  bool removed = false;
};

struct OpaqueEventLoopSourceRef {
  int fd = -1;
  EventLoopSourceProcPtr proc = nullptr;
  void* userData = nullptr;
  bool removed = false;
};

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

struct Loop {
  OpaqueEventLoopRef ref;
  int epollFd = -1;
  int timerFd = -1;
  int signalPipe[2] = {-1, -1};
  std::vector<std::unique_ptr<OpaqueEventLoopTimerRef>> timers;
  std::vector<std::unique_ptr<OpaqueEventLoopSourceRef>> sources;
  int dispatchDepth = 0;  // while > 0, removed timers and sources are only marked
  int runDepth = 0;
  bool quitRequested = false;
  void (*signalHandlers[65])(int) = {};
};

Loop gLoop;
// The timer descriptor's own epoll cookie; sources carry their OpaqueEventLoopSourceRef pointer.
char gTimerCookie;

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool IntervalToNs(EventTimerInterval seconds, std::int64_t* ns) {
  if (std::isnan(seconds) || seconds < 0) return false;
  if (seconds > 1e9) seconds = 1e9;  // ~31 years: as good as never
  *ns = static_cast<std::int64_t>(seconds * 1e9);
  return true;
}

bool EnsureEpoll() {
  if (gLoop.epollFd >= 0) return true;
  gLoop.epollFd = epoll_create1(EPOLL_CLOEXEC);
  if (gLoop.epollFd < 0) return false;
  gLoop.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (gLoop.timerFd < 0) {
    close(gLoop.epollFd);
    gLoop.epollFd = -1;
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.ptr = &gTimerCookie;
  if (epoll_ctl(gLoop.epollFd, EPOLL_CTL_ADD, gLoop.timerFd, &ev) != 0) {
    close(gLoop.timerFd);
    close(gLoop.epollFd);
    gLoop.timerFd = gLoop.epollFd = -1;
    return false;
  }
  return true;
}

// Arms the one timer descriptor for the earliest pending timer.
void RearmTimerFd() {
  if (gLoop.timerFd < 0) return;
  std::int64_t earliest = kNever;
  for (const auto& t : gLoop.timers)
    if (!t->removed && t->nextFireNs < earliest) earliest = t->nextFireNs;
  itimerspec timer{};
  if (earliest != kNever) {
    if (earliest <= 0) earliest = 1;  // zero would disarm
    timer.it_value.tv_sec = earliest / 1000000000;
    timer.it_value.tv_nsec = earliest % 1000000000;
  }
  timerfd_settime(gLoop.timerFd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

void CollectRemoved() {
  if (gLoop.dispatchDepth > 0) return;
  std::erase_if(gLoop.timers, [](const auto& t) { return t->removed; });
  std::erase_if(gLoop.sources, [](const auto& s) { return s->removed; });
}

void FireDueTimers() {
  std::uint64_t expirations;
  while (read(gLoop.timerFd, &expirations, sizeof expirations) > 0) {
  }
  std::int64_t now = NowNs();
  // Index loop: a timer procedure may install further timers.
  for (size_t i = 0; i < gLoop.timers.size(); ++i) {
    OpaqueEventLoopTimerRef* t = gLoop.timers[i].get();
    if (t->removed || t->nextFireNs > now) continue;
    if (t->intervalNs > 0) {
      t->nextFireNs += t->intervalNs;
      if (t->nextFireNs <= now) t->nextFireNs = now + t->intervalNs;
    } else {
      t->nextFireNs = kNever;
    }
    t->proc(t, t->userData);
  }
}

void SignalPipeReadable(EventLoopSourceRef, int fd, void*) {
  unsigned char signos[64];
  ssize_t n;
  while ((n = read(fd, signos, sizeof signos)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      int signo = signos[i];
      if (signo > 0 && signo < 65 && gLoop.signalHandlers[signo])
        gLoop.signalHandlers[signo](signo);
    }
  }
}

void SignalArrived(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  // The pipe is non-blocking: when it is full the loop has plenty of wake-ups pending already.
  ssize_t ignored = write(gLoop.signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

// One pass: waits up to timeoutMs (-1: forever) and dispatches what is ready.
void DispatchOnce(int timeoutMs) {
  epoll_event events[16];
  int n = epoll_wait(gLoop.epollFd, events, 16, timeoutMs);
  if (n <= 0) return;
  ++gLoop.dispatchDepth;
  for (int i = 0; i < n; ++i) {
    if (events[i].data.ptr == &gTimerCookie) {
      FireDueTimers();
      continue;
    }
    auto* source = static_cast<OpaqueEventLoopSourceRef*>(events[i].data.ptr);
    if (!source->removed) source->proc(source, source->fd, source->userData);
  }
  --gLoop.dispatchDepth;
  CollectRemoved();
  RearmTimerFd();
}

}  // namespace

EventLoopRef GetMainEventLoop() {
  return &gLoop.ref;
}
EventLoopRef GetCurrentEventLoop() {
  return &gLoop.ref;
}

void RunApplicationEventLoop() {
  if (!EnsureEpoll()) return;
  // Every application answers Apple events, the quit event above all.
  CorvimusStartAppleEventListener();
  ++gLoop.runDepth;
  RearmTimerFd();
  while (!gLoop.quitRequested) DispatchOnce(-1);
  gLoop.quitRequested = false;
  --gLoop.runDepth;
}

void QuitApplicationEventLoop() {
  if (gLoop.runDepth > 0) gLoop.quitRequested = true;
}

OSStatus InstallEventLoopTimer(EventLoopRef inEventLoop, EventTimerInterval inFireDelay,
                               EventTimerInterval inInterval, EventLoopTimerUPP inTimerProc,
                               void* inTimerData, EventLoopTimerRef* outTimer) {
  std::int64_t delayNs, intervalNs;
  if (inEventLoop != &gLoop.ref || !inTimerProc || !IntervalToNs(inFireDelay, &delayNs) ||
      !IntervalToNs(inInterval, &intervalNs))
    return paramErr;
  if (!EnsureEpoll()) return eventInternalErr;
  try {
    auto timer = std::make_unique<OpaqueEventLoopTimerRef>();
    timer->proc = inTimerProc;
    timer->userData = inTimerData;
    timer->nextFireNs = NowNs() + delayNs;
    timer->intervalNs = intervalNs;
    EventLoopTimerRef ref = timer.get();
    gLoop.timers.push_back(std::move(timer));
    if (outTimer) *outTimer = ref;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  RearmTimerFd();
  return noErr;
}

static bool IsInstalledTimer(EventLoopTimerRef inTimer) {
  for (const auto& t : gLoop.timers)
    if (t.get() == inTimer && !t->removed) return true;
  return false;
}

OSStatus RemoveEventLoopTimer(EventLoopTimerRef inTimer) {
  if (!IsInstalledTimer(inTimer)) return paramErr;
  inTimer->removed = true;
  CollectRemoved();
  RearmTimerFd();
  return noErr;
}

OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef inTimer, EventTimerInterval inNextFire) {
  if (!IsInstalledTimer(inTimer)) return paramErr;
  std::int64_t ns;
  if (inNextFire == kEventDurationForever) {
    inTimer->nextFireNs = kNever;
  } else if (IntervalToNs(inNextFire, &ns)) {
    inTimer->nextFireNs = NowNs() + ns;
  } else {
    return paramErr;
  }
  RearmTimerFd();
  return noErr;
}

OSStatus InstallEventLoopSource(EventLoopRef inEventLoop, int fd, EventLoopSourceProcPtr inProc,
                                void* inUserData, EventLoopSourceRef* outSource) {
  if (inEventLoop != &gLoop.ref || fd < 0 || !inProc) return paramErr;
  if (!EnsureEpoll()) return eventInternalErr;
  for (const auto& s : gLoop.sources)
    if (s->fd == fd && !s->removed) return paramErr;
  try {
    auto source = std::make_unique<OpaqueEventLoopSourceRef>();
    source->fd = fd;
    source->proc = inProc;
    source->userData = inUserData;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = source.get();
    if (epoll_ctl(gLoop.epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) return paramErr;
    EventLoopSourceRef ref = source.get();
    gLoop.sources.push_back(std::move(source));
    if (outSource) *outSource = ref;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSStatus RemoveEventLoopSource(EventLoopSourceRef inSource) {
  bool found = false;
  for (const auto& s : gLoop.sources)
    if (s.get() == inSource && !s->removed) found = true;
  if (!found) return paramErr;
  epoll_ctl(gLoop.epollFd, EPOLL_CTL_DEL, inSource->fd, nullptr);
  inSource->removed = true;
  CollectRemoved();
  return noErr;
}

OSStatus InstallEventLoopSignalHandler(int signo, void (*handler)(int)) {
  if (signo <= 0 || signo >= 65 || !handler || signo == SIGKILL || signo == SIGSTOP)
    return paramErr;
  if (!EnsureEpoll()) return eventInternalErr;
  if (gLoop.signalPipe[0] < 0) {
    if (pipe2(gLoop.signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return eventInternalErr;
    OSStatus err = InstallEventLoopSource(&gLoop.ref, gLoop.signalPipe[0], SignalPipeReadable,
                                          nullptr, nullptr);
    if (err != noErr) {
      close(gLoop.signalPipe[0]);
      close(gLoop.signalPipe[1]);
      gLoop.signalPipe[0] = gLoop.signalPipe[1] = -1;
      return err;
    }
  }
  gLoop.signalHandlers[signo] = handler;
  struct sigaction sa {};
  sa.sa_handler = SignalArrived;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  if (sigaction(signo, &sa, nullptr) != 0) {
    gLoop.signalHandlers[signo] = nullptr;
    return paramErr;
  }
  return noErr;
}
