// Launch Services: opening an item as a double click would, and finding the application that
// carries a creator code.
//
// Opening: programs and application bundles (X.app with Contents/Info.plist naming its executable
// in Contents/MacOS) are started directly; documents, folders and volumes are handed to the
// desktop's opener (xdg-open, else gio open). Started programs are detached: their own session,
// standard input from /dev/null, adopted by init.
//
// Finding: applications are bundle folders "X.app/Contents/Info.plist" (XML or binary property
// list) whose CFBundleSignature is the four-character creator. They are looked for in the user's
// Applications folder (~/Applications) and the installation's Applications folder, each searched
// one level deep (bundles directly inside, and inside its plain subfolders), names in byte order,
// first match winning.
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

using LSRolesMask = UInt32;
enum : LSRolesMask {
  kLSRolesNone = 1,
  kLSRolesViewer = 2,
  kLSRolesEditor = 4,
  kLSRolesAll = 0xFFFFFFFF
};
enum : OSType { kLSUnknownType = 0, kLSUnknownCreator = 0 };

// The application for a creator code. Only the creator decides here: a type, an extension (a
// C string, may be null) and the roles do not narrow the choice, since bundles on this system
// declare no document types. paramErr when both type and creator are unknown or outAppRef is null;
// kLSApplicationNotFoundErr when no bundle carries the creator.
OSStatus LSGetApplicationForInfo(OSType inType, OSType inCreator, const char* inExtension,
                                 LSRolesMask inRoleMask, FSRef* outAppRef, void* outAppURL);

namespace corvimus {

// The CFBundleSignature of a bundle folder as an OSType; false when the bundle has no readable
// Info.plist or no four-character signature in it.
bool ReadBundleSignature(const std::string& bundlePath, OSType* signature);

// The first bundle in `folders` (searched as above) whose signature is `creator`.
OSStatus FindApplicationForCreator(OSType creator, const std::vector<std::string>& folders,
                                   std::string* bundlePath);

// The folders searched by default: ~/Applications, then the installation's Applications folder
// (the Folder Manager's local 'apps').
std::vector<std::string> DefaultApplicationFolders();

}  // namespace corvimus
