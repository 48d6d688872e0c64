// Bounded Pascal- and C-string routines.
#include "recordbase/PStrings.h"

namespace {

inline unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// A length byte cannot count past 255, whatever limit the caller passes.
inline int PLimit(SInt16 limit) {
  return limit < 0 ? 0 : (limit > 255 ? 255 : limit);
}

}  // namespace

SInt16 PStringCopy(ConstStringPtr source, StringPtr destination, SInt16 limit) {
  int n = source[0];
  if (n > PLimit(limit)) n = PLimit(limit);
  for (int i = 1; i <= n; ++i) destination[i] = source[i];
  destination[0] = static_cast<unsigned char>(n);
  return SInt16(n);
}

SInt16 PStringCat(ConstStringPtr source, StringPtr destination, SInt16 limit) {
  int have = destination[0];
  int n = source[0];
  int room = PLimit(limit) - have;
  if (room < 0) room = 0;
  if (n > room) n = room;
  // The source may be the destination itself: its length byte was read above.
  for (int i = 1; i <= n; ++i) destination[have + i] = source[i];
  destination[0] = static_cast<unsigned char>(have + n);
  return SInt16(n);
}

SInt16 PStringCmp(ConstStringPtr a, ConstStringPtr b) {
  int n = a[0] < b[0] ? a[0] : b[0];
  for (int i = 1; i <= n; ++i) {
    int d = int(Fold(a[i])) - int(Fold(b[i]));
    if (d != 0) return SInt16(d);
  }
  return SInt16(int(a[0]) - int(b[0]));
}

void CStringPCopy(const char* source, StringPtr destination, SInt16 limit) {
  int max = PLimit(limit);
  int n = 0;
  while (n < max && source[n] != 0) {
    destination[n + 1] = static_cast<unsigned char>(source[n]);
    ++n;
  }
  destination[0] = static_cast<unsigned char>(n);
}

void CStringPCat(const char* source, StringPtr destination, SInt16 limit) {
  int max = PLimit(limit);
  int n = destination[0];
  for (int i = 0; n < max && source[i] != 0; ++i)
    destination[++n] = static_cast<unsigned char>(source[i]);
  destination[0] = static_cast<unsigned char>(n);
}

SInt16 CStringCopy(const char* source, char* destination, SInt16 limit) {
  int max = limit < 0 ? 0 : limit;
  int n = 0;
  while (n < max && source[n] != 0) {
    destination[n] = source[n];
    ++n;
  }
  destination[n] = 0;
  return SInt16(n);
}

SInt16 CStringCat(const char* source, char* destination, SInt16 limit) {
  int max = limit < 0 ? 0 : limit;
  int n = 0;
  while (n < max && destination[n] != 0) ++n;
  for (int i = 0; n < max && source[i] != 0; ++i) destination[n++] = source[i];
  destination[n] = 0;
  return SInt16(n);
}

SInt16 CStringCmp(const char* a, const char* b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; ++pa, ++pb) {
    int d = int(Fold(*pa)) - int(Fold(*pb));
    if (d != 0 || *pa == 0) return SInt16(d);
  }
}
