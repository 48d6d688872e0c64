// Sorting the index of a base and binary search through it.
#include "QBasePrivate.h"
#include "recordbase/FastSort.h"

using namespace qbase;

namespace {

// Context of the sort or search in progress (one at a time per process).
QBaseCompareProcPtr gRecordCompare = nullptr;
const char* gArea = nullptr;
Size gAreaSize = 0;
SInt32 gKeySize = 0;

// A record's data and size from an index entry. Entries of positions marked for removal have no
// record; they compare as empty data.
const char* DataOf(const void* entry, SInt32* size) {
  static const char kNothing[1] = {0};
  SInt32 e = corvimus::LoadNative<SInt32>(entry);
  if (e < 0 || Size(e) + kRecordHeaderSize > gAreaSize) {
    *size = 0;
    return kNothing;
  }
  const char* rec = gArea + e;
  SInt32 dataSize = RecDataSize(rec);
  *size = dataSize < 0 ? 0 : dataSize;
  return rec + kRecordHeaderSize;
}

SInt32 CompareEntries(const void* a, const void* b) {
  SInt32 sa, sb;
  const char* da = DataOf(a, &sa);
  const char* db = DataOf(b, &sb);
  return gRecordCompare(da, sa, db, sb);
}

SInt32 CompareKey(const void* key, const void* entry) {
  SInt32 size;
  const char* data = DataOf(entry, &size);
  return gRecordCompare(key, gKeySize, data, size);
}

}  // namespace

void QBaseSort(QBaseHandle base, QBaseCompareProcPtr compare, SInt16 mode) {
  if (!base || !compare) return;
  WantsMemFull memFull;
  OSErr err;
  {
    LockedBase lock(base);
    OpaqueQBaseRec& b = **base;
    gRecordCompare = compare;
    gArea = *b.recordsHandle;
    gAreaSize = AreaSize(b);
    err = FastQSort(*b.indexHandle, b.recordCount, 4, CompareEntries);
    gRecordCompare = nullptr;
    gArea = nullptr;
  }
  if (err != noErr)
    (**base).sortMode = kQBaseSortUnknown;
  else
    (**base).sortMode = mode < kQBaseSortFirstUser ? SInt16(kQBaseSortFirstUser) : mode;
}

SInt32 QBaseSortTrack(QBaseHandle base, QBaseCompareProcPtr compare, SInt16 mode, SInt32 position) {
  if (!base || !compare) return -1;
  if (position >= 0) {
    QBaseSetAllRecordFlags(base, 0);
    QBaseSetRecordFlags(base, position, 1);
  }
  QBaseSort(base, compare, mode);
  if (position < 0) return -1;
  SInt32 found = QBaseFindRecordFlags(base, 1);
  if (found >= 0) QBaseSetRecordFlags(base, found, 0);
  return found;
}

SInt32 QBaseSearchMax(QBaseHandle base, SInt32 max, QBaseCompareProcPtr compare, const void* key,
                      SInt32 keySize) {
  if (!base || !compare || !key || keySize <= 0) return -1;
  LockedBase lock(base);
  OpaqueQBaseRec& b = **base;
  SInt32 count = b.recordCount;
  if (max > 0 && max < count) count = max;
  gRecordCompare = compare;
  gArea = *b.recordsHandle;
  gAreaSize = AreaSize(b);
  gKeySize = keySize;
  void* hit = FastBSearch(key, *b.indexHandle, count, 4, CompareKey);
  gRecordCompare = nullptr;
  gArea = nullptr;
  return hit ? SInt32((static_cast<char*>(hit) - *b.indexHandle) / 4) : -1;
}

SInt32 QBaseSearch(QBaseHandle base, QBaseCompareProcPtr compare, const void* key, SInt32 keySize) {
  return QBaseSearchMax(base, 0, compare, key, keySize);
}
