// Apple events between the pane, the agent and the product's own application (class 'CvMP').
//
//   'CVup' pane -> agent   no parameters, no reply: reload the settings file
//   'CVco' pane -> agent   reply: direct object of type 'CVct', a 1804-byte CorvimusDeviceList;
//                          the pane waits at most 15 ticks
//   'CVer' agent -> 'CvMP' direct object of type 'CVrt': the 32 bytes of a driver report
//   'CVst' pane -> agent   reply: direct object of type 'CVsa', a CorvimusAgentStatus (below);
//                          the pane waits at most 15 ticks
//
// CorvimusDeviceList (1804 bytes): 0 2 count (signed, 0..10)  2 2 filler1  4 1800 device[10]
#pragma once

#include <cstddef>

#include "platform/MacTypes.h"
#include "settings/CorvimusDriver.h"

enum : OSType {
  kCorvimusEventClass = FourCC("CvMP"),
  kCorvimusEventReload = FourCC("CVup"),
  kCorvimusEventDevices = FourCC("CVco"),
  kCorvimusEventReport = FourCC("CVer"),
  typeCorvimusDeviceList = FourCC("CVct"),
  typeCorvimusReport = FourCC("CVrt"),
  kCorvimusEventStatus = FourCC("CVst"),
  typeCorvimusAgentStatus = FourCC("CVsa"),
};

enum { kCorvimusMaxListedDevices = 10, kCorvimusDevicesTimeoutTicks = 15 };

struct CorvimusDeviceList {
  SInt16 count;
  UInt16 filler1;
  CorvimusDeviceInfo device[kCorvimusMaxListedDevices];
};

static_assert(sizeof(CorvimusDeviceList) == 1804);
static_assert(offsetof(CorvimusDeviceList, count) == 0);
static_assert(offsetof(CorvimusDeviceList, filler1) == 2);
static_assert(offsetof(CorvimusDeviceList, device) == 4);
static_assert(offsetof(CorvimusDeviceList, device[9]) == 4 + 9 * 180);

// The agent's process name, as a Pascal string.
inline constexpr unsigned char kCorvimusHelperName[] =
    "\x0E"
    "CorvimusHelper";

// What the agent is doing now, for the pane's Info tab ('CVst'). Native byte order (the two ends
// run on one machine), 364 bytes:
//   0   2 version            kCorvimusAgentStatusVersion
//   2   2 recordKind         CorvimusRecordKind: which record the mice have now
//   4   4 frontSignature     of the front application, 0 while none is known
//   8  64 frontName          Pascal string: the front application's process name, UTF-8
//  72  32 recordName         Pascal string: the appName of the record in force (empty for global)
// 104  16 agentVersion       C string, the agent's version
// 120   2 count              mice described below, 0..10, in the order of the device list ('CVco')
// 122   1 driversLinked      bits: 1 a system driver answers, 2 a per-user driver answers
// 123   1 filler
// 124 240 mouse[10]          CorvimusMouseLink, 24 bytes: 1 driver place (CorvimusDriverPlace),
//                            1 filler, 22 the link as a C string ("USB", "Bluetooth")
enum CorvimusRecordKind : SInt16 {
  kRecordKindDefaults = 0,     // no settings file was read: the built-in defaults
  kRecordKindApplication = 1,  // the front application's own record
  kRecordKindGlobal = 2,       // the record of all applications
  kRecordKindOwnApplication =
      3,  // the product's own application is in front: reports, no remapping
};

enum CorvimusDriverPlace : UInt8 {
  kDriverPlaceUnknown = 0,
  kDriverPlaceSystem = 1,  // the system service corvimusd
  kDriverPlaceUser = 2,    // a per-user driver: the simulated one
};

enum : UInt8 { kDriverLinkedSystem = 1, kDriverLinkedUser = 2 };
enum : UInt16 { kCorvimusAgentStatusVersion = 1 };

struct CorvimusMouseLink {
  UInt8 driverPlace;
  UInt8 filler;
  char link[22];
};

struct CorvimusAgentStatus {
  UInt16 version;
  SInt16 recordKind;
  OSType frontSignature;
  Str63 frontName;
  Str31 recordName;
  char agentVersion[16];
  SInt16 count;
  UInt8 driversLinked;
  UInt8 filler;
  CorvimusMouseLink mouse[kCorvimusMaxListedDevices];
};

static_assert(sizeof(CorvimusMouseLink) == 24);
static_assert(sizeof(CorvimusAgentStatus) == 364);
static_assert(offsetof(CorvimusAgentStatus, frontSignature) == 4);
static_assert(offsetof(CorvimusAgentStatus, frontName) == 8);
static_assert(offsetof(CorvimusAgentStatus, recordName) == 72);
static_assert(offsetof(CorvimusAgentStatus, agentVersion) == 104);
static_assert(offsetof(CorvimusAgentStatus, count) == 120);
static_assert(offsetof(CorvimusAgentStatus, driversLinked) == 122);
static_assert(offsetof(CorvimusAgentStatus, mouse) == 124);
