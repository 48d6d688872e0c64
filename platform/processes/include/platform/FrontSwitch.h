// Front-application switch notices: the stand-in for the application event that tells a Carbon
// program that another application came to the front.
//
// The source is chosen from the session's environment (ChooseFrontSource):
//   - sway (SWAYSOCK; I3SOCK without an X display): a subscription to window and workspace events
//     on the i3-IPC socket; get_tree answers what is focused;
//   - KDE Plasma on Wayland (XDG_CURRENT_DESKTOP names KDE): a KWin script, loaded over the session
//     bus, that calls this process on every window activation with the window's pid,
//     resourceClass, resourceName and desktopFileName;
//   - GNOME Shell on Wayland (XDG_CURRENT_DESKTOP names GNOME): the system's Shell extension,
//     which owns kFrontWindowBusName on the session bus, answers GetFocus and signals
//     FocusChanged with the focus window's pid, WM class, GTK application id and sandboxed id;
//   - otherwise X11: the root window's _NET_ACTIVE_WINDOW, watched on an X connection.
// A watcher offers the source's descriptor so that the caller's event loop can wait on it, and a
// drain call that reads everything pending and says whether the front may have changed. Without
// any source there is no watcher and the caller keeps to polling. The Wayland sources live once
// per process; GetFrontProcess (platform/Processes.h) reads the same one.
#pragma once

#include "platform/MacTypes.h"

struct OpaqueFrontSwitchWatcher;
using FrontSwitchWatcherRef = OpaqueFrontSwitchWatcher*;

enum : OSStatus { kFrontSwitchNoDisplayErr = -25001 };

enum FrontSourceKind : SInt16 {
  kFrontSourceNone = 0,
  kFrontSourceX11 = 1,
  kFrontSourceSway = 2,
  kFrontSourceKWin = 3,
  kFrontSourceGnomeShell = 4,
};

// The bus names and the extension's id, for those who install, enable or look for them.
inline constexpr char kFrontWindowBusName[] = "com.kelvane.mouse.FrontWindow";
inline constexpr char kFrontWindowObjectPath[] = "/com/kelvane/mouse/FrontWindow";
inline constexpr char kGnomeShellExtensionUUID[] = "corvimus-front@kelvane.com";
inline constexpr char kKWinScriptFileName[] = "corvimus-front-kwin.js";
inline constexpr char kKWinScriptPluginName[] = "corvimus-front";

// The source this session offers, from its environment; kFrontSourceNone when there is none.
FrontSourceKind ChooseFrontSource();
// "X11", "sway", "KWin", "GNOME Shell", or "none".
const char* FrontSourceName(FrontSourceKind kind);

// What the pane tells the user about GNOME Shell: whether the extension answers on the session
// bus now. False outside GNOME Shell sessions too.
Boolean GnomeShellExtensionRunning();
// Asks GNOME Shell to enable the installed extension for the user (org.gnome.Shell.Extensions
// EnableExtension). noErr when the Shell took the request; an error when the Shell cannot be
// reached or refused (the extension is not installed, or the Shell was started before it was).
OSStatus EnableGnomeShellExtension();

// Connects to the session's source and starts listening. kFrontSwitchNoDisplayErr when no source
// can be reached, memFullErr when memory runs out.
OSStatus NewFrontSwitchWatcher(FrontSwitchWatcherRef* outWatcher);
void DisposeFrontSwitchWatcher(FrontSwitchWatcherRef watcher);

// The descriptor to wait on for readability, or -1.
int GetFrontSwitchWatcherDescriptor(FrontSwitchWatcherRef watcher);

// Reads everything pending without blocking. True when the front may have changed (X11: a change
// or removal of _NET_ACTIVE_WINDOW). When the connection broke, *connectionLost (optional) is set
// and the watcher stays quiet from then on; the caller should stop waiting on its descriptor.
Boolean DrainFrontSwitchWatcher(FrontSwitchWatcherRef watcher, Boolean* connectionLost);
