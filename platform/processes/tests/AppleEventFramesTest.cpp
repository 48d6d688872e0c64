#include <gtest/gtest.h>

#include <vector>

#include "platform/AppleEventFrames.h"
#include "platform/ByteOrder.h"

using namespace corvimus::ae;

namespace {

FrameMessage Sample() {
  FrameMessage m;
  m.kind = kFrameEvent;
  m.flags = kFrameFlagWantsReply;
  m.eventClass = FourCC("CvMP");
  m.eventID = FourCC("CVco");
  m.returnID = 7;
  m.transactionID = -3;
  m.params.push_back({FourCC("----"), FourCC("CVct"), std::vector<UInt8>(1804, 0x5A)});
  m.params.push_back({FourCC("errn"), FourCC("long"), {1, 2, 3, 4}});
  m.params.push_back({FourCC("empt"), FourCC("null"), {}});
  return m;
}

TEST(AppleEventFrames, RoundTripKeepsEveryField) {
  std::vector<UInt8> bytes;
  ASSERT_TRUE(EncodeFrame(Sample(), &bytes));
  EXPECT_EQ(bytes.size(), kFrameHeaderSize + kFrameBodyFixedSize + 3 * 12 + 1804 + 4);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "CvAE");
  EXPECT_EQ(corvimus::LoadU32LE(bytes.data() + 8), bytes.size() - kFrameHeaderSize);
  FrameMessage m;
  size_t consumed = 0;
  ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), &m, &consumed), FrameStatus::kComplete);
  EXPECT_EQ(consumed, bytes.size());
  FrameMessage s = Sample();
  EXPECT_EQ(m.flags, s.flags);
  EXPECT_EQ(m.eventClass, s.eventClass);
  EXPECT_EQ(m.eventID, s.eventID);
  EXPECT_EQ(m.returnID, 7);
  EXPECT_EQ(m.transactionID, -3);
  ASSERT_EQ(m.params.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m.params[i].keyword, s.params[i].keyword);
    EXPECT_EQ(m.params[i].type, s.params[i].type);
    EXPECT_EQ(m.params[i].data, s.params[i].data);
  }
}

TEST(AppleEventFrames, EveryPrefixOfAFrameIsIncompleteAndTwoFramesComeApart) {
  std::vector<UInt8> bytes;
  ASSERT_TRUE(EncodeFrame(Sample(), &bytes));
  FrameMessage m;
  size_t consumed;
  for (size_t n = 0; n < bytes.size(); ++n)
    ASSERT_EQ(DecodeFrame(bytes.data(), n, &m, &consumed), FrameStatus::kIncomplete) << n;
  size_t one = bytes.size();
  ASSERT_TRUE(EncodeFrame(Sample(), &bytes));
  ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), &m, &consumed), FrameStatus::kComplete);
  EXPECT_EQ(consumed, one);
}

TEST(AppleEventFrames, DamagedHeadersAndBodiesAreRefused) {
  std::vector<UInt8> good;
  ASSERT_TRUE(EncodeFrame(Sample(), &good));
  FrameMessage m;
  size_t consumed;
  auto decode = [&](std::vector<UInt8> b) {
    return DecodeFrame(b.data(), b.size(), &m, &consumed);
  };
  auto with = [&](size_t offset, UInt32 value) {
    std::vector<UInt8> b = good;
    corvimus::StoreU32LE(b.data() + offset, value);
    return b;
  };
  EXPECT_EQ(decode({'X'}), FrameStatus::kMalformed);  // garbage is refused at its first byte
  EXPECT_EQ(decode(with(4, 2 | (1u << 16))), FrameStatus::kMalformed);             // version 2
  EXPECT_EQ(decode(with(4, 1 | (3u << 16))), FrameStatus::kMalformed);             // kind 3
  EXPECT_EQ(decode(with(8, kMaxFrameBody + 1)), FrameStatus::kMalformed);          // oversized
  EXPECT_EQ(decode(with(8, 4)), FrameStatus::kMalformed);                          // too short
  EXPECT_EQ(decode(with(12, 2)), FrameStatus::kMalformed);                         // unknown flag
  EXPECT_EQ(decode(with(16 + 16, kMaxFrameParams + 1)), FrameStatus::kMalformed);  // count
  EXPECT_EQ(decode(with(16 + 16, 2)), FrameStatus::kMalformed);  // body longer than its params
  EXPECT_EQ(decode(with(16 + 16, 4)), FrameStatus::kMalformed);  // params past the body
  EXPECT_EQ(decode(with(16 + 20 + 8, 0xFFFFFFF0)), FrameStatus::kMalformed);  // param length
}

TEST(AppleEventFrames, FlippingAnyByteNeverReadsOutOfBounds) {
  std::vector<UInt8> good;
  ASSERT_TRUE(EncodeFrame(Sample(), &good));
  for (size_t i = 0; i < good.size(); ++i) {
    for (UInt8 mask : {UInt8(0x01), UInt8(0x80), UInt8(0xFF)}) {
      std::vector<UInt8> b = good;
      b[i] ^= mask;
      FrameMessage m;
      size_t consumed = 0;
      FrameStatus s = DecodeFrame(b.data(), b.size(), &m, &consumed);
      if (s == FrameStatus::kComplete) {
        EXPECT_LE(consumed, b.size());
      }
      if (i < 12) {
        EXPECT_NE(s, FrameStatus::kComplete) << i;
      }
    }
  }
}

TEST(AppleEventFrames, MessagesTooLargeForOneFrameAreNotEncoded) {
  FrameMessage m;
  m.params.push_back({1, 2, std::vector<UInt8>(kMaxFrameBody, 0)});
  std::vector<UInt8> bytes;
  EXPECT_FALSE(EncodeFrame(m, &bytes));
  FrameMessage many;
  for (UInt32 i = 0; i <= kMaxFrameParams; ++i) many.params.push_back({i, 0, {}});
  EXPECT_FALSE(EncodeFrame(many, &bytes));
}

}  // namespace
