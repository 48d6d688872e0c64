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
//
// 'CVrr' report (32 bytes, little-endian whatever the machine): one for each button and wheel
// event of a mouse in own-application mode, where nothing is remapped.
//   off size  field
//     0    1  version, 1
//     1    1  kind: 1 button, 2 wheel rolled (REL_WHEEL), 3 wheel tilted (REL_HWHEEL)
//     2    1  control: the action slot, 0-7 for C0-C7, 12-15 for RF RB PF PB
//     3    1  flags: 0x01 a high-resolution wheel event (120 units to the notch)
//     4    2  the Linux event type (EV_KEY, EV_REL)
//     6    2  the Linux event code (BTN_LEFT.., REL_WHEEL, REL_WHEEL_HI_RES, ...)
//     8    4  value, signed: 1 pressed, 0 released; the wheel's units, positive up and right
//    12    2  the buttons C0-C7 down after the event, bit n for Cn
//    14    2  reserved, 0
//    16    8  the event's time in microseconds of the driver's monotonic clock
//    24    4  sequence number: the mouse's reports counted from 0, so a reader sees what it missed
//    28    4  reserved, 0
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
  kCorvimusDeviceInfoSize = 180,
  kCorvimusDeviceInfoSelector = 11,
  kCorvimusReportSize = 32,
};

enum : UInt8 {
  kCorvimusReportVersion = 1,
  kCorvimusReportButton = 1,
  kCorvimusReportWheel = 2,
  kCorvimusReportTilt = 3,
  kCorvimusReportHiRes = 0x01,
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
static_assert(offsetof(CorvimusDeviceInfo, transport) == 0);
static_assert(offsetof(CorvimusDeviceInfo, numButtons) == 2);
static_assert(offsetof(CorvimusDeviceInfo, mouseReportID) == 3);
static_assert(offsetof(CorvimusDeviceInfo, vendorID) == 4);
static_assert(offsetof(CorvimusDeviceInfo, productID) == 6);
static_assert(offsetof(CorvimusDeviceInfo, productVers) == 8);
static_assert(offsetof(CorvimusDeviceInfo, reserved2) == 10);
static_assert(offsetof(CorvimusDeviceInfo, resolution) == 12);
static_assert(offsetof(CorvimusDeviceInfo, reserved3) == 16);
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
