#include <gtest/gtest.h>

#include <cstring>

#include "platform/MacMemory.h"

namespace {
struct HandleDeleter {
  void operator()(char** h) const { DisposeHandle(h); }
};
using HandlePtr = std::unique_ptr<char*, HandleDeleter>;
}  // namespace

TEST(MacMemory, HandlesGrowAndShrinkKeepingTheirContents) {
  HandlePtr h(NewHandleClear(8));
  ASSERT_TRUE(h);
  EXPECT_EQ(GetHandleSize(h.get()), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ((*h)[i], 0);
  std::memcpy(*h, "abcdefgh", 8);
  for (Size size = 9; size < 5000; size = size * 3 / 2 + 1) {
    SetHandleSize(h.get(), size);
    ASSERT_EQ(MemError(), noErr);
    ASSERT_EQ(GetHandleSize(h.get()), size);
    ASSERT_EQ(std::memcmp(*h, "abcdefgh", 8), 0);
  }
  SetHandleSize(h.get(), 3);
  EXPECT_EQ(std::memcmp(*h, "abc", 3), 0);
  SetHandleSize(h.get(), 0);
  EXPECT_EQ(*h, nullptr) << "an empty block has no storage";
  SetHandleSize(h.get(), 2);
  EXPECT_NE(*h, nullptr);
  SetHandleSize(h.get(), -1);
  EXPECT_EQ(MemError(), paramErr);
  EXPECT_EQ(GetHandleSize(h.get()), 2);
}

TEST(MacMemory, LockedBlockNeverMovesAndRefusesToGrowPastItsRoom) {
  HandlePtr h(NewHandle(16));
  std::memcpy(*h, "0123456789abcdef", 16);
  HLock(h.get());
  EXPECT_TRUE(HIsLocked(h.get()));
  char* where = *h;
  SetHandleSize(h.get(), 1 << 20);
  EXPECT_EQ(MemError(), memLockedErr);
  EXPECT_EQ(GetHandleSize(h.get()), 16);
  EXPECT_EQ(*h, where);
  SetHandleSize(h.get(), 4);  // shrinking in place is always possible
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(*h, where);
  SetHandleSize(h.get(), 16);  // back into its own room
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(*h, where);
  EXPECT_EQ(std::memcmp(*h, "0123", 4), 0);
  HUnlock(h.get());
  SetHandleSize(h.get(), 1 << 20);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(std::memcmp(*h, "0123", 4), 0);
  HLockHi(h.get());
  EXPECT_TRUE(HIsLocked(h.get()));
}

TEST(MacMemory, FailureSeamFailsTheNthAllocationOnly) {
  long before = MemoryAllocationCount();
  MemoryFailAllocation(3);
  HandlePtr a(NewHandle(1));
  Ptr p = NewPtr(10);
  EXPECT_TRUE(a);
  EXPECT_NE(p, nullptr);
  SetHandleSize(a.get(), 100);  // the third
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(a.get()), 1);
  SetHandleSize(a.get(), 100);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(MemoryAllocationCount() - before, 4);
  // Shrinking is not an allocation.
  SetHandleSize(a.get(), 1);
  EXPECT_EQ(MemoryAllocationCount() - before, 4);
  MemoryFailAllocation(1);
  EXPECT_EQ(NewHandleClear(5), nullptr);
  EXPECT_EQ(MemError(), memFullErr);
  MemoryFailAllocation(1);
  Handle copy = nullptr;
  EXPECT_EQ(PtrToHand("xy", &copy, 2), memFullErr);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(PtrToHand("xy", &copy, 2), noErr);
  EXPECT_EQ(std::memcmp(*copy, "xy", 2), 0);
  DisposeHandle(copy);
  DisposePtr(p);
}

TEST(MacMemory, PointersKnowTheirSize) {
  Ptr p = NewPtrClear(33);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 33);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(p[i], 0);
  BlockMoveData("hello", p + 1, 5);
  BlockMoveData(p + 1, p, 5);  // overlapping
  EXPECT_EQ(std::memcmp(p, "hello", 5), 0);
  DisposePtr(p);
  EXPECT_EQ(NewPtr(-1), nullptr);
  EXPECT_EQ(MemError(), paramErr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
}
