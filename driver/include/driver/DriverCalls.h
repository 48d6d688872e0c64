// The agent's user-client calls (settings/CorvimusDriver.h) told apart and checked, for every
// driver that serves them: a call either names one of the four requests with well-formed arguments,
// or gets the IOReturn that refuses it.
#pragma once

#include "driver/DriverServer.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus {

enum class CorvimusCallKind { SetPrefs, OwnAppMode, Keystroke, DeviceInfo };

struct CorvimusCall {
  CorvimusCallKind kind = CorvimusCallKind::SetPrefs;
  CorvimusPrefsRec record{};  // SetPrefs: the record, copied out of the structure
  UInt32 value = 0;           // OwnAppMode: 1 or 0; Keystroke: the packed keystroke
};

// kIOReturnSuccess with *out filled, or the error the call is answered with. A settings record of
// any size but 1012 bytes is refused whole: a short one would leave stale actions behind, a long
// one would be cut without anyone knowing.
SInt32 ParseCorvimusCall(const DriverCallRequest& call, CorvimusCall* out);

// Fills the reply of an accepted call: the one scalar out of selector 1 when the caller wants it,
// the 180-byte description for selector 2.
void ReplyToCorvimusCall(const DriverCallRequest& request, const CorvimusCall& call,
                         const CorvimusDeviceInfo& info, DriverCallResult* result);

}  // namespace corvimus
