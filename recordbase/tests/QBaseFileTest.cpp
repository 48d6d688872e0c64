#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "QBaseTestUtil.h"

using namespace qbtest;
using corvimus::testing::TempDir;

namespace {

// A record base file built byte by byte, in either byte order and either layout version, so that
// the reader is checked against the layout itself rather than against the writer.
struct FileImage {
  bool bigEndian = false;
  int version = 2;
  OSType type = kType;
  UInt16 typeVersion = kTypeVersion;
  std::vector<std::vector<UInt32>> records;  // record data as 32-bit values
  std::vector<SInt16> flags;                 // per record, default 0
  std::vector<SInt32> order;                 // index order as record numbers; default physical
  std::string userBlock;
  SInt16 sortMode = 1;
  SInt32 userLong = 0, userData = 0;
  UInt32 userFlags = 0;
  SInt16 userWord = 0, userMode = 0;
  Rect userRect{0, 0, 0, 0};

  void Put16(std::string& s, size_t at, UInt16 v) const {
    if (bigEndian)
      corvimus::StoreU16BE(&s[at], v);
    else
      corvimus::StoreU16LE(&s[at], v);
  }
  void Put32(std::string& s, size_t at, UInt32 v) const {
    if (bigEndian)
      corvimus::StoreU32BE(&s[at], v);
    else
      corvimus::StoreU32LE(&s[at], v);
  }

  std::string Bytes() const {
    std::string area;
    std::vector<UInt32> offsets;
    for (size_t r = 0; r < records.size(); ++r) {
      offsets.push_back(UInt32(area.size()));
      UInt32 dataSize = UInt32(records[r].size() * 4);
      UInt32 slot = 10 + dataSize;
      std::string rec(slot, '\0');
      Put32(rec, 0, slot);
      Put32(rec, 4, dataSize);
      Put16(rec, 8, UInt16(r < flags.size() ? flags[r] : 0));
      for (size_t i = 0; i < records[r].size(); ++i) Put32(rec, 10 + 4 * i, records[r][i]);
      area += rec;
    }
    size_t H = version == 1 ? 48 : 64;
    size_t U = version == 1 ? 0 : userBlock.size();
    std::string s(H + U + 4 * records.size(), '\0');
    Put32(s, 0, kQBaseSignature);
    Put32(s, 4, type);
    Put16(s, 8, UInt16(version));
    Put16(s, 10, typeVersion);
    if (version == 1) {
      Put32(s, 12, UInt32(userData));
      Put32(s, 16, userFlags);
      Put16(s, 20, UInt16(sortMode));
      Put16(s, 22, UInt16(userWord));
      Put32(s, 28, UInt32(records.size()));
      Put32(s, 32, UInt32(area.size()));
    } else {
      Put32(s, 12, UInt32(records.size()));
      Put32(s, 16, UInt32(area.size()));
      Put16(s, 28, UInt16(sortMode));
      Put32(s, 32, UInt32(userLong));
      Put32(s, 36, UInt32(userData));
      Put32(s, 40, userFlags);
      Put16(s, 44, UInt16(userWord));
      Put16(s, 46, UInt16(userMode));
      Put16(s, 48, UInt16(userRect.top));
      Put16(s, 50, UInt16(userRect.left));
      Put16(s, 52, UInt16(userRect.bottom));
      Put16(s, 54, UInt16(userRect.right));
      Put32(s, 56, UInt32(U));
      std::memcpy(&s[64], userBlock.data(), U);
    }
    for (size_t i = 0; i < records.size(); ++i)
      Put32(s, H + U + 4 * i, offsets[order.empty() ? i : size_t(order[i])]);
    return s + area;
  }
};

std::vector<UInt32> Values(QBaseHandle b, SInt32 pos) {
  SInt32 size = 0;
  char* p = static_cast<char*>(QBaseGetRecord(b, pos, &size));
  std::vector<UInt32> v;
  for (SInt32 i = 0; p && i + 4 <= size; i += 4) v.push_back(corvimus::LoadNative<UInt32>(p + i));
  return v;
}

int gFlipCalls = 0;
std::vector<SInt32> gFlipSizes;
OSErr CountingFlip(void* data, SInt32 size) {
  ++gFlipCalls;
  gFlipSizes.push_back(size);
  return Flip32s(data, size);
}
OSErr FailThirdFlip(void* data, SInt32 size) {
  if (++gFlipCalls == 3) return -4242;
  return Flip32s(data, size);
}
int gUserFlipCalls = 0;
OSErr UserFlip(void* data, SInt32 size) {
  ++gUserFlipCalls;
  std::reverse(static_cast<char*>(data), static_cast<char*>(data) + size);
  return noErr;
}

FileImage ThreeRecords() {
  FileImage f;
  f.records = {{1, 100}, {2, 200, 201}, {3}};
  f.flags = {0, 5, -1};
  return f;
}

class QBaseFile : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir / "base";
  void TearDown() override {
    MemoryFailAllocation(0);
    FSResetTestSeams();
  }
};

}  // namespace

TEST_F(QBaseFile, EmptyBaseIsA64ByteHeaderInMachineOrder) {
  BasePtr b = NewBase();
  QBaseSetUserLong(b.get(), 0x01020304);
  std::string bytes = WriteToFile(b.get(), path);
  ASSERT_EQ(bytes.size(), 64u);
  EXPECT_EQ(bytes.substr(0, 4), "ESBQ");  // 'QBSE' written by a little-endian machine
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[4]), kType);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[8]), 2);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[10]), kTypeVersion);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[12]), 0u);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[28]), 1);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[32]), 0x01020304u);
  EXPECT_EQ(QBaseGetUserFieldsChanged(b.get()), 0);
}

TEST_F(QBaseFile, OneSettingsRecordIs1090BytesWithIndexAt64AndRecordAt68) {
  BasePtr b = NewBase();
  std::string rec(1012, '\0');
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = char(i * 31);
  ASSERT_EQ(Add(b.get(), rec), 0);
  QBaseSetRecordFlags(b.get(), 0, 0x0102);
  std::string bytes = WriteToFile(b.get(), path);
  ASSERT_EQ(bytes.size(), 1090u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[12]), 1u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[16]), 1022u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[56]), 0u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[64]), 0u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[68]), 1022u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[72]), 1012u);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[76]), 0x0102);
  EXPECT_EQ(bytes.substr(78), rec);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);
  // The hand-built image of the same base is byte-identical.
  FileImage f;
  EXPECT_EQ(f.Bytes().substr(0, 28), bytes.substr(0, 28).replace(12, 8, std::string(8, '\0')))
      << "records part apart from count and size";
}

TEST_F(QBaseFile, RoundTripKeepsIndexOrderUserFieldsAndUserBlock) {
  BasePtr b = NewBase();
  for (UInt32 t : {3u, 1u, 2u}) Add(b.get(), Rec(t, 4 + t));
  QBaseSort(
      b.get(),
      [](const void* a, SInt32, const void* c, SInt32) -> SInt16 {
        return SInt16(SInt32(corvimus::LoadNative<UInt32>(a)) -
                      SInt32(corvimus::LoadNative<UInt32>(c)));
      },
      131);
  QBaseSetUserData(b.get(), -9);
  QBaseSetUserMode(b.get(), 77);
  Rect r{-1, 2, -3, 4};
  QBaseSetUserRect(b.get(), &r);
  QBaseSetUserBlock(b.get(), "user-block", 10);
  std::string bytes = WriteToFile(b.get(), path);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[28]), 131);

  BasePtr c = NewBase();
  Add(c.get(), Rec(99));
  ASSERT_EQ(ReadBytes(c.get(), path, bytes, 1, 1, 0, 1), noErr);
  EXPECT_EQ(Tags(c.get()), (std::vector<UInt32>{1, 2, 3}));
  for (SInt32 i = 0; i < 3; ++i) EXPECT_EQ(Get(c.get(), i), Rec(i + 1, 5 + i));
  EXPECT_EQ(QBaseGetSortMode(c.get()), 131);
  EXPECT_EQ(QBaseGetUserData(c.get()), -9);
  EXPECT_EQ(QBaseGetUserMode(c.get()), 77);
  Rect out{};
  QBaseGetUserRect(c.get(), &out);
  EXPECT_EQ(std::memcmp(&out, &r, sizeof r), 0);
  SInt32 size = 0;
  char* ub = static_cast<char*>(QBaseGetUserBlock(c.get(), &size));
  EXPECT_EQ(std::string(ub, size), "user-block");
  EXPECT_EQ(QBaseGetRecordsChanged(c.get()), 0);
  EXPECT_EQ(QBaseGetUserFieldsChanged(c.get()), 0);
}

TEST_F(QBaseFile, ReplacingReadLeavesTheFileRecordsAppendingReadAddsBehind) {
  BasePtr src = NewBase();
  std::string rec(1012, 'r');
  Add(src.get(), rec);
  Add(src.get(), std::string(1012, 's'));
  std::string bytes = WriteToFile(src.get(), path);

  BasePtr b = NewBase();
  for (UInt32 t = 10; t < 15; ++t) Add(b.get(), Rec(t));
  ASSERT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 1, 1), noErr);
  EXPECT_EQ(QBaseCountRecords(b.get()), 2);
  EXPECT_EQ(Get(b.get(), 1), std::string(1012, 's'));
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);

  BasePtr a = NewBase();
  for (UInt32 t = 10; t < 15; ++t) Add(a.get(), Rec(t));
  QBaseSetRecordsChanged(a.get(), 0);
  ASSERT_EQ(ReadBytes(a.get(), path, bytes, 1, 1, 1, 0), noErr);
  ASSERT_EQ(QBaseCountRecords(a.get()), 7);
  EXPECT_EQ(TagAt(a.get(), 4), 14u);
  EXPECT_EQ(Get(a.get(), 5), rec);
  EXPECT_EQ(Get(a.get(), 6), std::string(1012, 's'));
  EXPECT_EQ(QBaseGetRecordsChanged(a.get()), 1);
  EXPECT_EQ(QBaseValidate(a.get()), 1);
}

TEST_F(QBaseFile, RecordsOnlyAndUserFieldsOnlyReadsTakeOnlyTheirPart) {
  BasePtr src = NewBase();
  Add(src.get(), Rec(1));
  QBaseSetUserLong(src.get(), 5);
  std::string bytes = WriteToFile(src.get(), path);
  BasePtr b = NewBase();
  ASSERT_EQ(ReadBytes(b.get(), path, bytes, 0, 1, 0, 1), noErr);
  EXPECT_EQ(QBaseCountRecords(b.get()), 1);
  EXPECT_EQ(QBaseGetUserLong(b.get()), 0);
  BasePtr u = NewBase();
  ASSERT_EQ(ReadBytes(u.get(), path, bytes, 1, 0, 0, 1), noErr);
  EXPECT_EQ(QBaseCountRecords(u.get()), 0);
  EXPECT_EQ(QBaseGetUserLong(u.get()), 5);
}

TEST_F(QBaseFile, BigEndianFileIsConvertedByTheFlipProcedures) {
  FileImage f = ThreeRecords();
  f.bigEndian = true;
  f.order = {2, 0, 1};
  f.sortMode = 140;
  f.userLong = 0x11223344;
  f.userWord = -5;
  f.userRect = {1, -2, 3, -4};
  f.userBlock = "abcd";
  BasePtr b = NewBase();
  EXPECT_EQ(ReadBytes(b.get(), path, f.Bytes(), 1, 1, 0, 1), kQBaseErr)
      << "opposite byte order without a record flip procedure";
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);

  QBaseSetFlipProc(b.get(), CountingFlip, UserFlip);
  gFlipCalls = gUserFlipCalls = 0;
  gFlipSizes.clear();
  ASSERT_EQ(ReadBytes(b.get(), path, f.Bytes(), 1, 1, 0, 1), noErr);
  EXPECT_EQ(gFlipCalls, 3);
  EXPECT_EQ(gFlipSizes, (std::vector<SInt32>{8, 12, 4}));  // headers converted first
  EXPECT_EQ(gUserFlipCalls, 1);
  EXPECT_EQ(Values(b.get(), 0), (std::vector<UInt32>{3}));
  EXPECT_EQ(Values(b.get(), 1), (std::vector<UInt32>{1, 100}));
  EXPECT_EQ(Values(b.get(), 2), (std::vector<UInt32>{2, 200, 201}));
  EXPECT_EQ(QBaseGetRecordFlags(b.get(), 0), -1);
  EXPECT_EQ(QBaseGetRecordFlags(b.get(), 2), 5);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 140);
  EXPECT_EQ(QBaseGetUserLong(b.get()), 0x11223344);
  EXPECT_EQ(QBaseGetUserWord(b.get()), -5);
  Rect r{};
  QBaseGetUserRect(b.get(), &r);
  EXPECT_EQ(r.left, -2);
  EXPECT_EQ(r.right, -4);
  SInt32 size = 0;
  char* ub = static_cast<char*>(QBaseGetUserBlock(b.get(), &size));
  EXPECT_EQ(std::string(ub, size), "dcba");

  // Written back, the file is in this machine's order and reads without any flipping.
  std::string mine = WriteToFile(b.get(), dir / "mine");
  EXPECT_EQ(mine.substr(0, 4), "ESBQ");
  BasePtr c = NewBase();
  ASSERT_EQ(ReadBytes(c.get(), dir / "mine", mine, 1, 1, 0, 1), noErr);
  EXPECT_EQ(Values(c.get(), 2), (std::vector<UInt32>{2, 200, 201}));
}

TEST_F(QBaseFile, FlipProceduresAreNotUsedForFilesInThisMachinesOrder) {
  FileImage f = ThreeRecords();
  f.userBlock = "abcd";
  BasePtr b = NewBase();
  QBaseSetFlipProc(b.get(), CountingFlip, UserFlip);
  gFlipCalls = gUserFlipCalls = 0;
  ASSERT_EQ(ReadBytes(b.get(), path, f.Bytes(), 1, 1, 0, 1), noErr);
  EXPECT_EQ(gFlipCalls, 0);
  EXPECT_EQ(gUserFlipCalls, 0);
  EXPECT_EQ(Values(b.get(), 1), (std::vector<UInt32>{2, 200, 201}));
  WriteToFile(b.get(), dir / "out");
  EXPECT_EQ(gFlipCalls, 0) << "never while writing";
}

TEST_F(QBaseFile, ForeignUserBlockWithoutItsFlipProcedureIsDroppedQuietly) {
  FileImage f = ThreeRecords();
  f.bigEndian = true;
  f.userBlock = "opaque";
  BasePtr b = NewBase();
  QBaseSetUserBlock(b.get(), "old", 3);
  QBaseSetFlipProc(b.get(), Flip32s, nullptr);
  ASSERT_EQ(ReadBytes(b.get(), path, f.Bytes(), 1, 1, 0, 1), noErr);
  SInt32 size = 7;
  EXPECT_EQ(QBaseGetUserBlock(b.get(), &size), nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(QBaseCountRecords(b.get()), 3);
}

TEST_F(QBaseFile, FlipProcedureErrorFailsTheReadAndKeepsNoPartialRecords) {
  FileImage f = ThreeRecords();
  f.bigEndian = true;
  BasePtr b = NewBase();
  Add(b.get(), Rec(50));
  QBaseSetFlipProc(b.get(), FailThirdFlip, nullptr);
  gFlipCalls = 0;
  EXPECT_EQ(ReadBytes(b.get(), path, f.Bytes(), 1, 1, 0, 1), -4242);
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  BasePtr a = NewBase();
  Add(a.get(), Rec(50));
  QBaseSetFlipProc(a.get(), FailThirdFlip, nullptr);
  gFlipCalls = 0;
  EXPECT_EQ(ReadBytes(a.get(), path, f.Bytes(), 1, 1, 0, 0), -4242);
  EXPECT_EQ(Tags(a.get()), (std::vector<UInt32>{50}));
  EXPECT_EQ(QBaseValidate(a.get()), 1);
}

TEST_F(QBaseFile, Version1FileIsConverted) {
  FileImage f = ThreeRecords();
  f.version = 1;
  f.userData = 0x5566;
  f.userFlags = 0x80000000u;
  f.userWord = 12;
  f.sortMode = 129;
  f.order = {1, 2, 0};
  BasePtr b = NewBase();
  QBaseSetUserLong(b.get(), 9);
  QBaseSetUserMode(b.get(), 9);
  Rect r{9, 9, 9, 9};
  QBaseSetUserRect(b.get(), &r);
  std::string bytes = f.Bytes();
  ASSERT_EQ(bytes.size(), 48u + 12 + 18 + 22 + 14);
  ASSERT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 1), noErr);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{2, 3, 1}));
  EXPECT_EQ(QBaseGetUserData(b.get()), 0x5566);
  EXPECT_EQ(QBaseGetUserFlags(b.get()), 0x80000000u);
  EXPECT_EQ(QBaseGetUserWord(b.get()), 12);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 129);
  EXPECT_EQ(QBaseGetUserLong(b.get()), 0);
  EXPECT_EQ(QBaseGetUserMode(b.get()), 0);
  QBaseGetUserRect(b.get(), &r);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 0);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  // Written back it becomes a version 2 file.
  std::string v2 = WriteToFile(b.get(), dir / "v2");
  EXPECT_EQ(corvimus::LoadU16LE(&v2[8]), 2);
  EXPECT_EQ(v2.size(), bytes.size() + 16);
}

TEST_F(QBaseFile, WrongSignatureTypeOrVersionIsRefused) {
  FileImage good = ThreeRecords();
  FileImage otherType = good, otherVersion = good, v3 = good;
  otherType.type = FourCC("Othr");
  otherVersion.typeVersion = 0x1101;
  v3.version = 3;
  std::string badSig = good.Bytes();
  badSig[0] = 'X';
  for (const std::string& bytes : {otherType.Bytes(), otherVersion.Bytes(), v3.Bytes(), badSig}) {
    BasePtr b = NewBase();
    Add(b.get(), Rec(7));
    EXPECT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 0), kQBaseErr);
    EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{7}));
  }
}

TEST_F(QBaseFile, EmptyFileAndBadArguments) {
  BasePtr b = NewBase();
  EXPECT_EQ(ReadBytes(b.get(), path, "", 1, 1, 1, 1), noErr);
  EXPECT_EQ(ReadBytes(b.get(), path, "", 1, 1, 0, 1), eofErr);
  EXPECT_EQ(QBaseRead(b.get(), 0, 1, 1, 1, 1), paramErr);
  EXPECT_EQ(QBaseWrite(b.get(), 0, 1, 1), paramErr);
  EXPECT_EQ(QBaseWrite(nullptr, 1, 1, 1), paramErr);
  EXPECT_EQ(QBaseReadRebuild(nullptr, 1, 1, 1, 1, 1, 0, 0, nullptr), paramErr);
  SInt16 repaired = 5;
  EXPECT_EQ(QBaseReadRecover(b.get(), 0, 1, 1, 1, 1, 1, &repaired), paramErr);
  EXPECT_EQ(repaired, 0) << "stored on every return";
}

TEST_F(QBaseFile, ReadOnlyBaseIsNotWritten) {
  BasePtr b = NewBase();
  Add(b.get(), Rec(1));
  corvimus::testing::WriteFile(path, "keep");
  QBaseSetReadOnly(b.get(), 1);
  {
    OpenFile f(path);
    EXPECT_EQ(QBaseWrite(b.get(), f.ref(), 1, 1), wrPermErr);
  }
  EXPECT_EQ(Slurp(path), "keep");
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
}

TEST_F(QBaseFile, OneByteTooLongIsRefusedUnlessRecovering) {
  BasePtr src = NewBase();
  for (UInt32 t : {1u, 2u, 3u}) Add(src.get(), Rec(t));
  QBaseSort(
      src.get(),
      [](const void* a, SInt32, const void* c, SInt32) -> SInt16 {
        return SInt16(SInt32(corvimus::LoadNative<UInt32>(c)) -
                      SInt32(corvimus::LoadNative<UInt32>(a)));
      },
      128);
  std::string bytes = WriteToFile(src.get(), path) + "!";
  BasePtr b = NewBase();
  EXPECT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 1), kQBaseErr);
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  SInt16 repaired = 0;
  ASSERT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 1, 0, 1, &repaired), noErr);
  EXPECT_EQ(repaired, 1);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{1, 2, 3})) << "index rebuilt in physical order";
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  // A file that matches its header is not marked as repaired.
  ASSERT_EQ(
      ReadBytes(b.get(), path, bytes.substr(0, bytes.size() - 1), 1, 1, 0, 1, 0, 1, &repaired),
      noErr);
  EXPECT_EQ(repaired, 0);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{3, 2, 1}));
  // Asked to rebuild, a clean file also comes back in physical order.
  ASSERT_EQ(ReadBytes(b.get(), path, bytes.substr(0, bytes.size() - 1), 1, 1, 0, 1, 1, 0), noErr);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{1, 2, 3}));
}

TEST_F(QBaseFile, CutInsideTheLastRecord) {
  std::string bytes = ThreeRecords().Bytes();
  std::string cut = bytes.substr(0, bytes.size() - 3);
  BasePtr b = NewBase();
  EXPECT_EQ(ReadBytes(b.get(), path, cut, 1, 1, 0, 1), kQBaseErr);
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  SInt16 repaired = 0;
  ASSERT_EQ(ReadBytes(b.get(), path, cut, 1, 1, 0, 1, 0, 1, &repaired), noErr);
  EXPECT_EQ(repaired, 1);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{1, 2}));
  EXPECT_EQ(Values(b.get(), 1), (std::vector<UInt32>{2, 200, 201}));
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
}

TEST_F(QBaseFile, RecoveringReadOfAFileTooShortForItsIndexKeepsTheBase) {
  std::string bytes = ThreeRecords().Bytes();
  BasePtr b = NewBase();
  Add(b.get(), Rec(77));
  SInt16 repaired = 9;
  EXPECT_EQ(ReadBytes(b.get(), path, bytes.substr(0, 70), 1, 1, 0, 0, 0, 1, &repaired), kQBaseErr);
  EXPECT_EQ(repaired, 0);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{77}));
  EXPECT_EQ(QBaseGetUserLong(b.get()), 0);
  // Shorter than a header at all.
  EXPECT_EQ(ReadBytes(b.get(), path, bytes.substr(0, 30), 1, 1, 0, 0, 0, 1, &repaired), kQBaseErr);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{77}));
}

TEST_F(QBaseFile, IndexEntryOutOfRangeFailsValidation) {
  std::string bytes = ThreeRecords().Bytes();
  corvimus::StoreU32LE(&bytes[64 + 4], 5000);
  BasePtr b = NewBase();
  EXPECT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 1), kQBaseErr);
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
  // An entry in range that does not start a record, and a duplicate entry.
  for (UInt32 entry : {2u, 0u}) {
    corvimus::StoreU32LE(&bytes[64 + 4], entry);
    EXPECT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 1), kQBaseErr) << entry;
  }
}

TEST_F(QBaseFile, AppendingADamagedFileKeepsTheRecordsTheBaseHad) {
  std::string bytes = ThreeRecords().Bytes();
  corvimus::StoreU32LE(&bytes[64], 0xFFFFFF00u);
  BasePtr b = NewBase();
  Add(b.get(), Rec(7));
  Add(b.get(), Rec(8));
  EXPECT_EQ(ReadBytes(b.get(), path, bytes, 1, 1, 0, 0), kQBaseErr);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{7, 8}));
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST_F(QBaseFile, FailedAllocationAtEachStepOfAReadLeavesTheRecords) {
  std::string bytes = ThreeRecords().Bytes();
  corvimus::testing::WriteFile(path, bytes);
  for (SInt16 replace : {SInt16(0), SInt16(1)}) {
    BasePtr b = NewBase(1);
    Add(b.get(), Rec(7));
    QBaseSetRecordsChanged(b.get(), 0);
    std::string before = Snapshot(b.get());
    OpenFile f(path, fsRdPerm);
    long steps = 0;
    {
      BasePtr probe = NewBase(1);
      Add(probe.get(), Rec(7));
      long start = MemoryAllocationCount();
      ASSERT_EQ(QBaseRead(probe.get(), f.ref(), 1, 1, 0, replace), noErr);
      steps = MemoryAllocationCount() - start;
    }
    ASSERT_GE(steps, 2);
    for (long step = 1; step <= steps; ++step) {
      MemoryFailAllocation(step);
      OSErr err = QBaseRead(b.get(), f.ref(), 1, 1, 0, replace);
      MemoryFailAllocation(0);
      EXPECT_EQ(err, memFullErr) << "step " << step;
      EXPECT_EQ(QBaseValidate(b.get()), 1);
      if (!replace) {
        EXPECT_EQ(Snapshot(b.get()), before) << "step " << step;
      } else {
        EXPECT_EQ(QBaseCountRecords(b.get()), 0);
        Add(b.get(), Rec(7));
        QBaseSetRecordsChanged(b.get(), 0);
      }
    }
  }
}

TEST_F(QBaseFile, ReadErrorsComeBackAsTheyAreAndKeepTheRecords) {
  std::string bytes = ThreeRecords().Bytes();
  corvimus::testing::WriteFile(path, bytes);
  BasePtr b = NewBase();
  Add(b.get(), Rec(7));
  OpenFile f(path, fsRdPerm);
  FSFailReadsAfter(64 + 12 + 5);
  EXPECT_EQ(QBaseRead(b.get(), f.ref(), 1, 1, 0, 0), ioErr);
  FSResetTestSeams();
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{7}));
  // Short transfers are completed by the File Manager.
  FSLimitTransfer(5);
  EXPECT_EQ(QBaseRead(b.get(), f.ref(), 1, 1, 0, 0), noErr);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{7, 1, 2, 3}));
}

TEST_F(QBaseFile, DiskFullWhileWritingIsReported) {
  BasePtr b = NewBase();
  for (UInt32 t = 0; t < 10; ++t) Add(b.get(), Rec(t, 100));
  OpenFile f(path);
  FSFailWritesAfter(500);
  EXPECT_EQ(QBaseWrite(b.get(), f.ref(), 1, 1), dskFulErr);
  FSResetTestSeams();
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1) << "not clean after a failed write";
  // The length was set first, so the cut file is refused rather than read short.
  BasePtr c = NewBase();
  EXPECT_EQ(QBaseRead(c.get(), f.ref(), 1, 1, 0, 1), kQBaseErr);
  FSFailNextFlush();
  EXPECT_EQ(QBaseWrite(b.get(), f.ref(), 1, 1), ioErr);
  EXPECT_EQ(QBaseRead(c.get(), f.ref(), 1, 1, 0, 1), noErr);
  EXPECT_EQ(QBaseCountRecords(c.get()), 10);
}

TEST_F(QBaseFile, PartialWritesTouchOnlyTheirPartOfAMatchingFile) {
  BasePtr b = NewBase();
  Add(b.get(), Rec(1));
  QBaseSetUserBlock(b.get(), "UB", 2);
  QBaseSetUserLong(b.get(), 1);
  WriteToFile(b.get(), path);

  // User fields only: the records in the file stay as they were.
  Add(b.get(), Rec(2));
  QBaseSetUserLong(b.get(), 2);
  QBaseSetSortMode(b.get(), 150);
  {
    OpenFile f(path);
    ASSERT_EQ(QBaseWrite(b.get(), f.ref(), 1, 0), noErr);
  }
  std::string bytes = Slurp(path);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[12]), 1u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[32]), 2u);
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[28]), 1) << "the stored sort mode goes with the records";
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  EXPECT_EQ(QBaseGetUserFieldsChanged(b.get()), 0);

  // Records only: the user part in the file stays.
  QBaseSetUserLong(b.get(), 3);
  {
    OpenFile f(path);
    ASSERT_EQ(QBaseWrite(b.get(), f.ref(), 0, 1), noErr);
  }
  bytes = Slurp(path);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[12]), 2u);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[32]), 2u);
  EXPECT_EQ(bytes.size(), 64u + 2 + 8 + 36);
  EXPECT_EQ(QBaseGetUserFieldsChanged(b.get()), 1);

  // A user block of another size forces a full write.
  QBaseSetUserBlock(b.get(), "LONGER", 6);
  {
    OpenFile f(path);
    ASSERT_EQ(QBaseWrite(b.get(), f.ref(), 0, 1), noErr);
  }
  bytes = Slurp(path);
  EXPECT_EQ(corvimus::LoadU32LE(&bytes[32]), 3u);
  EXPECT_EQ(bytes.substr(64, 6), "LONGER");
  EXPECT_EQ(corvimus::LoadU16LE(&bytes[28]), 150);
  BasePtr c = NewBase();
  ASSERT_EQ(ReadBytes(c.get(), dir / "copy", bytes, 1, 1, 0, 1), noErr);
  EXPECT_EQ(QBaseCountRecords(c.get()), 2);

  // Neither part, to a file that is not a base: a full write.
  corvimus::testing::WriteFile(path,
                               "garbage that is not a base at all, long enough for a header....");
  {
    OpenFile f(path);
    ASSERT_EQ(QBaseWrite(b.get(), f.ref(), 0, 0), noErr);
  }
  EXPECT_EQ(Slurp(path), bytes);
}

TEST_F(QBaseFile, UserFieldsOnlyWriteDescribesTheCurrentUserBlock) {
  // A base whose user block was set but never written with records must not stamp a stale size
  // into a file whose layout matches.
  BasePtr b = NewBase();
  Add(b.get(), Rec(1));
  QBaseSetUserBlock(b.get(), "abc", 3);
  std::string bytes = WriteToFile(b.get(), path);
  BasePtr c = NewBase();
  ASSERT_EQ(ReadBytes(c.get(), path, bytes, 0, 1, 0, 1), noErr);  // records only: no user block
  QBaseSetUserBlock(c.get(), "xyz", 3);
  {
    OpenFile f(path);
    ASSERT_EQ(QBaseWrite(c.get(), f.ref(), 1, 0), noErr);
  }
  BasePtr d = NewBase();
  ASSERT_EQ(ReadBytes(d.get(), dir / "again", Slurp(path), 1, 1, 0, 1), noErr);
  SInt32 size = 0;
  char* ub = static_cast<char*>(QBaseGetUserBlock(d.get(), &size));
  EXPECT_EQ(std::string(ub, size), "xyz");
}
