// Record base: creation, locking, accessors and the record operations.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "QBasePrivate.h"
#include "recordbase/FastSort.h"

using namespace qbase;

namespace {

SInt16* gWantsMemFull = nullptr;

OpaqueQBaseRec& B(QBaseHandle base) {
  return **base;
}

// Resizes the index block to `entries` entries; false (block unchanged) on failure.
bool SetIndexEntries(OpaqueQBaseRec& b, Size entries) {
  SetHandleSize(b.indexHandle, entries * 4);
  return MemError() == noErr;
}

// Walks the record area from its start by slot size and calls visit(offset, header) for at most
// `limit` records, stopping where a record header or slot would leave the area. Returns the
// number of records visited; *end receives the offset behind the last one.
template <typename Visit>
SInt32 WalkRecords(OpaqueQBaseRec& b, SInt32 limit, Size* end, Visit visit) {
  Size area = AreaSize(b);
  char* p = *b.recordsHandle;
  Size off = 0;
  SInt32 n = 0;
  while (n < limit && off + kRecordHeaderSize <= area) {
    UInt32 slot = RecSlotSize(p + off);
    if (slot < UInt32(kRecordHeaderSize) || Size(slot) > area - off) break;
    if (!visit(off, p + off)) break;
    off += slot;
    ++n;
  }
  if (end) *end = off;
  return n;
}

// Comparison context for ordering positions by record offset (library-wide, one at a time).
const char* gOffsetIndex = nullptr;

SInt32 CompareByOffset(const void* a, const void* b) {
  SInt32 ea = corvimus::LoadNative<SInt32>(gOffsetIndex + 4 * Size(*static_cast<const SInt32*>(a)));
  SInt32 eb = corvimus::LoadNative<SInt32>(gOffsetIndex + 4 * Size(*static_cast<const SInt32*>(b)));
  return ea < eb ? -1 : (ea > eb ? 1 : 0);
}

bool PointsInto(const void* p, Handle h) {
  if (!h || !*h) return false;
  const char* c = static_cast<const char*>(p);
  return c >= *h && c < *h + GetHandleSize(h);
}

}  // namespace

namespace qbase {

WantsMemFull::WantsMemFull() : flag_(gWantsMemFull) {
  if (flag_) {
    saved_ = *flag_;
    *flag_ = 1;
  }
}
WantsMemFull::~WantsMemFull() {
  if (flag_) *flag_ = saved_;
}

char* RecordAt(QBaseHandle base, SInt32 position) {
  if (!base) return nullptr;
  OpaqueQBaseRec& b = B(base);
  if (position < 0 || position >= b.recordCount) return nullptr;
  SInt32 e = IndexEntry(b, position);
  if (e < 0 || Size(e) + kRecordHeaderSize > AreaSize(b)) return nullptr;
  return *b.recordsHandle + e;
}

}  // namespace qbase

// ---- Creation, disposal, locking ---------------------------------------------------------------

QBaseHandle QBaseNew(OSType type, UInt16 typeVersion, SInt16 growBy) {
  WantsMemFull memFull;
  Handle h = NewHandleClear(sizeof(OpaqueQBaseRec));
  if (!h) return nullptr;
  Handle index = NewHandle(0);
  Handle records = index ? NewHandle(0) : nullptr;
  Handle user = records ? NewHandle(0) : nullptr;
  if (!user) {
    if (records) DisposeHandle(records);
    if (index) DisposeHandle(index);
    DisposeHandle(h);
    return nullptr;
  }
  auto base = reinterpret_cast<QBaseHandle>(h);
  OpaqueQBaseRec& b = B(base);
  b.signature = kQBaseSignature;
  b.type = type;
  b.version = kQBaseVersion;
  b.typeVersion = typeVersion;
  b.fileSortMode = kQBaseSortPhysical;
  b.sortMode = kQBaseSortPhysical;
  b.growBy = growBy < 1 ? 1 : growBy;
  b.indexHandle = index;
  b.recordsHandle = records;
  b.userBlockHandle = user;
  return base;
}

void QBaseDispose(QBaseHandle base) {
  if (!base) return;
  OpaqueQBaseRec& b = B(base);
  DisposeHandle(b.indexHandle);
  DisposeHandle(b.recordsHandle);
  DisposeHandle(b.userBlockHandle);
  DisposeHandle(reinterpret_cast<Handle>(base));
}

void QBaseLock(QBaseHandle base) {
  if (!base) return;
  OpaqueQBaseRec& b = B(base);
  if (b.lockCount == 0) {
    HLock(b.indexHandle);
    HLock(b.recordsHandle);
    HLock(b.userBlockHandle);
  }
  if (b.lockCount < UINT16_MAX) ++b.lockCount;
}

void QBaseUnlock(QBaseHandle base, SInt16 force) {
  if (!base) return;
  OpaqueQBaseRec& b = B(base);
  if (force) b.lockCount = 1;
  if (b.lockCount == 1) {
    HUnlock(b.indexHandle);
    HUnlock(b.recordsHandle);
    HUnlock(b.userBlockHandle);
  }
  // An unbalanced unlock is the caller's mistake; the count just stays at 0.
  if (b.lockCount > 0) --b.lockCount;
}

void QBaseUseWantsMemFull(SInt16* flagPtr) {
  gWantsMemFull = flagPtr;
}

void QBaseSetFlipProc(QBaseHandle base, QBaseFlipProcPtr flipProc,
                      QBaseFlipProcPtr userBlockFlipProc) {
  if (!base) return;
  B(base).flipProc = flipProc;
  B(base).userBlockFlipProc = userBlockFlipProc;
}

SInt16 QBaseValidate(QBaseHandle base) {
  if (!base) return 0;
  OpaqueQBaseRec& b = B(base);
  Size area = AreaSize(b);
  SInt32 n = b.recordCount;
  if (n < 0 || n > b.indexCapacity || Size(n) * 4 > GetHandleSize(b.indexHandle)) return 0;
  for (SInt32 i = 0; i < n; ++i) {
    SInt32 e = IndexEntry(b, i);
    if (e < 0 || Size(e) > area - kRecordHeaderSize) return 0;
  }
  if (n == 0) return 1;
  // Every walked record must be named by the index. With n distinct walked offsets and n entries
  // that also means every entry names a walked record exactly once, so the walk is compared with
  // the entries in ascending order. The index is usually in physical order already; otherwise a
  // sorted scratch copy is made. The copy is taken from the C++ heap on purpose: a check must not
  // consume the Memory Manager's allocations (or its test seam's failures).
  const char* entries = *b.indexHandle;
  std::unique_ptr<SInt32[]> scratch;
  for (SInt32 i = 1; i < n; ++i) {
    if (IndexEntry(b, i - 1) >= IndexEntry(b, i)) {
      scratch.reset(new (std::nothrow) SInt32[size_t(n)]);
      if (!scratch) return 0;
      std::memcpy(scratch.get(), entries, size_t(n) * 4);
      std::sort(scratch.get(), scratch.get() + n);
      entries = reinterpret_cast<const char*>(scratch.get());
      break;
    }
  }
  const char* p = *b.recordsHandle;
  Size off = 0;
  for (SInt32 i = 0; i < n; ++i) {
    if (off + kRecordHeaderSize > area) return 0;
    UInt32 slot = RecSlotSize(p + off);
    SInt32 dataSize = RecDataSize(p + off);
    if (slot < UInt32(kRecordHeaderSize) || Size(slot) > area - off || dataSize < 0 ||
        Size(dataSize) > Size(slot) - kRecordHeaderSize ||
        corvimus::LoadNative<SInt32>(entries + 4 * Size(i)) != off)
      return 0;
    off += slot;
    // The walk must not run out of area while records remain.
    if (off == area && i + 1 < n) return 0;
  }
  return 1;
}

// ---- Accessors ---------------------------------------------------------------------------------

SInt32 QBaseCountRecords(QBaseHandle base) {
  return base ? B(base).recordCount : 0;
}
SInt16 QBaseGetSortMode(QBaseHandle base) {
  return base ? B(base).sortMode : 0;
}
void QBaseSetSortMode(QBaseHandle base, SInt16 mode) {
  if (base) B(base).sortMode = mode;
}

#define QBASE_USER_FIELD(Name, field, GetType, SetType)  \
  GetType QBaseGet##Name(QBaseHandle base) {             \
    return base ? GetType(B(base).field) : 0;            \
  }                                                      \
  void QBaseSet##Name(QBaseHandle base, SetType value) { \
    if (!base) return;                                   \
    B(base).field = value;                               \
    B(base).userFieldsChanged = 1;                       \
  }
QBASE_USER_FIELD(UserLong, userLong, SInt32, SInt32)
QBASE_USER_FIELD(UserData, userData, SInt32, SInt32)
QBASE_USER_FIELD(UserFlags, userFlags, UInt32, UInt32)
QBASE_USER_FIELD(UserWord, userWord, SInt32, SInt16)
QBASE_USER_FIELD(UserMode, userMode, SInt32, SInt16)
#undef QBASE_USER_FIELD

#define QBASE_PLAIN_FIELD(Name, field, Type)          \
  Type QBaseGet##Name(QBaseHandle base) {             \
    return base ? Type(B(base).field) : 0;            \
  }                                                   \
  void QBaseSet##Name(QBaseHandle base, Type value) { \
    if (base) B(base).field = value;                  \
  }
QBASE_PLAIN_FIELD(RecordsChanged, recordsChanged, UInt16)
QBASE_PLAIN_FIELD(UserFieldsChanged, userFieldsChanged, UInt16)
QBASE_PLAIN_FIELD(ReadOnly, readOnly, UInt16)
QBASE_PLAIN_FIELD(TempLong, tempLong, SInt32)
QBASE_PLAIN_FIELD(TempData, tempData, SInt32)
#undef QBASE_PLAIN_FIELD

void QBaseGetUserRect(QBaseHandle base, Rect* rect) {
  if (base && rect) *rect = B(base).userRect;
}

void QBaseSetUserRect(QBaseHandle base, const Rect* rect) {
  if (!base || !rect) return;
  B(base).userRect = *rect;
  B(base).userFieldsChanged = 1;
}

OSType QBaseGetType(QBaseHandle base, UInt16* typeVersion) {
  if (!IsValidBase(base)) return 0;
  if (typeVersion) *typeVersion = B(base).typeVersion;
  return B(base).type;
}

void QBaseSetType(QBaseHandle base, OSType type, UInt16 typeVersion) {
  if (!IsValidBase(base)) return;
  B(base).type = type;
  B(base).typeVersion = typeVersion;
}

SInt32 QBaseGetSize(QBaseHandle base, SInt32* recordsSize) {
  if (!base) return 0;
  Size area = AreaSize(B(base));
  if (recordsSize) *recordsSize = SInt32(area);
  return SInt32(GetHandleSize(B(base).indexHandle) + area + 108);
}

void* QBaseGetUserBlock(QBaseHandle base, SInt32* size) {
  void* p = base ? *B(base).userBlockHandle : nullptr;
  if (size) *size = p ? SInt32(GetHandleSize(B(base).userBlockHandle)) : 0;
  return p;
}

OSErr QBaseSetUserBlock(QBaseHandle base, const void* data, SInt32 size) {
  if (!base) return paramErr;
  if (!data) size = 0;
  if (size < 0) return paramErr;
  OpaqueQBaseRec& b = B(base);
  // Bytes taken from the block itself would move with it: copy them aside first.
  Ptr copy = nullptr;
  if (size > 0 && PointsInto(data, b.userBlockHandle)) {
    copy = NewPtr(size);
    if (!copy) return MemError();
    std::memcpy(copy, data, size);
    data = copy;
  }
  SetHandleSize(b.userBlockHandle, size);
  OSErr err = MemError();
  if (err == noErr && size > 0) std::memcpy(*b.userBlockHandle, data, size);
  DisposePtr(copy);
  return err;
}

OSErr QBaseDuplicateUserFields(QBaseHandle source, QBaseHandle destination) {
  if (!IsValidBase(source) || !IsValidBase(destination) || B(source).type != B(destination).type ||
      B(source).typeVersion != B(destination).typeVersion)
    return paramErr;
  OpaqueQBaseRec& s = B(source);
  OpaqueQBaseRec& d = B(destination);
  d.userLong = s.userLong;
  d.userData = s.userData;
  d.userFlags = s.userFlags;
  d.userWord = s.userWord;
  d.userMode = s.userMode;
  d.userRect = s.userRect;
  d.spare4 = 0;
  d.userFieldsChanged = s.userFieldsChanged;
  return noErr;
}

// ---- Record operations -------------------------------------------------------------------------

SInt32 QBaseAddRecord(QBaseHandle base, const void* data, SInt32 size) {
  if (!base || !data || size < 0) return kQBaseErr;
  WantsMemFull memFull;
  OpaqueQBaseRec& b = B(base);
  Size oldArea = AreaSize(b);
  UInt32 slot = SlotSizeFor(size);
  // Offsets are signed 32-bit values.
  if (Size(slot) > Size(INT32_MAX) - oldArea || b.recordCount == INT32_MAX) return kQBaseErr;
  // Data that lies in the record area itself moves when the area grows.
  Size dataOffset = -1;
  if (PointsInto(data, b.recordsHandle))
    dataOffset = static_cast<const char*>(data) - *b.recordsHandle;
  SetHandleSize(b.recordsHandle, oldArea + slot);
  if (MemError() != noErr) return kQBaseErr;
  if (b.recordCount >= b.indexCapacity) {
    if (!SetIndexEntries(b, Size(b.indexCapacity) + b.growBy)) {
      SetHandleSize(b.recordsHandle, oldArea);
      return kQBaseErr;
    }
    b.indexCapacity += b.growBy;
  }
  if (dataOffset >= 0) data = *b.recordsHandle + dataOffset;
  char* rec = *b.recordsHandle + oldArea;
  SInt32 position = b.recordCount;
  SetIndexEntry(b, position, SInt32(oldArea));
  b.recordCount++;
  SetRecSlotSize(rec, slot);
  SetRecDataSize(rec, size);
  SetRecFlags(rec, 0);
  std::memcpy(rec + kRecordHeaderSize, data, size_t(size));
  if (slot > UInt32(size) + kRecordHeaderSize) rec[slot - 1] = 0;
  if (b.sortMode != kQBaseSortPhysical) b.sortMode = kQBaseSortUnknown;
  b.recordsChanged = 1;
  return position;
}

SInt32 QBaseReplaceRecord(QBaseHandle base, SInt32 position, const void* data, SInt32 size) {
  if (!base || !data || size < 0) return kQBaseErr;
  char* rec = RecordAt(base, position);
  if (!rec) return kQBaseErr;
  WantsMemFull memFull;
  OpaqueQBaseRec& b = B(base);
  Size area = AreaSize(b);
  Size o = rec - *b.recordsHandle;
  Size s = RecSlotSize(rec);
  if (s < kRecordHeaderSize || s > area - o) return kQBaseErr;
  UInt32 slot = SlotSizeFor(size);
  if (Size(slot) - s > Size(INT32_MAX) - area) return kQBaseErr;
  Ptr copy = nullptr;
  if (PointsInto(data, b.recordsHandle)) {
    copy = NewPtr(size);
    if (!copy) return kQBaseErr;
    std::memcpy(copy, data, size_t(size));
    data = copy;
  }
  Size diff = Size(slot) - s;
  if (diff < 0) {
    char* p = *b.recordsHandle;
    std::memmove(p + o + slot, p + o + s, size_t(area - o - s));
    SetHandleSize(b.recordsHandle, area + diff);
    if (MemError() != noErr) {
      DisposePtr(copy);
      return kQBaseErr;
    }
  } else if (diff > 0) {
    SetHandleSize(b.recordsHandle, area + diff);
    if (MemError() != noErr) {
      DisposePtr(copy);
      return kQBaseErr;
    }
    char* p = *b.recordsHandle;
    std::memmove(p + o + slot, p + o + s, size_t(area - o - s));
  }
  rec = *b.recordsHandle + o;
  SetRecSlotSize(rec, slot);
  SetRecDataSize(rec, size);
  std::memcpy(rec + kRecordHeaderSize, data, size_t(size));
  if (slot > UInt32(size) + kRecordHeaderSize) rec[slot - 1] = 0;
  DisposePtr(copy);
  if (diff != 0) {
    for (SInt32 i = 0; i < b.recordCount; ++i) {
      SInt32 e = IndexEntry(b, i);
      if (e >= o + s) SetIndexEntry(b, i, SInt32(e + diff));
    }
  }
  b.recordsChanged = 1;
  return position;
}

void* QBaseGetRecord(QBaseHandle base, SInt32 position, SInt32* size) {
  char* rec = RecordAt(base, position);
  SInt32 dataSize = rec ? RecDataSize(rec) : 0;
  if (rec && (dataSize < 0 || Size(dataSize) + kRecordHeaderSize + (rec - *B(base).recordsHandle) >
                                  AreaSize(B(base))))
    rec = nullptr;
  if (size) *size = rec ? dataSize : 0;
  return rec ? rec + kRecordHeaderSize : nullptr;
}

void* QBaseFindLongHeader(QBaseHandle base, UInt32 value) {
  if (!base) return nullptr;
  OpaqueQBaseRec& b = B(base);
  char* found = nullptr;
  WalkRecords(b, b.recordCount, nullptr, [&](Size, char* rec) {
    if (RecDataSize(rec) >= 4 && RecSlotSize(rec) >= 14 &&
        corvimus::LoadNative<UInt32>(rec + kRecordHeaderSize) == value) {
      found = rec + kRecordHeaderSize;
      return false;
    }
    return true;
  });
  return found;
}

SInt32 QBaseGetRecordFlags(QBaseHandle base, SInt32 position) {
  char* rec = RecordAt(base, position);
  return rec ? RecFlags(rec) : 0;
}

void QBaseSetRecordFlags(QBaseHandle base, SInt32 position, SInt16 flags) {
  if (char* rec = RecordAt(base, position)) SetRecFlags(rec, flags);
}

SInt32 QBaseFindRecordFlags(QBaseHandle base, SInt16 flags) {
  if (!base) return -1;
  for (SInt32 i = 0; i < B(base).recordCount; ++i) {
    char* rec = RecordAt(base, i);
    if (rec && RecFlags(rec) == flags) return i;
  }
  return -1;
}

void QBaseSetAllRecordFlags(QBaseHandle base, SInt16 flags) {
  if (!base) return;
  WalkRecords(B(base), B(base).recordCount, nullptr, [&](Size, char* rec) {
    SetRecFlags(rec, flags);
    return true;
  });
}

void QBaseMarkRecordForRemoval(QBaseHandle base, SInt32 position) {
  // A position already marked has no record behind it any more.
  char* rec = RecordAt(base, position);
  if (!rec) return;
  SetIndexEntry(B(base), position, -1);
  SetRecDataSize(rec, -1);
}

void QBaseRebuildIndex(QBaseHandle base) {
  if (!base) return;
  OpaqueQBaseRec& b = B(base);
  SInt32 limit = b.recordCount;
  Size room = GetHandleSize(b.indexHandle) / 4;
  if (Size(limit) > room) limit = SInt32(room);
  // The walk stops where a record would run past the end of the area; that record is dropped.
  SInt32 i = 0;
  WalkRecords(b, limit, nullptr, [&](Size off, char*) {
    SetIndexEntry(b, i++, SInt32(off));
    return true;
  });
  b.recordCount = i;
  b.sortMode = kQBaseSortPhysical;
}

void QBaseRemoveMarkedRecords(QBaseHandle base) {
  if (!base || B(base).recordCount <= 0) return;
  WantsMemFull memFull;
  OpaqueQBaseRec& b = B(base);
  const SInt32 oldCount = b.recordCount;

  // 1. Compact the index, keeping the order of the live entries; runs move as blocks.
  SInt32 m = 0;
  {
    char* idx = *b.indexHandle;
    SInt32 runStart = -1;
    for (SInt32 i = 0; i <= oldCount; ++i) {
      bool live = i < oldCount && IndexEntry(b, i) >= 0;
      if (live && runStart < 0) runStart = i;
      if (!live && runStart >= 0) {
        SInt32 len = i - runStart;
        if (m != runStart)
          std::memmove(idx + 4 * Size(m), idx + 4 * Size(runStart), 4 * size_t(len));
        m += len;
        runStart = -1;
      }
    }
  }
  SInt32 droppedEntries = oldCount - m;
  if (droppedEntries == 0) {
    // Nothing marked in the index; a record marked without its entry is an inconsistency that
    // the walk below repairs, anything else leaves the base untouched.
    bool anyMarked = false;
    WalkRecords(b, oldCount, nullptr, [&](Size, char* rec) {
      anyMarked = RecDataSize(rec) < 0;
      return !anyMarked;
    });
    if (!anyMarked) return;
  } else {
    b.indexCapacity -= droppedEntries;
    SetIndexEntries(b, b.indexCapacity);
  }

  // 2. The remaining positions in physical order. An index that is already ascending (the common
  // case) is its own permutation, so neither the list nor the sort is needed.
  bool ascending = true;
  for (SInt32 i = 1; i < m && ascending; ++i) ascending = IndexEntry(b, i - 1) < IndexEntry(b, i);
  Ptr perm = nullptr;
  if (!ascending) {
    perm = NewPtr(Size(m) * 4);
    if (perm) {
      for (SInt32 i = 0; i < m; ++i) corvimus::StoreNative(perm + 4 * Size(i), i);
      gOffsetIndex = *b.indexHandle;
      FastQSort(perm, m, 4, CompareByOffset);
      gOffsetIndex = nullptr;
    }
  }

  // 3. Compact the record area: each run of kept records moves down once, and the index entries
  // of exactly those records are lowered by the same amount.
  char* area = *b.recordsHandle;
  Size areaSize = AreaSize(b);
  Size shift = 0;
  Size runStart = -1;  // offset of the first record of the current run of kept records
  SInt32 kept = 0, dropped = 0;
  bool consistent = ascending || perm != nullptr;
  auto flushRun = [&](Size end) {
    if (runStart >= 0 && shift > 0)
      std::memmove(area + runStart - shift, area + runStart, size_t(end - runStart));
    runStart = -1;
  };
  Size walkEnd = 0;
  WalkRecords(b, oldCount, &walkEnd, [&](Size off, char* rec) {
    if (RecDataSize(rec) < 0) {
      flushRun(off);
      shift += RecSlotSize(rec);
      ++dropped;
    } else {
      if (runStart < 0) runStart = off;
      if (consistent && kept < m) {
        SInt32 pos = perm ? corvimus::LoadNative<SInt32>(perm + 4 * Size(kept)) : kept;
        if (shift > 0) SetIndexEntry(b, pos, SInt32(IndexEntry(b, pos) - shift));
      } else {
        consistent = false;
      }
      ++kept;
    }
    return true;
  });
  // Bytes behind the last record travel with the records.
  if (runStart < 0 && walkEnd < areaSize) runStart = walkEnd;
  flushRun(areaSize);
  DisposePtr(perm);
  SetHandleSize(b.recordsHandle, areaSize - shift);
  b.recordCount = oldCount - dropped;

  // 4. Marks that disagree between index and records (or no permutation) fall back to physical
  // order, which is always consistent.
  if (!consistent || kept != m) {
    b.indexCapacity = b.recordCount;
    SetIndexEntries(b, b.indexCapacity);
    QBaseRebuildIndex(base);
  }
  if (b.recordCount == 0) b.sortMode = kQBaseSortPhysical;
  if (dropped > 0 || droppedEntries > 0) b.recordsChanged = 1;
}

OSErr QBaseMoveIndexes(QBaseHandle base, SInt32 destination, QBaseSelectProcPtr select) {
  if (!base) return paramErr;
  if (!select) return paramErr;
  WantsMemFull memFull;
  OpaqueQBaseRec& b = B(base);
  const SInt32 count = b.recordCount;
  if (destination < 0) destination = 0;
  if (destination > count) destination = count;

  auto isSelected = [&](SInt32 pos) {
    char* rec = RecordAt(base, pos);
    if (!rec) return false;  // a position marked for removal has no record to offer
    return select(rec + kRecordHeaderSize, RecDataSize(rec), RecFlags(rec)) != 0;
  };
  SInt32 selected = 0, first = -1, last = -1, below = 0;
  for (SInt32 i = 0; i < count; ++i) {
    if (!isSelected(i)) continue;
    ++selected;
    if (first < 0) first = i;
    last = i;
    if (i < destination) ++below;
  }
  if (selected == 0) return noErr;
  b.sortMode = kQBaseSortUnknown;
  Ptr moving = NewPtr(Size(selected) * 4);
  if (!moving) return memFullErr;

  // Selected entries of the span go to `moving`; unselected ones close up from `first`. When the
  // selection changes between the passes, whatever no longer fits is treated as unselected, so
  // each entry stays in the index exactly once.
  char* idx = *b.indexHandle;
  SInt32 taken = 0, write = first;
  bool changed = false;
  for (SInt32 i = first; i <= last; ++i) {
    SInt32 e = IndexEntry(b, i);
    bool sel = isSelected(i);
    if (sel && taken < selected) {
      corvimus::StoreNative(moving + 4 * Size(taken++), e);
    } else {
      if (sel) changed = true;
      SetIndexEntry(b, write++, e);
    }
  }
  if (taken != selected) changed = true;

  // The unselected entries are now positions [0, gap) and [gap + taken, count); insert the
  // moved run at `target` of that sequence.
  SInt32 gap = write;
  SInt32 target = destination - below;
  if (target < 0) target = 0;
  if (target > count - taken) target = count - taken;
  if (target < gap) {
    std::memmove(idx + 4 * Size(target + taken), idx + 4 * Size(target), 4 * size_t(gap - target));
  } else if (target > gap) {
    std::memmove(idx + 4 * Size(gap), idx + 4 * Size(gap + taken), 4 * size_t(target - gap));
  }
  std::memcpy(idx + 4 * Size(target), moving, 4 * size_t(taken));
  DisposePtr(moving);
  return changed ? ioErr : noErr;
}

void QBaseTruncate(QBaseHandle base, SInt32 count) {
  if (!base) return;
  OpaqueQBaseRec& b = B(base);
  if (count < 0 || count >= b.recordCount) return;
  WantsMemFull memFull;
  // Cutting the area at entry `count` keeps the right records only when positions 0 .. count - 1
  // are the first records of the area in that order. Otherwise the area would be cut under live
  // entries, so the records behind those positions are removed one by one instead.
  bool physical = true;
  SInt32 i = 0;
  Size cut = 0;
  WalkRecords(b, count, &cut, [&](Size off, char*) {
    if (IndexEntry(b, i++) != off) physical = false;
    return physical;
  });
  if (physical && i == count && IndexEntry(b, count) == cut) {
    SetHandleSize(b.recordsHandle, cut);
    b.recordCount = count;
    b.indexCapacity = count;
    SetIndexEntries(b, count);
    return;
  }
  UInt16 changed = b.recordsChanged;
  for (SInt32 p = count; p < b.recordCount; ++p) QBaseMarkRecordForRemoval(base, p);
  QBaseRemoveMarkedRecords(base);
  b.recordsChanged = changed;
  if (b.recordCount > count) return;  // could not remove (never expected); keep what is there
  b.indexCapacity = b.recordCount;
  SetIndexEntries(b, b.indexCapacity);
}

void QBaseEmpty(QBaseHandle base) {
  if (!base || B(base).recordCount == 0) return;
  WantsMemFull memFull;
  QBaseUnlock(base, 1);
  OpaqueQBaseRec& b = B(base);
  b.recordCount = 0;
  b.indexCapacity = 0;
  SetHandleSize(b.indexHandle, 0);
  SetHandleSize(b.recordsHandle, 0);
  b.sortMode = kQBaseSortPhysical;
  b.recordsChanged = 1;
}

OSErr QBaseDuplicate(QBaseHandle source, QBaseHandle destination) {
  if (!IsValidBase(source) || !IsValidBase(destination) || B(source).type != B(destination).type ||
      B(source).typeVersion != B(destination).typeVersion)
    return paramErr;
  if (source == destination) return noErr;
  WantsMemFull memFull;
  OpaqueQBaseRec& s = B(source);
  OpaqueQBaseRec& d = B(destination);
  Size area = AreaSize(s);
  SetHandleSize(d.recordsHandle, area);
  OSErr err = MemError();
  if (err == noErr) {
    if (area > 0) std::memcpy(*d.recordsHandle, *s.recordsHandle, size_t(area));
    Size index = GetHandleSize(s.indexHandle);
    SetHandleSize(d.indexHandle, index);
    err = MemError();
    if (err == noErr && index > 0) std::memcpy(*d.indexHandle, *s.indexHandle, size_t(index));
  }
  if (err != noErr) {
    // Half-copied blocks must not stay behind the old counts.
    d.recordCount = 1;  // forces QBaseEmpty to clear the blocks whatever the old count
    QBaseEmpty(destination);
    return err;
  }
  // Every field but the blocks; the lock count stays the destination's, since it describes
  // whether the destination's own blocks are pinned.
  Handle index = d.indexHandle, records = d.recordsHandle, user = d.userBlockHandle;
  UInt16 lockCount = d.lockCount;
  d = s;
  d.indexHandle = index;
  d.recordsHandle = records;
  d.userBlockHandle = user;
  d.lockCount = lockCount;
  return noErr;
}
