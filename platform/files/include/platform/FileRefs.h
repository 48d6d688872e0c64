// File system references: FSRef (an existing item) and FSSpec (volume, parent folder, name; the
// item itself may not exist yet), made from a folder and a name, with Finder info (type, creator,
// flags) kept in an AppleDouble "._name" sidecar beside the file.
//
// Volumes and directory IDs. A volume reference number stands for one mounted file system (one
// st_dev); they are handed out per process from -100 downwards. A directory ID stands for one
// folder (one st_dev/st_ino pair) and is handed out per process from 100 upwards the first time the
// process meets that folder; the folder's path is remembered, and every use checks that the path
// still leads to the same folder (a folder moved away gives dirNFErr rather than a wrong item).
//
// Names. A name is a Pascal string. It is looked up exactly first and, when no item has exactly
// that name, without regard to letter case as HFS+ does (ASCII and Latin-1 letters, Greek and
// Cyrillic), the first match in byte order winning. Sidecars ("._" names) are never found by a
// case-insensitive look-up. A name may be a partial path in the colon form
// (":Library:Preferences:x"; each further leading or doubled colon goes up one folder). A '/' or a
// NUL in a name, and the names "." and "..", are refused with bdNamErr.
#pragma once

#include <string>

#include "platform/Files.h"
#include "platform/MacTypes.h"

enum { kFSRefPathMax = 4096 };

// An existing item, held as its absolute path.
struct FSRef {
  char path[kFSRefPathMax];
};

struct FSSpec {
  SInt16 vRefNum;
  SInt32 parID;
  Str63 name;
};

struct Point {
  SInt16 v;
  SInt16 h;
};

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  SInt16 fdFldr;
};

using ScriptCode = SInt16;
enum : ScriptCode { smSystemScript = -1, smRoman = 0 };

// Finder flags kept in FInfo.fdFlags.
enum : UInt16 { kIsInvisible = 0x4000, kIsAlias = 0x8000, kHasCustomIcon = 0x0400 };

// Root folder ID of a volume and the parent ID of a volume's root, as on HFS.
enum : SInt32 { fsRtParID = 1, fsRtDirID = 2 };

// FSSpec from a volume, a folder and a name (or partial path). Returns noErr when the item exists,
// fnfErr when only its folder exists (the spec is still filled in, so the item can be created),
// dirNFErr when the folder does not exist, bdNamErr for a name that cannot be an item's name.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec);

// Creates an empty file with the given creator and type (kept in its sidecar's Finder info);
// dupFNErr when an item of that name already exists, which is then left as it is.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);

// Deletes a file (with its sidecar) or an empty folder.
OSErr FSpDelete(const FSSpec* spec);

// Opens the data fork; the reference number is one of the File Manager's (Files.h).
OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum);

// Finder info of a file: zeros (type and creator 0) when it has no sidecar.
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info);

// Renames an item (and its sidecar) within its folder; dupFNErr when the new name is taken.
OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName);

// Whether a save may replace the item `target` names: noErr for a regular file the caller may
// write; fnfErr when there is no such item (a save creates it); permErr for a folder and
// notAFileErr for anything else that is not a regular file (a symbolic link, a FIFO, a device),
// which is never replaced; fLckdErr for a read-only file (one nobody may write, or the caller may
// not).
OSErr FSpCheckReplaceable(const FSSpec* target);

// Puts `source` in the place of `target` in one step: after a successful call the target's name
// holds the source's data and Finder info, with the target's permissions (and owner and group,
// where the caller may give them), and the source is gone; after a failure the target is as it
// was. Both must lie in the same folder. A target FSpCheckReplaceable refuses is left alone with
// its error. The folder is synced so the replacement survives a power cut.
OSErr FSpReplaceFile(const FSSpec* source, const FSSpec* target);

// Starts a save that replaces `file`: makes a hidden temporary file beside it (named after the
// file, this process and a number) with the given creator and type, and opens its data fork
// read-write, holding a lock on it while it is open. What interrupted saves of `file` left is
// swept first (FSpSweepSaveFiles). The caller writes the fork, closes it and hands `temp` to
// FSpReplaceFile, or deletes it.
OSErr FSpCreateSaveFile(const FSSpec* file, OSType creator, OSType fileType, FSSpec* temp,
                        SInt16* refNum);

// Deletes what saves of `file` left when they were killed: their temporary files with sidecars,
// and FSpReplaceFile's copies of the file's sidecar. Nothing else is touched, and nothing a living
// save may still use: a temporary file goes only when no one holds its lock and the process that
// made it is gone (or it is more than an hour old, its process number being in use again). Returns
// how many items went.
int FSpSweepSaveFiles(const FSSpec* file);

// FSRef <-> path and FSRef <-> FSSpec.
OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref);
OSErr FSMakeFSRefFromName(const FSRef* parent, ConstStr255Param name, FSRef* ref);
OSErr FSGetFSSpecFromRef(const FSRef* ref, FSSpec* spec);
OSErr FSDeleteObject(const FSRef* ref);

namespace corvimus {

// The folder a directory ID stands for, checked to still be that folder.
OSErr DirIDToPath(SInt16 vRefNum, SInt32 dirID, std::string* path);
// Registers a folder: its volume reference number and directory ID.
OSErr PathToDirID(const std::string& path, SInt16* vRefNum, SInt32* dirID);
// Volume reference number of the file system holding `path` (which must exist).
OSErr PathToVRefNum(const std::string& path, SInt16* vRefNum);
// Any path inside the volume (a folder the process has registered on it), for volume-wide
// look-ups such as the cleanup folder.
OSErr VolumeSamplePath(SInt16 vRefNum, std::string* path);

// The full path an FSSpec names (which may not exist).
OSErr FSSpecToPath(const FSSpec* spec, std::string* path);

// Looks `name` up in `folder`: exactly, then case-insensitively. On success `*found` is the entry's
// real name. fnfErr when there is none.
OSErr LookUpName(const std::string& folder, const std::string& name, std::string* found);

// True for names the listings hide: AppleDouble sidecars ("._x").
bool IsSidecarName(const std::string& name);
// "/dir/._file" for "/dir/file".
std::string SidecarPathFor(const std::string& path);

}  // namespace corvimus
