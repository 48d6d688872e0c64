// Whether this login session owns the console. Several sessions may run an agent at once, all
// connected to the same mice; only the agent of the session on the console carries out driver
// requests. The answer comes from the window server's description of the session, looked up at run
// time in the CoreGraphics framework bundle; when it cannot be had, the agent acts as if it were on
// the console.
#pragma once

#include <plist/plist.h>

#include "platform/MacTypes.h"

// A loaded framework bundle: the handle of its executable, loaded for the life of the process.
using FrameworkBundleRef = void*;

// The key of the session dictionary that says whether the session is on the console.
inline constexpr char kCGSSessionOnConsoleKey[] = "kCGSSessionOnConsoleKey";

// The CoreGraphics bundle, relative to the Frameworks folder.
inline constexpr char kCoreGraphicsBundlePath[] =
    "ApplicationServices.framework/Frameworks/CoreGraphics.framework";

// Loads the executable of the framework bundle at `relativePath` inside the Frameworks folder
// (which is created when missing). A bundle "X.framework" has its executable at "X.framework/X".
// Returns the Folder Manager's error, or coreFoundationUnknownErr (with null stored) when the
// bundle cannot be loaded.
OSStatus LoadFrameworkBundle(const char* relativePath, FrameworkBundleRef* bundle);

// The window server's dictionary of the current session, which the caller releases with
// plist_free; null when there is none. The bundle is looked for on the first call only.
plist_t CopySessionDictionary();

// True unless the session dictionary says, with a Boolean false, that the session is not on the
// console.
Boolean IsSessionOnConsole();
