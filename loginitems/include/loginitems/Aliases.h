// Assigned aliases: the folder of alias files through which the open-item action (command 27) names
// its target.
//
// The folder ("com.kelvane.mouse.files", kCorvimusAliasFolderName) lies in the user's Preferences
// folder. An action that opens an item holds in its `data` field, as a Pascal string of at most 31
// ASCII characters, the name of an alias file in that folder; the alias file (empty data fork,
// Finder flags kIsAlias, type and creator by target as below) holds the alias record of the target
// as resource 'alis' 0. The pane creates alias files when an item is chosen, deletes the ones no
// action uses when it is left, and the agent resolves them when a button is pressed.
//
//   target                                type     creator
//   a folder that is a volume's root      'hdsk'   'MACS'
//   any other folder                      'fdrp'   'MACS'
//   a file of type 'APPL'                 'adrp'   the file's creator
//   any other file                        its type its creator
#pragma once

#include <string>

#include "platform/FileCatalog.h"
#include "platform/FileRefs.h"
#include "platform/MacTypes.h"
#include "recordbase/QBase.h"

enum : OSType {
  kContainerHardDiskAliasType = FourCC("hdsk"),
  kContainerFolderAliasType = FourCC("fdrp"),
  kApplicationAliasType = FourCC("adrp"),
  kFinderCreator = FourCC("MACS"),
  kApplicationFileType = FourCC("APPL"),
};

// Longest name of an alias file, as the action's data field holds it.
enum { kMaxAssignedAliasNameLength = 31 };

// The name of the alias file for an item whose own name (its last path component) is the UTF-8
// `itemName`: ASCII, with a question mark for each character that is not, at most 31 characters.
// The same question mark stands for what the File Manager would read otherwise: a colon, which
// makes a name a partial path, and the dot of a leading "._", which makes it another file's
// sidecar. The name goes into the action's data as it is, so the agent finds the file by it.
void MakeAssignedAliasName(const std::string& itemName, Str31 out);

// Finds the folder `folderName` (a Pascal string, cut to 63 characters) in the user's Preferences
// folder, creating it when `create` is non-zero. ioErr when a file of that name is in the way.
// The outputs (each may be null): the folder's own FSSpec, its volume, its directory ID.
OSErr GetAssignedAliasesFolder(ConstStr255Param folderName, SInt16 create, FSSpec* outSpec,
                               SInt16* outVRefNum, SInt32* outDirID);

// Deletes the alias files of the folder that no open-item action of any record of settingsBase
// names (names compared ignoring case, respecting diacritical marks). Plain files and folders are
// left alone. Returns the status of finding the folder; paramErr for a missing base, which would
// otherwise make every alias file look unused.
OSErr CheckAssignedAliases(ConstStr255Param folderName, QBaseHandle settingsBase);

// Creates the alias file `name` in `folder` for `target`. Fails (and creates nothing) when the
// name is taken, the target is gone, or the alias cannot be written.
OSErr CreateAliasFile(const FSRef* target, const FSRef* folder, const HFSUniStr255* name);

// The FSRef of a UTF-8 path; a symbolic link gives the link itself, not its target.
OSErr GetFSRefFromNSString(const char* path, FSRef* outRef);

// Catalog information of the item itself (index 0) or of the index-th item of the folder it names
// (item->parID) — that item's name is then written to item->name. pb may be null. *outIsFolder (may
// be null) receives the folder bit (16 for a folder, 0 for a file).
OSErr DoGetCatInfo(FSSpec* item, SInt16 index, CInfoPBRec* pb, SInt16* outIsFolder);

// Opens the item that the alias file named by an open-item action's data (a Pascal string of at
// most 31 characters) resolves to, alias chains followed, with Launch Services. Neither the
// Preferences folder nor the aliases folder is created. A longer length byte is refused
// (paramErr); any other failure is the status of the step that failed.
OSErr OpenAssignedAliasItem(const UInt8* actionData);
