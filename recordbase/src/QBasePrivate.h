// The base record behind a QBaseHandle and helpers shared by the record base's source files.
#pragma once

#include <cstring>

#include "platform/ByteOrder.h"
#include "recordbase/QBase.h"

// The first eighteen fields are the 64-byte file header (see QBaseFile.cpp for its byte image);
// the rest exists only in memory.
struct OpaqueQBaseRec {
  OSType signature;
  OSType type;
  UInt16 version;
  UInt16 typeVersion;
  SInt32 recordCount;
  UInt32 recordsSize;
  UInt32 spare1;
  UInt32 spare2;
  SInt16 fileSortMode;
  UInt16 spare3;
  SInt32 userLong;
  SInt32 userData;
  UInt32 userFlags;
  SInt16 userWord;
  SInt16 userMode;
  Rect userRect;
  UInt32 userBlockSize;
  UInt32 spare4;

  Handle indexHandle;
  Handle recordsHandle;
  Handle userBlockHandle;
  SInt32 indexCapacity;
  UInt16 recordsChanged;
  UInt16 userFieldsChanged;
  UInt16 lockCount;
  SInt16 growBy;
  UInt16 readOnly;
  SInt16 sortMode;
  SInt32 tempLong;
  SInt32 tempData;
  QBaseFlipProcPtr flipProc;
  QBaseFlipProcPtr userBlockFlipProc;
};

namespace qbase {

// Record header inside the record area: slotSize (u32), dataSize (s32, -1 = marked), flags (16).
constexpr SInt32 kRecordHeaderSize = 10;
constexpr SInt32 kHeaderSize = 64;

inline UInt32 SlotSizeFor(SInt32 dataSize) {
  UInt32 slot = UInt32(dataSize) + kRecordHeaderSize;
  return slot + (slot & 1);
}

inline UInt32 RecSlotSize(const char* rec) {
  return corvimus::LoadNative<UInt32>(rec);
}
inline SInt32 RecDataSize(const char* rec) {
  return corvimus::LoadNative<SInt32>(rec + 4);
}
inline SInt16 RecFlags(const char* rec) {
  return corvimus::LoadNative<SInt16>(rec + 8);
}
inline void SetRecSlotSize(char* rec, UInt32 v) {
  corvimus::StoreNative(rec, v);
}
inline void SetRecDataSize(char* rec, SInt32 v) {
  corvimus::StoreNative(rec + 4, v);
}
inline void SetRecFlags(char* rec, SInt16 v) {
  corvimus::StoreNative(rec + 8, v);
}

inline SInt32 IndexEntry(const OpaqueQBaseRec& b, SInt32 pos) {
  return corvimus::LoadNative<SInt32>(*b.indexHandle + 4 * Size(pos));
}
inline void SetIndexEntry(OpaqueQBaseRec& b, SInt32 pos, SInt32 v) {
  corvimus::StoreNative(*b.indexHandle + 4 * Size(pos), v);
}
inline Size AreaSize(const OpaqueQBaseRec& b) {
  return GetHandleSize(b.recordsHandle);
}

inline bool IsValidBase(QBaseHandle base) {
  return base && (**base).signature == kQBaseSignature && (**base).version == kQBaseVersion;
}

// The record header at a live position, or null when the position or its entry is not usable
// (out of range, marked for removal, or pointing outside the area).
char* RecordAt(QBaseHandle base, SInt32 position);

// Sets the application's memory-full flag for the duration of an allocating call.
class WantsMemFull {
 public:
  WantsMemFull();
  ~WantsMemFull();
  WantsMemFull(const WantsMemFull&) = delete;
  WantsMemFull& operator=(const WantsMemFull&) = delete;

 private:
  SInt16* flag_;
  SInt16 saved_ = 0;
};

// Keeps a base locked for the life of the object.
class LockedBase {
 public:
  explicit LockedBase(QBaseHandle base) : base_(base) { QBaseLock(base_); }
  ~LockedBase() { QBaseUnlock(base_, 0); }
  LockedBase(const LockedBase&) = delete;
  LockedBase& operator=(const LockedBase&) = delete;

 private:
  QBaseHandle base_;
};

}  // namespace qbase
