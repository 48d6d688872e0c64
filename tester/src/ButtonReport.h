// The driver's 32-byte report of one button or wheel event, as the agent forwards it to the button
// tester ('CvMP'/'CVer'); the layout is the driver's (settings/CorvimusDriver.h). Decoded with
// bounds and values checked, so that bytes from any peer are either a report or refused.
#pragma once

#include <cstddef>

#include "platform/MacTypes.h"

struct ButtonReport {
  UInt8 kind = 0;  // kCorvimusReportButton, kCorvimusReportWheel, kCorvimusReportTilt
  int slot = -1;   // the control's action slot: 0-7 buttons, 12-15 the wheel's controls
  bool highResolution = false;
  UInt16 eventType = 0;
  UInt16 eventCode = 0;
  SInt32 value = 0;        // buttons: 1 pressed, 0 released; wheels: units, positive up and right
  UInt16 buttonsDown = 0;  // bit n: button Cn is down after the event
  UInt64 timeUs = 0;
  UInt32 sequence = 0;

  bool pressed() const { return kind != 1 || value != 0; }
};

// False for anything that is not a report of version 1 with a known kind and a control the kind
// can have (buttons 0-7, wheel 12-13, tilt 14-15).
bool DecodeButtonReport(const UInt8* bytes, size_t size, ButtonReport* report);
