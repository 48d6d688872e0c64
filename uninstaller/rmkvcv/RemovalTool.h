// rmkvcv: removes every installed piece of Corvimus. Run as root by the uninstaller with the single
// argument "--rmcvms"; it writes nothing and reports through its exit status only.
//
// What goes, in this order (folders by the Folder Manager's mapping, see README):
//
//   0  the driver's system service, when it is this installation's: stopped and disabled
//      (DriverService.h); systemd reloads once the bundle is gone
//   1  system 'kext'  Corvimus.kext                                   delete tree (decides result)
//   2  local  'dlib'  PreferencePanes/Corvimus.prefPane               delete tree
//   3  system 'dlib'  PreferencePanes/Corvimus.prefPane               delete tree
//   4  local  'dlib'  Receipts/Corvimus.pkg                           delete tree
//   5  local  'dlib'  Receipts/Corvimus Log.rtf                       delete one file
//   6  system 'kext'  the folder itself                               touch (decides result)
//   7  local  'dlib'  PreferencePanes                                 touch
//   8  system 'dlib'  PreferencePanes                                 touch
//   9  local  'usrs'  every item directly inside:
//        9a  .config/loginwindow.plist: login items ending "CorvimusHelper.app" removed
//        9b  .local/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane: delete tree
//  10  local  'apps'  Utilities/Corvimus Uninstaller.app              moved into the cleanup folder
//
// The result is the status of step 1, or when that succeeded the status of step 6; every other
// step is best effort. Step 10 runs only when the result is 0.
//
// When a package of the system's package manager owns the driver's bundle (the Debian package),
// steps 0-8 and 10 are the package manager's: the package is purged (PackageManager.h), and the
// result is 0 when that succeeded and the bundle is gone (fBsyErr when it is still there, ioErr
// when dpkg failed, fnfErr when it could not be run). Step 9 runs as always.
//
// The tool runs as root and walks folders that users may write to. Every tree is walked from
// descriptors: each folder is opened relative to the one above it, never through a symbolic link,
// and nothing is looked up again by its whole path once the walk has begun, so a folder renamed or
// replaced by a link while the walk runs cannot send it elsewhere. Steps 9a and 9b run in a child
// process holding only the rights of the home's owner (platform/FileIdentity.h), never root's.
#pragma once

#include <functional>
#include <string>

#include "platform/FileCatalog.h"
#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

// The whole removal; the tool's exit status is the low 8 bits of the result.
OSErr RemoveInstallation();

// The item at partialPath (a Pascal string in the colon form) below the folder of the given domain
// and type, found without creating it.
OSErr DeleteTreeInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath);
OSErr DeleteFileInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath);
OSErr TouchInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath);
// Moves the item into the cleanup folder of its own volume (created when missing), which is
// emptied at the next start-up.
OSErr MoveToCleanupFolder(SInt16 domain, OSType folderType, ConstStr255Param partialPath);

// The FSRef of name (a name or partial path; empty for the folder itself) in folder dirID.
OSErr MakeRefFromDirID(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, FSRef* ref);
OSErr RefToFSSpec(const FSRef* ref, FSSpec* spec);

// State shared by every level of one tree deletion.
struct DeleteTreeState {
  OSErr result;
  ItemCount actualObjects;
  FSCatalogInfo catalogInfo;
};

// Deletes a folder and everything in it, depth first in byte order of the names, unlocking locked
// items on the way. A symbolic link is deleted as a link and never followed. The first item that
// cannot be deleted stops the whole deletion: what was deleted stays deleted, the rest stays in
// place; so does a folder moved away while the walk is inside it (dirNFErr). dirNFErr when the item
// is not a folder (a link to a folder included).
OSErr DeleteTree(const FSRef* folder);
// Deletes everything inside folder; the status is also left in state->result.
OSErr DeleteTreeContents(const FSRef* folder, DeleteTreeState* state);

// Test seam: called by the tree deletions each time they have opened a folder inside the tree and
// before they list it, with that folder's name, so that a test can change the tree between two
// steps of the walk. Runs in the child process for the work in a home. Empty to remove.
void SetDeleteTreeStepHookForTesting(std::function<void(const std::string& folderName)> hook);

// Sets the item's modification date to now (one second later than the stored date when that is
// already now, so the date always changes) and tells the folder's watchers.
OSErr TouchModificationDate(const FSRef* item);

// Called for each item of a visit: container changed since the last item, depth (1 for items
// directly inside the folder), its catalog information, FSRef, and FSSpec and name when asked for
// (else null). Answers true to end the visit.
using VisitFolderProcPtr = Boolean (*)(Boolean containerChanged, ItemCount currentLevel,
                                       const FSCatalogInfo* catalogInfo, const FSRef* ref,
                                       const FSSpec* spec, const HFSUniStr255* name,
                                       void* userData);

// Calls visitor for every item inside folder, descending into folders down to maxLevels levels (0:
// no limit). A folder whose listing is refused counts as visited.
OSErr VisitFolder(const FSRef* folder, ItemCount maxLevels, FSCatalogInfoBitmap whichInfo,
                  Boolean wantFSSpec, Boolean wantName, VisitFolderProcPtr visitor, void* userData);

// The visitor of the Users folder: steps 9a and 9b for one item. Never ends the visit.
Boolean VisitUserFolder(Boolean containerChanged, ItemCount currentLevel,
                        const FSCatalogInfo* catalogInfo, const FSRef* ref, const FSSpec* spec,
                        const HFSUniStr255* name, void* userData);

// Step 9a for one home folder: the entries of .config/loginwindow.plist whose "Path" ends with
// suffix (ASCII) are removed. A home without that file gets none (fnfErr). *outCount (may be null)
// receives the number of entries removed. The list is never reached through a link, except a
// .config link that its owner, the user the work runs as, made to a folder of his own.
// dirNFErr for an item that is no folder (a link to one included); permErr for a folder owned by
// root that the user database names no user's home.
OSErr RemoveHelperLoginItemFromHome(const FSRef* home, const char* suffix, SInt16* outCount);
// Step 9b for one home folder: deletes the tree at partialPath (colon form, names only, no going
// up) inside it. The folders on the way are never links (permErr).
OSErr DeletePaneFromHome(const FSRef* home, ConstStr255Param partialPath);
