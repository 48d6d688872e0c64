// Memory Manager: relocatable blocks (handles) and plain blocks (pointers) on the C heap.
//
// A handle points to a master pointer that holds the block's current address. An unlocked block may
// move whenever it grows; a locked block never moves, so growing it past the room it already has
// fails with memLockedErr and leaves it as it was. A block of size 0 has no storage (its master
// pointer is null). MemError() reports the result of the last Memory Manager call.
#pragma once

#include "platform/MacTypes.h"

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
// Grows or shrinks the block, keeping its contents up to the smaller size; new bytes are not
// cleared. On failure (memFullErr, memLockedErr, nilHandleErr) the block is unchanged.
void SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
// Locks the block; on this heap there is no high end to move it to first.
void HLockHi(Handle h);
void HUnlock(Handle h);
Boolean HIsLocked(Handle h);
// A new handle holding a copy of the bytes; memFullErr on failure.
OSErr PtrToHand(const void* source, Handle* destination, Size byteCount);
OSErr MemError();

Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);
void BlockMoveData(const void* source, void* destination, Size byteCount);

// ---- Test seam -------------------------------------------------------------------------------
// Every NewHandle, NewHandleClear, PtrToHand, NewPtr, NewPtrClear and every SetHandleSize that
// makes a block larger counts as one allocation. MemoryFailAllocation(n) makes the n-th allocation
// from now fail with memFullErr (1 = the next one); 0 switches it off. MemoryAllocationCount()
// counts allocations since the start of the process, so a test can find how many steps a call takes
// and then fail each step in turn.
void MemoryFailAllocation(long n);
long MemoryAllocationCount();
