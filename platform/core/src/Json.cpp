#include "platform/Json.h"

#include <cstring>

#include "platform/TextUtils.h"

namespace corvimus {

size_t Utf8SequenceLength(const unsigned char* s, size_t n, size_t i) {
  unsigned char b = s[i];
  size_t len;
  UInt32 cp;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) {
    len = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
  static const UInt32 kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
  return len;
}


namespace {

// A careful reader: bounded nesting, no recursion past kMaxDepth, every byte checked.
class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}

  bool Read(Json* out, std::string* error) {
    SkipSpace();
    if (!Value(out, 0)) {
      *error = Where() + ": " + problem_;
      return false;
    }
    SkipSpace();
    if (i_ != s_.size()) {
      *error = Where() + ": unexpected text after the end of the document";
      return false;
    }
    return true;
  }

 private:
  static constexpr int kMaxDepth = 32;

  std::string Where() const {
    size_t line = 1, column = 1;
    for (size_t k = 0; k < i_ && k < s_.size(); ++k) {
      if (s_[k] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  }

  bool Fail(const std::string& what) {
    problem_ = what;
    return false;
  }

  void SkipSpace() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }

  bool Literal(const char* word) {
    size_t n = std::strlen(word);
    if (s_.compare(i_, n, word) != 0) return Fail("expected a value");
    i_ += n;
    return true;
  }

  bool Value(Json* out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    if (i_ >= s_.size()) return Fail("unexpected end of the document");
    char c = s_[i_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out->kind = Json::kString;
      return String(&out->text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return Number(out);
    if (c == 't') {
      out->kind = Json::kBool;
      out->boolean = true;
      return Literal("true");
    }
    if (c == 'f') {
      out->kind = Json::kBool;
      return Literal("false");
    }
    if (c == 'n') return Literal("null");
    return Fail("expected a value");
  }

  bool Object(Json* out, int depth) {
    out->kind = Json::kObject;
    ++i_;
    SkipSpace();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      return true;
    }
    while (true) {
      SkipSpace();
      if (i_ >= s_.size() || s_[i_] != '"') return Fail("expected a member name in quotes");
      std::string key;
      if (!String(&key)) return false;
      for (const auto& m : out->members)
        if (m.name == key) return Fail("member \"" + key + "\" appears twice");
      SkipSpace();
      if (i_ >= s_.size() || s_[i_] != ':') return Fail("expected ':' after a member name");
      ++i_;
      SkipSpace();
      out->members.push_back(JsonMember{std::move(key), Json()});
      if (!Value(&out->members.back().value, depth + 1)) return false;
      SkipSpace();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == '}') {
        ++i_;
        return true;
      }
      return Fail("expected ',' or '}' in an object");
    }
  }

  bool Array(Json* out, int depth) {
    out->kind = Json::kArray;
    ++i_;
    SkipSpace();
    if (i_ < s_.size() && s_[i_] == ']') {
      ++i_;
      return true;
    }
    while (true) {
      SkipSpace();
      out->items.emplace_back();
      if (!Value(&out->items.back(), depth + 1)) return false;
      SkipSpace();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == ']') {
        ++i_;
        return true;
      }
      return Fail("expected ',' or ']' in an array");
    }
  }

  bool Number(Json* out) {
    out->kind = Json::kNumber;
    if (s_[i_] == '-') {
      out->negative = true;
      ++i_;
    }
    size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
      if (out->number < (UInt64(1) << 53)) out->number = out->number * 10 + UInt64(s_[i_] - '0');
      ++i_;
    }
    if (i_ == start) return Fail("expected digits");
    if (s_[start] == '0' && i_ - start > 1) return Fail("a number may not start with 0");
    if (i_ < s_.size() && s_[i_] == '.') {
      out->integral = false;
      ++i_;
      size_t frac = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      if (i_ == frac) return Fail("expected digits after '.'");
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      out->integral = false;
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      size_t exp = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      if (i_ == exp) return Fail("expected digits in an exponent");
    }
    return true;
  }

  bool Hex4(UInt32* v) {
    if (i_ + 4 > s_.size()) return Fail("expected four hex digits after \\u");
    *v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s_[i_++];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return Fail("expected four hex digits after \\u");
      *v = *v * 16 + UInt32(d);
    }
    return true;
  }

  bool String(std::string* out) {
    ++i_;  // the opening quote
    while (true) {
      if (i_ >= s_.size()) return Fail("a string is not closed");
      auto c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return Fail("a control character in a string must be escaped");
      if (c >= 0x80) {
        size_t len = Utf8SequenceLength(reinterpret_cast<const unsigned char*>(s_.data()), s_.size(), i_);
        if (len == 0) return Fail("a string is not valid UTF-8");
        out->append(s_, i_, len);
        i_ += len;
        continue;
      }
      ++i_;
      if (c != '\\') {
        out->push_back(char(c));
        continue;
      }
      if (i_ >= s_.size()) return Fail("a string is not closed");
      char e = s_[i_++];
      switch (e) {
        case '"':
          out->push_back('"');
          break;
        case '\\':
          out->push_back('\\');
          break;
        case '/':
          out->push_back('/');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          UInt32 cp;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            UInt32 low;
            if (s_.compare(i_, 2, "\\u") != 0) return Fail("a lone high surrogate in a string");
            i_ += 2;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low >= 0xE000) return Fail("a lone high surrogate in a string");
            AppendUtf8(char32_t(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)), out);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            // \udc80..\udcff carry a byte that is not UTF-8 (see the header).
            if (cp < 0xDC80 || cp > 0xDCFF) return Fail("a lone low surrogate in a string");
            out->push_back(char(cp - 0xDC00));
          } else {
            AppendUtf8(char32_t(cp), out);
          }
          break;
        }
        default:
          return Fail(std::string("unknown escape \\") + e);
      }
    }
  }

  const std::string& s_;
  size_t i_ = 0;
  std::string problem_;
};

}  // namespace

const Json& Json::Member(std::string_view name) const {
  static const Json kNone;
  for (const auto& m : members)
    if (m.name == name) return m.value;
  return kNone;
}

std::string Json::StringMember(std::string_view name) const {
  const Json& v = Member(name);
  return v.kind == kString ? v.text : std::string();
}

UInt64 Json::UnsignedMember(std::string_view name, UInt64 fallback) const {
  const Json& v = Member(name);
  if (v.kind != kNumber || v.negative || !v.integral) return fallback;
  return v.number;
}

bool ParseJson(const std::string& text, Json* out, std::string* error) {
  std::string ignored;
  return Reader(text).Read(out, error ? error : &ignored);
}

}  // namespace corvimus
