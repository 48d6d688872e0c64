#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "QBaseTestUtil.h"

using namespace qbtest;

namespace {

SInt16 SelectOddTags(const void* data, SInt32 size, SInt32) {
  return size >= 4 && (corvimus::LoadNative<UInt32>(data) & 1);
}

// Selects records whose tag is in a small set chosen by the test.
std::vector<UInt32> gSelected;
SInt16 SelectListed(const void* data, SInt32 size, SInt32) {
  if (size < 4) return 0;
  UInt32 tag = corvimus::LoadNative<UInt32>(data);
  for (UInt32 t : gSelected)
    if (t == tag) return 1;
  return 0;
}

// A selection that changes its mind between the two passes of a move.
int gFlakyCalls = 0;
SInt16 SelectFlaky(const void* data, SInt32 size, SInt32) {
  ++gFlakyCalls;
  UInt32 tag = size >= 4 ? corvimus::LoadNative<UInt32>(data) : 0;
  return gFlakyCalls <= 5 ? (tag == 1 || tag == 3) : (tag == 1 || tag == 2 || tag == 3);
}

BasePtr BaseWithTags(std::initializer_list<UInt32> tags, SInt16 growBy = 4) {
  BasePtr b = NewBase(growBy);
  for (UInt32 t : tags) Add(b.get(), Rec(t));
  return b;
}

}  // namespace

TEST(QBaseModel, NewBaseStartsEmptyInPhysicalOrderWithAtLeastOneGrowthStep) {
  for (SInt16 grow : {SInt16(0), SInt16(-5), SInt16(3)}) {
    BasePtr b = NewBase(grow);
    ASSERT_TRUE(b);
    EXPECT_EQ(QBaseCountRecords(b.get()), 0);
    EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
    EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);
    EXPECT_EQ(QBaseValidate(b.get()), 1);
    // The index grows by the step: the size reports index bytes + area + 108.
    Add(b.get(), Rec(1, 0));
    SInt32 area = 0;
    EXPECT_EQ(QBaseGetSize(b.get(), &area), 4 * std::max<SInt16>(grow, 1) + 10 + 108);
    EXPECT_EQ(area, 10);
  }
}

TEST(QBaseModel, NewFreesWhatItGotWhenAnAllocationFails) {
  for (long step = 1; step <= 4; ++step) {
    MemoryFailAllocation(step);
    EXPECT_EQ(QBaseNew(kType, kTypeVersion, 4), nullptr) << "step " << step;
  }
  MemoryFailAllocation(0);
  BasePtr b = NewBase();
  EXPECT_TRUE(b);
}

TEST(QBaseModel, SlotSizesAreEvenAndIncludeTheTenByteHeader) {
  BasePtr b = NewBase();
  const std::pair<SInt32, SInt32> cases[] = {{0, 10}, {1, 12}, {2, 12}, {3, 14}, {1012, 1022}};
  SInt32 before = 0;
  for (auto [dataSize, slot] : cases) {
    std::string data(size_t(dataSize), 'x');
    ASSERT_GE(QBaseAddRecord(b.get(), data.data(), dataSize), 0);
    SInt32 area = 0;
    QBaseGetSize(b.get(), &area);
    EXPECT_EQ(area - before, slot) << dataSize;
    before = area;
  }
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseModel, UserFieldSettersMarkUserFieldsOthersDoNot) {
  BasePtr b = NewBase();
  QBaseHandle h = b.get();
  QBaseSetTempLong(h, 5);
  QBaseSetTempData(h, 6);
  QBaseSetSortMode(h, 200);
  QBaseSetReadOnly(h, 1);
  EXPECT_EQ(QBaseGetUserFieldsChanged(h), 0);
  EXPECT_EQ(QBaseGetTempLong(h), 5);
  EXPECT_EQ(QBaseGetTempData(h), 6);
  EXPECT_EQ(QBaseGetSortMode(h), 200);
  EXPECT_EQ(QBaseGetReadOnly(h), 1);

  QBaseSetUserWord(h, -2);
  EXPECT_EQ(QBaseGetUserFieldsChanged(h), 1);
  EXPECT_EQ(QBaseGetUserWord(h), -2);  // widened with sign
  QBaseSetUserFieldsChanged(h, 0);
  QBaseSetUserMode(h, -300);
  EXPECT_EQ(QBaseGetUserMode(h), -300);
  EXPECT_EQ(QBaseGetUserFieldsChanged(h), 1);
  QBaseSetUserFieldsChanged(h, 0);
  Rect r{1, 2, 3, 4}, out{};
  QBaseSetUserRect(h, &r);
  QBaseGetUserRect(h, &out);
  EXPECT_EQ(std::memcmp(&r, &out, sizeof r), 0);
  EXPECT_EQ(QBaseGetUserFieldsChanged(h), 1);
  QBaseSetUserLong(h, 11);
  QBaseSetUserData(h, 12);
  QBaseSetUserFlags(h, 0x80000001u);
  EXPECT_EQ(QBaseGetUserLong(h), 11);
  EXPECT_EQ(QBaseGetUserData(h), 12);
  EXPECT_EQ(QBaseGetUserFlags(h), 0x80000001u);
}

TEST(QBaseModel, NullBaseIsHarmlessEverywhere) {
  EXPECT_EQ(QBaseCountRecords(nullptr), 0);
  EXPECT_EQ(QBaseValidate(nullptr), 0);
  EXPECT_EQ(QBaseGetType(nullptr, nullptr), 0u);
  EXPECT_EQ(QBaseSetUserBlock(nullptr, "x", 1), paramErr);
  EXPECT_EQ(QBaseAddRecord(nullptr, "x", 1), -1);
  EXPECT_EQ(QBaseMoveIndexes(nullptr, 0, SelectOddTags), paramErr);
  EXPECT_EQ(QBaseDuplicate(nullptr, nullptr), paramErr);
  EXPECT_EQ(QBaseFindRecordFlags(nullptr, 0), -1);
  SInt32 size = 9;
  EXPECT_EQ(QBaseGetUserBlock(nullptr, &size), nullptr);
  EXPECT_EQ(size, 0);
  QBaseDispose(nullptr);
  QBaseLock(nullptr);
  QBaseUnlock(nullptr, 1);
  QBaseRemoveMarkedRecords(nullptr);
  QBaseEmpty(nullptr);
}

TEST(QBaseModel, TypeCallsRefuseADamagedBase) {
  BasePtr b = NewBase();
  UInt16 tv = 0;
  EXPECT_EQ(QBaseGetType(b.get(), &tv), kType);
  EXPECT_EQ(tv, kTypeVersion);
  QBaseSetType(b.get(), FourCC("Othr"), 7);
  EXPECT_EQ(QBaseGetType(b.get(), &tv), FourCC("Othr"));
  EXPECT_EQ(tv, 7);
  // The base record's first bytes are its signature.
  OSType saved;
  std::memcpy(&saved, *b.get(), 4);
  std::memcpy(*b.get(), "XXXX", 4);
  tv = 1234;
  EXPECT_EQ(QBaseGetType(b.get(), &tv), 0u);
  EXPECT_EQ(tv, 1234);
  QBaseSetType(b.get(), kType, 1);
  std::memcpy(*b.get(), &saved, 4);
  EXPECT_EQ(QBaseGetType(b.get(), &tv), FourCC("Othr"));
}

TEST(QBaseModel, LockPinsTheBlocksAndForcedUnlockReleasesAtAnyDepth) {
  BasePtr b = BaseWithTags({1});
  QBaseLock(b.get());
  QBaseLock(b.get());
  QBaseLock(b.get());
  void* before = QBaseGetRecord(b.get(), 0, nullptr);
  // A locked area cannot move, so a big addition fails instead of invalidating pointers.
  std::string big(100000, 'b');
  EXPECT_EQ(Add(b.get(), big), -1);
  EXPECT_EQ(QBaseGetRecord(b.get(), 0, nullptr), before);
  EXPECT_EQ(QBaseCountRecords(b.get()), 1);
  QBaseUnlock(b.get(), 0);
  EXPECT_EQ(Add(b.get(), big), -1) << "still locked after one of three unlocks";
  QBaseUnlock(b.get(), 1);
  EXPECT_EQ(Add(b.get(), big), 1);
  // Balanced again: a further unlock does not wrap the count around.
  QBaseUnlock(b.get(), 0);
  QBaseLock(b.get());
  QBaseUnlock(b.get(), 0);
  EXPECT_EQ(Add(b.get(), big), 2);
}

TEST(QBaseModel, UserBlockResizesCopiesAndEmpties) {
  BasePtr b = NewBase();
  SInt32 size = -1;
  EXPECT_EQ(QBaseGetUserBlock(b.get(), &size), nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(QBaseSetUserBlock(b.get(), "hello", 5), noErr);
  char* p = static_cast<char*>(QBaseGetUserBlock(b.get(), &size));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, size), "hello");
  EXPECT_EQ(QBaseGetUserFieldsChanged(b.get()), 0);
  // From its own bytes, shrinking and growing.
  EXPECT_EQ(QBaseSetUserBlock(b.get(), p + 1, 3), noErr);
  p = static_cast<char*>(QBaseGetUserBlock(b.get(), &size));
  EXPECT_EQ(std::string(p, size), "ell");
  MemoryFailAllocation(1);
  EXPECT_EQ(QBaseSetUserBlock(b.get(), "0123456789", 10), memFullErr);
  p = static_cast<char*>(QBaseGetUserBlock(b.get(), &size));
  EXPECT_EQ(std::string(p, size), "ell");
  EXPECT_EQ(QBaseSetUserBlock(b.get(), nullptr, 100), noErr);
  EXPECT_EQ(QBaseGetUserBlock(b.get(), &size), nullptr);
  EXPECT_EQ(size, 0);
}

TEST(QBaseModel, DuplicateUserFieldsNeedsTheSameTypeAndSkipsTheUserBlock) {
  BasePtr a = NewBase(), c = NewBase(), other = NewBase(4, kType, kTypeVersion + 1);
  QBaseSetUserLong(a.get(), 1);
  QBaseSetUserData(a.get(), 2);
  QBaseSetUserFlags(a.get(), 3);
  QBaseSetUserWord(a.get(), 4);
  QBaseSetUserMode(a.get(), 5);
  Rect r{6, 7, 8, 9};
  QBaseSetUserRect(a.get(), &r);
  QBaseSetUserBlock(a.get(), "blk", 3);
  EXPECT_EQ(QBaseDuplicateUserFields(a.get(), other.get()), paramErr);
  EXPECT_EQ(QBaseGetUserLong(other.get()), 0);
  EXPECT_EQ(QBaseDuplicateUserFields(a.get(), c.get()), noErr);
  EXPECT_EQ(QBaseGetUserLong(c.get()), 1);
  EXPECT_EQ(QBaseGetUserData(c.get()), 2);
  EXPECT_EQ(QBaseGetUserFlags(c.get()), 3u);
  EXPECT_EQ(QBaseGetUserWord(c.get()), 4);
  EXPECT_EQ(QBaseGetUserMode(c.get()), 5);
  Rect out{};
  QBaseGetUserRect(c.get(), &out);
  EXPECT_EQ(out.right, 9);
  EXPECT_EQ(QBaseGetUserFieldsChanged(c.get()), 1);
  SInt32 size = 0;
  QBaseGetUserBlock(c.get(), &size);
  EXPECT_EQ(size, 0);
}

TEST(QBaseModel, WantsMemFullFlagIsRaisedDuringAllocatingCallsAndRestored) {
  static SInt16 flag = 0;
  static int seenRaised = 0;
  flag = 7;
  QBaseUseWantsMemFull(&flag);
  BasePtr b = BaseWithTags({1, 2, 3});
  EXPECT_EQ(flag, 7);
  // The selection runs inside QBaseMoveIndexes, which allocates.
  QBaseMoveIndexes(b.get(), 0, [](const void*, SInt32, SInt32) -> SInt16 {
    if (flag == 1) ++seenRaised;
    return 1;
  });
  EXPECT_GT(seenRaised, 0);
  EXPECT_EQ(flag, 7);
  QBaseUseWantsMemFull(nullptr);
}

// ---- Adding and replacing ----------------------------------------------------------------------

TEST(QBaseRecords, AddAppendsAndKeepsPhysicalOrderButForgetsAnApplicationOrder) {
  BasePtr b = NewBase();
  EXPECT_EQ(Add(b.get(), ""), 0);
  EXPECT_EQ(Add(b.get(), Rec(7)), 1);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  SInt32 size = -1;
  EXPECT_NE(QBaseGetRecord(b.get(), 0, &size), nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(Get(b.get(), 1), Rec(7));
  QBaseSetSortMode(b.get(), 130);
  Add(b.get(), Rec(8));
  EXPECT_EQ(QBaseGetSortMode(b.get()), 0);
}

TEST(QBaseRecords, AddRefusesNullDataAndNegativeSizes) {
  BasePtr b = BaseWithTags({1});
  std::string before = Snapshot(b.get());
  EXPECT_EQ(QBaseAddRecord(b.get(), nullptr, 4), -1);
  EXPECT_EQ(QBaseAddRecord(b.get(), "abcd", -1), -1);
  EXPECT_EQ(Snapshot(b.get()), before);
}

TEST(QBaseRecords, AddFromTheBaseItsOwnRecordCopiesTheRightBytes) {
  BasePtr b = NewBase(1);
  Add(b.get(), Rec(1, 200));
  for (int i = 0; i < 20; ++i) {
    SInt32 size = 0;
    void* own = QBaseGetRecord(b.get(), 0, &size);
    ASSERT_EQ(QBaseAddRecord(b.get(), own, size), i + 1);
  }
  for (SInt32 i = 0; i <= 20; ++i) EXPECT_EQ(Get(b.get(), i), Rec(1, 200)) << i;
  SInt32 size = 0;
  void* own = QBaseGetRecord(b.get(), 3, &size);
  EXPECT_EQ(QBaseReplaceRecord(b.get(), 0, own, size - 10), 0);
  EXPECT_EQ(Get(b.get(), 0), Rec(1, 190));
}

TEST(QBaseRecords, FailedAllocationAtEachStepOfAddLeavesTheBaseUnchanged) {
  for (SInt16 grow : {SInt16(1), SInt16(4)}) {
    // The fifth record needs both a larger area and a larger index.
    long steps = 0;
    {
      BasePtr probe = BaseWithTags({1, 2, 3, 4}, grow);
      long start = MemoryAllocationCount();
      ASSERT_EQ(Add(probe.get(), Rec(5)), 4);
      steps = MemoryAllocationCount() - start;
    }
    EXPECT_EQ(steps, 2);
    for (long step = 1; step <= steps; ++step) {
      BasePtr b = BaseWithTags({1, 2, 3, 4}, grow);
      QBaseSetRecordsChanged(b.get(), 0);
      std::string before = Snapshot(b.get());
      MemoryFailAllocation(step);
      EXPECT_EQ(Add(b.get(), Rec(5)), -1) << "step " << step;
      MemoryFailAllocation(0);
      EXPECT_EQ(Snapshot(b.get()), before) << "step " << step;
      EXPECT_EQ(QBaseValidate(b.get()), 1);
      EXPECT_EQ(Add(b.get(), Rec(5)), 4) << "works once memory is back";
    }
  }
}

TEST(QBaseRecords, ReplaceShiftsTheRecordsBehindWhateverTheirPosition) {
  BasePtr b = BaseWithTags({1, 2, 3});
  QBaseSetRecordFlags(b.get(), 0, 0x55);
  // Reverse the index so the records behind the first one sit at positions before it.
  gSelected = {1};
  ASSERT_EQ(QBaseMoveIndexes(b.get(), 3, SelectListed), noErr);
  ASSERT_EQ(Tags(b.get()), (std::vector<UInt32>{2, 3, 1}));
  ASSERT_EQ(QBaseReplaceRecord(b.get(), 2, Rec(1, 100).data(), 100), 2);
  EXPECT_EQ(Get(b.get(), 2), Rec(1, 100));
  EXPECT_EQ(Get(b.get(), 0), Rec(2));
  EXPECT_EQ(Get(b.get(), 1), Rec(3));
  EXPECT_EQ(QBaseGetRecordFlags(b.get(), 2), 0x55);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
  // Shorter again, and the sort mode is left alone.
  QBaseSetSortMode(b.get(), 140);
  ASSERT_EQ(QBaseReplaceRecord(b.get(), 2, "ab", 2), 2);
  EXPECT_EQ(Get(b.get(), 2), "ab");
  EXPECT_EQ(Get(b.get(), 1), Rec(3));
  EXPECT_EQ(QBaseGetSortMode(b.get()), 140);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
  EXPECT_EQ(QBaseReplaceRecord(b.get(), 3, "ab", 2), -1);
  EXPECT_EQ(QBaseReplaceRecord(b.get(), -1, "ab", 2), -1);
  EXPECT_EQ(QBaseReplaceRecord(b.get(), 0, nullptr, 2), -1);
}

TEST(QBaseRecords, FailedAllocationOfAGrowingReplaceLeavesTheBaseUnchanged) {
  BasePtr b = BaseWithTags({1, 2, 3});
  QBaseSetRecordsChanged(b.get(), 0);
  std::string before = Snapshot(b.get());
  MemoryFailAllocation(1);
  EXPECT_EQ(QBaseReplaceRecord(b.get(), 1, Rec(9, 64).data(), 64), -1);
  MemoryFailAllocation(0);
  EXPECT_EQ(Snapshot(b.get()), before);
}

TEST(QBaseRecords, FlagsAreFoundInIndexOrderAndDoNotTouchState) {
  BasePtr b = BaseWithTags({1, 2, 3, 4});
  QBaseSetRecordsChanged(b.get(), 0);
  QBaseSetAllRecordFlags(b.get(), 0);
  QBaseSetRecordFlags(b.get(), 2, 1);
  EXPECT_EQ(QBaseFindRecordFlags(b.get(), 1), 2);
  QBaseSetRecordFlags(b.get(), 3, -1);
  EXPECT_EQ(QBaseGetRecordFlags(b.get(), 3), -1);
  EXPECT_EQ(QBaseGetRecordFlags(b.get(), 9), 0);
  EXPECT_EQ(QBaseFindRecordFlags(b.get(), 7), -1);
  QBaseSetRecordFlags(b.get(), 9, 1);  // out of range: nothing
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
}

TEST(QBaseRecords, FindLongHeaderWalksPhysicalOrderAndSkipsShortRecords) {
  BasePtr b = NewBase();
  Add(b.get(), "ab");  // too short to hold a 32-bit header
  Add(b.get(), Rec(42));
  Add(b.get(), Rec(42, 20));
  gSelected = {42};
  void* p = QBaseFindLongHeader(b.get(), 42);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, QBaseGetRecord(b.get(), 1, nullptr));
  EXPECT_EQ(QBaseFindLongHeader(b.get(), 43), nullptr);
}

// ---- Removing ----------------------------------------------------------------------------------

TEST(QBaseRecords, RemovingTheOnlyRecordLeavesAnEmptyPhysicalBase) {
  BasePtr b = BaseWithTags({1});
  QBaseSetSortMode(b.get(), 150);
  QBaseSetRecordsChanged(b.get(), 0);
  QBaseMarkRecordForRemoval(b.get(), 0);
  QBaseRemoveMarkedRecords(b.get());
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  SInt32 area = -1;
  QBaseGetSize(b.get(), &area);
  EXPECT_EQ(area, 0);
}

TEST(QBaseRecords, RemovingWithNothingMarkedChangesNothing) {
  BasePtr b = BaseWithTags({1, 2, 3});
  QBaseSetRecordsChanged(b.get(), 0);
  std::string before = Snapshot(b.get());
  QBaseRemoveMarkedRecords(b.get());
  EXPECT_EQ(Snapshot(b.get()), before);
}

TEST(QBaseRecords, MarkingTwiceOrOutOfRangeIsHarmless) {
  BasePtr b = BaseWithTags({1, 2, 3});
  QBaseMarkRecordForRemoval(b.get(), 1);
  QBaseMarkRecordForRemoval(b.get(), 1);
  QBaseMarkRecordForRemoval(b.get(), 3);
  QBaseMarkRecordForRemoval(b.get(), -1);
  EXPECT_EQ(QBaseGetRecord(b.get(), 1, nullptr), nullptr);
  QBaseRemoveMarkedRecords(b.get());
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{1, 3}));
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

// Sorts by tag, descending, so that index and physical order differ.
SInt16 ByTagDescending(const void* a, SInt32, const void* b, SInt32) {
  UInt32 x = corvimus::LoadNative<UInt32>(a), y = corvimus::LoadNative<UInt32>(b);
  return x > y ? -1 : (x < y ? 1 : 0);
}

TEST(QBaseRecords, RemovingFromASortedBaseKeepsItsOrderAndMode) {
  BasePtr b = NewBase();
  const UInt32 tags[] = {5, 9, 1, 7, 3, 8, 2, 6, 4};
  for (UInt32 t : tags) Add(b.get(), Rec(t, 8 + t));  // varied slot sizes
  QBaseSort(b.get(), ByTagDescending, 200);
  ASSERT_EQ(Tags(b.get()), (std::vector<UInt32>{9, 8, 7, 6, 5, 4, 3, 2, 1}));
  // Mark 8, 5, 4 and 1 (positions 1, 4, 5, 8).
  for (SInt32 pos : {1, 4, 5, 8}) QBaseMarkRecordForRemoval(b.get(), pos);
  QBaseRemoveMarkedRecords(b.get());
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{9, 7, 6, 3, 2}));
  EXPECT_EQ(QBaseGetSortMode(b.get()), 200);
  for (SInt32 i = 0; i < 5; ++i)
    EXPECT_EQ(Get(b.get(), i), Rec(TagAt(b.get(), i), 8 + TagAt(b.get(), i)));
  EXPECT_EQ(QBaseValidate(b.get()), 1);
  SInt32 area = 0;
  QBaseGetSize(b.get(), &area);
  SInt32 expected = 0;
  for (UInt32 t : {9u, 7u, 6u, 3u, 2u}) expected += SInt32((18 + t + 1) & ~1u);
  EXPECT_EQ(area, expected);
}

TEST(QBaseRecords, RemovalWithoutMemoryForItsPermutationFallsBackToPhysicalOrder) {
  BasePtr b = NewBase();
  for (UInt32 t : {3u, 1u, 2u, 4u}) Add(b.get(), Rec(t));
  QBaseSort(b.get(), ByTagDescending, 128);
  QBaseMarkRecordForRemoval(b.get(), 2);  // tag 2
  MemoryFailAllocation(1);
  QBaseRemoveMarkedRecords(b.get());
  MemoryFailAllocation(0);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{3, 1, 4}));  // physical order
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 1);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseRecords, RebuildIndexDropsARecordThatRunsPastTheArea) {
  BasePtr b = BaseWithTags({1, 2, 3});
  // A recovering read rebuilds the index from the record area: give it two whole records and
  // half of a third.
  corvimus::testing::TempDir dir;
  std::string bytes = WriteToFile(b.get(), dir / "three");
  BasePtr r = NewBase();
  SInt16 repaired = 0;
  EXPECT_EQ(ReadBytes(r.get(), dir / "cut", bytes.substr(0, bytes.size() - 9), 1, 1, 0, 1, 0, 1,
                      &repaired),
            noErr);
  EXPECT_EQ(repaired, 1);
  EXPECT_EQ(Tags(r.get()), (std::vector<UInt32>{1, 2}));
  // Exactly two whole records and a count of three: still two.
  EXPECT_EQ(ReadBytes(r.get(), dir / "cut", bytes.substr(0, bytes.size() - 18), 1, 1, 0, 1, 0, 1,
                      &repaired),
            noErr);
  EXPECT_EQ(Tags(r.get()), (std::vector<UInt32>{1, 2}));
  EXPECT_EQ(QBaseValidate(r.get()), 1);
}

// ---- Moving index entries ----------------------------------------------------------------------

TEST(QBaseRecords, MoveIndexesPlacesTheSelectionAsOneRun) {
  struct Case {
    std::vector<UInt32> selected;
    SInt32 destination;
    std::vector<UInt32> expected;
  } cases[] = {
      {{1, 3}, 5, {0, 2, 4, 1, 3}},
      {{1, 3}, 0, {1, 3, 0, 2, 4}},
      {{1, 3}, 2, {0, 1, 3, 2, 4}},
      {{0, 4}, 3, {1, 2, 0, 4, 3}},
      {{2}, 99, {0, 1, 3, 4, 2}},
      {{4}, -3, {4, 0, 1, 2, 3}},
      {{0, 1, 2, 3, 4}, 2, {0, 1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    BasePtr b = BaseWithTags({0, 1, 2, 3, 4});
    gSelected = c.selected;
    EXPECT_EQ(QBaseMoveIndexes(b.get(), c.destination, SelectListed), noErr);
    EXPECT_EQ(Tags(b.get()), c.expected) << "destination " << c.destination;
    EXPECT_EQ(QBaseGetSortMode(b.get()), 0);
    EXPECT_EQ(QBaseValidate(b.get()), 1);
  }
}

TEST(QBaseRecords, MoveIndexesWithNothingSelectedOrNoMemoryLeavesTheOrder) {
  BasePtr b = BaseWithTags({0, 1, 2, 3, 4});
  gSelected = {};
  EXPECT_EQ(QBaseMoveIndexes(b.get(), 0, SelectListed), noErr);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  gSelected = {3};
  MemoryFailAllocation(1);
  EXPECT_EQ(QBaseMoveIndexes(b.get(), 0, SelectListed), memFullErr);
  MemoryFailAllocation(0);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{0, 1, 2, 3, 4}));
}

TEST(QBaseRecords, MoveIndexesWithAChangingSelectionReportsIoErrAndKeepsEveryEntry) {
  BasePtr b = BaseWithTags({0, 1, 2, 3, 4});
  gFlakyCalls = 0;
  EXPECT_EQ(QBaseMoveIndexes(b.get(), 5, SelectFlaky), ioErr);
  std::vector<UInt32> tags = Tags(b.get());
  std::sort(tags.begin(), tags.end());
  EXPECT_EQ(tags, (std::vector<UInt32>{0, 1, 2, 3, 4}));
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

// ---- Truncating, emptying, duplicating ---------------------------------------------------------

TEST(QBaseRecords, TruncateKeepsTheFirstRecordsWithoutMarkingChanges) {
  BasePtr b = BaseWithTags({1, 2, 3, 4});
  QBaseSetRecordsChanged(b.get(), 0);
  QBaseTruncate(b.get(), 2);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{1, 2}));
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);
  SInt32 area = 0;
  EXPECT_EQ(QBaseGetSize(b.get(), &area), 8 + 36 + 108);
  QBaseTruncate(b.get(), 5);
  QBaseTruncate(b.get(), -1);
  EXPECT_EQ(QBaseCountRecords(b.get()), 2);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseRecords, TruncatingASortedBaseKeepsTheFirstPositionsSound) {
  BasePtr b = BaseWithTags({1, 2, 3, 4, 5});
  QBaseSort(b.get(), ByTagDescending, 128);
  QBaseTruncate(b.get(), 2);
  EXPECT_EQ(Tags(b.get()), (std::vector<UInt32>{5, 4}));
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseRecords, EmptyKeepsUserFieldsAndUnlocks) {
  BasePtr b = BaseWithTags({1, 2});
  QBaseSetUserLong(b.get(), 9);
  QBaseSetUserBlock(b.get(), "u", 1);
  QBaseSetSortMode(b.get(), 300);
  QBaseLock(b.get());
  QBaseEmpty(b.get());
  EXPECT_EQ(QBaseCountRecords(b.get()), 0);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 1);
  EXPECT_EQ(QBaseGetUserLong(b.get()), 9);
  SInt32 size = 0;
  QBaseGetUserBlock(b.get(), &size);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(Add(b.get(), std::string(100000, 'x')), 0) << "blocks are no longer pinned";
}

TEST(QBaseRecords, DuplicateCopiesRecordsIndexAndFieldsButNotTheUserBlock) {
  BasePtr a = BaseWithTags({1, 2, 3}), c = BaseWithTags({7});
  QBaseSort(a.get(), ByTagDescending, 129);
  QBaseSetUserWord(a.get(), 12);
  QBaseSetUserBlock(a.get(), "abc", 3);
  EXPECT_EQ(QBaseDuplicate(a.get(), c.get()), noErr);
  EXPECT_EQ(Tags(c.get()), (std::vector<UInt32>{3, 2, 1}));
  EXPECT_EQ(QBaseGetSortMode(c.get()), 129);
  EXPECT_EQ(QBaseGetUserWord(c.get()), 12);
  SInt32 size = 9;
  QBaseGetUserBlock(c.get(), &size);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(QBaseValidate(c.get()), 1);
  // The copy is independent.
  QBaseReplaceRecord(c.get(), 0, "zz", 2);
  EXPECT_EQ(TagAt(a.get(), 0), 3u);

  BasePtr other = NewBase(4, FourCC("Othr"));
  EXPECT_EQ(QBaseDuplicate(a.get(), other.get()), paramErr);

  BasePtr big = BaseWithTags({1, 2, 3, 4, 5, 6}), d = BaseWithTags({8});
  for (long step = 1; step <= 2; ++step) {
    MemoryFailAllocation(step);
    EXPECT_EQ(QBaseDuplicate(big.get(), d.get()), memFullErr) << step;
    MemoryFailAllocation(0);
    EXPECT_EQ(QBaseCountRecords(d.get()), 0) << "a failed copy leaves an empty base";
    EXPECT_EQ(QBaseValidate(d.get()), 1);
    Add(d.get(), Rec(8));
  }
}
