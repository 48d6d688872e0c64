// Launch Services: opening an item as a double click would. Programs and application bundles
// (X.app with Contents/Info.plist naming its executable in Contents/MacOS) are started directly;
// documents, folders and volumes are handed to the desktop's opener (xdg-open, else gio open).
// Started programs are detached: their own session, standard input from /dev/null, adopted by init.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

enum : OSStatus {
  kLSUnknownErr = -10810,
  kLSApplicationNotFoundErr = -10814,
  kLSLaunchFailedErr = -10824,
};

enum LSItemKind {
  kLSItemProgram = 0,   // an executable file
  kLSItemBundle = 1,    // an application bundle; its executable is the program
  kLSItemDocument = 2,  // anything else that exists: a document, folder or volume
  kLSItemMissing = 3,
};

// How path is opened; *outProgram receives the executable for programs and bundles. Symbolic links
// are followed here: opening a link opens what it points to.
LSItemKind LSClassifyItem(const std::string& path, std::string* outProgram);

// Starts a program (a path, or a name looked up in PATH) detached; true once it is running.
bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& args);

// Hands path to the desktop's opener; true when the opener could be started.
bool OpenWithDesktop(const std::string& path);

// Opens the item. fnfErr when it is gone, kLSLaunchFailedErr when it could not be started.
// outLaunchedRef (may be null) receives the item opened.
OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);

// Test seam: with an opener set, LSOpenFSRef hands it the request instead of starting anything.
struct LSOpenRequest {
  std::string path;
  LSItemKind kind;
  std::string program;  // programs and bundles
};
void SetLaunchServicesOpenerForTesting(std::function<OSStatus(const LSOpenRequest&)> opener);
