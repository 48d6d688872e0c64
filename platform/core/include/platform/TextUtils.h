// Text comparison of Pascal strings. Process and file names are UTF-8 on Linux; the comparison
// works on characters, not bytes.
#pragma once

#include <cstddef>
#include <string>

#include "platform/MacTypes.h"

// True when the two Pascal strings are equal. Without case sensitivity, letters compare equal to
// their other case (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic). Without diacritical
// sensitivity, accents are ignored (Latin-1 letters and combining marks). A precomposed Latin-1
// letter equals the same letter written with a combining mark. Bytes that are not valid UTF-8
// compare as themselves.
Boolean EqualString(ConstStr255Param str1, ConstStr255Param str2, Boolean caseSensitive,
                    Boolean diacSensitive);

namespace corvimus {
// Appends the UTF-8 form of one code point (at most U+10FFFF) to out.
void AppendUtf8(char32_t c, std::string* out);
// How many of the `length` bytes of `text` a field of `limit` bytes takes without ending inside a
// UTF-8 character: `length` when it fits, else at most `limit`, moved back over the continuation
// bytes of a character that would be cut. Bytes that are not UTF-8 are cut like single characters.
size_t Utf8CutLength(const char* text, size_t length, size_t limit);
// Stores `length` bytes of UTF-8 text as a Pascal string of at most `limit` bytes (at most 255),
// cut as Utf8CutLength cuts; `out` has room for the length byte and `limit` bytes.
void StorePascalUtf8(const char* text, size_t length, StringPtr out, size_t limit);
}  // namespace corvimus
