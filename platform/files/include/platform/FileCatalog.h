// File Manager catalog calls: catalog information of an item (by name, by index in its folder, or
// by FSRef), creating folders and files, and HFS Unicode names.
//
// Items are taken as they are: a symbolic link is an item of its own (a file), never followed
// implicitly. Listings by index hide AppleDouble sidecars ("._name") and go through the folder in
// byte order of the names, so the n-th item stays the n-th while nothing is added or removed.
// A folder is the root of a volume when it is "/" or a mount point (its file system differs from
// its parent's); its parent directory ID is then fsRtParID (1), as on HFS.
#pragma once

#include <cstddef>
#include <string>

#include "platform/FileRefs.h"
#include "platform/MacTypes.h"
#include "platform/UTCUtils.h"

using UniChar = UInt16;
using TextEncoding = UInt32;
enum : TextEncoding { kTextEncodingUnknown = 0xFFFF };

struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
};

struct DInfo {
  Rect frRect;
  UInt16 frFlags;
  Point frLocation;
  SInt16 frView;
};

// Bit 4 of ioFlAttrib: the item is a folder.
enum : SInt8 { ioDirMask = 0x10 };
enum : UInt16 { kioFlAttribDirMask = 0x10 };

// The parameter block of PBGetCatInfoSync. Input: ioNamePtr, ioVRefNum, ioFDirIndex and the folder
// in ioDirID (ioDrDirID). ioFDirIndex 0 looks the name up in that folder (an empty or null name
// means the folder itself), a positive index takes the index-th item of the folder (its name is
// written to ioNamePtr, at most 63 bytes, when ioNamePtr is not null), a negative index the folder
// itself. Output: ioResult, ioFlAttrib, and for a file its Finder info, file number (ioDirID),
// fork lengths and parent (ioFlParID); for a folder its own ID (ioDrDirID), item count and parent.
struct HFileInfo {
  void* ioCompletion;
  OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioFRefNum;
  SInt8 ioFVersNum;
  SInt16 ioFDirIndex;
  SInt8 ioFlAttrib;
  SInt8 ioACUser;
  FInfo ioFlFndrInfo;
  SInt32 ioDirID;
  SInt32 ioFlLgLen;
  SInt32 ioFlRLgLen;
  SInt32 ioFlParID;
};

struct DirInfo {
  void* ioCompletion;
  OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioFRefNum;
  SInt8 ioFVersNum;
  SInt16 ioFDirIndex;
  SInt8 ioFlAttrib;
  SInt8 ioACUser;
  DInfo ioDrUsrWds;
  SInt32 ioDrDirID;
  UInt16 ioDrNmFls;
  SInt32 ioDrParID;
};

union CInfoPBRec {
  HFileInfo hFileInfo;
  DirInfo dirInfo;
};
static_assert(offsetof(HFileInfo, ioDirID) == offsetof(DirInfo, ioDrDirID));
static_assert(offsetof(HFileInfo, ioFlAttrib) == offsetof(DirInfo, ioFlAttrib));

OSErr PBGetCatInfoSync(CInfoPBRec* paramBlock);

// Creates a folder; dupFNErr when an item of that name (in any letter case) exists.
OSErr FSpDirCreate(const FSSpec* spec, ScriptCode scriptTag, SInt32* createdDirID);

// ---- FSRef catalog information -----------------------------------------------------------------

using FSCatalogInfoBitmap = UInt32;
enum : FSCatalogInfoBitmap {
  kFSCatInfoNone = 0,
  kFSCatInfoNodeFlags = 0x00000002,
  kFSCatInfoVolume = 0x00000008,
  kFSCatInfoParentDirID = 0x00000010,
  kFSCatInfoNodeID = 0x00000020,
  kFSCatInfoContentMod = 0x00000040,
  kFSCatInfoFinderInfo = 0x00000800,
  kFSCatInfoDataSizes = 0x00004000,
  kFSCatInfoRsrcSizes = 0x00008000,
};
// kFSNodeLockedMask: the item is locked (see "Locked items" below). It can be set and cleared with
// FSSetCatalogInfo; kFSNodeIsDirectoryMask is read only.
enum : UInt16 { kFSNodeLockedMask = 0x0001, kFSNodeIsDirectoryMask = 0x0010 };

// Finder info as FSCatalogInfo holds it (the first 16 bytes of the Finder info entry).
struct FileInfo {
  OSType fileType;
  OSType fileCreator;
  UInt16 finderFlags;
  Point location;
  UInt16 reservedField;
};

struct FSCatalogInfo {
  UInt16 nodeFlags;
  SInt16 volume;
  SInt32 parentDirID;
  UInt32 nodeID;
  UInt8 finderInfo[16];  // a FileInfo for files (see FinderInfoOf)
  UInt64 dataLogicalSize;
  UInt64 rsrcLogicalSize;
  UTCDateTime contentModDate;  // the item's modification time (st_mtim)
};

inline FileInfo* FinderInfoOf(FSCatalogInfo* info) {
  return reinterpret_cast<FileInfo*>(info->finderInfo);
}
static_assert(sizeof(FileInfo) == 16);

// The fields asked for in whichInfo; outName, fsSpec and parentRef may be null.
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);
// kFSCatInfoFinderInfo (files only), kFSCatInfoNodeFlags (only kFSNodeLockedMask is taken from
// it) and kFSCatInfoContentMod can be set; other bits give paramErr. The date of a symbolic link is
// the link's own.
OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       const FSCatalogInfo* catalogInfo);

// ---- HFS Unicode names -------------------------------------------------------------------------

// UTF-8 text as an HFS Unicode name (UTF-16); paramErr for null arguments, bdNamErr for text that
// is not valid UTF-8 or longer than 255 units.
OSErr FSGetHFSUniStrFromString(const char* text, HFSUniStr255* name);
// An HFS Unicode name as UTF-8; false for unpaired surrogates.
bool HFSUniStrToUTF8(const UniChar* units, UInt16 length, std::string* out);

// The FSRef of the item `name` in the folder parentRef: exact, then ignoring letter case. fnfErr
// when there is none; bdNamErr for empty names, names with '/' or NUL, "." and "..".
OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                         TextEncoding textEncodingHint, FSRef* newRef);

// Creates an empty file in parentRef; with kFSCatInfoFinderInfo in whichInfo its Finder info is set
// from catalogInfo. dupFNErr when an item of that name (in any letter case) exists. newRef and
// newSpec may be null.
OSErr FSCreateFileUnicode(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec);

namespace corvimus {
// The path an FSRef holds.
std::string PathOfRef(const FSRef* ref);
// True when the folder at path is the root of a volume.
bool IsVolumeRoot(const std::string& path);
}  // namespace corvimus

// ---- Locked items ------------------------------------------------------------------------------
//
// "Locked" has one meaning throughout the system. A regular file or folder on a file system that
// keeps inode attributes (ext4, xfs, btrfs, tmpfs, ...; statx reports whether it does) is locked
// when it carries the immutable attribute (chattr +i): nobody, not even root, may change, rename or
// delete it, or add or remove items in it while it is set. Any other item (on a file system
// without the attribute, or a special file) is locked when its mode has no write bit at all.
// Symbolic links are never locked. Locking sets the attribute, or clears every write bit; unlocking
// clears the attribute (which needs CAP_LINUX_IMMUTABLE, so in practice root), or gives the owner
// the write bit back.

namespace corvimus {
// Whether the item at path (not followed when it is a symbolic link) is locked.
OSErr GetItemLocked(const std::string& path, bool* locked);
// Locks or unlocks it; nothing is changed when it already is as asked.
OSErr SetItemLocked(const std::string& path, bool locked);
// The same for the item `name` inside the folder open as dirFd, or for the folder dirFd itself
// when name is empty (dirFd then must be opened for reading, not O_PATH).
OSErr GetItemLockedAt(int dirFd, const char* name, bool* locked);
OSErr SetItemLockedAt(int dirFd, const char* name, bool locked);
}  // namespace corvimus

// ---- Iterating over a folder -------------------------------------------------------------------

enum : OSErr {
  errFSNotAFolder = -1407,
  errFSNoMoreItems = -1417,
  errFSBadItemCount = -1418,
  errFSBadIteratorFlags = -1422,
  errFSIteratorNotFound = -1423,
  diffVolErr = -1303,
};

using ItemCount = UInt32;
using FSIteratorFlags = UInt32;
enum : FSIteratorFlags { kFSIterateFlat = 0, kFSIterateSubtree = 1, kFSIterateDelete = 2 };

struct OpaqueFSIterator;
using FSIterator = OpaqueFSIterator*;

// Opens an iterator over the items directly inside container. The folder's listing is taken when
// the iterator is opened, in byte order of the names, so deleting items while iterating (what
// kFSIterateDelete promises) never skips or repeats one; an item that has gone by the time its turn
// comes is passed over. AppleDouble sidecars are hidden, except that kFSIterateDelete also returns
// a sidecar whose own item is missing, so that deleting every item returned empties the folder.
// The container itself is opened without following a symbolic link: a link is errFSNotAFolder like
// a file. A folder whose listing is refused gives afpAccessDenied. kFSIterateSubtree is refused
// with errFSBadIteratorFlags (this system never needs it).
OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator);
OSErr FSCloseIterator(FSIterator iterator);

// Up to maximumObjects items of the iterator, with the catalog information asked for and
// optionally their FSRefs, FSSpecs and names (each array, when not null, has maximumObjects
// elements). *actualObjects is the number returned; when no item is left the result is
// errFSNoMoreItems with *actualObjects 0. *containerChanged (may be null) tells whether the folder
// was modified since the iterator was opened or last asked. Items are looked at as they are: a
// symbolic link is an item of its own.
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpec* specs,
                           HFSUniStr255* names);

// ---- Making references and moving items --------------------------------------------------------

// The parameter block of PBMakeFSRefSync: the item named ioNamePtr (a name or a partial path in
// the colon form; empty or null for the folder itself) in folder ioDirID of volume ioVRefNum.
struct FSRefParam {
  void* ioCompletion;
  OSErr ioResult;
  ConstStringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt32 ioDirID;
  FSRef* newRef;
};

// fnfErr when the item does not exist, dirNFErr when its folder does not.
OSErr PBMakeFSRefSync(FSRefParam* paramBlock);

// Moves an item (with its sidecar) into destDirectory under the same name. dupFNErr when that
// folder already holds an item of the name, diffVolErr when it lies on another file system.
// newRef (may be null) receives the item in its new place.
OSErr FSMoveObject(const FSRef* ref, const FSRef* destDirectory, FSRef* newRef);
