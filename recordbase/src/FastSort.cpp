// Array sort and binary search over elements of any size.
#include "recordbase/FastSort.h"

#include <chrono>
#include <cstring>

namespace {

// Context of the sort in progress (one at a time per process).
FastCompareProcPtr gCompare = nullptr;
size_t gSize = 0;
volatile SInt16 gCancel = 0;
UInt32 gSeed = 0;

UInt32 NextRandom(UInt32 n) {
  gSeed = gSeed * 1103515245u + 12345u;
  return ((gSeed >> 1) & 0x7FFF) % n;
}

// Exchanges two elements of kSize bytes (0 = the run-time size gSize); word-wise where the size
// allows, byte-wise otherwise.
template <size_t kSize>
inline void Exchange(char* a, char* b) {
  if constexpr (kSize == 4 || kSize == 8) {
    unsigned char t[kSize], u[kSize];
    std::memcpy(t, a, kSize);
    std::memcpy(u, b, kSize);
    std::memcpy(a, u, kSize);
    std::memcpy(b, t, kSize);
  } else {
    size_t n = gSize;
    while (n >= 8) {
      UInt64 t, u;
      std::memcpy(&t, a, 8);
      std::memcpy(&u, b, 8);
      std::memcpy(a, &u, 8);
      std::memcpy(b, &t, 8);
      a += 8, b += 8, n -= 8;
    }
    while (n--) {
      char t = *a;
      *a++ = *b;
      *b++ = t;
    }
  }
}

// Sorts [first, end); recurses on the smaller part and loops on the larger, so the stack stays
// at log n. Instantiated for the common element sizes so that moving an element is one load and
// one store.
template <size_t kSize>
void SortRange(char* first, char* end) {
  const FastCompareProcPtr cmp = gCompare;
  const size_t size = kSize ? kSize : gSize;
  while (!gCancel) {
    size_t n = size_t(end - first) / size;
    if (n < 2) return;
    char* pivot;
    if (n <= 24) {
      pivot = first + NextRandom(UInt32(n)) * size;
    } else {
      char* a = first;
      char* m = first + (n / 2) * size;
      char* r = first + NextRandom(UInt32(n)) * size;
      if (cmp(a, m) > 0) {
        pivot = cmp(a, r) <= 0 ? a : (cmp(m, r) > 0 ? m : r);
      } else {
        pivot = cmp(a, r) > 0 ? a : (cmp(m, r) <= 0 ? m : r);
      }
    }
    if (pivot != first) Exchange<kSize>(first, pivot);
    // Equal elements stop both scans, so runs of equal elements are split evenly.
    char* i = first;
    char* j = end;
    for (;;) {
      do i += size;
      while (i < end && cmp(i, first) < 0);
      do j -= size;
      while (j > first && cmp(j, first) > 0);
      if (i >= j) break;
      Exchange<kSize>(i, j);
    }
    if (j == first) {
      first += size;
      continue;
    }
    Exchange<kSize>(first, j);
    char* leftEnd = j;
    char* rightFirst = j + size;
    if (leftEnd - first < end - rightFirst) {
      SortRange<kSize>(first, leftEnd);
      first = rightFirst;
    } else {
      SortRange<kSize>(rightFirst, end);
      end = leftEnd;
    }
  }
}

}  // namespace

OSErr FastQSort(void* array, SInt32 count, SInt32 size, FastCompareProcPtr compare) {
  gCancel = 0;
  if (!array || !compare || count < 2 || size <= 0) return noErr;
  gCompare = compare;
  gSize = size_t(size);
  // Any value that changes between calls will do for the pivot choice.
  static UInt32 calls = 0;
  gSeed = UInt32(std::chrono::steady_clock::now().time_since_epoch().count() / 16666667) +
          (++calls * 2654435761u);
  char* first = static_cast<char*>(array);
  char* end = first + size_t(count) * gSize;
  if (gSize == 4)
    SortRange<4>(first, end);
  else if (gSize == 8)
    SortRange<8>(first, end);
  else
    SortRange<0>(first, end);
  gCompare = nullptr;
  return gCancel ? userCanceledErr : noErr;
}

void CancelFastQSort() {
  gCancel = 1;
}

void* FastBSearch(const void* key, const void* array, SInt32 count, SInt32 size,
                  FastCompareProcPtr compare) {
  if (!array || !compare || count <= 0 || size <= 0) return nullptr;
  SInt64 low = 0, high = count;
  const char* base = static_cast<const char*>(array);
  while (low < high) {
    SInt64 middle = (low + high - 1) >> 1;
    const char* element = base + middle * size;
    SInt32 c = compare(key, element);
    if (c == 0) return const_cast<char*>(element);
    if (c > 0)
      low = middle + 1;
    else
      high = middle;
  }
  return nullptr;
}
