// The record base: a small in-memory database of variable-length records of one application type,
// ordered by an index of record offsets, with fixed user fields, an optional user block and a file
// image read and written in one piece.
//
// A base is three relocatable blocks (index, record area, user block) hung off one base record.
// Records are addressed by index position 0 .. QBaseCountRecords(base) - 1. Record data handed out
// by QBaseGetRecord and friends points into the record area and is only 2-byte aligned: copy it out
// (memcpy) before reading it through a struct with wider fields. Such pointers stay valid until the
// next call that adds, replaces, removes, reads or empties records, or sets the user block.
//
// The library keeps process-wide state (the memory-full flag pointer and the sort and search
// context) and must be used from one thread at a time.
#pragma once

#include "platform/MacMemory.h"
#include "platform/MacTypes.h"

struct OpaqueQBaseRec;
using QBaseHandle = OpaqueQBaseRec**;

// Byte-order procedure for one record's data (or the user block): converts `size` bytes at `data`
// in place; 0, or an error that aborts the read. Called only while reading a file written in the
// opposite byte order.
using QBaseFlipProcPtr = OSErr (*)(void* data, SInt32 size);
// Negative, 0 or positive as A sorts before, with or after B. For a search, A is the key.
using QBaseCompareProcPtr = SInt16 (*)(const void* dataA, SInt32 sizeA, const void* dataB,
                                       SInt32 sizeB);
// Non-zero selects the record. `flags` is the record's 16-bit flags widened with sign.
using QBaseSelectProcPtr = SInt16 (*)(const void* data, SInt32 size, SInt32 flags);

enum : OSType {
  kQBaseSignature = FourCC("QBSE"),
  kQBaseExchangeSignature = FourCC("QBX2"),
};
enum : UInt16 { kQBaseVersion = 2 };

// Sort modes: 0 unknown order, 1 physical order, 128 and above an application order.
enum : SInt16 {
  kQBaseSortUnknown = 0,
  kQBaseSortPhysical = 1,
  kQBaseSortFirstUser = 128,
};

// The result of a refused record operation, a missing record or a file that is not a valid base.
enum : OSErr { kQBaseErr = -1 };

// ---- Creation, disposal, locking -------------------------------------------------------------

// A new empty base; growBy below 1 is taken as 1. Null when memory runs out.
QBaseHandle QBaseNew(OSType type, UInt16 typeVersion, SInt16 growBy);
void QBaseDispose(QBaseHandle base);
// Nested: the blocks are pinned by the first lock and released by the matching last unlock.
void QBaseLock(QBaseHandle base);
// force != 0 releases the blocks whatever the nesting depth.
void QBaseUnlock(QBaseHandle base, SInt16 force);
// Remembers an application flag that every allocating call sets to 1 for its duration.
void QBaseUseWantsMemFull(SInt16* flagPtr);
void QBaseSetFlipProc(QBaseHandle base, QBaseFlipProcPtr flipProc,
                      QBaseFlipProcPtr userBlockFlipProc);
// 1 when the index and the record area are consistent, 0 otherwise (also for a null base).
SInt16 QBaseValidate(QBaseHandle base);

// ---- Accessors (0 / no effect for a null base) -----------------------------------------------

SInt32 QBaseCountRecords(QBaseHandle base);
SInt16 QBaseGetSortMode(QBaseHandle base);
void QBaseSetSortMode(QBaseHandle base, SInt16 mode);
SInt32 QBaseGetUserLong(QBaseHandle base);
void QBaseSetUserLong(QBaseHandle base, SInt32 value);
SInt32 QBaseGetUserData(QBaseHandle base);
void QBaseSetUserData(QBaseHandle base, SInt32 value);
UInt32 QBaseGetUserFlags(QBaseHandle base);
void QBaseSetUserFlags(QBaseHandle base, UInt32 value);
SInt32 QBaseGetUserWord(QBaseHandle base);
void QBaseSetUserWord(QBaseHandle base, SInt16 value);
SInt32 QBaseGetUserMode(QBaseHandle base);
void QBaseSetUserMode(QBaseHandle base, SInt16 value);
void QBaseGetUserRect(QBaseHandle base, Rect* rect);
void QBaseSetUserRect(QBaseHandle base, const Rect* rect);
UInt16 QBaseGetRecordsChanged(QBaseHandle base);
void QBaseSetRecordsChanged(QBaseHandle base, UInt16 flag);
UInt16 QBaseGetUserFieldsChanged(QBaseHandle base);
void QBaseSetUserFieldsChanged(QBaseHandle base, UInt16 flag);
UInt16 QBaseGetReadOnly(QBaseHandle base);
void QBaseSetReadOnly(QBaseHandle base, UInt16 flag);
SInt32 QBaseGetTempLong(QBaseHandle base);
void QBaseSetTempLong(QBaseHandle base, SInt32 value);
SInt32 QBaseGetTempData(QBaseHandle base);
void QBaseSetTempData(QBaseHandle base, SInt32 value);
// The base's type, and its type version through the optional pointer; 0 (nothing stored) when the
// base is not a valid version 2 base.
OSType QBaseGetType(QBaseHandle base, UInt16* typeVersion);
void QBaseSetType(QBaseHandle base, OSType type, UInt16 typeVersion);
// Index block size + record area size + 108; the record area size through the optional pointer.
SInt32 QBaseGetSize(QBaseHandle base, SInt32* recordsSize);
// The user block's bytes (null when it has no storage) and its size through the optional pointer.
void* QBaseGetUserBlock(QBaseHandle base, SInt32* size);
// Replaces the user block with `size` bytes from `data` (emptied when data is null).
// 0, memFullErr, or paramErr for a null base.
OSErr QBaseSetUserBlock(QBaseHandle base, const void* data, SInt32 size);
// Copies the user fields (not the user block) between bases of equal type and type version.
OSErr QBaseDuplicateUserFields(QBaseHandle source, QBaseHandle destination);

// ---- Record operations -----------------------------------------------------------------------

// Position of the new record (always last in index order), or -1.
SInt32 QBaseAddRecord(QBaseHandle base, const void* data, SInt32 size);
// The position, or -1. The record keeps its flags.
SInt32 QBaseReplaceRecord(QBaseHandle base, SInt32 position, const void* data, SInt32 size);
// Pointer to the record's data and its size through the optional pointer; null (size 0) when the
// position is not valid.
void* QBaseGetRecord(QBaseHandle base, SInt32 position, SInt32* size);
// The first record in physical order whose first four data bytes, read as a native 32-bit
// integer, equal `value`.
void* QBaseFindLongHeader(QBaseHandle base, UInt32 value);
SInt32 QBaseGetRecordFlags(QBaseHandle base, SInt32 position);
void QBaseSetRecordFlags(QBaseHandle base, SInt32 position, SInt16 flags);
// First position in index order whose record's flags equal `flags`; -1 if none.
SInt32 QBaseFindRecordFlags(QBaseHandle base, SInt16 flags);
void QBaseSetAllRecordFlags(QBaseHandle base, SInt16 flags);
// The position must not be read until QBaseRemoveMarkedRecords.
void QBaseMarkRecordForRemoval(QBaseHandle base, SInt32 position);
// Removes every marked record, keeping the order of the others.
void QBaseRemoveMarkedRecords(QBaseHandle base);
// Rebuilds the index in physical order.
void QBaseRebuildIndex(QBaseHandle base);
// Moves the selected index entries, in their order, to one run at `destination`.
// 0, paramErr, memFullErr, or ioErr when the selection changed between its two passes.
OSErr QBaseMoveIndexes(QBaseHandle base, SInt32 destination, QBaseSelectProcPtr select);
// Keeps the records at positions 0 .. count - 1.
void QBaseTruncate(QBaseHandle base, SInt32 count);
// Removes all records; user fields and the user block stay.
void QBaseEmpty(QBaseHandle base);
// Makes `destination` a copy of `source` (records, index and base fields, not the user block).
OSErr QBaseDuplicate(QBaseHandle source, QBaseHandle destination);

// ---- Sorting and searching -------------------------------------------------------------------

// Sorts the index; the sort mode becomes `mode` (raised to 128 when below) or 0 when cancelled.
void QBaseSort(QBaseHandle base, QBaseCompareProcPtr compare, SInt16 mode);
// Sorts and returns the new position of the record that was at `position`, or -1. Record flags
// are all 0 afterwards.
SInt32 QBaseSortTrack(QBaseHandle base, QBaseCompareProcPtr compare, SInt16 mode, SInt32 position);
// Binary search over the first `max` positions (all when max is not positive or too large).
SInt32 QBaseSearchMax(QBaseHandle base, SInt32 max, QBaseCompareProcPtr compare, const void* key,
                      SInt32 keySize);
SInt32 QBaseSearch(QBaseHandle base, QBaseCompareProcPtr compare, const void* key, SInt32 keySize);

// ---- Exchange buffers ------------------------------------------------------------------------

// A new buffer holding the selected records in index order, or null.
Handle QBaseGetExchange(QBaseHandle base, QBaseSelectProcPtr select);
// Adds the buffer's records (at insertPosition when it lies inside the old records, else at the
// end); non-zero flags are given to every added record. Returns the number added.
SInt32 QBasePutExchange(QBaseHandle base, Handle buffer, SInt32 insertPosition, SInt16 flags);
SInt32 QBasePutExchangePtr(QBaseHandle base, const void* buffer, SInt32 size, SInt32 insertPosition,
                           SInt16 flags);
SInt32 QBaseCountExchangeRecords(Handle buffer);
SInt32 QBaseCountExchangePtrRecords(const void* buffer, SInt32 size);
void* QBaseGetExchangeRecord(Handle buffer, SInt32 number, SInt32* size);
void* QBaseLockExchange(Handle buffer, SInt32* size);
void QBaseUnlockExchange(Handle buffer);
void QBaseDisposeExchange(Handle buffer);

// ---- File I/O (fileRef: an open data fork, see platform/Files.h) -----------------------------

OSErr QBaseWrite(QBaseHandle base, SInt16 fileRef, SInt16 writeUserFields, SInt16 writeRecords);
OSErr QBaseReadRebuild(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                       SInt16 emptyOK, SInt16 replace, SInt16 rebuildIndex, SInt16 recover,
                       SInt16* repaired);
OSErr QBaseRead(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                SInt16 emptyOK, SInt16 replace);
OSErr QBaseReadRecover(QBaseHandle base, SInt16 fileRef, SInt16 readUserFields, SInt16 readRecords,
                       SInt16 emptyOK, SInt16 replace, SInt16 recover, SInt16* repaired);
