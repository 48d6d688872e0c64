#include "platform/AppleEventFrames.h"

#include "platform/ByteOrder.h"

namespace corvimus::ae {

namespace {
constexpr UInt8 kMagic[4] = {'C', 'v', 'A', 'E'};
}

bool EncodeFrame(const FrameMessage& message, std::vector<UInt8>* out) {
  if (message.params.size() > kMaxFrameParams) return false;
  size_t body = kFrameBodyFixedSize;
  for (const auto& p : message.params) {
    body += 12 + p.data.size();
    if (body > kMaxFrameBody) return false;
  }
  size_t start = out->size();
  out->resize(start + kFrameHeaderSize + body);
  UInt8* b = out->data() + start;
  b[0] = kMagic[0];
  b[1] = kMagic[1];
  b[2] = kMagic[2];
  b[3] = kMagic[3];
  StoreU16LE(b + 4, kFrameVersion);
  StoreU16LE(b + 6, message.kind);
  StoreU32LE(b + 8, UInt32(body));
  StoreU32LE(b + 12, message.flags);
  UInt8* p = b + kFrameHeaderSize;
  StoreU32LE(p, message.eventClass);
  StoreU32LE(p + 4, message.eventID);
  StoreU32LE(p + 8, UInt32(message.returnID));
  StoreU32LE(p + 12, UInt32(message.transactionID));
  StoreU32LE(p + 16, UInt32(message.params.size()));
  p += kFrameBodyFixedSize;
  for (const auto& param : message.params) {
    StoreU32LE(p, param.keyword);
    StoreU32LE(p + 4, param.type);
    StoreU32LE(p + 8, UInt32(param.data.size()));
    if (!param.data.empty()) std::memcpy(p + 12, param.data.data(), param.data.size());
    p += 12 + param.data.size();
  }
  return true;
}

FrameStatus DecodeFrame(const UInt8* data, size_t size, FrameMessage* message, size_t* consumed) {
  // Check what has arrived of the header at once, so garbage is refused without waiting for more.
  for (size_t i = 0; i < 4 && i < size; ++i)
    if (data[i] != kMagic[i]) return FrameStatus::kMalformed;
  if (size < kFrameHeaderSize) return FrameStatus::kIncomplete;
  UInt16 version = LoadU16LE(data + 4);
  UInt16 kind = LoadU16LE(data + 6);
  UInt32 body = LoadU32LE(data + 8);
  UInt32 flags = LoadU32LE(data + 12);
  if (version != kFrameVersion) return FrameStatus::kMalformed;
  if (kind != kFrameEvent && kind != kFrameReply) return FrameStatus::kMalformed;
  if (body < kFrameBodyFixedSize || body > kMaxFrameBody) return FrameStatus::kMalformed;
  if ((flags & ~kFrameFlagWantsReply) != 0) return FrameStatus::kMalformed;
  if (kind == kFrameReply && flags != 0) return FrameStatus::kMalformed;
  if (size - kFrameHeaderSize < body) return FrameStatus::kIncomplete;

  const UInt8* p = data + kFrameHeaderSize;
  const UInt8* end = p + body;
  FrameMessage m;
  m.kind = kind;
  m.flags = flags;
  m.eventClass = LoadU32LE(p);
  m.eventID = LoadU32LE(p + 4);
  m.returnID = SInt32(LoadU32LE(p + 8));
  m.transactionID = SInt32(LoadU32LE(p + 12));
  UInt32 count = LoadU32LE(p + 16);
  if (count > kMaxFrameParams) return FrameStatus::kMalformed;
  p += kFrameBodyFixedSize;
  m.params.reserve(count);
  for (UInt32 i = 0; i < count; ++i) {
    if (size_t(end - p) < 12) return FrameStatus::kMalformed;
    FrameParam param;
    param.keyword = LoadU32LE(p);
    param.type = LoadU32LE(p + 4);
    UInt32 length = LoadU32LE(p + 8);
    p += 12;
    if (length > size_t(end - p)) return FrameStatus::kMalformed;
    param.data.assign(p, p + length);
    p += length;
    m.params.push_back(std::move(param));
  }
  if (p != end) return FrameStatus::kMalformed;
  *message = std::move(m);
  *consumed = kFrameHeaderSize + body;
  return FrameStatus::kComplete;
}

}  // namespace corvimus::ae
