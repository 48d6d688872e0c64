#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "QBaseTestUtil.h"
#include "recordbase/FastSort.h"

using namespace qbtest;

namespace {

int gCompares = 0;
SInt16 ByTag(const void* a, SInt32, const void* b, SInt32) {
  ++gCompares;
  UInt32 x = corvimus::LoadNative<UInt32>(a), y = corvimus::LoadNative<UInt32>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}
SInt16 ByTagCancelling(const void* a, SInt32 sa, const void* b, SInt32 sb) {
  if (gCompares == 10) CancelFastQSort();
  return ByTag(a, sa, b, sb);
}
// The key is a tag; records compare by their first four bytes.
SInt16 KeyByTag(const void* key, SInt32 keySize, const void* rec, SInt32) {
  EXPECT_EQ(keySize, 4);
  return ByTag(key, 4, rec, 4);
}

SInt32 IntCompare(const void* a, const void* b) {
  ++gCompares;
  SInt32 x = corvimus::LoadNative<SInt32>(a), y = corvimus::LoadNative<SInt32>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

struct Wide {
  UInt32 key;
  char payload[13];
};
SInt32 WideCompare(const void* a, const void* b) {
  UInt32 x = static_cast<const Wide*>(a)->key, y = static_cast<const Wide*>(b)->key;
  return x < y ? -1 : (x > y ? 1 : 0);
}

BasePtr Shuffled(int n, unsigned seed) {
  std::vector<UInt32> tags(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) tags[size_t(i)] = UInt32(i * 2);
  std::mt19937 rng(seed);
  std::shuffle(tags.begin(), tags.end(), rng);
  BasePtr b = NewBase(16);
  for (UInt32 t : tags) Add(b.get(), Rec(t, 4 + t % 7));
  return b;
}

}  // namespace

TEST(FastSort, SortsAnyElementSizeAgainstStdSort) {
  std::mt19937 rng(5);
  for (int n : {2, 3, 24, 25, 26, 100, 1000, 5000}) {
    std::vector<SInt32> v(static_cast<size_t>(n));
    for (auto& x : v) x = SInt32(rng() % 50) - 25;  // many equal elements
    std::vector<SInt32> expected = v;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(FastQSort(v.data(), n, 4, IntCompare), noErr);
    EXPECT_EQ(v, expected) << n;

    std::vector<Wide> w(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      w[size_t(i)].key = UInt32(rng() % 1000);
      std::snprintf(w[size_t(i)].payload, sizeof w[size_t(i)].payload, "p%u", w[size_t(i)].key);
    }
    ASSERT_EQ(FastQSort(w.data(), n, sizeof(Wide), WideCompare), noErr);
    for (int i = 1; i < n; ++i) ASSERT_LE(w[size_t(i - 1)].key, w[size_t(i)].key);
    for (const Wide& e : w) EXPECT_EQ(std::string(e.payload), "p" + std::to_string(e.key));
  }
}

TEST(FastSort, AllEqualAndTinyArraysFinish) {
  std::vector<SInt32> same(10000, 3);
  gCompares = 0;
  EXPECT_EQ(FastQSort(same.data(), 10000, 4, IntCompare), noErr);
  // Equal elements stop both scans and split the range evenly: n log n, not n squared.
  EXPECT_LT(gCompares, 10000 * 40);
  SInt32 one = 1;
  gCompares = 0;
  EXPECT_EQ(FastQSort(&one, 1, 4, IntCompare), noErr);
  EXPECT_EQ(FastQSort(&one, 0, 4, IntCompare), noErr);
  EXPECT_EQ(gCompares, 0);
}

TEST(FastSort, CancelStopsTheSort) {
  std::vector<SInt32> v(1000);
  for (int i = 0; i < 1000; ++i) v[size_t(i)] = (i * 7919) % 1000;
  gCompares = 0;
  OSErr err = FastQSort(v.data(), 1000, 4, [](const void* a, const void* b) -> SInt32 {
    if (++gCompares == 50) CancelFastQSort();
    SInt32 x = *static_cast<const SInt32*>(a), y = *static_cast<const SInt32*>(b);
    return x - y;
  });
  EXPECT_EQ(err, userCanceledErr);
  EXPECT_LT(gCompares, 2000);
  // The next sort starts with a clear flag.
  EXPECT_EQ(FastQSort(v.data(), 1000, 4, IntCompare), noErr);
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
}

TEST(FastSort, BinarySearchFindsEveryElementAndNothingElse) {
  std::vector<SInt32> v;
  for (SInt32 i = 0; i < 101; ++i) v.push_back(i * 3);
  for (SInt32 i = 0; i < 101; ++i) {
    SInt32 key = i * 3;
    EXPECT_EQ(FastBSearch(&key, v.data(), 101, 4, IntCompare), &v[size_t(i)]);
    key = i * 3 + 1;
    EXPECT_EQ(FastBSearch(&key, v.data(), 101, 4, IntCompare), nullptr);
  }
  gCompares = 0;
  SInt32 key = 0;
  EXPECT_EQ(FastBSearch(&key, v.data(), 0, 4, IntCompare), nullptr);
  EXPECT_EQ(gCompares, 0);
}

TEST(QBaseSort, SortsTheIndexOnlyAndSetsTheMode) {
  BasePtr b = Shuffled(300, 1);
  SInt32 areaBefore = 0;
  QBaseGetSize(b.get(), &areaBefore);
  void* firstPhysical = QBaseGetRecord(b.get(), 0, nullptr);
  QBaseSetRecordsChanged(b.get(), 0);
  QBaseSort(b.get(), ByTag, 5);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 128);
  std::vector<UInt32> tags = Tags(b.get());
  EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()));
  EXPECT_EQ(tags.size(), 300u);
  EXPECT_EQ(QBaseGetRecordsChanged(b.get()), 0);
  EXPECT_EQ(QBaseFindLongHeader(b.get(), corvimus::LoadNative<UInt32>(firstPhysical)),
            firstPhysical)
      << "records did not move";
  QBaseSort(b.get(), ByTag, 300);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 300);
  QBaseSort(b.get(), ByTag, -3);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 128);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseSort, EmptyAndSingleBasesSortWithoutComparing) {
  BasePtr e = NewBase(), one = NewBase();
  Add(one.get(), Rec(1));
  gCompares = 0;
  QBaseSort(e.get(), ByTag, 128);
  QBaseSort(one.get(), ByTag, 129);
  EXPECT_EQ(gCompares, 0);
  EXPECT_EQ(QBaseGetSortMode(e.get()), 128);
  EXPECT_EQ(QBaseGetSortMode(one.get()), 129);
}

TEST(QBaseSort, CancelledSortLeavesModeZero) {
  BasePtr b = Shuffled(200, 2);
  gCompares = 0;
  QBaseSort(b.get(), ByTagCancelling, 128);
  EXPECT_EQ(QBaseGetSortMode(b.get()), 0);
  EXPECT_EQ(QBaseValidate(b.get()), 1);
}

TEST(QBaseSort, SortTrackFollowsOneRecordAndClearsAllFlags) {
  BasePtr b = Shuffled(50, 3);
  UInt32 tracked = TagAt(b.get(), 2);
  QBaseSetRecordFlags(b.get(), 7, 9);
  SInt32 pos = QBaseSortTrack(b.get(), ByTag, 128, 2);
  ASSERT_GE(pos, 0);
  EXPECT_EQ(TagAt(b.get(), pos), tracked);
  EXPECT_EQ(pos, SInt32(tracked / 2));
  for (SInt32 i = 0; i < 50; ++i) EXPECT_EQ(QBaseGetRecordFlags(b.get(), i), 0);
  BasePtr c = Shuffled(20, 4);
  EXPECT_EQ(QBaseSortTrack(c.get(), ByTag, 128, -1), -1);
  std::vector<UInt32> tags = Tags(c.get());
  EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()));
  EXPECT_EQ(QBaseSortTrack(nullptr, ByTag, 128, 0), -1);
  EXPECT_EQ(QBaseSortTrack(c.get(), nullptr, 128, 0), -1);
}

TEST(QBaseSort, SearchFindsRecordsWithinTheGivenMaximum) {
  BasePtr b = Shuffled(100, 6);
  QBaseSort(b.get(), ByTag, 128);
  for (UInt32 t = 0; t < 200; ++t) {
    SInt32 pos = QBaseSearch(b.get(), KeyByTag, &t, 4);
    EXPECT_EQ(pos, t % 2 ? -1 : SInt32(t / 2)) << t;
  }
  UInt32 key = 10;  // at position 5
  EXPECT_EQ(QBaseSearchMax(b.get(), 3, KeyByTag, &key, 4), -1);
  EXPECT_EQ(QBaseSearchMax(b.get(), 6, KeyByTag, &key, 4), 5);
  EXPECT_EQ(QBaseSearchMax(b.get(), 1000, KeyByTag, &key, 4), 5);
  EXPECT_EQ(QBaseSearch(b.get(), KeyByTag, nullptr, 4), -1);
  EXPECT_EQ(QBaseSearch(b.get(), KeyByTag, &key, 0), -1);
  EXPECT_EQ(QBaseSearch(b.get(), nullptr, &key, 4), -1);
}
