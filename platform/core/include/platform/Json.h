// A careful JSON reader for text that comes from files and peers: nesting is bounded, every byte is
// checked, and a document that breaks the grammar is an ordinary result with a message that says
// where ("line 3, column 7: ..."), never an exception.
//
// Numbers keep their sign and magnitude (saturated at 2^53) and whether they were written as
// integers; fractions and exponents are accepted but not evaluated. Strings are UTF-8; the escape
// \udc80..\udcff stands for the single byte 0x80..0xff, so that text which was not UTF-8 survives a
// round trip. A member name may appear only once in an object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

struct JsonMember;

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  bool negative = false;
  bool integral = true;
  UInt64 number = 0;  // magnitude, saturated at 2^53
  std::string text;
  std::vector<Json> items;
  // Not std::pair<std::string, Json>: a pair of a type still being defined is ill-formed (libstdc++
  // checks it, and clang instantiates the check), while a vector of a declared class is fine.
  std::vector<JsonMember> members;

  // The member called `name`, or a null value when there is none (or this is not an object).
  const Json& Member(std::string_view name) const;
  // The text of a string member; empty when it is missing or not a string.
  std::string StringMember(std::string_view name) const;
  // A non-negative integral member; `fallback` when it is missing, negative or not an integer.
  UInt64 UnsignedMember(std::string_view name, UInt64 fallback = 0) const;
};

struct JsonMember {
  std::string name;
  Json value;
};

// Reads a whole document. False with the place and the problem in `error` when it is not JSON.
bool ParseJson(const std::string& text, Json* out, std::string* error);

// Length of the valid UTF-8 sequence at s[i] (of n bytes), or 0 for a byte that starts none:
// overlong forms, surrogates and values past U+10FFFF are not valid.
size_t Utf8SequenceLength(const unsigned char* s, size_t n, size_t i);

}  // namespace corvimus
