// Damaged files, systematically: a valid file cut at every length and with each byte of its header
// and index changed, read with and without recovery, replacing and appending. Every read must end
// with a valid base; failed appending reads keep the records the base had.
#include <gtest/gtest.h>

#include "QBaseTestUtil.h"

using namespace qbtest;
using corvimus::testing::TempDir;

namespace {

std::string ValidFile(TempDir& dir) {
  BasePtr b = NewBase();
  for (UInt32 t : {5u, 1u, 4u, 2u}) Add(b.get(), Rec(t, 4 + 3 * t));
  QBaseSort(
      b.get(),
      [](const void* a, SInt32, const void* c, SInt32) -> SInt16 {
        UInt32 x = corvimus::LoadNative<UInt32>(a), y = corvimus::LoadNative<UInt32>(c);
        return x < y ? -1 : (x > y ? 1 : 0);
      },
      128);
  QBaseSetUserBlock(b.get(), "user", 4);
  QBaseSetUserLong(b.get(), 42);
  return WriteToFile(b.get(), dir / "valid");
}

// Reads `bytes` in every mode and checks the invariants; returns how many reads succeeded.
int ReadEveryWay(TempDir& dir, const std::string& bytes, const std::string& what) {
  corvimus::testing::WriteFile(dir / "damaged", bytes);
  OpenFile f(dir / "damaged", fsRdPerm);
  int successes = 0;
  for (int mode = 0; mode < 8; ++mode) {
    bool recover = mode & 1, append = mode & 2, flip = mode & 4;
    BasePtr b = NewBase();
    if (flip) QBaseSetFlipProc(b.get(), Flip32s, Flip32s);
    if (append) Add(b.get(), Rec(99));
    SInt16 repaired = -1;
    OSErr err = QBaseReadRebuild(b.get(), f.ref(), 1, 1, 1, !append, 0, recover, &repaired);
    SCOPED_TRACE(what + " mode " + std::to_string(mode));
    EXPECT_EQ(QBaseValidate(b.get()), 1);
    EXPECT_TRUE(repaired == 0 || repaired == 1);
    if (!recover) {
      EXPECT_EQ(repaired, 0);
    }
    if (append) {
      EXPECT_GE(QBaseCountRecords(b.get()), 1);
      EXPECT_EQ(TagAt(b.get(), 0), 99u);
    }
    if (err == noErr) {
      ++successes;
      // Whatever was accepted is a base whose records can all be reached.
      for (SInt32 i = 0; i < QBaseCountRecords(b.get()); ++i) {
        SInt32 size = -1;
        EXPECT_NE(QBaseGetRecord(b.get(), i, &size), nullptr);
        EXPECT_GE(size, 0);
      }
    } else if (!append) {
      EXPECT_EQ(QBaseCountRecords(b.get()), 0);
    }
  }
  return successes;
}

}  // namespace

TEST(QBaseDamage, TruncatedAtEveryLength) {
  TempDir dir;
  std::string valid = ValidFile(dir);
  const size_t recordsStart = 64 + 4 + 16;
  for (size_t len = 0; len <= valid.size(); ++len) {
    int ok = ReadEveryWay(dir, valid.substr(0, len), "length " + std::to_string(len));
    // An empty file is accepted with emptyOK; a cut inside header, user block or index never;
    // a cut record area only by recovering reads.
    int expected = (len == 0 || len == valid.size()) ? 8 : (len < recordsStart ? 0 : 4);
    EXPECT_EQ(ok, expected) << "length " << len;
  }
}

TEST(QBaseDamage, EveryHeaderAndIndexByteChanged) {
  TempDir dir;
  std::string valid = ValidFile(dir);
  const size_t indexEnd = 64 + 4 + 16;
  for (size_t at = 0; at < indexEnd; ++at) {
    for (unsigned char x : {0x01, 0x80, 0xFF}) {
      std::string bytes = valid;
      bytes[at] = char(bytes[at] ^ x);
      ReadEveryWay(dir, bytes, "byte " + std::to_string(at) + " ^ " + std::to_string(x));
    }
  }
}

TEST(QBaseDamage, EveryRecordByteChangedInAForeignFile) {
  // The same sweep over the record area of a file in the other byte order, where the record
  // headers go through the conversion walk before validation.
  TempDir dir;
  std::string valid = ValidFile(dir);
  std::string foreign = valid;
  auto swap = [&](size_t at, size_t n) { corvimus::SwapBytesInPlace(&foreign[at], n); };
  for (int off : {0, 4, 12, 16, 20, 24, 32, 36, 40, 56, 60}) swap(size_t(off), 4);
  for (int off : {8, 10, 28, 30, 44, 46, 48, 50, 52, 54}) swap(size_t(off), 2);
  const size_t indexStart = 64 + 4, areaStart = indexStart + 16;
  for (size_t i = 0; i < 4; ++i) swap(indexStart + 4 * i, 4);
  size_t off = areaStart;
  while (off < valid.size()) {
    UInt32 slot = corvimus::LoadU32LE(&valid[off]);
    UInt32 dataSize = corvimus::LoadU32LE(&valid[off + 4]);
    swap(off, 4);
    swap(off + 4, 4);
    swap(off + 8, 2);
    for (size_t i = 0; i + 4 <= dataSize; i += 4) swap(off + 10 + i, 4);
    off += slot;
  }
  EXPECT_EQ(ReadEveryWay(dir, foreign, "foreign"), 4) << "readable only with a flip procedure";
  for (size_t at = areaStart; at < foreign.size(); ++at) {
    std::string bytes = foreign;
    bytes[at] = char(bytes[at] ^ 0xFF);
    ReadEveryWay(dir, bytes, "foreign byte " + std::to_string(at));
  }
}
