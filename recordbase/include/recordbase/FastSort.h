// Sort and binary search of arrays of fixed-size elements with a comparison procedure. One sort or
// search at a time per process; a comparison may call CancelFastQSort but must not start another.
#pragma once

#include "platform/MacTypes.h"

// Negative, 0 or positive as A sorts before, with or after B; for FastBSearch A is the key.
using FastCompareProcPtr = SInt32 (*)(const void* a, const void* b);

// Unstable quicksort; 0, or userCanceledErr when CancelFastQSort was called during the sort.
OSErr FastQSort(void* array, SInt32 count, SInt32 size, FastCompareProcPtr compare);
void CancelFastQSort();
// A matching element, or null. The array must be sorted consistently with `compare`.
void* FastBSearch(const void* key, const void* array, SInt32 count, SInt32 size,
                  FastCompareProcPtr compare);
