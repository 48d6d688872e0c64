// Resources of the bundle that calling code lives in: string lists.
//
// A bundle is a folder X.app, X.prefPane or X.bundle with Contents/MacOS/ (the code) and
// Contents/Resources/. The bundle of a piece of code is the innermost such folder above the file
// (program or shared library) that holds the code, found with dladdr; the agent inside the pane's
// Resources therefore finds its own bundle, not the pane's.
//
// String lists live in "StringLists.strings" files: Contents/Resources/<language>.lproj/ for each
// of the user's languages (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG; "de_DE.UTF-8" tries de_DE then
// de), then en.lproj, English.lproj, Base.lproj, then Contents/Resources/ itself. The first file
// that has the entry wins.
//
// File format: the text form of a strings table, UTF-8 (an optional byte-order mark) or UTF-16 with
// a byte-order mark, at most 1 MiB:
//
//   /* comment */  // comment to the end of the line
//   "132.1" = "Global settings";
//   "132.2" = "Line one\nLine two \"quoted\" \U00E9";
//
// The key is "<list id>.<index>" (index from 1). Keys and values are double-quoted with the escapes
// \" \\ \' \n \r \t \0 and \Uxxxx / \uxxxx (four hex digits, UTF-16 surrogate pairs joined);
// keys of letters, digits and _ . - : / $ may also stand unquoted. A file that does not follow the
// format is ignored as a whole.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/FileCatalog.h"
#include "platform/MacTypes.h"

namespace corvimus {

// GetIndString for the bundle that holds the code or data at `anchor`.
void GetIndStringNear(const void* anchor, Str255 theString, SInt16 strListID, SInt16 index);

// One byte in each translation unit that includes this header: its address tells which program or
// library that unit was linked into. (A return address would not do: a caller that ends in a call
// to GetIndString may jump to it, and the return address is then its own caller's.)
[[maybe_unused]] static const char kResourceAnchor = 0;

}  // namespace corvimus

// String `index` (from 1) of string list `strListID` of the calling code's bundle, cut to 255 bytes
// at a character boundary; the empty string when there is no bundle, file or entry.
static inline void GetIndString(Str255 theString, SInt16 strListID, SInt16 index) {
  corvimus::GetIndStringNear(&corvimus::kResourceAnchor, theString, strListID, index);
}

namespace corvimus {

// The folders of a bundle's Resources to look in, most wanted first: "<language>.lproj/" for each
// of the user's languages (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG; "de_DE.UTF-8" gives de_DE
// then de), then en, English and Base, then "" (Resources itself).
std::vector<std::string> LanguageFolders();
// The path of the file `name` in the first of LanguageFolders() below `resourceFolder` that holds
// one; empty when none does.
std::string FindLocalizedResource(const std::string& resourceFolder, const std::string& name);

// The bundle folder holding the code at `address`; empty when that code is in no bundle.
std::string BundleForCode(const void* address);
// GetIndString for an explicitly named bundle folder.
bool GetIndStringFromBundle(const std::string& bundlePath, SInt16 strListID, SInt16 index,
                            std::string* text);
// Parses a strings table; false (and `entries` emptied) when the bytes do not follow the format.
bool ParseStringsTable(const std::string& bytes, std::map<std::string, std::string>* entries);

}  // namespace corvimus

// ---- Resource files ---------------------------------------------------------------------------
// A file's resource fork lives in the resource fork entry (id 2) of its AppleDouble sidecar
// (AppleDouble.h), in the classic resource-file layout documented in ResourceFiles.cpp. A resource
// file is read whole when it is opened and written back whole, through the sidecar's atomic
// rewrite, when it is closed after a change. Resource file reference numbers come from their own
// range (kResFileRefNumBase upwards) and are not data-fork reference numbers.
// A damaged map makes FSOpenResourceFile fail with mapReadErr; it never crashes.

enum : OSErr {
  addResFailed = -194,
  mapReadErr = -199,
  resAttrErr = -198,
  errFSBadForkName = -1409,
};
enum : SInt16 { kResFileRefNumBase = 0x4000 };

// The name of the resource fork, "RESOURCE_FORK".
OSErr FSGetResourceForkName(HFSUniStr255* forkName);

// Creates a file (as FSCreateFileUnicode) whose resource fork is an empty resource file. forkName
// must be the resource fork's name. Nothing is left behind on failure.
OSErr FSCreateResourceFile(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                           FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                           UInt16 forkNameLength, const UniChar* forkName, FSRef* newRef,
                           FSSpec* newSpec);

// Opens the resource file of ref and makes it the current one. eofErr when the file has no resource
// fork, mapReadErr when its map is damaged.
OSErr FSOpenResourceFile(const FSRef* ref, UInt16 forkNameLength, const UniChar* forkName,
                         SInt8 permissions, SInt16* refNum);

// Adds theData to the current resource file; on success the handle belongs to the resource file
// (disposed of when it is closed). addResFailed when a resource of that type and ID exists,
// wrPermErr when the file was opened read-only. Result in ResError().
void AddResource(Handle theData, ResType theType, SInt16 theID, ConstStr255Param name);

// The resource of that type and ID in the current resource file, or null (ResError: resNotFound).
// The handle belongs to the resource file until DetachResource.
Handle Get1Resource(ResType theType, SInt16 theID);
void DetachResource(Handle theResource);

// Writes the file back when it was changed (the result is in ResError) and disposes of its
// resources. The most recently opened file still open becomes the current one.
void CloseResFile(SInt16 refNum);
void UseResFile(SInt16 refNum);
SInt16 CurResFile();
OSErr ResError();

namespace corvimus {

struct ResourceEntry {
  ResType type = 0;
  SInt16 id = 0;
  UInt8 attributes = 0;
  std::string name;  // empty: none
  std::vector<UInt8> data;
};

// Resource fork bytes <-> resources. ParseResourceFork gives mapReadErr for a damaged fork.
OSErr ParseResourceFork(const std::vector<UInt8>& fork, std::vector<ResourceEntry>* out);
std::vector<UInt8> SerializeResourceFork(const std::vector<ResourceEntry>& resources);

}  // namespace corvimus
