// Helpers for the settings tests: a temporary Preferences folder, and settings files built byte by
// byte by the test itself (in either byte order), independent of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/ByteOrder.h"
#include "settings/CorvimusPrefs.h"
#include "testing/TempDir.h"

namespace settingstest {

// Sets environment variables for the life of the object and puts the old values back.
class ScopedEnv {
 public:
  void Set(const char* name, const std::string& value) {
    Save(name);
    setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Save(name);
    unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had)
        setenv(it->name.c_str(), it->value.c_str(), 1);
      else
        unsetenv(it->name.c_str());
    }
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  void Save(const char* name) {
    const char* v = getenv(name);
    saved_.push_back({name, v != nullptr, v ? v : ""});
  }
  std::vector<Saved> saved_;
};

// One record's bytes as a machine of the given byte order stores it.
inline std::string RecordBytes(const CorvimusPrefsRec& r, bool big) {
  std::string out(sizeof r, '\0');
  std::memcpy(out.data(), &r, sizeof r);
  auto* b = reinterpret_cast<unsigned char*>(out.data());
  auto put16 = [&](size_t at, UInt16 v) {
    big ? corvimus::StoreU16BE(b + at, v) : corvimus::StoreU16LE(b + at, v);
  };
  auto put32 = [&](size_t at, UInt32 v) {
    big ? corvimus::StoreU32BE(b + at, v) : corvimus::StoreU32LE(b + at, v);
  };
  put32(0, r.application);
  put16(108, r.device[0].options);
  for (int i = 0; i < 16; ++i) {
    size_t a = 116 + 56 * size_t(i);
    put16(a, r.device[0].action[i].command);
    put16(a + 4, r.device[0].action[i].modifiers);
    put16(a + 8, r.device[0].action[i].delay);
  }
  return out;
}

// A version 2 record base file holding `records` (data bytes each) in physical order.
inline std::string BaseFile(const std::vector<std::string>& records, bool big,
                            OSType type = FourCC("CvBa"), UInt16 typeVersion = 0x1100,
                            SInt16 sortMode = 1) {
  std::string area;
  std::vector<UInt32> offsets;
  for (const auto& data : records) {
    UInt32 slot = UInt32(10 + data.size());
    slot += slot & 1;
    offsets.push_back(UInt32(area.size()));
    std::string header(10, '\0');
    auto* h = reinterpret_cast<unsigned char*>(header.data());
    big ? corvimus::StoreU32BE(h, slot) : corvimus::StoreU32LE(h, slot);
    big ? corvimus::StoreU32BE(h + 4, UInt32(data.size()))
        : corvimus::StoreU32LE(h + 4, UInt32(data.size()));
    area += header + data;
    if (area.size() % 2) area.push_back('\0');
  }
  std::string file(64, '\0');
  auto* h = reinterpret_cast<unsigned char*>(file.data());
  auto put16 = [&](size_t at, UInt16 v) {
    big ? corvimus::StoreU16BE(h + at, v) : corvimus::StoreU16LE(h + at, v);
  };
  auto put32 = [&](size_t at, UInt32 v) {
    big ? corvimus::StoreU32BE(h + at, v) : corvimus::StoreU32LE(h + at, v);
  };
  put32(0, FourCC("QBSE"));
  put32(4, type);
  put16(8, 2);
  put16(10, typeVersion);
  put32(12, UInt32(records.size()));
  put32(16, UInt32(area.size()));
  put16(28, UInt16(sortMode));
  for (UInt32 off : offsets) {
    unsigned char e[4];
    big ? corvimus::StoreU32BE(e, off) : corvimus::StoreU32LE(e, off);
    file.append(reinterpret_cast<char*>(e), 4);
  }
  return file + area;
}

// A record unlike the default in every multi-byte field, so that a missed or extra swap shows.
inline CorvimusPrefsRec SampleApp(OSType signature, const char* name) {
  CorvimusPrefsRec r{};
  r.application = signature;
  r.active = 1;
  r.appName[0] = UInt8(std::strlen(name));
  std::memcpy(r.appName + 1, name, r.appName[0]);
  r.appFileName[0] = UInt8(std::strlen(name));
  std::memcpy(r.appFileName + 1, name, r.appFileName[0]);
  r.device[0].options = 0x0102;
  r.device[0].speed = 40;
  r.device[0].acceleration = 100;
  for (int i = 0; i < 16; ++i) {
    auto& a = r.device[0].action[i];
    a.command = UInt16(0x0100 + i);
    a.modifiers = UInt16(0x0900 + i);
    a.delay = UInt16(0x0300 + i);
    a.keyCode = UInt8(0x20 + i);
    a.repeat = UInt8(i);
    a.data[0] = 'C';
    a.data[1] = 'v';
    a.data[2] = 'M';
    a.data[3] = UInt8(i);
  }
  return r;
}

inline std::string Bytes(const CorvimusPrefsRec& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

}  // namespace settingstest
