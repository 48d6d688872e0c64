#include "settings/PrefsJson.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Json.h"
#include "platform/TextUtils.h"

using corvimus::Json;

namespace {

// ---- Writing -----------------------------------------------------------------------------------

void AppendEscaped(std::string* out, unsigned cp) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", cp);
  *out += buf;
}

void AppendString(std::string* out, const unsigned char* s, size_t n) {
  out->push_back('"');
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    size_t len = corvimus::Utf8SequenceLength(s, n, i);
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

  static const Json& Get(const Json& obj, const char* name) { return obj.Member(name); }

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

  bool Action(const Json& a, const std::string& where, int slot, CorvimusActionRec* out) {
    if (!Members(a, where, {"slot", "command", "modifiers", "delay", "keyCode", "repeat", "data"}))
      return false;
    UInt64 v;
    if (!Unsigned(a, where, "slot", 255, &v)) return false;
    if (int(v) != slot)
      return Fail(where + ".slot", std::to_string(v) + " should be " + std::to_string(slot) +
                                       " (actions are listed by slot, 0 to 15)");
    if (!Unsigned(a, where, "command", 0xFFFF, &v)) return false;
    out->command = UInt16(v);
    if (!Unsigned(a, where, "modifiers", 0xFFFF, &v)) return false;
    out->modifiers = UInt16(v);
    if (!Unsigned(a, where, "delay", 0xFFFF, &v)) return false;
    out->delay = UInt16(v);
    if (!Unsigned(a, where, "keyCode", 255, &v)) return false;
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
      size_t len = corvimus::Utf8SequenceLength(p, app.text.size(), k);
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
    out += "{\"slot\": " + std::to_string(slot) + ", \"command\": " + std::to_string(a.command) +
           ", \"modifiers\": " + std::to_string(a.modifiers) +
           ", \"delay\": " + std::to_string(a.delay) +
           ", \"keyCode\": " + std::to_string(a.keyCode) +
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
  if (!corvimus::ParseJson(text, &doc, error)) return false;
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
  if (!corvimus::ParseJson(text, &doc, error)) return false;
  Checker check(error);
  return check.Record(doc, "record", record);
}
