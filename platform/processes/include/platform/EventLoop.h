// The application event loop: timers, file-descriptor sources and signals, all dispatched one at a
// time on the thread that runs the loop. Built on epoll with a single timerfd re-armed to the
// earliest timer, so an idle process sleeps until its next timer or until a descriptor becomes
// readable.
//
// Processes that run a Qt event loop instead (the pane, the uninstaller) do not call
// RunApplicationEventLoop; they hook the Apple-event descriptor into Qt (see AppleEvents.h).
#pragma once

#include "platform/MacTypes.h"

struct OpaqueEventLoopRef;
struct OpaqueEventLoopTimerRef;
struct OpaqueEventLoopSourceRef;
using EventLoopRef = OpaqueEventLoopRef*;
using EventLoopTimerRef = OpaqueEventLoopTimerRef*;
using EventLoopSourceRef = OpaqueEventLoopSourceRef*;

// Seconds.
using EventTimerInterval = double;
inline constexpr EventTimerInterval kEventDurationSecond = 1.0;
inline constexpr EventTimerInterval kEventDurationMillisecond = 0.001;
inline constexpr EventTimerInterval kEventDurationNoWait = 0.0;
inline constexpr EventTimerInterval kEventDurationForever = -1.0;

using EventLoopTimerProcPtr = void (*)(EventLoopTimerRef inTimer, void* inUserData);
using EventLoopTimerUPP = EventLoopTimerProcPtr;
inline EventLoopTimerUPP NewEventLoopTimerUPP(EventLoopTimerProcPtr proc) {
  return proc;
}
inline void DisposeEventLoopTimerUPP(EventLoopTimerUPP) {}

// Called when `fd` is readable (or has hung up: the procedure must then remove the source).
using EventLoopSourceProcPtr = void (*)(EventLoopSourceRef inSource, int fd, void* inUserData);

// The one loop of the process.
EventLoopRef GetMainEventLoop();
EventLoopRef GetCurrentEventLoop();

// Runs until QuitApplicationEventLoop is called from a timer, a source or an event handler, or the
// standard quit Apple event arrives. Makes the process reachable by Apple events.
void RunApplicationEventLoop();
void QuitApplicationEventLoop();

// A timer first fires `inFireDelay` seconds from now, then every `inInterval` seconds; an interval
// of 0 fires once (the timer stays installed until removed). Missed periods are not made up.
OSStatus InstallEventLoopTimer(EventLoopRef inEventLoop, EventTimerInterval inFireDelay,
                               EventTimerInterval inInterval, EventLoopTimerUPP inTimerProc,
                               void* inTimerData, EventLoopTimerRef* outTimer);
// May be called from the timer's own procedure.
OSStatus RemoveEventLoopTimer(EventLoopTimerRef inTimer);
// The next firing `inNextFire` seconds from now (kEventDurationForever: never until set again).
OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef inTimer, EventTimerInterval inNextFire);

// Watches a descriptor for reading. The descriptor stays the caller's; remove the source before
// closing it. May be called from any loop callback.
OSStatus InstallEventLoopSource(EventLoopRef inEventLoop, int fd, EventLoopSourceProcPtr inProc,
                                void* inUserData, EventLoopSourceRef* outSource);
OSStatus RemoveEventLoopSource(EventLoopSourceRef inSource);

// Runs `handler(signo)` from the loop, not from the signal context, each time the signal arrives,
// so the handler may do anything ordinary code does. A signal that arrives before the loop runs is
// handled as soon as it does.
OSStatus InstallEventLoopSignalHandler(int signo, void (*handler)(int signo));
