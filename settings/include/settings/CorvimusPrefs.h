// The settings record: one 1012-byte layout that is at once file content, the in-memory state of
// pane and agent, and the structure handed to the driver.
//
// CorvimusPrefsRec (all multi-byte fields in the byte order of the machine holding it):
//   off  size  field
//     0     4  application          signature; 0 in the global record, '????' when none
//     4     1  active               1 = in force
//     5     1  filler
//     6     2  reserved1
//     8     4  reserved2
//    12    32  appName              Pascal string, <= 31 characters
//    44    64  appFileName          Pascal string, <= 63 characters, no ".app"
//   108     2  device[0].options
//   110     1  device[0].speed      255 = none, else 8..140
//   111     1  device[0].acceleration  255 = none, else 0..200
//   112     4  device[0].reserved1
//   116   896  device[0].action[16] 16 x CorvimusActionRec (56 bytes each)
//
// CorvimusActionRec:
//     0  2 command   2 2 reserved1   4 2 modifiers   6 2 reserved2   8 2 delay
//    10  1 keyCode  11 1 repeat     12 4 reserved3  16 40 data
//
// Every field lies at its natural alignment inside the record, so the structs need no packing. A
// record inside a record base starts at an even but not necessarily 4-aligned address: copy it out
// with memcpy before reading it through these structs.
#pragma once

#include <cstddef>

#include "platform/MacTypes.h"
// kUnknownSignature ('????', an application without a signature) is the Process Manager's.
#include "platform/Processes.h"

struct CorvimusActionRec {
  UInt16 command;
  UInt16 reserved1;
  UInt16 modifiers;
  UInt16 reserved2;
  UInt16 delay;
  UInt8 keyCode;
  UInt8 repeat;
  UInt32 reserved3;
  UInt8 data[40];
};

enum { kCorvimusActionCount = 16 };

struct CorvimusDevicePrefs {
  UInt16 options;
  UInt8 speed;
  UInt8 acceleration;
  UInt32 reserved1;
  CorvimusActionRec action[kCorvimusActionCount];
};

struct CorvimusPrefsRec {
  UInt32 application;
  UInt8 active;
  UInt8 filler;
  UInt16 reserved1;
  UInt32 reserved2;
  Str31 appName;
  Str63 appFileName;
  CorvimusDevicePrefs device[1];
};

static_assert(sizeof(CorvimusActionRec) == 56);
static_assert(offsetof(CorvimusActionRec, modifiers) == 4);
static_assert(offsetof(CorvimusActionRec, delay) == 8);
static_assert(offsetof(CorvimusActionRec, keyCode) == 10);
static_assert(offsetof(CorvimusActionRec, repeat) == 11);
static_assert(offsetof(CorvimusActionRec, data) == 16);
static_assert(sizeof(CorvimusDevicePrefs) == 904);
static_assert(sizeof(CorvimusPrefsRec) == 1012);
static_assert(offsetof(CorvimusPrefsRec, active) == 4);
static_assert(offsetof(CorvimusPrefsRec, appName) == 12);
static_assert(offsetof(CorvimusPrefsRec, appFileName) == 44);
static_assert(offsetof(CorvimusPrefsRec, device) == 108);
static_assert(offsetof(CorvimusPrefsRec, device[0].speed) == 110);
static_assert(offsetof(CorvimusPrefsRec, device[0].acceleration) == 111);
static_assert(offsetof(CorvimusPrefsRec, device[0].action) == 116);

enum : SInt32 { kCorvimusPrefsRecSize = sizeof(CorvimusPrefsRec) };

// Signatures
enum : OSType {
  kCorvimusGlobalApplication = 0,
  kCorvimusAppSignature = FourCC("CvMP"),  // the product's own application
};

// Action commands
enum : UInt16 {
  kCmdNone = 0,
  kCmdAsGlobal = 1,  // per-application records only: take the global record's action of that slot
  kCmdScrollFirst = 8,  // 8..19: direction (code - 8) % 4, kind (code - 8) / 4
  kCmdScrollLast = 19,
  kCmdMainMenuLast = 20,
  kCmdKeystroke = 24,
  kCmdOpenApplication = 26,  // creator code in data[0..3], native order
  kCmdOpenItem = 27,         // Pascal string in data naming an alias file
  kCmdClickFirst = 32,
  kCmdMainClick = 33,
  kCmdClickLast = 45,
  kCmdSpecialFirst = 64,
  kCmdSpecialLast = 70,
  kCmdUndo = 71,
  kCmdCut = 72,
  kCmdCopy = 73,
  kCmdPaste = 74,
  kCmdForward = 75,
  kCmdBack = 76,
};

// Modifier bits of CorvimusActionRec.modifiers (the Carbon event-modifier layout).
enum : UInt16 {
  cmdKey = 0x0100,
  shiftKey = 0x0200,
  alphaLock = 0x0400,
  optionKey = 0x0800,
  controlKey = 0x1000,
  kCorvimusSpaceKey = 0x2000,
};

// Action slots: 0-7 are the buttons C0-C7, 12-15 the scroll controls RF, RB, PF, PB; 8-11 unused.
enum : int {
  kSlotButtonFirst = 0,
  kSlotButtonLast = 7,
  kSlotRF = 12,
  kSlotRB = 13,
  kSlotPF = 14,
  kSlotPB = 15,
};

// The settings file and base.
enum : OSType {
  kCorvimusBaseType = FourCC("CvBa"),
  kCorvimusPrefsFileType = FourCC("pref"),
  kCorvimusPrefsCreator = FourCC("CvMP"),
};
enum : UInt16 { kCorvimusBaseTypeVersion = 0x1100 };
inline constexpr char kCorvimusPrefsFileName[] = "com.kelvane.mouse.prefs";
inline constexpr char kCorvimusAliasFolderName[] = "com.kelvane.mouse.files";
