#include <gtest/gtest.h>

#include "QBaseTestUtil.h"

using namespace qbtest;

namespace {

SInt16 All(const void*, SInt32, SInt32) {
  return 1;
}
SInt16 None(const void*, SInt32, SInt32) {
  return 0;
}
SInt16 EvenTags(const void* d, SInt32 size, SInt32) {
  return size >= 4 && corvimus::LoadNative<UInt32>(d) % 2 == 0;
}

struct ExchangeDeleter {
  void operator()(char** h) const { QBaseDisposeExchange(h); }
};
using ExchangePtr = std::unique_ptr<char*, ExchangeDeleter>;

BasePtr BaseWithTags(std::initializer_list<UInt32> tags) {
  BasePtr b = NewBase();
  for (UInt32 t : tags) Add(b.get(), Rec(t, 4 + t));
  return b;
}

}  // namespace

TEST(QBaseExchange, BufferLayoutHoldsTheSelectionInIndexOrder) {
  BasePtr b = BaseWithTags({1, 2, 3, 4});
  QBaseSetRecordFlags(b.get(), 1, 33);
  ExchangePtr x(QBaseGetExchange(b.get(), EvenTags));
  ASSERT_TRUE(x);
  SInt32 size = 0;
  char* p = static_cast<char*>(QBaseLockExchange(x.get(), &size));
  // 20-byte header, two records (slots 16 and 18), one trailing byte.
  ASSERT_EQ(size, 20 + 16 + 18 + 1);
  EXPECT_EQ(corvimus::LoadNative<OSType>(p), kQBaseExchangeSignature);
  EXPECT_EQ(corvimus::LoadNative<OSType>(p + 4), kQBaseSignature);
  EXPECT_EQ(corvimus::LoadNative<OSType>(p + 8), kType);
  EXPECT_EQ(corvimus::LoadNative<UInt16>(p + 12), 2);
  EXPECT_EQ(corvimus::LoadNative<UInt16>(p + 14), kTypeVersion);
  EXPECT_EQ(corvimus::LoadNative<SInt32>(p + 16), 2);
  EXPECT_EQ(corvimus::LoadNative<SInt16>(p + 28), 33) << "records are copied whole";
  QBaseUnlockExchange(x.get());
  EXPECT_EQ(QBaseCountExchangeRecords(x.get()), 2);
  SInt32 recSize = 0;
  char* r = static_cast<char*>(QBaseGetExchangeRecord(x.get(), 1, &recSize));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(r, recSize), Rec(4, 8));
  recSize = -5;
  EXPECT_EQ(QBaseGetExchangeRecord(x.get(), 2, &recSize), nullptr);
  EXPECT_EQ(recSize, -5);
}

TEST(QBaseExchange, EmptySelectionMakesA21ByteBufferThatAddsNothing) {
  BasePtr b = BaseWithTags({1, 2});
  ExchangePtr x(QBaseGetExchange(b.get(), None));
  ASSERT_TRUE(x);
  EXPECT_EQ(GetHandleSize(x.get()), 21);
  EXPECT_EQ(QBaseCountExchangeRecords(x.get()), 0);
  BasePtr c = BaseWithTags({5});
  QBaseSetRecordsChanged(c.get(), 0);
  QBaseSetSortMode(c.get(), 140);
  EXPECT_EQ(QBasePutExchange(c.get(), x.get(), 0, 0), 0);
  EXPECT_EQ(QBaseGetRecordsChanged(c.get()), 0);
  EXPECT_EQ(QBaseGetSortMode(c.get()), 140);
}

TEST(QBaseExchange, PutIntoAnEmptyBaseKeepsPhysicalOrder) {
  BasePtr b = BaseWithTags({1, 2, 3});
  QBaseSetRecordFlags(b.get(), 0, 4);
  ExchangePtr x(QBaseGetExchange(b.get(), All));
  BasePtr c = NewBase();
  QBaseSetSortMode(c.get(), 150);  // an empty base that was sorted once
  EXPECT_EQ(QBasePutExchange(c.get(), x.get(), 0, 0), 3);
  EXPECT_EQ(Tags(c.get()), (std::vector<UInt32>{1, 2, 3}));
  EXPECT_EQ(QBaseGetSortMode(c.get()), 1);
  EXPECT_EQ(QBaseGetRecordsChanged(c.get()), 1);
  EXPECT_EQ(QBaseGetRecordFlags(c.get(), 0), 0) << "flags in the buffer are not used";
  EXPECT_EQ(Get(c.get(), 2), Rec(3, 7));
}

TEST(QBaseExchange, PutIntoANonEmptyBaseAtAPositionWithFlags) {
  BasePtr src = BaseWithTags({100, 101, 102});
  ExchangePtr x(QBaseGetExchange(src.get(), All));
  BasePtr c = BaseWithTags({0, 1, 2, 3, 4});
  EXPECT_EQ(QBasePutExchange(c.get(), x.get(), 2, 7), 3);
  EXPECT_EQ(Tags(c.get()), (std::vector<UInt32>{0, 1, 100, 101, 102, 2, 3, 4}));
  EXPECT_EQ(QBaseGetSortMode(c.get()), 0);
  for (SInt32 i = 2; i < 5; ++i) EXPECT_EQ(QBaseGetRecordFlags(c.get(), i), 7);
  EXPECT_EQ(QBaseGetRecordFlags(c.get(), 5), 0);
  EXPECT_EQ(QBaseValidate(c.get()), 1);
  // A position outside the old records puts them at the end.
  BasePtr d = BaseWithTags({0, 1});
  EXPECT_EQ(QBasePutExchange(d.get(), x.get(), 2, 0), 3);
  EXPECT_EQ(Tags(d.get()), (std::vector<UInt32>{0, 1, 100, 101, 102}));
}

TEST(QBaseExchange, ForeignOrDamagedBuffersAddNothing) {
  BasePtr src = BaseWithTags({1, 2, 3});
  ExchangePtr x(QBaseGetExchange(src.get(), All));
  BasePtr other = NewBase(4, kType, kTypeVersion + 1);
  EXPECT_EQ(QBasePutExchange(other.get(), x.get(), 0, 0), 0);
  EXPECT_EQ(QBaseCountRecords(other.get()), 0);

  SInt32 size = 0;
  char* p = static_cast<char*>(QBaseLockExchange(x.get(), &size));
  corvimus::StoreNative<SInt32>(p + 16, 4);  // stored count altered
  EXPECT_EQ(QBaseCountExchangePtrRecords(p, size), 0);
  corvimus::StoreNative<SInt32>(p + 16, 3);
  EXPECT_EQ(QBaseCountExchangePtrRecords(p, size), 3);
  // A slot size that runs past the end stops the walk at that record.
  std::string damaged(p, size_t(size));
  corvimus::StoreNative<UInt32>(&damaged[20 + 14], 100000);
  BasePtr c = NewBase();
  EXPECT_EQ(QBasePutExchangePtr(c.get(), damaged.data(), size, 0, 0), 1);
  EXPECT_EQ(QBaseCountExchangePtrRecords(damaged.data(), size), 0);
  corvimus::StoreNative<UInt32>(&damaged[20 + 14], 0);  // a zero slot must not loop forever
  EXPECT_EQ(QBaseCountExchangePtrRecords(damaged.data(), size), 0);
  std::string badSig(p, size_t(size));
  badSig[0] ^= 1;
  EXPECT_EQ(QBasePutExchangePtr(c.get(), badSig.data(), size, 0, 0), 0);
  EXPECT_EQ(QBaseCountExchangePtrRecords(badSig.data(), size), 0);
  EXPECT_EQ(QBasePutExchangePtr(c.get(), p, 21, 0, 0), 0);
  QBaseUnlockExchange(x.get());
  EXPECT_EQ(QBaseCountExchangeRecords(nullptr), 0);
  EXPECT_EQ(QBaseGetExchange(nullptr, All), nullptr);
  EXPECT_EQ(QBaseGetExchange(src.get(), nullptr), nullptr);
}

TEST(QBaseExchange, PutStopsAtTheFirstFailedAddAndKeepsWhatWasAdded) {
  BasePtr src = BaseWithTags({1, 2, 3});
  ExchangePtr x(QBaseGetExchange(src.get(), All));
  BasePtr c = NewBase(1);
  // Each add takes two allocations (area and index); the fourth allocation is the second add's.
  MemoryFailAllocation(4);
  EXPECT_EQ(QBasePutExchange(c.get(), x.get(), 0, 0), 1);
  MemoryFailAllocation(0);
  EXPECT_EQ(Tags(c.get()), (std::vector<UInt32>{1}));
  EXPECT_EQ(QBaseValidate(c.get()), 1);
  MemoryFailAllocation(1);
  EXPECT_EQ(QBaseGetExchange(src.get(), All), nullptr);
  MemoryFailAllocation(0);
}
