// Reading and writing a record base as one file.
//
// clang-format off
// File layout, version 2. Every integer is in the byte order of the machine that wrote the file;
// n = record count, U = user block size, D = record area size.
//
//   offset    size  field          contents
//   0         4     signature      'QBSE' as a 32-bit integer ("ESBQ" when little-endian)
//   4         4     type           the base's type, e.g. 'CvBa'
//   8         2     version        2
//   10        2     typeVersion    e.g. 0x1100
//   12        4     recordCount    n
//   16        4     recordsSize    D
//   20        4     spare1         0
//   24        4     spare2         0
//   28        2     fileSortMode   sort mode when user fields and records were written together
//   30        2     spare3         0
//   32        4     userLong
//   36        4     userData
//   40        4     userFlags
//   44        2     userWord
//   46        2     userMode
//   48        8     userRect       four 16-bit values
//   56        4     userBlockSize  U
//   60        4     spare4         0
//   64        U     user block
//   64+U      4n    index          signed 32-bit offsets into the record area, in index order
//   64+U+4n   D     record area    records in physical order: slotSize (u32), dataSize (s32),
//                                  flags (16), data, a pad byte when needed
//
// The file is exactly 64 + U + 4n + D bytes. Bytes 0..27 are the records part of the header,
// 28..63 the user part; a partial write rewrites only one of them.
//
// Version 1 (read only) has a 48-byte header, no user block, and the index right behind it:
//   0 signature, 4 type, 8 version (1), 10 typeVersion, 12 userData, 16 userFlags,
//   20 sort mode (16), 22 userWord (16), 24 unused (4), 28 record count, 32 record area size,
//   36 unused (12).
// clang-format on
#include <cstring>

#include "QBasePrivate.h"
#include "platform/Files.h"

using namespace qbase;
using corvimus::LoadNative;
using corvimus::StoreNative;

namespace {

constexpr SInt32 kHeaderV1Size = 48;
constexpr SInt32 kUserPartOffset = 28;
constexpr SInt32 kUserPartSize = kHeaderSize - kUserPartOffset;

// Byte positions of the header fields, for conversion of a file in the opposite byte order.
constexpr int k32BitFields[] = {0, 4, 12, 16, 20, 24, 32, 36, 40, 56, 60};
constexpr int k16BitFields[] = {8, 10, 28, 30, 44, 46, 48, 50, 52, 54};

void EncodeRecordsPart(const OpaqueQBaseRec& b, unsigned char* h) {
  StoreNative(h + 0, b.signature);
  StoreNative(h + 4, b.type);
  StoreNative(h + 8, b.version);
  StoreNative(h + 10, b.typeVersion);
  StoreNative(h + 12, b.recordCount);
  StoreNative(h + 16, b.recordsSize);
  StoreNative(h + 20, b.spare1);
  StoreNative(h + 24, b.spare2);
}

void EncodeUserPart(const OpaqueQBaseRec& b, unsigned char* h) {
  StoreNative(h + 28, b.fileSortMode);
  StoreNative(h + 30, b.spare3);
  StoreNative(h + 32, b.userLong);
  StoreNative(h + 36, b.userData);
  StoreNative(h + 40, b.userFlags);
  StoreNative(h + 44, b.userWord);
  StoreNative(h + 46, b.userMode);
  StoreNative(h + 48, b.userRect.top);
  StoreNative(h + 50, b.userRect.left);
  StoreNative(h + 52, b.userRect.bottom);
  StoreNative(h + 54, b.userRect.right);
  StoreNative(h + 56, b.userBlockSize);
  StoreNative(h + 60, b.spare4);
}

void DecodeUserPart(const unsigned char* h, OpaqueQBaseRec& b) {
  b.fileSortMode = LoadNative<SInt16>(h + 28);
  b.spare3 = LoadNative<UInt16>(h + 30);
  b.userLong = LoadNative<SInt32>(h + 32);
  b.userData = LoadNative<SInt32>(h + 36);
  b.userFlags = LoadNative<UInt32>(h + 40);
  b.userWord = LoadNative<SInt16>(h + 44);
  b.userMode = LoadNative<SInt16>(h + 46);
  b.userRect.top = LoadNative<SInt16>(h + 48);
  b.userRect.left = LoadNative<SInt16>(h + 50);
  b.userRect.bottom = LoadNative<SInt16>(h + 52);
  b.userRect.right = LoadNative<SInt16>(h + 54);
  b.userBlockSize = LoadNative<UInt32>(h + 56);
  b.spare4 = LoadNative<UInt32>(h + 60);
}

// Rewrites a version 1 header image as a version 2 one (fields that version 1 lacks become 0).
void ConvertVersion1(unsigned char* h) {
  unsigned char v2[kHeaderSize] = {};
  std::memcpy(v2, h, 12);  // signature, type, version, type version
  std::memcpy(v2 + 12, h + 28, 4);
  std::memcpy(v2 + 16, h + 32, 4);
  std::memcpy(v2 + 28, h + 20, 2);
  std::memcpy(v2 + 36, h + 12, 4);
  std::memcpy(v2 + 40, h + 16, 4);
  std::memcpy(v2 + 44, h + 22, 2);
  std::memcpy(h, v2, kHeaderSize);
}

OSErr WriteAt(SInt16 ref, SInt32 offset, const void* data, SInt32 count) {
  OSErr err = SetFPos(ref, fsFromStart, offset);
  if (err == noErr && count > 0) err = FSWrite(ref, &count, data);
  return err;
}

// Reads `count` bytes at the current position; a short read is an end-of-file error.
OSErr ReadHere(SInt16 ref, void* data, SInt32 count) {
  if (count <= 0) return noErr;
  SInt32 got = count;
  OSErr err = FSRead(ref, &got, data);
  if (err == noErr && got != count) err = eofErr;
  return err;
}

}  // namespace

OSErr QBaseWrite(QBaseHandle base, SInt16 fileRef, SInt16 writeUserFields, SInt16 writeRecords) {
  if (!base || fileRef == 0) return paramErr;
  if ((**base).readOnly) return wrPermErr;
  WantsMemFull memFull;
  OpaqueQBaseRec& b = **base;
  const Size U = GetHandleSize(b.userBlockHandle);
  const Size n = b.recordCount;
  const Size D = AreaSize(b);

  if (!writeUserFields || !writeRecords) {
    // A partial write needs a file whose layout matches the base's.
    unsigned char h[kHeaderSize];
    SInt32 count = kHeaderSize;
    bool matches =
        SetFPos(fileRef, fsFromStart, 0) == noErr && FSRead(fileRef, &count, h) == noErr &&
        count == kHeaderSize && LoadNative<OSType>(h) == kQBaseSignature &&
        LoadNative<UInt16>(h + 8) == kQBaseVersion && LoadNative<OSType>(h + 4) == b.type &&
        LoadNative<UInt16>(h + 10) == b.typeVersion && LoadNative<UInt32>(h + 56) == UInt32(U);
    if (!matches) writeUserFields = writeRecords = 1;
  }
  const Size total = kHeaderSize + U + 4 * n + D;
  if (total > INT32_MAX) return dskFulErr;

  // The user part of the header always describes the user block as it is now, even when the
  // records were not written since the block changed.
  b.userBlockSize = UInt32(U);
  unsigned char h[kHeaderSize] = {};
  OSErr err = noErr;
  if (writeRecords) {
    b.recordsSize = UInt32(D);
    err = SetEOF(fileRef, SInt32(total));
    if (err != noErr) return err;
    EncodeRecordsPart(b, h);
    err = WriteAt(fileRef, 0, h, kUserPartOffset);
  }
  if (writeUserFields && err == noErr) {
    if (writeRecords) b.fileSortMode = b.sortMode;
    EncodeUserPart(b, h);
    err = WriteAt(fileRef, kUserPartOffset, h + kUserPartOffset, kUserPartSize);
    if (err == noErr && U > 0) {
      SInt32 count = SInt32(U);
      err = FSWrite(fileRef, &count, *b.userBlockHandle);
    }
    if (err == noErr) b.userFieldsChanged = 0;
  }
  if (writeRecords && err == noErr) {
    err = WriteAt(fileRef, SInt32(kHeaderSize + U), *b.indexHandle, SInt32(4 * n));
    if (err == noErr && D > 0) {
      SInt32 count = SInt32(D);
      err = FSWrite(fileRef, &count, *b.recordsHandle);
    }
    if (err == noErr) b.recordsChanged = 0;
  }
  OSErr flushErr = FSFlushFork(fileRef);
  return err != noErr ? err : flushErr;
}

OSErr QBaseReadRebuild(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                       SInt16 emptyOK, SInt16 replace, SInt16 rebuildIndex, SInt16 recover,
                       SInt16* repaired) {
  SInt16 didRepair = 0;
  auto finish = [&](OSErr status) {
    if (repaired) *repaired = didRepair;
    return status;
  };
  if (!base || fileRef == 0) return finish(paramErr);
  WantsMemFull memFull;
  if (replace) QBaseEmpty(base);

  SInt32 length = 0;
  OSErr err = GetEOF(fileRef, &length);
  if (err != noErr) return finish(err);
  if (length == 0) return finish(emptyOK ? noErr : eofErr);

  QBaseUnlock(base, 1);
  OpaqueQBaseRec& b = **base;
  const SInt32 oldCount = b.recordCount;
  const SInt32 oldCapacity = b.indexCapacity;
  const Size oldSize = AreaSize(b);
  const Size oldIndexBytes = GetHandleSize(b.indexHandle);

  // The header: 64 bytes, or fewer when the file is shorter (a version 1 header is 48).
  unsigned char h[kHeaderSize] = {};
  SInt32 got = length < kHeaderSize ? length : kHeaderSize;
  err = SetFPos(fileRef, fsFromStart, 0);
  if (err == noErr) err = ReadHere(fileRef, h, got);
  if (err != noErr) return finish(err);

  bool foreign = false;
  if (b.flipProc && LoadNative<OSType>(h) == corvimus::Swap32(kQBaseSignature)) {
    foreign = true;
    for (int off : k32BitFields) corvimus::SwapBytesInPlace(h + off, 4);
    for (int off : k16BitFields) corvimus::SwapBytesInPlace(h + off, 2);
  }
  UInt16 version = LoadNative<UInt16>(h + 8);
  if (LoadNative<OSType>(h) != kQBaseSignature || (version != 1 && version != 2) ||
      LoadNative<OSType>(h + 4) != b.type || LoadNative<UInt16>(h + 10) != b.typeVersion)
    return finish(kQBaseErr);
  SInt32 H = kHeaderSize;
  if (version == 1) {
    if (got < kHeaderV1Size) return finish(kQBaseErr);
    ConvertVersion1(h);
    H = kHeaderV1Size;
  } else if (got < kHeaderSize) {
    return finish(kQBaseErr);
  }

  const SInt64 n = LoadNative<SInt32>(h + 12);
  SInt64 D = LoadNative<UInt32>(h + 16);
  const SInt64 U = LoadNative<UInt32>(h + 56);
  if (n < 0) return finish(kQBaseErr);
  const SInt64 fixed = H + U + 4 * n;
  if (fixed + D != length) {
    // A file too short even for its header, user block and index cannot be recovered; the base
    // keeps what it had.
    if (!recover || fixed > length) return finish(kQBaseErr);
    D = length - fixed;
    didRepair = 1;
  }
  if (oldCount + n > INT32_MAX || oldSize + D > INT32_MAX) return finish(memFullErr);

  OSErr status = noErr;
  if (readUserFields) {
    DecodeUserPart(h, b);
    b.userFieldsChanged = 0;
    b.sortMode = b.fileSortMode;
    if (foreign && !b.userBlockFlipProc) {
      // Bytes whose layout only the application knows cannot be turned around: drop them.
      SetHandleSize(b.userBlockHandle, 0);
    } else {
      SetHandleSize(b.userBlockHandle, Size(U));
      status = MemError();
      if (status == noErr && U > 0) {
        status = SetFPos(fileRef, fsFromStart, H);
        if (status == noErr) status = ReadHere(fileRef, *b.userBlockHandle, SInt32(U));
        if (status == noErr && foreign) status = b.userBlockFlipProc(*b.userBlockHandle, SInt32(U));
      }
    }
  }

  if (readRecords && status == noErr) {
    SetHandleSize(b.indexHandle, Size(oldCount + n) * 4);
    status = MemError();
    if (status == noErr) {
      SetHandleSize(b.recordsHandle, Size(oldSize + D));
      status = MemError();
    }
    if (status == noErr) status = SetFPos(fileRef, fsFromStart, SInt32(H + U));
    if (status == noErr)
      status = ReadHere(fileRef, *b.indexHandle + 4 * Size(oldCount), SInt32(4 * n));
    if (status == noErr) status = ReadHere(fileRef, *b.recordsHandle + oldSize, SInt32(D));
    if (status == noErr) {
      for (SInt64 i = oldCount; i < oldCount + n; ++i) {
        char* entry = *b.indexHandle + 4 * i;
        if (foreign) corvimus::SwapBytesInPlace(entry, 4);
        SInt64 e = SInt64(LoadNative<SInt32>(entry)) + oldSize;
        // An entry pushed out of range can only be damage; validation will refuse it.
        StoreNative(entry, SInt32(e >= 0 && e <= INT32_MAX ? e : -1));
      }
    }
    if (status == noErr && foreign) {
      // Convert each record header, then hand the data to the application. A header that does
      // not describe a record inside the bytes read ends the walk; validation refuses the rest.
      char* area = *b.recordsHandle;
      Size off = oldSize, end = oldSize + D;
      for (SInt64 i = 0; i < n && off + kRecordHeaderSize <= end; ++i) {
        char* rec = area + off;
        corvimus::SwapBytesInPlace(rec, 4);
        corvimus::SwapBytesInPlace(rec + 4, 4);
        corvimus::SwapBytesInPlace(rec + 8, 2);
        UInt32 slot = RecSlotSize(rec);
        SInt32 dataSize = RecDataSize(rec);
        if (slot < UInt32(kRecordHeaderSize) || Size(slot) > end - off || dataSize < 0 ||
            Size(dataSize) > Size(slot) - kRecordHeaderSize)
          break;
        status = b.flipProc(rec + kRecordHeaderSize, dataSize);
        if (status != noErr) break;
        off += slot;
      }
    }
    if (status == noErr) {
      b.recordCount = b.indexCapacity = SInt32(oldCount + n);
      b.recordsChanged = (replace && version == 2 && !didRepair) ? 0 : 1;
      if (didRepair || rebuildIndex) QBaseRebuildIndex(base);
    } else {
      // Never a partly read set of records: back to the blocks as they were.
      SetHandleSize(b.indexHandle, oldIndexBytes);
      SetHandleSize(b.recordsHandle, oldSize);
      b.recordCount = b.indexCapacity = oldCount;
    }
  }

  if (!QBaseValidate(base)) {
    // Content that does not hold together is dropped; records the base already had are kept
    // when they are sound on their own.
    bool restored = false;
    if (readRecords && oldCount > 0) {
      SetHandleSize(b.indexHandle, oldIndexBytes);
      SetHandleSize(b.recordsHandle, oldSize);
      b.recordCount = oldCount;
      b.indexCapacity = oldCapacity;
      restored = QBaseValidate(base) != 0;
    }
    if (!restored) QBaseEmpty(base);
    if (status == noErr) status = kQBaseErr;
  }
  return finish(status);
}

OSErr QBaseRead(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                SInt16 emptyOK, SInt16 replace) {
  return QBaseReadRebuild(base, fileRef, readUserFields, readRecords, emptyOK, replace, 0, 0,
                          nullptr);
}

OSErr QBaseReadRecover(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                       SInt16 emptyOK, SInt16 replace, SInt16 recover, SInt16* repaired) {
  return QBaseReadRebuild(base, fileRef, readUserFields, readRecords, emptyOK, replace, 0, recover,
                          repaired);
}
