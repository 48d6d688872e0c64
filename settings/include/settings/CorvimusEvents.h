// Apple events between the pane, the agent and the product's own application (class 'CvMP').
//
//   'CVup' pane -> agent   no parameters, no reply: reload the settings file
//   'CVco' pane -> agent   reply: direct object of type 'CVct', a 1804-byte CorvimusDeviceList;
//                          the pane waits at most 15 ticks
//   'CVer' agent -> 'CvMP' direct object of type 'CVrt': the 32 bytes of a driver report
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
};

enum { kCorvimusMaxListedDevices = 10, kCorvimusDevicesTimeoutTicks = 15 };

struct CorvimusDeviceList {
  SInt16 count;
  UInt16 filler1;
  CorvimusDeviceInfo device[kCorvimusMaxListedDevices];
};

static_assert(sizeof(CorvimusDeviceList) == 1804);
static_assert(offsetof(CorvimusDeviceList, device) == 4);

// The agent's process name, as a Pascal string.
inline constexpr unsigned char kCorvimusHelperName[] =
    "\x0E"
    "CorvimusHelper";
