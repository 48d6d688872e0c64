// Folder Manager: the folders the system keeps its files in, looked up by domain and folder type.
//
// The mapping onto the Linux file system (also tabled in the README):
//
//   type    domains                                   folder
//   'pref'  user, kOnSystemDisk, kOnAppropriateDisk   $XDG_CONFIG_HOME (absolute), else
//   $HOME/.config 'usrs'  local, kOnSystemDisk, kOnAppropriateDisk  $CORVIMUS_USERS_DIR, else /home
//   'kext'  system, kOnSystemDisk, kOnAppropriateDisk <prefix>/lib/corvimus/Extensions
//   'dlib'  local                                     <prefix>/lib/corvimus/Library
//   'dlib'  system, kOnSystemDisk                     <prefix>/lib/corvimus/System/Library
//   'apps'  local, kOnSystemDisk, kOnAppropriateDisk  <prefix>/lib/corvimus/Applications
//   'fram'  any domain                                <prefix>/lib/corvimus/Frameworks
//   'flnt'  a volume reference number, or any domain  the cleanup folder of that volume (below)
//
// <prefix> is $CORVIMUS_PREFIX when set, else found from the running program's own location
// (/proc/self/exe): the folder above "lib/corvimus" when the program lies anywhere inside
// <prefix>/lib/corvimus (a bundle's executable), else the folder above the program's own folder
// (<prefix>/bin/program). An installation is therefore relocatable, and a test runs in a temporary
// tree by setting XDG_CONFIG_HOME, HOME, CORVIMUS_PREFIX and CORVIMUS_USERS_DIR.
//
// Cleanup folder ('flnt'): emptied at every start-up by the tmpfiles.d rule installed with the
// system. It must lie on the same file system as the items moved into it, so it is
// <prefix>/lib/corvimus/Cleanup on the volume that holds <prefix>/lib/corvimus (or the nearest
// existing folder above it), and "<mount point>/.corvimus-cleanup" on any other volume. The rule
// looks only inside <prefix>/lib/corvimus (the installation's items are the only ones the system
// moves), so it empties the latter for file systems mounted one or two levels below it.
#pragma once

#include <string>

#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

enum : SInt16 {
  kOnSystemDisk = -32768,
  kOnAppropriateDisk = -32767,
  kSystemDomain = -32766,
  kLocalDomain = -32765,
  kNetworkDomain = -32764,
  kUserDomain = -32763,
};

enum : OSType {
  kPreferencesFolderType = FourCC("pref"),
  kUsersFolderType = FourCC("usrs"),
  kKernelExtensionsFolderType = FourCC("kext"),
  kDomainLibraryFolderType = FourCC("dlib"),
  kApplicationsFolderType = FourCC("apps"),
  kFrameworksFolderType = FourCC("fram"),
  kChewableItemsFolderType = FourCC("flnt"),
};

enum : Boolean { kDontCreateFolder = 0, kCreateFolder = 1 };

// Finds a folder: fnfErr when the domain has no such folder or (without kCreateFolder) it does not
// exist, dirNFErr when something other than a folder stands in its place, or the error of creating
// it.
OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID);
OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);

// Tells whoever watches a folder that it changed. On Linux the watchers (inotify, and the file
// managers built on it) already saw the change of the folder's modification time that comes before
// this call, so FNNotify only checks its arguments and that the item exists: paramErr for a null
// reference or an unknown message, else the File Manager error of looking the item up.
using FNMessage = UInt32;
enum : FNMessage { kFNDirectoryModifiedMessage = 1 };
enum : UInt32 { kNilOptions = 0 };
OSStatus FNNotify(const FSRef* ref, FNMessage message, UInt32 flags);

namespace corvimus {

// The path FindFolder would give, without looking at the disk: fnfErr when the domain has no such
// folder. Used by the look-ups above and by programs that report where things live.
OSErr FolderPath(SInt16 vRefNum, OSType folderType, std::string* path);

// The installation prefix (see above); empty when it cannot be found.
std::string InstallationPrefix();

}  // namespace corvimus
