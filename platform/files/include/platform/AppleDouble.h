// AppleDouble sidecars: what a Mac file keeps beside its data fork (Finder info, resource fork)
// lives in a file "._name" next to "name", in the AppleDouble version 2 layout. This unit reads and
// writes such a sidecar as a list of entries; the Finder info and resource fork code build on it.
//
// Layout (all integers big-endian):
//   off   size     field
//     0      4     magic        0x00051607
//     4      4     version      0x00020000
//     8     16     filler       zeros
//    24      2     entry count  n
//    26   12*n     descriptors  entry id (4), offset of its data from the file start (4), length
//    (4)
//     ...          entry data, each where its descriptor says
//
// Entry ids used here: 2 resource fork, 9 Finder info (32 bytes: FInfo then FXInfo, below).
// Finder info entry: 0 4 fdType  4 4 fdCreator  8 2 fdFlags  10 2 fdLocation.v  12 2 fdLocation.h
//                    14 2 fdFldr  16 16 extended Finder info (kept as it is, zeros when made here)
//
// A sidecar is read whole (at most kAppleDoubleMaxSize bytes); every descriptor is checked against
// the bytes read before use, so a damaged sidecar is an error result, never a crash.
#pragma once

#include <string>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

enum : UInt32 {
  kAppleDoubleMagic = 0x00051607,
  kAppleDoubleVersion = 0x00020000,
  kAppleDoubleResourceFork = 2,
  kAppleDoubleFinderInfo = 9,
  kAppleDoubleHeaderSize = 26,
  kAppleDoubleFinderInfoSize = 32,
  kAppleDoubleMaxEntries = 64,
  kAppleDoubleMaxSize = 64u << 20,
};

struct AppleDoubleEntry {
  UInt32 id = 0;
  std::vector<UInt8> data;
};

struct AppleDouble {
  std::vector<AppleDoubleEntry> entries;

  const AppleDoubleEntry* Find(UInt32 id) const;
  AppleDoubleEntry* Find(UInt32 id);
  // Replaces the entry with this id, or adds it at the end.
  void Set(UInt32 id, std::vector<UInt8> data);
  void Remove(UInt32 id);
};

// Parses sidecar bytes: noErr, or ioErr when they are not a well-formed AppleDouble file (bad
// magic or version, a descriptor outside the bytes, too many entries, an id given twice).
OSErr ParseAppleDouble(const UInt8* bytes, size_t length, AppleDouble* out);
std::vector<UInt8> SerializeAppleDouble(const AppleDouble& sidecar);

// The sidecar of the file at `filePath`: fnfErr when it has none, ioErr when it is damaged.
OSErr ReadSidecar(const std::string& filePath, AppleDouble* out);
// Writes the sidecar of `filePath` in one step (a temporary file renamed over the old sidecar).
OSErr WriteSidecar(const std::string& filePath, const AppleDouble& sidecar);
// Removes the sidecar; noErr when there was none.
OSErr DeleteSidecar(const std::string& filePath);

// Finder info entry <-> its fields, big-endian as stored.
void StoreFinderInfo(UInt8* entry32, OSType type, OSType creator, UInt16 flags);
void LoadFinderInfo(const UInt8* entry32, OSType* type, OSType* creator, UInt16* flags);

}  // namespace corvimus
