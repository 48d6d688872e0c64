// The wire format of Apple events between processes, over a Unix stream socket. A connection
// carries any number of frames each way: events from the connecting process, replies from the
// listening one.
//
// All integers little-endian; four-character codes as 32-bit integers.
//
// Frame header (16 bytes):
//   offset size meaning
//        0    4 magic "CvAE"
//        4    2 version, 1
//        6    2 kind: 1 event, 2 reply
//        8    4 body length n, at most kMaxFrameBody
//       12    4 flags: bit 0 = the sender waits for a reply (events only); other bits 0
// Body (n bytes):
//        0    4 event class ('aevt' for a reply)
//        4    4 event id ('ansr' for a reply)
//        8    4 return id (signed; a reply carries its event's)
//       12    4 transaction id (signed)
//       16    4 parameter count k, at most kMaxFrameParams
//       20  ... k parameters, each: keyword 4, descriptor type 4, length m 4, m data bytes
// The parameters must fill the body exactly. Descriptor data is passed as it is: both ends are the
// same machine.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus::ae {

inline constexpr size_t kFrameHeaderSize = 16;
inline constexpr size_t kFrameBodyFixedSize = 20;
inline constexpr size_t kMaxFrameBody = 64 * 1024;
inline constexpr UInt32 kMaxFrameParams = 64;
inline constexpr UInt16 kFrameVersion = 1;
inline constexpr UInt32 kFrameFlagWantsReply = 1;

enum : UInt16 { kFrameEvent = 1, kFrameReply = 2 };

struct FrameParam {
  OSType keyword = 0;
  OSType type = 0;
  std::vector<UInt8> data;
};

struct FrameMessage {
  UInt16 kind = kFrameEvent;
  UInt32 flags = 0;
  OSType eventClass = 0;
  OSType eventID = 0;
  SInt32 returnID = 0;
  SInt32 transactionID = 0;
  std::vector<FrameParam> params;
};

// Appends the frame to `out`; false when the message is too large for one frame.
bool EncodeFrame(const FrameMessage& message, std::vector<UInt8>* out);

enum class FrameStatus { kIncomplete, kComplete, kMalformed };

// Looks at the start of `data`. kIncomplete: more bytes are needed (the header seen so far is
// valid); kComplete: `message` is filled and `consumed` is the frame's length; kMalformed: the
// bytes can never become a valid frame.
FrameStatus DecodeFrame(const UInt8* data, size_t size, FrameMessage* message, size_t* consumed);

}  // namespace corvimus::ae
