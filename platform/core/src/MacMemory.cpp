#include "platform/MacMemory.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define CORVIMUS_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define CORVIMUS_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define CORVIMUS_POISON(p, n) ((void)(p), (void)(n))
#define CORVIMUS_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// The master pointer comes first so that a Handle (its address) leads back to the whole record.
struct MasterBlock {
  char* ptr;
  Size size;
  // Bytes allocated; [size, capacity) is the room a locked block may still grow into.
  Size capacity;
  bool locked;
};
static_assert(offsetof(MasterBlock, ptr) == 0);

// Plain blocks carry their size in front of the caller's bytes; 16 keeps the bytes max-aligned.
constexpr Size kPtrHeader = 16;

OSErr gMemError = noErr;
long gAllocationCount = 0;
long gFailAt = 0;  // allocation number (gAllocationCount value) that fails; 0 = never

MasterBlock* BlockOf(Handle h) {
  return reinterpret_cast<MasterBlock*>(h);
}

// Counts one allocation; false when the test seam says this one fails.
bool AllowAllocation() {
  ++gAllocationCount;
  if (gFailAt != 0 && gAllocationCount == gFailAt) {
    gFailAt = 0;
    return false;
  }
  return true;
}

// The slack behind a block's size is poisoned so that reads past the block are caught by ASan
// even though the bytes are allocated.
void PoisonSlack(MasterBlock* b) {
  if (b->ptr && b->capacity > b->size) CORVIMUS_POISON(b->ptr + b->size, b->capacity - b->size);
}
void UnpoisonAll(MasterBlock* b) {
  if (b->ptr) CORVIMUS_UNPOISON(b->ptr, b->capacity);
}

Handle MakeHandle(Size byteCount, bool clear) {
  if (byteCount < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  if (!AllowAllocation()) {
    gMemError = memFullErr;
    return nullptr;
  }
  auto* b = static_cast<MasterBlock*>(std::malloc(sizeof(MasterBlock)));
  if (!b) {
    gMemError = memFullErr;
    return nullptr;
  }
  b->ptr = nullptr;
  b->size = byteCount;
  b->capacity = byteCount;
  b->locked = false;
  if (byteCount > 0) {
    b->ptr = static_cast<char*>(clear ? std::calloc(1, byteCount) : std::malloc(byteCount));
    if (!b->ptr) {
      std::free(b);
      gMemError = memFullErr;
      return nullptr;
    }
  }
  gMemError = noErr;
  return &b->ptr;
}

}  // namespace

Handle NewHandle(Size byteCount) {
  return MakeHandle(byteCount, false);
}
Handle NewHandleClear(Size byteCount) {
  return MakeHandle(byteCount, true);
}

void DisposeHandle(Handle h) {
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  MasterBlock* b = BlockOf(h);
  UnpoisonAll(b);
  std::free(b->ptr);
  std::free(b);
  gMemError = noErr;
}

Size GetHandleSize(Handle h) {
  if (!h) {
    gMemError = nilHandleErr;
    return 0;
  }
  gMemError = noErr;
  return BlockOf(h)->size;
}

void SetHandleSize(Handle h, Size newSize) {
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    gMemError = paramErr;
    return;
  }
  MasterBlock* b = BlockOf(h);
  if (newSize > b->size) {
    if (!AllowAllocation()) {
      gMemError = memFullErr;
      return;
    }
    if (newSize > b->capacity) {
      if (b->locked) {
        gMemError = memLockedErr;
        return;
      }
      // Grow geometrically so that a block that grows a little at a time is copied rarely.
      Size capacity = b->capacity + b->capacity / 2;
      if (capacity < newSize) capacity = newSize;
      UnpoisonAll(b);
      char* p = static_cast<char*>(std::realloc(b->ptr, capacity));
      if (!p && capacity > newSize) {
        capacity = newSize;
        p = static_cast<char*>(std::realloc(b->ptr, capacity));
      }
      if (!p) {
        PoisonSlack(b);
        gMemError = memFullErr;
        return;
      }
      b->ptr = p;
      b->capacity = capacity;
    }
    UnpoisonAll(b);
    b->size = newSize;
    PoisonSlack(b);
  } else if (newSize < b->size) {
    UnpoisonAll(b);
    if (!b->locked && newSize == 0) {
      std::free(b->ptr);
      b->ptr = nullptr;
      b->capacity = 0;
    } else if (!b->locked && newSize <= b->capacity / 2) {
      if (char* p = static_cast<char*>(std::realloc(b->ptr, newSize))) {
        b->ptr = p;
        b->capacity = newSize;
      }
    }
    b->size = newSize;
    PoisonSlack(b);
  }
  gMemError = noErr;
}

void HLock(Handle h) {
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  BlockOf(h)->locked = true;
  gMemError = noErr;
}

void HLockHi(Handle h) {
  HLock(h);
}

void HUnlock(Handle h) {
  if (!h) {
    gMemError = nilHandleErr;
    return;
  }
  BlockOf(h)->locked = false;
  gMemError = noErr;
}

Boolean HIsLocked(Handle h) {
  return h && BlockOf(h)->locked;
}

OSErr PtrToHand(const void* source, Handle* destination, Size byteCount) {
  Handle h = NewHandle(byteCount);
  if (!h) {
    *destination = nullptr;
    return gMemError;
  }
  if (byteCount > 0) std::memcpy(*h, source, byteCount);
  *destination = h;
  return noErr;
}

OSErr MemError() {
  return gMemError;
}

namespace {
Ptr MakePtr(Size byteCount, bool clear) {
  if (byteCount < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  if (!AllowAllocation()) {
    gMemError = memFullErr;
    return nullptr;
  }
  Size total = byteCount + kPtrHeader;
  char* raw = static_cast<char*>(clear ? std::calloc(1, total) : std::malloc(total));
  if (!raw) {
    gMemError = memFullErr;
    return nullptr;
  }
  std::memcpy(raw, &byteCount, sizeof byteCount);
  gMemError = noErr;
  return raw + kPtrHeader;
}
}  // namespace

Ptr NewPtr(Size byteCount) {
  return MakePtr(byteCount, false);
}
Ptr NewPtrClear(Size byteCount) {
  return MakePtr(byteCount, true);
}

void DisposePtr(Ptr p) {
  if (p) std::free(p - kPtrHeader);
  gMemError = noErr;
}

Size GetPtrSize(Ptr p) {
  if (!p) {
    gMemError = paramErr;
    return 0;
  }
  Size s;
  std::memcpy(&s, p - kPtrHeader, sizeof s);
  gMemError = noErr;
  return s;
}

void BlockMoveData(const void* source, void* destination, Size byteCount) {
  if (byteCount > 0) std::memmove(destination, source, byteCount);
}

void MemoryFailAllocation(long n) {
  gFailAt = n > 0 ? gAllocationCount + n : 0;
}
long MemoryAllocationCount() {
  return gAllocationCount;
}
