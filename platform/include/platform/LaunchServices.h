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

#include "platform/MacTypes.h"

enum : OSStatus { kLSApplicationNotFoundErr = -10814 };

namespace corvimus {

// The CFBundleSignature of a bundle folder as an OSType; false when the bundle has no readable
// Info.plist or no four-character signature in it.
bool ReadBundleSignature(const std::string& bundlePath, OSType* signature);

// The first bundle in `folders` (searched as above) whose signature is `creator`.
OSStatus FindApplicationForCreator(OSType creator, const std::vector<std::string>& folders,
                                   std::string* bundlePath);

// The folders searched by default: ~/Applications, then <prefix>/lib/corvimus/Applications of
// the running program's installation.
std::vector<std::string> DefaultApplicationFolders();

}  // namespace corvimus
