#include "platform/Resources.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/TextUtils.h"

namespace corvimus {
namespace {

constexpr size_t kMaxStringsFile = 1 << 20;

// UTF-16 with a byte-order mark -> UTF-8; false for unpaired surrogates or an odd length.
bool Utf16ToUtf8(const std::string& bytes, bool bigEndian, std::string* out) {
  if (bytes.size() % 2) return false;
  out->clear();
  auto unit = [&](size_t i) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return char32_t(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (size_t i = 2; i < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 3 >= bytes.size()) return false;
      char32_t low = unit(i + 2);
      if (low < 0xDC00 || low >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (c >= 0xDC00 && c < 0xE000) {
      return false;
    }
    AppendUtf8(c, out);
  }
  return true;
}

class StringsParser {
 public:
  explicit StringsParser(const std::string& text) : s_(text) {}

  bool Parse(std::map<std::string, std::string>* entries) {
    while (true) {
      if (!SkipSpace()) return false;
      if (i_ >= s_.size()) return true;
      std::string key, value;
      if (!Token(&key)) return false;
      if (!SkipSpace() || i_ >= s_.size() || s_[i_] != '=') return false;
      ++i_;
      if (!SkipSpace() || !Token(&value)) return false;
      if (!SkipSpace() || i_ >= s_.size() || s_[i_] != ';') return false;
      ++i_;
      entries->emplace(std::move(key), std::move(value));
    }
  }

 private:
  bool SkipSpace() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++i_;
      } else if (s_.compare(i_, 2, "/*") == 0) {
        size_t end = s_.find("*/", i_ + 2);
        if (end == std::string::npos) return false;
        i_ = end + 2;
      } else if (s_.compare(i_, 2, "//") == 0) {
        size_t end = s_.find('\n', i_);
        i_ = end == std::string::npos ? s_.size() : end + 1;
      } else {
        break;
      }
    }
    return true;
  }

  static bool IsBare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("_.-:/$", c) != nullptr;
  }

  bool Hex4(char32_t* v) {
    if (i_ + 4 > s_.size()) return false;
    *v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s_[i_++];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return false;
      *v = *v * 16 + char32_t(d);
    }
    return true;
  }

  bool Token(std::string* out) {
    if (i_ >= s_.size()) return false;
    if (s_[i_] != '"') {
      size_t start = i_;
      while (i_ < s_.size() && IsBare(s_[i_])) ++i_;
      if (i_ == start) return false;
      *out = s_.substr(start, i_ - start);
      return true;
    }
    ++i_;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '\'':
          out->push_back(e);
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
        case '0':
          out->push_back('\0');
          break;
        case 'U':
        case 'u': {
          char32_t c1;
          if (!Hex4(&c1)) return false;
          if (c1 >= 0xD800 && c1 < 0xDC00) {
            char32_t c2;
            if (s_.compare(i_, 2, "\\U") != 0 && s_.compare(i_, 2, "\\u") != 0) return false;
            i_ += 2;
            if (!Hex4(&c2) || c2 < 0xDC00 || c2 >= 0xE000) return false;
            c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
          } else if (c1 >= 0xDC00 && c1 < 0xE000) {
            return false;
          }
          AppendUtf8(c1, out);
          break;
        }
        default:
          return false;
      }
    }
    return false;  // the closing quote is missing
  }

  const std::string& s_;
  size_t i_ = 0;
};

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() > n && s.compare(s.size() - n, n, tail) == 0;
}

bool ReadStringsFile(const std::string& path, std::map<std::string, std::string>* entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes(kMaxStringsFile + 1, '\0');
  in.read(bytes.data(), std::streamsize(bytes.size()));
  bytes.resize(size_t(in.gcount()));
  if (bytes.size() > kMaxStringsFile) return false;
  return ParseStringsTable(bytes, entries);
}

}  // namespace

std::vector<std::string> LanguageFolders() {
  std::vector<std::string> out;
  auto addLocale = [&](std::string loc) {
    loc = loc.substr(0, loc.find_first_of(".@"));
    if (loc.empty() || loc == "C" || loc == "POSIX") return;
    out.push_back(loc);
    auto us = loc.find('_');
    if (us != std::string::npos) out.push_back(loc.substr(0, us));
  };
  if (const char* list = std::getenv("LANGUAGE")) {
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, ':')) addLocale(item);
  }
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      addLocale(v);
      break;
    }
  }
  for (const char* fallback : {"en", "English", "Base"}) out.push_back(fallback);
  std::vector<std::string> folders;
  for (const auto& lang : out) {
    // A language name is a single path component.
    if (lang.find('/') != std::string::npos || lang == "..") continue;
    folders.push_back(lang + ".lproj/");
  }
  folders.push_back("");
  return folders;
}

std::string FindLocalizedResource(const std::string& resourceFolder, const std::string& name) {
  if (resourceFolder.empty() || name.empty()) return {};
  for (const auto& folder : LanguageFolders()) {
    std::string path = resourceFolder + "/" + folder + name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return {};
}

bool ParseStringsTable(const std::string& bytes, std::map<std::string, std::string>* entries) {
  entries->clear();
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (!Utf16ToUtf8(bytes, false, &text)) return false;
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    if (!Utf16ToUtf8(bytes, true, &text)) return false;
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  StringsParser parser(text);
  if (!parser.Parse(entries)) {
    entries->clear();
    return false;
  }
  return true;
}

std::string BundleForCode(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
  std::string file = info.dli_fname;
  // The main program is reported by the name it was started with; its real place is /proc's.
  char buf[PATH_MAX];
  if (file.find('/') == std::string::npos) {
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    file = buf;
  } else if (realpath(file.c_str(), buf)) {
    file = buf;
  }
  for (auto slash = file.find_last_of('/'); slash != std::string::npos && slash > 0;
       slash = file.find_last_of('/', slash - 1)) {
    std::string folder = file.substr(0, slash);
    if ((EndsWith(folder, ".app") || EndsWith(folder, ".prefPane") ||
         EndsWith(folder, ".bundle")) &&
        IsFolder(folder + "/Contents"))
      return folder;
  }
  return {};
}

bool GetIndStringFromBundle(const std::string& bundlePath, SInt16 strListID, SInt16 index,
                            std::string* text) {
  if (bundlePath.empty() || index < 1) return false;
  std::string key = std::to_string(strListID) + "." + std::to_string(index);
  std::string resources = bundlePath + "/Contents/Resources/";
  for (const auto& folder : LanguageFolders()) {
    std::map<std::string, std::string> entries;
    if (!ReadStringsFile(resources + folder + "StringLists.strings", &entries)) continue;
    auto it = entries.find(key);
    if (it != entries.end()) {
      *text = it->second;
      return true;
    }
  }
  return false;
}

}  // namespace corvimus

void corvimus::GetIndStringNear(const void* anchor, Str255 theString, SInt16 strListID,
                                SInt16 index) {
  if (!theString) return;
  theString[0] = 0;
  std::string text;
  if (!GetIndStringFromBundle(BundleForCode(anchor), strListID, index, &text)) return;
  StorePascalUtf8(text.data(), text.size(), theString, 255);
}
