// Basic types of the classic Mac OS interfaces the system is written against.
#pragma once

#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;

using OSErr = SInt16;
using OSStatus = SInt32;
using OSType = UInt32;
using ResType = UInt32;
using Boolean = unsigned char;
using Size = long;

using Ptr = char*;
using Handle = char**;

using Str255 = unsigned char[256];
using Str63 = unsigned char[64];
using Str31 = unsigned char[32];
using Str15 = unsigned char[16];
using StringPtr = unsigned char*;
using ConstStringPtr = const unsigned char*;
using ConstStr255Param = const unsigned char*;

struct Rect {
  SInt16 top;
  SInt16 left;
  SInt16 bottom;
  SInt16 right;
};
static_assert(sizeof(Rect) == 8);

enum : OSErr {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
  nilHandleErr = -109,
  memWZErr = -111,
  memLockedErr = -117,
  ioErr = -36,
  eofErr = -39,
  posErr = -40,
  fnfErr = -43,
  tmfoErr = -42,
  dskFulErr = -34,
  dirFulErr = -33,
  nsvErr = -35,
  bdNamErr = -37,
  fnOpnErr = -38,
  wPrErr = -44,
  fLckdErr = -45,
  vLckdErr = -46,
  fBsyErr = -47,
  dupFNErr = -48,
  opWrErr = -49,
  rfNumErr = -51,
  permErr = -54,
  wrPermErr = -61,
  dirNFErr = -120,
  badMovErr = -122,
  notAFileErr = -1302,  // a FIFO, a device or a socket where a file was expected
  afpAccessDenied = -5000,
  resNotFound = -192,
  resFNotFound = -193,
  procNotFound = -600,
  errAEEventNotHandled = -1708,
  errAEDescNotFound = -1701,
  errAECoercionFail = -1700,
  errAETimeout = -1712,
  userCanceledErr = -128,
  coreFoundationUnknownErr = -4960,
};

// Processes, Apple events and the event loop.
enum : OSErr {
  connectionInvalid = -609,
  errAECorruptData = -1702,
  errAENotAEDesc = -1704,
  errAENotAppleEvent = -1707,
  errAEUnknownSendMode = -1715,
  errAEHandlerNotFound = -1717,
};
enum : OSStatus {
  eventInternalErr = -9868,
  eventNotHandledErr = -9874,
};

// A four-character code from its text, as written between single quotes: FourCC("CvBa").
constexpr OSType FourCC(const char (&code)[5]) {
  return (OSType(UInt8(code[0])) << 24) | (OSType(UInt8(code[1])) << 16) |
         (OSType(UInt8(code[2])) << 8) | OSType(UInt8(code[3]));
}

// The signature of an application or file creator that has none.
enum : OSType { kUnknownSignature = FourCC("????") };
