// Bounded routines for length-prefixed (Pascal) and zero-terminated strings. The first argument is
// always the source, the second the destination. Comparisons fold only 'A'..'Z' to lower case and
// compare bytes as unsigned values. Limits count characters, without the length byte or the
// terminating 0; the destination must have room for them.
#pragma once

#include "platform/MacTypes.h"

// Copies min(source length, limit) characters; returns that number.
SInt16 PStringCopy(ConstStringPtr source, StringPtr destination, SInt16 limit);
// Appends as much of the source as fits within limit; returns the number appended.
SInt16 PStringCat(ConstStringPtr source, StringPtr destination, SInt16 limit);
// Folded A - folded B at the first difference, else length A - length B.
SInt16 PStringCmp(ConstStringPtr a, ConstStringPtr b);
void CStringPCopy(const char* source, StringPtr destination, SInt16 limit);
void CStringPCat(const char* source, StringPtr destination, SInt16 limit);
// Copies at most limit characters and a terminating 0; returns the number copied.
SInt16 CStringCopy(const char* source, char* destination, SInt16 limit);
// Appends until the destination holds limit characters; returns its new length.
SInt16 CStringCat(const char* source, char* destination, SInt16 limit);
SInt16 CStringCmp(const char* a, const char* b);
