// Following the front application: a 0.5 s timer that looks at the front process and, when it
// changed, hands its signature and name to a change procedure. Where the session's source (the X
// server, sway, the KWin script, the GNOME Shell extension) announces front window changes, the
// same check also runs as soon as one arrives; the timer stays as the fallback. A window in front
// whose application nobody can name is handed on once as signature 0 and a null name, so that the
// global record is in force.
#pragma once

#include "platform/EventLoop.h"
#include "platform/MacTypes.h"

// `name` is null (and `signature` 0) when no front application is known: no display, or one whose
// active window cannot be read, since start-up.
using FrontProcessChangeProcPtr = void (*)(OSType signature, ConstStringPtr name, UInt32 refcon);

inline constexpr EventTimerInterval kFrontProcessInterval = 0.5;

// Installs the timer once (first tick when the event loop runs); later calls change nothing and
// return 0. memFullErr when the timer procedure cannot be made; otherwise the installation's
// result, and the change procedure is kept only when that was 0.
OSStatus InstallFrontProcessWatcher(FrontProcessChangeProcPtr changeProc, UInt32 refcon);

// The timer procedure. When the first look at the front process fails, the change procedure runs
// once for "no known application".
void FrontProcessTimer(EventLoopTimerRef timer, void* userData);

// One look at the front process, exactly as a tick does.
void CheckFrontProcess();

// Runs the change procedure again for the last front process (for "no known application" before
// one was seen). ioErr when there is no timer or no change procedure.
OSStatus ReapplyFrontProcess();

// Listens for the session source's front window changes and runs CheckFrontProcess on each. An
// error (no source) leaves the timer alone in charge.
OSStatus InstallFrontSwitchSource();
