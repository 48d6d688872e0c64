// What the agent and the driver say to each other: the user-client calls, the device description
// and the interest messages.
//
// Every call passes the connection itself as first scalar and a four-character code as second.
//   selector 0  ScalarIStructureI  (conn, 'CvSe', 0x1100, 0)  in: 1012-byte CorvimusPrefsRec
//   selector 1  ScalarIScalarO     (conn, 'CVsd', 1|0)         own-application mode; 1 scalar out
//   selector 1  ScalarIScalarO     (conn, 'CVtk', keystroke)   post a packed keystroke; 1 scalar
//   out selector 2  ScalarIStructureO  (conn, 'MCDV', 11)          out: 180-byte CorvimusDeviceInfo
//
// CorvimusDeviceInfo (180 bytes):
//     0 2 transport (2 = Bluetooth, 1 = other)   2 1 numButtons   3 1 mouseReportID
//     4 2 vendorID   6 2 productID   8 2 productVers   10 2 reserved2
//    12 4 resolution (signed)   16 4 reserved3   20 80 vendorName   100 80 productName
#pragma once

#include <cstddef>

#include "platform/MacTypes.h"

inline constexpr char kCorvimusServiceClass[] = "Corvimus";

enum : UInt32 {
  kCorvimusSelectorSetPrefs = 0,
  kCorvimusSelectorScalar = 1,
  kCorvimusSelectorDeviceInfo = 2,
};

enum : OSType {
  kCorvimusSetPrefsCode = FourCC("CvSe"),
  kCorvimusOwnAppModeCode = FourCC("CVsd"),
  kCorvimusKeystrokeCode = FourCC("CVtk"),
  kCorvimusDeviceInfoCode = FourCC("MCDV"),
  kCorvimusMsgDoAction = FourCC("CVda"),   // argument: a 56-byte CorvimusActionRec
  kCorvimusMsgRawReport = FourCC("CVrr"),  // argument: 32 bytes
};

enum : UInt32 {
  kCorvimusSetPrefsVersion = 0x1100,
  kCorvimusDeviceInfoSelector = 11,
  kCorvimusReportSize = 32,
};

enum : UInt16 {
  kCorvimusTransportOther = 1,
  kCorvimusTransportBluetooth = 2,
};

struct CorvimusDeviceInfo {
  UInt16 transport;
  UInt8 numButtons;
  UInt8 mouseReportID;
  UInt16 vendorID;
  UInt16 productID;
  UInt16 productVers;
  UInt16 reserved2;
  SInt32 resolution;
  UInt32 reserved3;
  char vendorName[80];
  char productName[80];
};

static_assert(sizeof(CorvimusDeviceInfo) == 180);
static_assert(offsetof(CorvimusDeviceInfo, vendorID) == 4);
static_assert(offsetof(CorvimusDeviceInfo, resolution) == 12);
static_assert(offsetof(CorvimusDeviceInfo, vendorName) == 20);
static_assert(offsetof(CorvimusDeviceInfo, productName) == 100);

// Packed keystroke: bits 0-7 character code, 8-15 virtual key code (255 = no key), 16-31 modifiers.
constexpr UInt32 PackKeystroke(UInt8 charCode, UInt8 keyCode, UInt16 modifiers) {
  return UInt32(charCode) | (UInt32(keyCode) << 8) | (UInt32(modifiers) << 16);
}
constexpr UInt8 KeystrokeChar(UInt32 packed) {
  return UInt8(packed);
}
constexpr UInt8 KeystrokeKeyCode(UInt32 packed) {
  return UInt8(packed >> 8);
}
constexpr UInt16 KeystrokeModifiers(UInt32 packed) {
  return UInt16(packed >> 16);
}
