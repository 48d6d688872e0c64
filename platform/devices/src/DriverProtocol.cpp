#include "platform/DriverProtocol.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/ByteOrder.h"

namespace corvimus {

namespace {

// Bounds-checked cursor over a frame body: every read says whether the bytes were there.
class BodyReader {
 public:
  BodyReader(const UInt8* p, size_t n) : p_(p), n_(n) {}
  bool U8(UInt8* v) {
    if (n_ - pos_ < 1) return false;
    *v = p_[pos_++];
    return true;
  }
  bool U16(UInt16* v) {
    if (n_ - pos_ < 2) return false;
    *v = LoadU16LE(p_ + pos_);
    pos_ += 2;
    return true;
  }
  bool U32(UInt32* v) {
    if (n_ - pos_ < 4) return false;
    *v = LoadU32LE(p_ + pos_);
    pos_ += 4;
    return true;
  }
  bool U64(UInt64* v) {
    if (n_ - pos_ < 8) return false;
    *v = LoadU64LE(p_ + pos_);
    pos_ += 8;
    return true;
  }
  bool Bytes(size_t count, const UInt8** out) {
    if (n_ - pos_ < count) return false;
    *out = p_ + pos_;
    pos_ += count;
    return true;
  }
  bool AtEnd() const { return pos_ == n_; }

 private:
  const UInt8* p_;
  size_t n_;
  size_t pos_ = 0;
};

class BodyWriter {
 public:
  explicit BodyWriter(std::vector<UInt8>* out) : out_(out) {}
  void U8(UInt8 v) { out_->push_back(v); }
  void U16(UInt16 v) {
    UInt8 b[2];
    StoreU16LE(b, v);
    out_->insert(out_->end(), b, b + 2);
  }
  void U32(UInt32 v) {
    UInt8 b[4];
    StoreU32LE(b, v);
    out_->insert(out_->end(), b, b + 4);
  }
  void U64(UInt64 v) {
    UInt8 b[8];
    StoreU64LE(b, v);
    out_->insert(out_->end(), b, b + 8);
  }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const UInt8*>(p);
    out_->insert(out_->end(), b, b + n);
  }

 private:
  std::vector<UInt8>* out_;
};

bool KnownType(UInt8 type) {
  return type >= kDriverFrameHello && type <= kDriverFrameInterest;
}

bool FieldsWithinLimits(const DriverFrame& f) {
  switch (f.type) {
    case kDriverFramePublish:
      if (f.serviceId == 0) return false;
      if (f.className.empty() || f.className.size() > kDriverMaxNameLength) return false;
      if (f.properties.size() > kDriverMaxProperties) return false;
      for (const auto& [key, value] : f.properties) {
        if (key.empty() || key.size() > kDriverMaxNameLength) return false;
        if (value.size() > kDriverMaxValueLength) return false;
      }
      return true;
    case kDriverFrameCall:
      return f.scalarCount <= kDriverMaxScalars && f.scalarOutWanted <= kDriverMaxScalars &&
             f.data.size() <= kDriverMaxStructSize && f.structOutSize <= kDriverMaxStructSize;
    case kDriverFrameCallReply:
      return f.scalarCount <= kDriverMaxScalars && f.data.size() <= kDriverMaxStructSize;
    case kDriverFrameInterest:
      return f.data.size() <= kDriverMaxStructSize;
    default:
      return KnownType(f.type);
  }
}

bool DecodeBody(UInt8 type, BodyReader& r, DriverFrame* f) {
  UInt32 magic = 0;
  switch (type) {
    case kDriverFrameHello:
    case kDriverFrameHelloReply:
      return r.U32(&magic) && magic == kDriverHelloMagic;
    case kDriverFramePing:
    case kDriverFramePong:
      return true;
    case kDriverFramePublish: {
      UInt8 nameLength = 0;
      const UInt8* bytes = nullptr;
      if (!r.U32(&f->serviceId) || f->serviceId == 0) return false;
      if (!r.U8(&nameLength) || nameLength == 0 || nameLength > kDriverMaxNameLength) return false;
      if (!r.Bytes(nameLength, &bytes)) return false;
      f->className.assign(reinterpret_cast<const char*>(bytes), nameLength);
      UInt16 count = 0;
      if (!r.U16(&count) || count > kDriverMaxProperties) return false;
      for (UInt16 i = 0; i < count; ++i) {
        UInt8 keyLength = 0;
        UInt16 valueLength = 0;
        const UInt8* key = nullptr;
        const UInt8* value = nullptr;
        if (!r.U8(&keyLength) || keyLength == 0 || keyLength > kDriverMaxNameLength) return false;
        if (!r.Bytes(keyLength, &key)) return false;
        if (!r.U16(&valueLength) || valueLength > kDriverMaxValueLength) return false;
        if (!r.Bytes(valueLength, &value)) return false;
        f->properties.emplace_back(std::string(reinterpret_cast<const char*>(key), keyLength),
                                   std::string(reinterpret_cast<const char*>(value), valueLength));
      }
      return true;
    }
    case kDriverFrameTerminate:
      return r.U32(&f->serviceId);
    case kDriverFrameOpen:
      return r.U32(&f->serviceId) && r.U32(&f->openType);
    case kDriverFrameOpenReply: {
      UInt32 result = 0;
      if (!r.U32(&result) || !r.U32(&f->connectionId)) return false;
      f->result = static_cast<SInt32>(result);
      return true;
    }
    case kDriverFrameClose:
      return r.U32(&f->connectionId);
    case kDriverFrameCloseReply: {
      UInt32 result = 0;
      if (!r.U32(&result)) return false;
      f->result = static_cast<SInt32>(result);
      return true;
    }
    case kDriverFrameCall: {
      UInt8 in = 0, out = 0;
      UInt16 reserved = 0;
      UInt32 structIn = 0;
      const UInt8* bytes = nullptr;
      if (!r.U32(&f->connectionId) || !r.U32(&f->selector)) return false;
      if (!r.U8(&in) || !r.U8(&out) || !r.U16(&reserved) || reserved != 0) return false;
      if (in > kDriverMaxScalars || out > kDriverMaxScalars) return false;
      if (!r.U32(&structIn) || structIn > kDriverMaxStructSize) return false;
      if (!r.U32(&f->structOutSize) || f->structOutSize > kDriverMaxStructSize) return false;
      f->scalarCount = in;
      f->scalarOutWanted = out;
      for (UInt32 i = 0; i < in; ++i)
        if (!r.U64(&f->scalars[i])) return false;
      if (!r.Bytes(structIn, &bytes)) return false;
      f->data.assign(bytes, bytes + structIn);
      return true;
    }
    case kDriverFrameCallReply: {
      UInt32 result = 0, structOut = 0;
      UInt8 out = 0, reserved[3] = {};
      const UInt8* bytes = nullptr;
      if (!r.U32(&result) || !r.U8(&out) || out > kDriverMaxScalars) return false;
      for (UInt8& b : reserved)
        if (!r.U8(&b) || b != 0) return false;
      if (!r.U32(&structOut) || structOut > kDriverMaxStructSize) return false;
      f->result = static_cast<SInt32>(result);
      f->scalarCount = out;
      for (UInt32 i = 0; i < out; ++i)
        if (!r.U64(&f->scalars[i])) return false;
      if (!r.Bytes(structOut, &bytes)) return false;
      f->data.assign(bytes, bytes + structOut);
      return true;
    }
    case kDriverFrameInterest: {
      UInt32 argSize = 0;
      const UInt8* bytes = nullptr;
      if (!r.U32(&f->serviceId) || !r.U32(&f->connectionId) || !r.U32(&f->messageType))
        return false;
      if (!r.U32(&argSize) || argSize > kDriverMaxStructSize) return false;
      if (!r.Bytes(argSize, &bytes)) return false;
      f->data.assign(bytes, bytes + argSize);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool DriverFrameFromClient(UInt8 type) {
  return type == kDriverFrameHello || type == kDriverFramePing || type == kDriverFrameOpen ||
         type == kDriverFrameClose || type == kDriverFrameCall;
}

OSErr EncodeDriverFrame(const DriverFrame& f, std::vector<UInt8>* out) {
  if (!FieldsWithinLimits(f)) return paramErr;
  size_t start = out->size();
  BodyWriter w(out);
  w.U32(0);  // length, filled in below
  w.U8(kDriverProtocolVersion);
  w.U8(f.type);
  w.U16(0);
  w.U32(f.requestId);
  switch (f.type) {
    case kDriverFrameHello:
    case kDriverFrameHelloReply:
      w.U32(kDriverHelloMagic);
      break;
    case kDriverFramePing:
    case kDriverFramePong:
      break;
    case kDriverFramePublish:
      w.U32(f.serviceId);
      w.U8(static_cast<UInt8>(f.className.size()));
      w.Bytes(f.className.data(), f.className.size());
      w.U16(static_cast<UInt16>(f.properties.size()));
      for (const auto& [key, value] : f.properties) {
        w.U8(static_cast<UInt8>(key.size()));
        w.Bytes(key.data(), key.size());
        w.U16(static_cast<UInt16>(value.size()));
        w.Bytes(value.data(), value.size());
      }
      break;
    case kDriverFrameTerminate:
      w.U32(f.serviceId);
      break;
    case kDriverFrameOpen:
      w.U32(f.serviceId);
      w.U32(f.openType);
      break;
    case kDriverFrameOpenReply:
      w.U32(static_cast<UInt32>(f.result));
      w.U32(f.connectionId);
      break;
    case kDriverFrameClose:
      w.U32(f.connectionId);
      break;
    case kDriverFrameCloseReply:
      w.U32(static_cast<UInt32>(f.result));
      break;
    case kDriverFrameCall:
      w.U32(f.connectionId);
      w.U32(f.selector);
      w.U8(static_cast<UInt8>(f.scalarCount));
      w.U8(static_cast<UInt8>(f.scalarOutWanted));
      w.U16(0);
      w.U32(static_cast<UInt32>(f.data.size()));
      w.U32(f.structOutSize);
      for (UInt32 i = 0; i < f.scalarCount; ++i) w.U64(f.scalars[i]);
      w.Bytes(f.data.data(), f.data.size());
      break;
    case kDriverFrameCallReply:
      w.U32(static_cast<UInt32>(f.result));
      w.U8(static_cast<UInt8>(f.scalarCount));
      w.U8(0);
      w.U16(0);
      w.U32(static_cast<UInt32>(f.data.size()));
      for (UInt32 i = 0; i < f.scalarCount; ++i) w.U64(f.scalars[i]);
      w.Bytes(f.data.data(), f.data.size());
      break;
    case kDriverFrameInterest:
      w.U32(f.serviceId);
      w.U32(f.connectionId);
      w.U32(f.messageType);
      w.U32(static_cast<UInt32>(f.data.size()));
      w.Bytes(f.data.data(), f.data.size());
      break;
  }
  size_t length = out->size() - start;
  if (length > kDriverMaxFrameSize) {
    out->resize(start);
    return paramErr;
  }
  StoreU32LE(out->data() + start, static_cast<UInt32>(length));
  return noErr;
}

DriverDecodeResult DecodeDriverFrame(const UInt8* data, size_t size, DriverFrame* frame,
                                     size_t* consumed) {
  // Judge each header field as soon as its bytes are there: a peer announcing a frame of 4 GB is
  // refused on its first four bytes, not after we waited for (or buffered) the body.
  if (size >= 4) {
    UInt32 length = LoadU32LE(data);
    if (length < kDriverHeaderSize || length > kDriverMaxFrameSize) return kDriverDecodeMalformed;
  }
  if (size >= 5 && data[4] != kDriverProtocolVersion) return kDriverDecodeMalformed;
  if (size >= 6 && !KnownType(data[5])) return kDriverDecodeMalformed;
  if (size >= 7 && data[6] != 0) return kDriverDecodeMalformed;
  if (size >= 8 && data[7] != 0) return kDriverDecodeMalformed;
  if (size < kDriverHeaderSize) return kDriverDecodeNeedMore;
  UInt32 length = LoadU32LE(data);
  if (size < length) return kDriverDecodeNeedMore;

  *frame = DriverFrame{};
  frame->type = data[5];
  frame->requestId = LoadU32LE(data + 8);
  BodyReader body(data + kDriverHeaderSize, length - kDriverHeaderSize);
  if (!DecodeBody(frame->type, body, frame) || !body.AtEnd()) return kDriverDecodeMalformed;
  *consumed = length;
  return kDriverDecodeOK;
}

bool DriverFrameReader::ReadFrom(int fd) {
  // Never hold more than one frame's worth of unparsed bytes plus one read: a peer cannot make us
  // buffer without bound, because an oversized length is refused by the header check.
  for (;;) {
    if (start_ > 0 && start_ == buffer_.size()) {
      buffer_.clear();
      start_ = 0;
    }
    UInt8 chunk[8192];
    ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      Append(chunk, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof chunk) return true;
      if (Buffered() > 2 * kDriverMaxFrameSize) return true;  // let the caller drain first
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

void DriverFrameReader::Append(const UInt8* data, size_t size) {
  if (start_ > 0 && start_ > buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

DriverDecodeResult DriverFrameReader::Next(DriverFrame* frame) {
  if (broken_) return kDriverDecodeMalformed;
  size_t consumed = 0;
  DriverDecodeResult r =
      DecodeDriverFrame(buffer_.data() + start_, buffer_.size() - start_, frame, &consumed);
  if (r == kDriverDecodeMalformed) broken_ = true;
  if (r == kDriverDecodeOK) start_ += consumed;
  return r;
}

static bool SameFrame(const DriverFrame& a, const DriverFrame& b) {
  if (a.type != b.type || a.requestId != b.requestId || a.serviceId != b.serviceId ||
      a.connectionId != b.connectionId || a.selector != b.selector || a.openType != b.openType ||
      a.messageType != b.messageType || a.result != b.result || a.className != b.className ||
      a.properties != b.properties || a.scalarCount != b.scalarCount ||
      a.scalarOutWanted != b.scalarOutWanted || a.structOutSize != b.structOutSize ||
      a.data != b.data)
    return false;
  return std::memcmp(a.scalars, b.scalars, sizeof a.scalars) == 0;
}

int CheckDriverFrameRoundTrip(const UInt8* data, size_t size) {
  DriverFrame frame;
  size_t consumed = 0;
  DriverDecodeResult r = DecodeDriverFrame(data, size, &frame, &consumed);
  if (r != kDriverDecodeOK) {
    // Feeding the same bytes in pieces must reach the same verdict as feeding them at once.
    DriverFrameReader reader;
    DriverDecodeResult last = kDriverDecodeNeedMore;
    for (size_t i = 0; i < size && last == kDriverDecodeNeedMore; ++i) {
      reader.Append(data + i, 1);
      last = reader.Next(&frame);
    }
    if (size > 0 && last != r) return 1;
    return 0;
  }
  if (consumed < kDriverHeaderSize || consumed > size) return 2;
  std::vector<UInt8> again;
  if (EncodeDriverFrame(frame, &again) != noErr) return 3;
  if (again.size() != consumed || std::memcmp(again.data(), data, consumed) != 0) return 4;
  DriverFrame second;
  size_t consumed2 = 0;
  if (DecodeDriverFrame(again.data(), again.size(), &second, &consumed2) != kDriverDecodeOK)
    return 5;
  if (consumed2 != consumed || !SameFrame(frame, second)) return 6;
  return 0;
}

}  // namespace corvimus
