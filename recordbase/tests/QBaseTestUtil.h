// Helpers shared by the record base tests: bases that dispose of themselves, record bytes, and
// files opened by reference number.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Files.h"
#include "recordbase/QBase.h"
#include "testing/TempDir.h"

namespace qbtest {

constexpr OSType kType = FourCC("CvBa");
constexpr UInt16 kTypeVersion = 0x1100;

struct BaseDeleter {
  void operator()(OpaqueQBaseRec** b) const { QBaseDispose(b); }
};
using BasePtr = std::unique_ptr<OpaqueQBaseRec*, BaseDeleter>;

inline BasePtr NewBase(SInt16 growBy = 4, OSType type = kType, UInt16 typeVersion = kTypeVersion) {
  return BasePtr(QBaseNew(type, typeVersion, growBy));
}

// Record data that names itself: a 4-byte tag followed by `size - 4` filler bytes derived from it.
inline std::string Rec(UInt32 tag, size_t size = 8) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char((tag * 7 + i * 13) & 0xFF);
  if (size >= 4) std::memcpy(s.data(), &tag, 4);
  return s;
}

inline SInt32 Add(QBaseHandle b, const std::string& data) {
  return QBaseAddRecord(b, data.data(), SInt32(data.size()));
}

inline std::string Get(QBaseHandle b, SInt32 pos) {
  SInt32 size = -7;
  void* p = QBaseGetRecord(b, pos, &size);
  if (!p) return "<none>";
  return std::string(static_cast<char*>(p), size_t(size));
}

inline UInt32 TagAt(QBaseHandle b, SInt32 pos) {
  SInt32 size = 0;
  void* p = QBaseGetRecord(b, pos, &size);
  if (!p || size < 4) return 0xFFFFFFFF;
  return corvimus::LoadNative<UInt32>(p);
}

// Tags of all records in index order.
inline std::vector<UInt32> Tags(QBaseHandle b) {
  std::vector<UInt32> v;
  for (SInt32 i = 0; i < QBaseCountRecords(b); ++i) v.push_back(TagAt(b, i));
  return v;
}

// Every observable piece of a base, to show that a failed call left it as it was.
inline std::string Snapshot(QBaseHandle b) {
  std::string s = std::to_string(QBaseCountRecords(b)) + "|" + std::to_string(QBaseGetSortMode(b)) +
                  "|" + std::to_string(QBaseGetRecordsChanged(b)) + "|";
  for (SInt32 i = 0; i < QBaseCountRecords(b); ++i)
    s += Get(b, i) + "#" + std::to_string(QBaseGetRecordFlags(b, i)) + ";";
  SInt32 area = 0;
  SInt32 total = QBaseGetSize(b, &area);
  s += std::to_string(total) + "/" + std::to_string(area);
  return s;
}

// A file opened read-write by reference number, closed when the object goes away.
class OpenFile {
 public:
  OpenFile(const std::string& path, SInt8 perm = fsRdWrPerm) {
    err_ = FSCreateOpenPath(path.c_str(), &ref_);
    if (err_ == noErr && perm == fsRdPerm) {
      FSClose(ref_);
      err_ = FSOpenPath(path.c_str(), fsRdPerm, &ref_);
    }
  }
  ~OpenFile() {
    if (ref_) FSClose(ref_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  SInt16 ref() const { return ref_; }
  OSErr err() const { return err_; }

 private:
  SInt16 ref_ = 0;
  OSErr err_ = noErr;
};

inline std::string Slurp(const std::string& path) {
  std::string s;
  EXPECT_TRUE(corvimus::testing::ReadFile(path, &s)) << path;
  return s;
}

// Writes the base to `path` with both parts and returns the file's bytes.
inline std::string WriteToFile(QBaseHandle b, const std::string& path) {
  {
    OpenFile f(path);
    EXPECT_EQ(f.err(), noErr);
    EXPECT_EQ(QBaseWrite(b, f.ref(), 1, 1), noErr);
  }
  return Slurp(path);
}

// Reads `bytes` (written to `path`) into the base with the given flags.
inline OSErr ReadBytes(QBaseHandle b, const std::string& path, const std::string& bytes,
                       SInt16 userFields, SInt16 records, SInt16 emptyOK, SInt16 replace,
                       SInt16 rebuild = 0, SInt16 recover = 0, SInt16* repaired = nullptr) {
  corvimus::testing::WriteFile(path, bytes);
  OpenFile f(path, fsRdPerm);
  EXPECT_EQ(f.err(), noErr);
  return QBaseReadRebuild(b, f.ref(), userFields, records, emptyOK, replace, rebuild, recover,
                          repaired);
}

// Byte-order flip for the test records: every record is a sequence of 32-bit values.
inline OSErr Flip32s(void* data, SInt32 size) {
  auto* p = static_cast<unsigned char*>(data);
  for (SInt32 i = 0; i + 4 <= size; i += 4) corvimus::SwapBytesInPlace(p + i, 4);
  return noErr;
}

}  // namespace qbtest
