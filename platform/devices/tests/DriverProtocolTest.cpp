#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/DriverProtocol.h"

using namespace corvimus;

namespace {

std::vector<UInt8> Encode(const DriverFrame& frame) {
  std::vector<UInt8> bytes;
  EXPECT_EQ(EncodeDriverFrame(frame, &bytes), noErr);
  return bytes;
}

DriverDecodeResult Decode(const std::vector<UInt8>& bytes, DriverFrame* frame,
                          size_t* consumed = nullptr) {
  size_t used = 0;
  DriverDecodeResult r = DecodeDriverFrame(bytes.data(), bytes.size(), frame, &used);
  if (consumed) *consumed = used;
  return r;
}

// One frame of every type with every field set, so a field the codec forgets shows up.
std::vector<DriverFrame> SampleFrames() {
  std::vector<DriverFrame> frames;
  DriverFrame f;
  f.type = kDriverFrameHello;
  f.requestId = 1;
  frames.push_back(f);
  f.type = kDriverFrameHelloReply;
  frames.push_back(f);
  f = {};
  f.type = kDriverFramePing;
  f.requestId = 7;
  frames.push_back(f);
  f.type = kDriverFramePong;
  frames.push_back(f);
  f = {};
  f.type = kDriverFramePublish;
  f.serviceId = 42;
  f.className = "Corvimus";
  f.properties = {{"Product", "Corvimus Optical Mouse"}, {"Transport", "USB"}, {"Empty", ""}};
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameTerminate;
  f.serviceId = 42;
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameOpen;
  f.requestId = 3;
  f.serviceId = 42;
  f.openType = 5;
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameOpenReply;
  f.requestId = 3;
  f.result = -536870206;  // kIOReturnBadArgument as a signed value
  f.connectionId = 9;
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameClose;
  f.connectionId = 9;
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameCloseReply;
  f.result = 0;
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameCall;
  f.requestId = 0xFFFFFFFF;
  f.connectionId = 9;
  f.selector = 2;
  f.scalarCount = kDriverMaxScalars;
  for (UInt32 i = 0; i < kDriverMaxScalars; ++i) f.scalars[i] = 0x0102030405060708ull * (i + 1);
  f.scalarOutWanted = 3;
  f.structOutSize = 180;
  f.data.assign(1012, 0xA5);
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameCallReply;
  f.result = 0;
  f.scalarCount = 2;
  f.scalars[0] = 1;
  f.scalars[1] = ~0ull;
  f.data.assign(180, 0x5A);
  frames.push_back(f);
  f = {};
  f.type = kDriverFrameInterest;
  f.serviceId = 42;
  f.connectionId = 9;
  f.messageType = 0xE0000010;
  f.data = {1, 2, 3};
  frames.push_back(f);
  return frames;
}

}  // namespace

TEST(DriverProtocol, EveryFrameTypeRoundTripsWithAllItsFields) {
  for (const DriverFrame& frame : SampleFrames()) {
    std::vector<UInt8> bytes = Encode(frame);
    EXPECT_EQ(LoadU32LE(bytes.data()), bytes.size());
    EXPECT_EQ(bytes[4], kDriverProtocolVersion);
    EXPECT_EQ(bytes[5], frame.type);
    DriverFrame back;
    size_t consumed = 0;
    ASSERT_EQ(Decode(bytes, &back, &consumed), kDriverDecodeOK) << int(frame.type);
    EXPECT_EQ(consumed, bytes.size());
    EXPECT_EQ(back.requestId, frame.requestId);
    EXPECT_EQ(back.serviceId, frame.serviceId);
    EXPECT_EQ(back.connectionId, frame.connectionId);
    EXPECT_EQ(back.selector, frame.selector);
    EXPECT_EQ(back.openType, frame.openType);
    EXPECT_EQ(back.messageType, frame.messageType);
    EXPECT_EQ(back.result, frame.result);
    EXPECT_EQ(back.className, frame.className);
    EXPECT_EQ(back.properties, frame.properties);
    EXPECT_EQ(back.scalarCount, frame.scalarCount);
    for (UInt32 i = 0; i < frame.scalarCount; ++i) EXPECT_EQ(back.scalars[i], frame.scalars[i]);
    EXPECT_EQ(back.scalarOutWanted, frame.scalarOutWanted);
    EXPECT_EQ(back.structOutSize, frame.structOutSize);
    EXPECT_EQ(back.data, frame.data);
    EXPECT_EQ(CheckDriverFrameRoundTrip(bytes.data(), bytes.size()), 0);
  }
}

TEST(DriverProtocol, FieldsAreLittleEndianAtTheDocumentedOffsets) {
  DriverFrame call;
  call.type = kDriverFrameCall;
  call.requestId = 0x01020304;
  call.connectionId = 0x11223344;
  call.selector = 1;
  call.scalarCount = 2;
  call.scalars[0] = 0xAABBCCDD;
  call.scalars[1] = 0x43567364;
  call.scalarOutWanted = 1;
  call.structOutSize = 180;
  std::vector<UInt8> b = Encode(call);
  ASSERT_EQ(b.size(), 12u + 20u + 16u);
  EXPECT_EQ(LoadU32LE(&b[8]), 0x01020304u);
  EXPECT_EQ(LoadU32LE(&b[12]), 0x11223344u);
  EXPECT_EQ(LoadU32LE(&b[16]), 1u);
  EXPECT_EQ(b[20], 2);
  EXPECT_EQ(b[21], 1);
  EXPECT_EQ(LoadU32LE(&b[24]), 0u);
  EXPECT_EQ(LoadU32LE(&b[28]), 180u);
  EXPECT_EQ(LoadU64LE(&b[32]), 0xAABBCCDDull);
  EXPECT_EQ(LoadU64LE(&b[40]), 0x43567364ull);
}

TEST(DriverProtocol, HeaderFaultsAreRefusedAsSoonAsTheirBytesArrive) {
  // A huge length is refused on its four bytes alone: nothing waits for a 4 GB body.
  std::vector<UInt8> huge = {0xFF, 0xFF, 0xFF, 0x7F};
  DriverFrame f;
  EXPECT_EQ(Decode(huge, &f), kDriverDecodeMalformed);
  std::vector<UInt8> tooShort = {11, 0, 0, 0};
  EXPECT_EQ(Decode(tooShort, &f), kDriverDecodeMalformed);
  std::vector<UInt8> justOver = {0, 0, 0, 0};
  StoreU32LE(justOver.data(), kDriverMaxFrameSize + 1);
  EXPECT_EQ(Decode(justOver, &f), kDriverDecodeMalformed);

  DriverFrame ping;
  ping.type = kDriverFramePing;
  std::vector<UInt8> good = Encode(ping);
  auto broken = [&](size_t offset, UInt8 value) {
    std::vector<UInt8> b = good;
    b[offset] = value;
    b.resize(offset + 1);  // only the bytes up to the fault
    return Decode(b, &f);
  };
  EXPECT_EQ(broken(4, 2), kDriverDecodeMalformed);   // version
  EXPECT_EQ(broken(5, 0), kDriverDecodeMalformed);   // type
  EXPECT_EQ(broken(5, 14), kDriverDecodeMalformed);  // type
  EXPECT_EQ(broken(6, 1), kDriverDecodeMalformed);   // reserved
  EXPECT_EQ(broken(7, 1), kDriverDecodeMalformed);   // reserved
}

TEST(DriverProtocol, BodiesMustBeExactlyAsLongAsTheirFieldsSay) {
  DriverFrame f;
  // Trailing byte after a Terminate body.
  DriverFrame term;
  term.type = kDriverFrameTerminate;
  term.serviceId = 1;
  std::vector<UInt8> b = Encode(term);
  b.push_back(0);
  StoreU32LE(b.data(), static_cast<UInt32>(b.size()));
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);

  // A call whose stated structure size runs past the frame.
  DriverFrame call;
  call.type = kDriverFrameCall;
  call.data.assign(8, 1);
  b = Encode(call);
  StoreU32LE(&b[24], 9);
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);
  // ... or past the limit for structures.
  StoreU32LE(&b[24], kDriverMaxStructSize + 1);
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);
  b = Encode(call);
  StoreU32LE(&b[28], kDriverMaxStructSize + 1);  // structure out capacity
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);
  b = Encode(call);
  b[20] = kDriverMaxScalars + 1;
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);

  // A publish with an empty class name or an empty property key.
  DriverFrame pub;
  pub.type = kDriverFramePublish;
  pub.serviceId = 3;
  pub.className = "Corvimus";
  pub.properties = {{"K", "V"}};
  b = Encode(pub);
  std::vector<UInt8> noName = b;
  noName[16] = 0;
  EXPECT_EQ(Decode(noName, &f), kDriverDecodeMalformed);
  std::vector<UInt8> noKey = b;
  noKey[12 + 4 + 1 + 8 + 2] = 0;
  EXPECT_EQ(Decode(noKey, &f), kDriverDecodeMalformed);
  // Service id 0 is not a service.
  std::vector<UInt8> zeroId = b;
  StoreU32LE(&zeroId[12], 0);
  EXPECT_EQ(Decode(zeroId, &f), kDriverDecodeMalformed);
  // Hello from something that is not a client of this protocol.
  DriverFrame hello;
  hello.type = kDriverFrameHello;
  b = Encode(hello);
  b[12] ^= 1;
  EXPECT_EQ(Decode(b, &f), kDriverDecodeMalformed);
}

TEST(DriverProtocol, TheEncoderRefusesWhatTheDecoderWouldRefuse) {
  std::vector<UInt8> out = {9, 9};
  DriverFrame f;
  f.type = kDriverFrameCall;
  f.scalarCount = kDriverMaxScalars + 1;
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  f.scalarCount = 0;
  f.data.assign(kDriverMaxStructSize + 1, 0);
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  f = {};
  f.type = kDriverFramePublish;
  f.serviceId = 1;
  f.className = std::string(kDriverMaxNameLength + 1, 'x');
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  f.className = "C";
  f.properties.assign(kDriverMaxProperties + 1, {"k", "v"});
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  f.properties = {{"k", std::string(kDriverMaxValueLength + 1, 'v')}};
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  f = {};
  f.type = 0;
  EXPECT_EQ(EncodeDriverFrame(f, &out), paramErr);
  EXPECT_EQ(out, (std::vector<UInt8>{9, 9}));  // nothing half-written
}

TEST(DriverProtocol, EveryTruncationOfAValidFrameWaitsForMore) {
  for (const DriverFrame& frame : SampleFrames()) {
    std::vector<UInt8> bytes = Encode(frame);
    for (size_t n = 0; n < bytes.size(); ++n) {
      DriverFrame f;
      size_t consumed = 0;
      EXPECT_EQ(DecodeDriverFrame(bytes.data(), n, &f, &consumed), kDriverDecodeNeedMore)
          << "type " << int(frame.type) << " cut at " << n;
    }
  }
}

TEST(DriverProtocol, FlippingAnyByteNeverBreaksTheRoundTripRules) {
  for (const DriverFrame& frame : SampleFrames()) {
    std::vector<UInt8> bytes = Encode(frame);
    for (size_t i = 0; i < bytes.size(); ++i) {
      for (UInt8 mask : {0x01, 0x80, 0xFF}) {
        std::vector<UInt8> b = bytes;
        b[i] ^= mask;
        EXPECT_EQ(CheckDriverFrameRoundTrip(b.data(), b.size()), 0)
            << "type " << int(frame.type) << " byte " << i;
      }
    }
  }
}

TEST(DriverFrameReader, CutsAStreamIntoFramesWhateverTheChunking) {
  std::vector<UInt8> stream;
  std::vector<DriverFrame> frames = SampleFrames();
  for (const DriverFrame& f : frames) EncodeDriverFrame(f, &stream);
  for (size_t chunk : {size_t(1), size_t(5), size_t(13), size_t(1000), stream.size()}) {
    DriverFrameReader reader;
    std::vector<UInt8> types;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      reader.Append(stream.data() + at, std::min(chunk, stream.size() - at));
      DriverFrame f;
      while (reader.Next(&f) == kDriverDecodeOK) types.push_back(f.type);
    }
    ASSERT_EQ(types.size(), frames.size()) << "chunk " << chunk;
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(types[i], frames[i].type);
    EXPECT_EQ(reader.Buffered(), 0u);
  }
}

TEST(DriverFrameReader, StaysBrokenAfterAMalformedFrame) {
  DriverFrameReader reader;
  UInt8 garbage[] = {3, 0, 0, 0};
  reader.Append(garbage, sizeof garbage);
  DriverFrame f;
  EXPECT_EQ(reader.Next(&f), kDriverDecodeMalformed);
  DriverFrame ping;
  ping.type = kDriverFramePing;
  std::vector<UInt8> good;
  EncodeDriverFrame(ping, &good);
  reader.Append(good.data(), good.size());
  EXPECT_EQ(reader.Next(&f), kDriverDecodeMalformed);
}

// The fuzz target's corpus, replayed so every input it ever kept keeps passing.
TEST(DriverProtocolFuzzCorpus, EveryKeptInputPasses) {
  std::string folder = CORVIMUS_FUZZ_CORPUS;
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(dir, nullptr) << folder;
  int files = 0, valid = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::string path = folder + "/" + entry->d_name;
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr) << path;
    std::vector<UInt8> bytes;
    UInt8 buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(file);
    EXPECT_EQ(CheckDriverFrameRoundTrip(bytes.data(), bytes.size()), 0) << path;
    DriverFrame frame;
    size_t consumed = 0;
    if (DecodeDriverFrame(bytes.data(), bytes.size(), &frame, &consumed) == kDriverDecodeOK)
      ++valid;
    ++files;
  }
  closedir(dir);
  EXPECT_GE(valid, 13);     // at least one valid input per frame type
  EXPECT_GT(files, valid);  // and some that are not
}
