#include <gtest/gtest.h>

#include "platform/ByteOrder.h"
#include "platform/MacTypes.h"

using namespace corvimus;

TEST(FourCC, PacksTheCharactersHighByteFirst) {
  EXPECT_EQ(FourCC("CvBa"), 0x43764261u);
  EXPECT_EQ(FourCC("????"), 0x3F3F3F3Fu);
  EXPECT_EQ(FourCC("psn "), 0x70736E20u);
}

TEST(ByteOrder, LoadsAndStoresAtOddOffsetsInBothOrders) {
  unsigned char buf[11] = {};
  StoreU32BE(buf + 1, 0x01020304);
  EXPECT_EQ(buf[1], 1);
  EXPECT_EQ(buf[4], 4);
  EXPECT_EQ(LoadU32BE(buf + 1), 0x01020304u);
  EXPECT_EQ(LoadU32LE(buf + 1), 0x04030201u);
  StoreU16LE(buf + 7, 0xABCD);
  EXPECT_EQ(LoadU16LE(buf + 7), 0xABCD);
  EXPECT_EQ(LoadU16BE(buf + 7), 0xCDAB);
  StoreU64LE(buf + 3, 0x1122334455667788ull);
  EXPECT_EQ(LoadU64LE(buf + 3), 0x1122334455667788ull);
  SwapBytesInPlace(buf + 3, 4);
  EXPECT_EQ(LoadU32BE(buf + 3), 0x55667788u);
}
