// Between the front-application sources and the Process Manager: the window a Wayland source last
// reported, so that its process is named from the window's identity.
#pragma once

#include <sys/types.h>

#include "platform/ApplicationNames.h"
#include "platform/MacTypes.h"

// What the session's Wayland source (sway, KWin, GNOME Shell) reports for the front window, when
// that window belongs to `pid`; null otherwise or when the session has no such source.
const corvimus::WindowIdentity* CorvimusFrontWindowOf(pid_t pid);

// The front process as the session's Wayland source tells it. Returns false when the session has
// no Wayland source (the caller then asks the X server); otherwise true with *err set: noErr and
// *pid, procNotFound (no window in front), or kFrontProcessUnknownErr (a window whose application
// cannot be told, or a source that cannot see the front).
bool CorvimusWaylandFrontProcess(pid_t* pid, OSErr* err);

// For the front-switch watcher: whether the session's Wayland source runs (made on first use),
// its descriptor, and a drain that reads what it sent (true when the front may have changed; a
// broken source is dropped and *lost set).
bool CorvimusWaylandSourceReady();
int CorvimusWaylandSourceDescriptor();
bool CorvimusDrainWaylandSource(bool* lost);
