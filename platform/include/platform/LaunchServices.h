// Launch Services, as far as the system needs it: which application bundle carries a creator code.
//
// Applications are bundle folders "X.app/Contents/Info.plist" (XML or binary property list) whose
// CFBundleSignature is the four-character creator. They are looked for in the user's Applications
// folder (~/Applications) and the installation's Applications folder, each searched one level deep
// (bundles directly inside, and inside its plain subfolders), names in byte order, first match
// winning.
#pragma once

#include <string>
#include <vector>

#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

enum : OSStatus { kLSApplicationNotFoundErr = -10814 };

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
