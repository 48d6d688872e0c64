// Exchange buffers: a selection of a base's records, in index order, in one self-describing block.
//
// Layout (native byte order, never written to files):
//   offset  size  contents
//   0       4     'QBX2'
//   4       4     source base signature ('QBSE')
//   8       4     source base type
//   12      2     source base version (2)
//   14      2     source base type version
//   16      4     number of records
//   20      ...   the records, each copied whole (10-byte header, data, pad byte)
//   end-1   1     one trailing byte, not significant
#include <climits>
#include <cstring>

#include "QBasePrivate.h"

using namespace qbase;

namespace {

constexpr SInt32 kExchangeHeader = 20;
constexpr SInt32 kExchangeMinSize = kExchangeHeader + 1;

bool HasSignature(const char* p, SInt32 size) {
  return p && size >= kExchangeMinSize &&
         corvimus::LoadNative<OSType>(p) == kQBaseExchangeSignature;
}

// Walks the records of a buffer, stopping at the first one that does not fit; returns how many
// whole records were visited.
template <typename Visit>
SInt32 WalkExchange(const char* p, SInt32 size, Visit visit) {
  Size off = kExchangeHeader;
  SInt32 n = 0;
  while (off < Size(size) - 1) {
    if (off + kRecordHeaderSize > Size(size) - 1) break;
    UInt32 slot = RecSlotSize(p + off);
    SInt32 dataSize = RecDataSize(p + off);
    if (slot < UInt32(kRecordHeaderSize) || Size(slot) > Size(size) - 1 - off || dataSize < 0 ||
        Size(dataSize) > Size(slot) - kRecordHeaderSize)
      break;
    if (!visit(p + off)) break;
    off += slot;
    ++n;
  }
  return n;
}

SInt32 CountRecords(const char* p, SInt32 size) {
  if (!HasSignature(p, size)) return 0;
  SInt32 walked = WalkExchange(p, size, [](const char*) { return true; });
  return walked == corvimus::LoadNative<SInt32>(p + 16) ? walked : 0;
}

}  // namespace

Handle QBaseGetExchange(QBaseHandle base, QBaseSelectProcPtr select) {
  if (!base || !select) return nullptr;
  WantsMemFull memFull;
  LockedBase lock(base);
  OpaqueQBaseRec& b = **base;
  SInt64 total = kExchangeMinSize;
  for (SInt32 i = 0; i < b.recordCount; ++i) {
    char* rec = RecordAt(base, i);
    if (rec && select(rec + kRecordHeaderSize, RecDataSize(rec), RecFlags(rec)))
      total += RecSlotSize(rec);
  }
  if (total > INT32_MAX) return nullptr;
  Handle h = NewHandle(Size(total));
  if (!h) return nullptr;
  HLockHi(h);
  char* p = *h;
  corvimus::StoreNative(p, OSType(kQBaseExchangeSignature));
  corvimus::StoreNative(p + 4, b.signature);
  corvimus::StoreNative(p + 8, b.type);
  corvimus::StoreNative(p + 12, b.version);
  corvimus::StoreNative(p + 14, b.typeVersion);
  Size off = kExchangeHeader;
  SInt32 copied = 0;
  for (SInt32 i = 0; i < b.recordCount; ++i) {
    char* rec = RecordAt(base, i);
    if (!rec || !select(rec + kRecordHeaderSize, RecDataSize(rec), RecFlags(rec))) continue;
    UInt32 slot = RecSlotSize(rec);
    // A selection that grew between the passes must not write past the block.
    if (off + Size(slot) > total - 1) break;
    std::memcpy(p + off, rec, slot);
    off += slot;
    ++copied;
  }
  corvimus::StoreNative(p + 16, copied);
  // A selection that shrank between the passes leaves unused room: trim it so walks end cleanly.
  p[off] = 0;
  HUnlock(h);
  if (off + 1 != total) SetHandleSize(h, off + 1);
  return h;
}

SInt32 QBasePutExchangePtr(QBaseHandle base, const void* buffer, SInt32 size, SInt32 insertPosition,
                           SInt16 flags) {
  const char* p = static_cast<const char*>(buffer);
  if (!base || !p || size < kExchangeMinSize + 1) return 0;
  OpaqueQBaseRec& b = **base;
  if (corvimus::LoadNative<OSType>(p) != kQBaseExchangeSignature ||
      corvimus::LoadNative<OSType>(p + 4) != b.signature ||
      corvimus::LoadNative<OSType>(p + 8) != b.type ||
      corvimus::LoadNative<UInt16>(p + 12) != b.version ||
      corvimus::LoadNative<UInt16>(p + 14) != b.typeVersion)
    return 0;
  WantsMemFull memFull;
  const SInt32 oldCount = b.recordCount;
  SInt32 added = 0;
  WalkExchange(p, size, [&](const char* rec) {
    SInt32 pos = QBaseAddRecord(base, rec + kRecordHeaderSize, RecDataSize(rec));
    if (pos < 0) return false;
    if (flags != 0) QBaseSetRecordFlags(base, pos, flags);
    ++added;
    return true;
  });
  if (added == 0) return 0;
  OpaqueQBaseRec& b2 = **base;
  b2.recordsChanged = 1;
  b2.sortMode = oldCount == 0 ? kQBaseSortPhysical : kQBaseSortUnknown;
  if (insertPosition >= 0 && insertPosition < oldCount) {
    // Rotate the new entries from the end of the index to insertPosition.
    Ptr moved = NewPtr(Size(added) * 4);
    if (moved) {
      char* idx = *b2.indexHandle;
      std::memcpy(moved, idx + 4 * Size(oldCount), 4 * size_t(added));
      std::memmove(idx + 4 * Size(insertPosition + added), idx + 4 * Size(insertPosition),
                   4 * size_t(oldCount - insertPosition));
      std::memcpy(idx + 4 * Size(insertPosition), moved, 4 * size_t(added));
      DisposePtr(moved);
    }
  }
  return added;
}

SInt32 QBasePutExchange(QBaseHandle base, Handle buffer, SInt32 insertPosition, SInt16 flags) {
  if (!base || !buffer) return 0;
  SInt32 size = 0;
  char* p = static_cast<char*>(QBaseLockExchange(buffer, &size));
  SInt32 added =
      HasSignature(p, size) ? QBasePutExchangePtr(base, p, size, insertPosition, flags) : 0;
  QBaseUnlockExchange(buffer);
  return added;
}

SInt32 QBaseCountExchangeRecords(Handle buffer) {
  if (!buffer) return 0;
  return CountRecords(*buffer, SInt32(GetHandleSize(buffer)));
}

SInt32 QBaseCountExchangePtrRecords(const void* buffer, SInt32 size) {
  return CountRecords(static_cast<const char*>(buffer), size);
}

void* QBaseGetExchangeRecord(Handle buffer, SInt32 number, SInt32* size) {
  if (!buffer || number < 0) return nullptr;
  const char* p = *buffer;
  SInt32 total = SInt32(GetHandleSize(buffer));
  if (!HasSignature(p, total)) return nullptr;
  const char* found = nullptr;
  SInt32 i = 0;
  WalkExchange(p, total, [&](const char* rec) {
    if (i++ == number) found = rec;
    return found == nullptr;
  });
  if (!found) return nullptr;
  if (size) *size = RecDataSize(found);
  return const_cast<char*>(found) + kRecordHeaderSize;
}

void* QBaseLockExchange(Handle buffer, SInt32* size) {
  if (!buffer) return nullptr;
  HLockHi(buffer);
  if (size) *size = SInt32(GetHandleSize(buffer));
  return *buffer;
}

void QBaseUnlockExchange(Handle buffer) {
  if (buffer) HUnlock(buffer);
}

void QBaseDisposeExchange(Handle buffer) {
  if (buffer) DisposeHandle(buffer);
}
