// The system process: the Apple events addressed to it (serial number high 0, low kSystemProcess)
// are carried out by the session's system services instead of being sent to a process. AESend
// hands them here.
//
//   'aevt' 'rest'  restart: logind's Reboot on the system bus; with kAECanInteract or
//                  kAEAlwaysInteract in the send mode logind may ask the user (through polkit)
//                  for the right to restart.
//   anything else  errAEEventNotHandled
#pragma once

#include <functional>

#include "platform/AppleEvents.h"

namespace corvimus {

// The answer of the system process to one event.
OSErr SendToSystemProcess(AEEventClass eventClass, AEEventID eventID, AESendMode sendMode);

// Test seam: replaces the request to logind (the machine must not restart under a test). The
// function receives whether the user may be asked. An empty function: logind again.
void SetRestartRequestForTesting(std::function<OSErr(bool interactive)> request);

}  // namespace corvimus
