#include "platform/TextUtils.h"

#include <cstddef>
#include <cstring>

namespace {

// Bytes that are not part of valid UTF-8 stand for themselves in a range no character uses.
constexpr char32_t kRawByteBase = 0x110000;
constexpr char32_t kEnd = 0xFFFFFFFF;

// Decodes one character from s[i..len); advances i.
char32_t NextCodePoint(const unsigned char* s, size_t len, size_t* i) {
  unsigned char b = s[*i];
  if (b < 0x80) {
    ++*i;
    return b;
  }
  int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || *i + size_t(extra) >= len) {
    ++*i;
    return kRawByteBase + b;
  }
  char32_t cp = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char c = s[*i + size_t(k)];
    if ((c & 0xC0) != 0x80) {
      ++*i;
      return kRawByteBase + b;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return kRawByteBase + b;
  }
  *i += size_t(extra) + 1;
  return cp;
}

// Latin-1 letters U+00C0..U+00FF as base letter and combining mark (0: no decomposition).
struct Decomposition {
  char base;
  char16_t mark;
};
constexpr Decomposition kLatin1[64] = {
    {'A', 0x300}, {'A', 0x301}, {'A', 0x302}, {'A', 0x303}, {'A', 0x308}, {'A', 0x30A},
    {0, 0},       {'C', 0x327}, {'E', 0x300}, {'E', 0x301}, {'E', 0x302}, {'E', 0x308},
    {'I', 0x300}, {'I', 0x301}, {'I', 0x302}, {'I', 0x308}, {0, 0},       {'N', 0x303},
    {'O', 0x300}, {'O', 0x301}, {'O', 0x302}, {'O', 0x303}, {'O', 0x308}, {0, 0},
    {0, 0},       {'U', 0x300}, {'U', 0x301}, {'U', 0x302}, {'U', 0x308}, {'Y', 0x301},
    {0, 0},       {0, 0},       {'a', 0x300}, {'a', 0x301}, {'a', 0x302}, {'a', 0x303},
    {'a', 0x308}, {'a', 0x30A}, {0, 0},       {'c', 0x327}, {'e', 0x300}, {'e', 0x301},
    {'e', 0x302}, {'e', 0x308}, {'i', 0x300}, {'i', 0x301}, {'i', 0x302}, {'i', 0x308},
    {0, 0},       {'n', 0x303}, {'o', 0x300}, {'o', 0x301}, {'o', 0x302}, {'o', 0x303},
    {'o', 0x308}, {0, 0},       {0, 0},       {'u', 0x300}, {'u', 0x301}, {'u', 0x302},
    {'u', 0x308}, {'y', 0x301}, {0, 0},       {'y', 0x308},
};

char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x100 && c <= 0x137 && c != 0x130) return c | 1;
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

bool IsCombiningMark(char32_t c) {
  return c >= 0x300 && c <= 0x36F;
}

// The characters of a Pascal string one by one, with Latin-1 letters decomposed and the chosen
// foldings applied; kEnd at the end.
class Reader {
 public:
  Reader(const unsigned char* p, bool foldCase, bool keepMarks)
      : s_(p + 1), len_(p[0]), foldCase_(foldCase), keepMarks_(keepMarks) {}

  char32_t Next() {
    for (;;) {
      char32_t c;
      if (pendingMark_) {
        c = pendingMark_;
        pendingMark_ = 0;
      } else {
        if (i_ >= len_) return kEnd;
        c = NextCodePoint(s_, len_, &i_);
        if (c >= 0xC0 && c <= 0xFF && kLatin1[c - 0xC0].base) {
          pendingMark_ = kLatin1[c - 0xC0].mark;
          c = char32_t(kLatin1[c - 0xC0].base);
        }
      }
      if (IsCombiningMark(c) && !keepMarks_) continue;
      return foldCase_ ? FoldCase(c) : c;
    }
  }

 private:
  const unsigned char* s_;
  size_t len_;
  size_t i_ = 0;
  char32_t pendingMark_ = 0;
  bool foldCase_;
  bool keepMarks_;
};

}  // namespace

Boolean EqualString(ConstStr255Param str1, ConstStr255Param str2, Boolean caseSensitive,
                    Boolean diacSensitive) {
  if (!str1 || !str2) return str1 == str2;
  Reader a(str1, !caseSensitive, diacSensitive);
  Reader b(str2, !caseSensitive, diacSensitive);
  for (;;) {
    char32_t ca = a.Next(), cb = b.Next();
    if (ca != cb) return false;
    if (ca == kEnd) return true;
  }
}

namespace corvimus {

size_t Utf8CutLength(const char* text, size_t length, size_t limit) {
  if (length <= limit) return length;
  size_t n = limit;
  // The first byte left out must not continue the character before it.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

void StorePascalUtf8(const char* text, size_t length, StringPtr out, size_t limit) {
  size_t n = Utf8CutLength(text, length, limit < 255 ? limit : 255);
  out[0] = static_cast<UInt8>(n);
  std::memcpy(out + 1, text, n);
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(char(c));
  } else if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (c >> 18)));
    out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  }
}

}  // namespace corvimus
