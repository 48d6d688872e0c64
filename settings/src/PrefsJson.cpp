#include "settings/PrefsJson.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/TextUtils.h"
#include "settings/CommandTable.h"
#include "settings/KeyNames.h"
#include "settings/PrefsText.h"

namespace {

// ---- Writing -----------------------------------------------------------------------------------

void AppendEscaped(std::string* out, unsigned cp) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", cp);
  *out += buf;
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const unsigned char* s, size_t n, size_t i) {
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

void AppendString(std::string* out, const unsigned char* s, size_t n) {
  out->push_back('"');
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    size_t len = Utf8Length(s, n, i);
    if (len == 0) {
      AppendEscaped(out, 0xDC00 + c);
      ++i;
    } else if (len > 1) {
      out->append(reinterpret_cast<const char*>(s + i), len);
      i += len;
    } else {
      if (c == '"')
        *out += "\\\"";
      else if (c == '\\')
        *out += "\\\\";
      else if (c == '\n')
        *out += "\\n";
      else if (c == '\t')
        *out += "\\t";
      else if (c < 0x20 || c == 0x7F)
        AppendEscaped(out, c);
      else
        out->push_back(char(c));
      ++i;
    }
  }
  out->push_back('"');
}

void AppendApplication(std::string* out, OSType code) {
  out->push_back('"');
  if (code != 0) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      unsigned c = (code >> shift) & 0xFF;
      if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
        out->push_back(char(c));
      else
        AppendEscaped(out, c);
    }
  }
  out->push_back('"');
}

// ---- Reading -----------------------------------------------------------------------------------

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
};

struct JsonMember {
  std::string name;
  Json value;
};

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
        size_t len = Utf8Length(reinterpret_cast<const unsigned char*>(s_.data()), s_.size(), i_);
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
            corvimus::AppendUtf8(char32_t(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)), out);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            // \udc80..\udcff carry a byte that is not UTF-8 (see the header).
            if (cp < 0xDC80 || cp > 0xDCFF) return Fail("a lone low surrogate in a string");
            out->push_back(char(cp - 0xDC00));
          } else {
            corvimus::AppendUtf8(char32_t(cp), out);
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

// ---- Checking a read document against the shape -------------------------------------------------

class Checker {
 public:
  explicit Checker(std::string* error) : error_(error) {}

  bool Fail(const std::string& where, const std::string& what) {
    *error_ = where + ": " + what;
    return false;
  }

  static const char* KindName(Json::Kind k) {
    switch (k) {
      case Json::kNull:
        return "null";
      case Json::kBool:
        return "true or false";
      case Json::kNumber:
        return "a number";
      case Json::kString:
        return "a string";
      case Json::kArray:
        return "an array";
      default:
        return "an object";
    }
  }

  // The object's members must be exactly `names`.
  bool Members(const Json& obj, const std::string& where,
               std::initializer_list<const char*> names) {
    if (obj.kind != Json::kObject)
      return Fail(where, std::string("expected an object, found ") + KindName(obj.kind));
    for (const char* name : names) {
      bool found = false;
      for (const auto& m : obj.members) found = found || m.name == name;
      if (!found) return Fail(where, std::string("member \"") + name + "\" is missing");
    }
    for (const auto& m : obj.members) {
      bool known = false;
      for (const char* name : names) known = known || m.name == name;
      if (!known) return Fail(where, "unknown member \"" + m.name + "\"");
    }
    return true;
  }

  static const Json& Get(const Json& obj, const char* name) {
    for (const auto& m : obj.members)
      if (m.name == name) return m.value;
    static const Json kNone;
    return kNone;
  }

  bool Unsigned(const Json& obj, const std::string& where, const char* name, UInt64 max,
                UInt64* out) {
    const Json& v = Get(obj, name);
    std::string at = where + "." + name;
    if (v.kind != Json::kNumber)
      return Fail(at, std::string("expected a number, found ") + KindName(v.kind));
    if (!v.integral) return Fail(at, "expected a whole number");
    if (v.negative && v.number != 0)
      return Fail(at,
                  "-" + std::to_string(v.number) + " is not between 0 and " + std::to_string(max));
    if (v.number > max)
      return Fail(at, std::to_string(v.number) + (v.number >= (UInt64(1) << 53) ? " or more" : "") +
                          " is not between 0 and " + std::to_string(max));
    *out = v.number;
    return true;
  }

  bool Text(const Json& obj, const std::string& where, const char* name, size_t maxBytes,
            std::string* out) {
    const Json& v = Get(obj, name);
    std::string at = where + "." + name;
    if (v.kind != Json::kString)
      return Fail(at, std::string("expected a string, found ") + KindName(v.kind));
    if (v.text.size() > maxBytes)
      return Fail(at, "is " + std::to_string(v.text.size()) + " bytes long, at most " +
                          std::to_string(maxBytes) + " fit");
    *out = v.text;
    return true;
  }

  // A member that is a number, or a word the function turns into one (false when it names none).
  template <typename FromWord>
  bool NumberOrWord(const Json& obj, const std::string& where, const char* name, UInt64 max,
                    const char* what, FromWord fromWord, UInt64* out) {
    const Json& v = Get(obj, name);
    if (v.kind != Json::kString) return Unsigned(obj, where, name, max, out);
    SInt64 value = fromWord(v.text);
    if (value < 0)
      return Fail(where + "." + name, "\"" + v.text + "\" is not " + what);
    *out = UInt64(value);
    return true;
  }

  bool Action(const Json& a, const std::string& where, int slot, CorvimusActionRec* out) {
    if (!Members(a, where, {"slot", "command", "modifiers", "delay", "keyCode", "repeat", "data"}))
      return false;
    UInt64 v;
    if (!NumberOrWord(a, where, "slot", 255, "a control's word",
                      [](const std::string& w) -> SInt64 {
                        const ControlInfo* c = FindControlByWord(w);
                        return c ? c->slot : -1;
                      },
                      &v))
      return false;
    if (int(v) != slot) {
      auto named = [](int n) {
        const ControlInfo* c = FindControl(n);
        return c ? std::string(c->word) : "slot " + std::to_string(n);
      };
      return Fail(where + ".slot", named(int(v)) + " should be " + named(slot) +
                                       " (actions are listed by slot, 0 to 15)");
    }
    if (!NumberOrWord(a, where, "command", 0xFFFF, "a command's word",
                      [](const std::string& w) -> SInt64 {
                        const CommandInfo* c = FindCommandByWord(w);
                        return c ? c->code : -1;
                      },
                      &v))
      return false;
    out->command = UInt16(v);
    if (!NumberOrWord(a, where, "modifiers", 0xFFFF, "modifier words such as ctrl+alt",
                      [](const std::string& w) -> SInt64 {
                        UInt16 bits = 0;
                        return ModifiersFromWords(w, &bits) ? bits : -1;
                      },
                      &v))
      return false;
    out->modifiers = UInt16(v);
    if (!Unsigned(a, where, "delay", 0xFFFF, &v)) return false;
    out->delay = UInt16(v);
    if (!NumberOrWord(a, where, "keyCode", 255, "a key's word",
                      [](const std::string& w) -> SInt64 { return KeyCodeFromWord(w); }, &v))
      return false;
    out->keyCode = UInt8(v);
    if (!Unsigned(a, where, "repeat", 255, &v)) return false;
    out->repeat = UInt8(v);
    const Json& data = Get(a, "data");
    if (data.kind != Json::kString)
      return Fail(where + ".data", std::string("expected a string, found ") + KindName(data.kind));
    if (data.text.size() != 2 * sizeof out->data)
      return Fail(where + ".data", "expected 80 hex digits, found " +
                                       std::to_string(data.text.size()) + " characters");
    for (size_t k = 0; k < sizeof out->data; ++k) {
      int hi = HexDigit(data.text[2 * k]), lo = HexDigit(data.text[2 * k + 1]);
      if (hi < 0 || lo < 0)
        return Fail(where + ".data", "character " + std::to_string(2 * k + (hi < 0 ? 1 : 2)) +
                                         " is not a hex digit");
      out->data[k] = UInt8(hi * 16 + lo);
    }
    return true;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool Record(const Json& r, const std::string& where, CorvimusPrefsRec* out) {
    *out = CorvimusPrefsRec{};
    if (!Members(r, where,
                 {"application", "applicationCode", "active", "appName", "appFileName", "options",
                  "speed", "acceleration", "actions"}))
      return false;
    UInt64 code;
    if (!Unsigned(r, where, "applicationCode", 0xFFFFFFFFu, &code)) return false;
    const Json& app = Get(r, "application");
    if (app.kind != Json::kString)
      return Fail(where + ".application",
                  std::string("expected a string, found ") + KindName(app.kind));
    // The four characters come back as UTF-8 of U+0000..U+00FF, or as \udcXX bytes.
    std::vector<UInt32> chars;
    const auto* p = reinterpret_cast<const unsigned char*>(app.text.data());
    for (size_t k = 0; k < app.text.size();) {
      size_t len = Utf8Length(p, app.text.size(), k);
      UInt32 c = p[k];
      if (len == 2) c = ((p[k] & 0x1F) << 6) | (p[k + 1] & 0x3F);
      if (len > 2 || c > 0xFF)
        return Fail(where + ".application", "characters must lie between U+0000 and U+00FF");
      chars.push_back(c);
      k += len ? len : 1;
    }
    if (chars.empty()) {
      if (code != 0)
        return Fail(where + ".application",
                    "is empty but applicationCode is " + std::to_string(code));
    } else {
      if (chars.size() != 4)
        return Fail(where + ".application",
                    "expected 4 characters or \"\", found " + std::to_string(chars.size()));
      UInt32 fromText = (chars[0] << 24) | (chars[1] << 16) | (chars[2] << 8) | chars[3];
      if (fromText != code)
        return Fail(where + ".application",
                    "does not match applicationCode " + std::to_string(code));
    }
    out->application = UInt32(code);
    UInt64 v;
    if (!Unsigned(r, where, "active", 255, &v)) return false;
    out->active = UInt8(v);
    std::string name;
    if (!Text(r, where, "appName", 31, &name)) return false;
    out->appName[0] = UInt8(name.size());
    std::memcpy(out->appName + 1, name.data(), name.size());
    if (!Text(r, where, "appFileName", 63, &name)) return false;
    out->appFileName[0] = UInt8(name.size());
    std::memcpy(out->appFileName + 1, name.data(), name.size());
    auto& d = out->device[0];
    if (!Unsigned(r, where, "options", 0xFFFF, &v)) return false;
    d.options = UInt16(v);
    if (!Unsigned(r, where, "speed", 255, &v)) return false;
    d.speed = UInt8(v);
    if (!Unsigned(r, where, "acceleration", 255, &v)) return false;
    d.acceleration = UInt8(v);
    const Json& actions = Get(r, "actions");
    if (actions.kind != Json::kArray)
      return Fail(where + ".actions",
                  std::string("expected an array, found ") + KindName(actions.kind));
    if (actions.items.size() != kCorvimusActionCount)
      return Fail(where + ".actions",
                  "expected 16 actions, found " + std::to_string(actions.items.size()));
    for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
      if (!Action(actions.items[slot], where + ".actions[" + std::to_string(slot) + "]", slot,
                  &d.action[slot]))
        return false;
    }
    return true;
  }

 private:
  std::string* error_;
};

}  // namespace

std::string PrefsRecordToJson(const CorvimusPrefsRec& r) {
  std::string out = "{\"application\": ";
  AppendApplication(&out, r.application);
  out += ", \"applicationCode\": " + std::to_string(r.application);
  out += ", \"active\": " + std::to_string(r.active);
  out += ", \"appName\": ";
  AppendString(&out, r.appName + 1, std::min<size_t>(r.appName[0], 31));
  out += ", \"appFileName\": ";
  AppendString(&out, r.appFileName + 1, std::min<size_t>(r.appFileName[0], 63));
  const auto& d = r.device[0];
  out += ", \"options\": " + std::to_string(d.options);
  out += ", \"speed\": " + std::to_string(d.speed);
  out += ", \"acceleration\": " + std::to_string(d.acceleration);
  out += ", \"actions\": [";
  static const char kHex[] = "0123456789abcdef";
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    const auto& a = d.action[slot];
    if (slot) out += ", ";
    const ControlInfo* control = FindControl(slot);
    const CommandInfo* command = FindCommand(a.command);
    const std::string modifiers = ModifierWords(a.modifiers);
    const char* key = a.command == kCmdKeystroke ? KeyWord(a.keyCode) : nullptr;
    // Words are lower-case letters, digits and hyphens: nothing to escape.
    auto quoted = [](const std::string& word) { return "\"" + word + "\""; };
    out += "{\"slot\": " + (control ? quoted(control->word) : std::to_string(slot)) +
           ", \"command\": " + (command ? quoted(command->word) : std::to_string(a.command)) +
           ", \"modifiers\": " +
           (a.modifiers & ~AllModifierBits() ? std::to_string(a.modifiers) : quoted(modifiers)) +
           ", \"delay\": " + std::to_string(a.delay) +
           ", \"keyCode\": " + (key ? quoted(key) : std::to_string(a.keyCode)) +
           ", \"repeat\": " + std::to_string(a.repeat) + ", \"data\": \"";
    for (UInt8 b : a.data) {
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
    out += "\"}";
  }
  out += "]}";
  return out;
}

std::string PrefsDocumentToJson(bool bigEndian, const std::vector<CorvimusPrefsRec>& records) {
  std::string out =
      std::string("{\"byteOrder\": \"") + (bigEndian ? "big" : "little") + "\", \"records\": [";
  for (size_t i = 0; i < records.size(); ++i) {
    out += i ? ",\n  " : "\n  ";
    out += PrefsRecordToJson(records[i]);
  }
  out += records.empty() ? "]}\n" : "\n]}\n";
  return out;
}

bool PrefsDocumentFromJson(const std::string& text, std::vector<CorvimusPrefsRec>* records,
                           bool* bigEndian, std::string* error) {
  Json doc;
  if (!Reader(text).Read(&doc, error)) return false;
  Checker check(error);
  if (!check.Members(doc, "document", {"byteOrder", "records"})) return false;
  const Json& order = Checker::Get(doc, "byteOrder");
  if (order.kind != Json::kString || (order.text != "little" && order.text != "big"))
    return check.Fail("byteOrder", "expected \"little\" or \"big\"");
  const Json& list = Checker::Get(doc, "records");
  if (list.kind != Json::kArray)
    return check.Fail("records",
                      std::string("expected an array, found ") + Checker::KindName(list.kind));
  std::vector<CorvimusPrefsRec> out(list.items.size());
  for (size_t i = 0; i < list.items.size(); ++i) {
    std::string where = "records[" + std::to_string(i) + "]";
    if (!check.Record(list.items[i], where, &out[i])) return false;
    bool global = out[i].application == kCorvimusGlobalApplication;
    if (i == 0 && !global)
      return check.Fail(where + ".application", "record 0 must be the global record (code 0)");
    if (i > 0 && global)
      return check.Fail(where + ".application",
                        "only record 0 may be the global record; give this one a signature");
  }
  *records = std::move(out);
  if (bigEndian) *bigEndian = order.text == "big";
  return true;
}

bool PrefsRecordFromJson(const std::string& text, CorvimusPrefsRec* record, std::string* error) {
  Json doc;
  if (!Reader(text).Read(&doc, error)) return false;
  Checker check(error);
  return check.Record(doc, "record", record);
}
