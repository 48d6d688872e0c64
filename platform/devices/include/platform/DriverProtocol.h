// The frames spoken between the driver daemon and its user-space clients over a Unix stream socket.
// One encoder and one decoder serve both ends, so the two can never disagree about a field.
//
// Every multi-byte field is little-endian. A frame is a 12-byte header followed by a body whose
// layout depends on the type. Sizes are checked against the limits below before anything is copied;
// a frame that breaks any rule is malformed, and the receiver closes that one peer.
//
// Header
//   off size field
//     0    4 length      bytes of the whole frame, header included: 12 .. kDriverMaxFrameSize
//     4    1 version     kDriverProtocolVersion; any other value is malformed
//     5    1 type        DriverFrameType below
//     6    2 reserved    0
//     8    4 requestId   pairs a reply with its request; 0 in unsolicited frames
//
// Bodies (offsets from the end of the header; "C>S" client to driver, "S>C" driver to client)
//   kHello          C>S  0 4 magic 'CVdp' (the four-character code as a 32-bit value)
//   kHelloReply     S>C  0 4 magic 'CVdp'
//   kPing           C>S  empty
//   kPong           S>C  empty; sent after everything the driver queued before the ping, so the
//                        client knows it has seen the driver's whole list of services
//   kPublish        S>C  0 4 serviceId (non-zero)
//                        4 1 class name length n (1..kDriverMaxNameLength), then n bytes
//                        . 2 property count (0..kDriverMaxProperties), then per property:
//                            1 key length k (1..kDriverMaxNameLength), k bytes,
//                            2 value length v (0..kDriverMaxValueLength), v bytes
//   kTerminate      S>C  0 4 serviceId
//   kOpen           C>S  0 4 serviceId   4 4 connection type
//   kOpenReply      S>C  0 4 result (IOReturn)   4 4 connectionId (0 when the result is an error)
//   kClose          C>S  0 4 connectionId
//   kCloseReply     S>C  0 4 result
//   kCall           C>S  0 4 connectionId   4 4 selector
//                        8 1 scalars in (0..16)   9 1 scalars out wanted (0..16)   10 2 reserved 0
//                       12 4 structure in size (0..kDriverMaxStructSize)
//                       16 4 structure out size the caller's buffer holds (0..kDriverMaxStructSize)
//                       20 8*n scalars in, then the structure in
//   kCallReply      S>C  0 4 result   4 1 scalars out (at most the number wanted)   5 3 reserved 0
//                        8 4 structure out size (at most the size stated in the call)
//                       12 8*n scalars out, then the structure out
//   kInterest       S>C  0 4 serviceId   4 4 connectionId (0 = for every client of the service)
//                        8 4 message type   12 4 argument size (0..kDriverMaxStructSize)
//                       16 the argument bytes
//
// A body must be exactly as long as its fields say: trailing bytes are malformed too.
//
// Order. The client's first frame is kHello, sent once; the driver answers kHelloReply and then
// publishes every service it has. Each request (kPing, kOpen, kClose, kCall) gets exactly one reply
// of the matching type carrying its requestId, in the order the requests came. kPublish,
// kTerminate and kInterest come unasked at any time after kHelloReply; a kPublish names an id not
// in use, a kTerminate or kInterest only a service published before and not yet terminated. Anything else (a frame before the
// greeting, a second greeting, a reply nobody asked for, a frame meant for the other direction)
// is out of order and treated as malformed. A request naming a connection or service that does not
// exist (any more) is not a fault: the reply carries an error result.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

enum : UInt8 { kDriverProtocolVersion = 1 };
enum : UInt32 {
  kDriverHeaderSize = 12,
  kDriverMaxFrameSize = 16384,
  kDriverMaxStructSize = 4096,
  kDriverMaxScalars = 16,
  kDriverMaxNameLength = 63,
  kDriverMaxValueLength = 255,
  kDriverMaxProperties = 32,
  kDriverHelloMagic = FourCC("CVdp"),
};

enum DriverFrameType : UInt8 {
  kDriverFrameHello = 1,
  kDriverFrameHelloReply = 2,
  kDriverFramePing = 3,
  kDriverFramePong = 4,
  kDriverFramePublish = 5,
  kDriverFrameTerminate = 6,
  kDriverFrameOpen = 7,
  kDriverFrameOpenReply = 8,
  kDriverFrameClose = 9,
  kDriverFrameCloseReply = 10,
  kDriverFrameCall = 11,
  kDriverFrameCallReply = 12,
  kDriverFrameInterest = 13,
};

// True for the frames a client sends; the driver treats any other type from a client as malformed,
// and the client treats these from a driver as malformed.
bool DriverFrameFromClient(UInt8 type);

// One decoded frame. Only the fields of its type are meaningful; the others stay zero or empty.
struct DriverFrame {
  UInt8 type = 0;
  UInt32 requestId = 0;
  UInt32 serviceId = 0;
  UInt32 connectionId = 0;
  UInt32 selector = 0;                                          // kCall
  UInt32 openType = 0;                                          // kOpen
  UInt32 messageType = 0;                                       // kInterest
  SInt32 result = 0;                                            // replies
  std::string className;                                        // kPublish
  std::vector<std::pair<std::string, std::string>> properties;  // kPublish
  UInt32 scalarCount = 0;  // scalars carried: in for kCall, out for kCallReply
  UInt64 scalars[kDriverMaxScalars] = {};
  UInt32 scalarOutWanted = 0;  // kCall
  UInt32 structOutSize = 0;    // kCall: capacity of the caller's buffer
  std::vector<UInt8> data;     // structure in (kCall), structure out (kCallReply), argument
};

enum DriverDecodeResult {
  kDriverDecodeOK,         // one frame decoded; *consumed bytes belong to it
  kDriverDecodeNeedMore,   // the bytes so far are a valid start of a frame
  kDriverDecodeMalformed,  // the peer broke the protocol: close it
};

// Appends the frame to out. Returns paramErr, leaving out as it was, when a field is outside the
// limits above (so a sender can never produce what the receiver would refuse).
OSErr EncodeDriverFrame(const DriverFrame& frame, std::vector<UInt8>* out);

// Decodes the frame at the start of data. Header checks (length, version, type) are done as soon
// as the header is there, so a huge length is refused before any of the body arrives.
DriverDecodeResult DecodeDriverFrame(const UInt8* data, size_t size, DriverFrame* frame,
                                     size_t* consumed);

// Bytes read from a stream socket, cut into frames.
class DriverFrameReader {
 public:
  // Reads what the descriptor holds now without blocking. Returns false when the peer has closed
  // the stream or the read failed for good.
  bool ReadFrom(int fd);
  void Append(const UInt8* data, size_t size);
  // The next complete frame, if any. After kDriverDecodeMalformed the reader stays broken.
  DriverDecodeResult Next(DriverFrame* frame);
  size_t Buffered() const { return buffer_.size() - start_; }

 private:
  std::vector<UInt8> buffer_;
  size_t start_ = 0;
  bool broken_ = false;
};

// Checks one input the way the fuzz target does: whatever decodes must encode back to the same
// bytes and decode again to the same frame. Returns 0 when the input passes, else a small number
// naming the broken rule.
int CheckDriverFrameRoundTrip(const UInt8* data, size_t size);

}  // namespace corvimus
