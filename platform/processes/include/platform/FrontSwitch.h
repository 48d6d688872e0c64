// Front-application switch notices: the stand-in for the application event that tells a Carbon
// program that another application came to the front.
//
// The window manager announces the active window in the root window's _NET_ACTIVE_WINDOW property;
// a watcher listens for changes of that property on its own X connection. It offers the
// connection's descriptor so that the caller's event loop can wait on it, and a drain call that
// reads everything pending and says whether the front may have changed. Without an X server there
// is no watcher and the caller keeps to polling.
#pragma once

#include "platform/MacTypes.h"

struct OpaqueFrontSwitchWatcher;
using FrontSwitchWatcherRef = OpaqueFrontSwitchWatcher*;

enum : OSStatus { kFrontSwitchNoDisplayErr = -25001 };

// Connects to the display named by DISPLAY and starts listening. kFrontSwitchNoDisplayErr when no
// X server can be reached, memFullErr when memory runs out.
OSStatus NewFrontSwitchWatcher(FrontSwitchWatcherRef* outWatcher);
void DisposeFrontSwitchWatcher(FrontSwitchWatcherRef watcher);

// The descriptor to wait on for readability, or -1.
int GetFrontSwitchWatcherDescriptor(FrontSwitchWatcherRef watcher);

// Reads every pending X event without blocking. True when one of them was a change (or removal)
// of _NET_ACTIVE_WINDOW. When the X connection broke, *connectionLost (optional) is set and the
// watcher stays quiet from then on; the caller should stop waiting on its descriptor.
Boolean DrainFrontSwitchWatcher(FrontSwitchWatcherRef watcher, Boolean* connectionLost);
