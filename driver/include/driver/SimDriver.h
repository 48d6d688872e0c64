// The simulated driver: virtual mice, each published as one service of class "Corvimus", serving
// the user-client calls the agent makes and remembering what each mouse was told.
//
// Control lines (one command a line; every answer ends with a line that starts "ok" or "error"):
//   add [bluetooth]     a new mouse; answers "ok mouse N"
//   remove N            the mouse goes away (its service terminates)
//   press N SLOT        the control SLOT (0-15, or C0-C7, RF, RB, PF, PB) is pressed: when the
//   mouse's
//                       record gives it a command the agent carries out (26, 27, 71-76), every
//                       client receives 'CVda' with that action
//   report N HEX        'CVrr' with up to 32 bytes (zero-filled to 32)
//   close N             the driver closes every connection to mouse N (kIOMessageServiceWasClosed)
//   refuse N on|off     mouse N refuses settings records (kIOReturnNotPermitted) until "off"
//   show                each mouse's settings in words
//   quit
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "driver/DriverServer.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus {

struct SimMouse {
  UInt32 number = 0;
  bool bluetooth = false;
  CorvimusDeviceInfo info{};
  bool hasRecord = false;  // false until a client pushes one: the mouse runs on its own defaults
  CorvimusPrefsRec record{};
  bool ownAppMode = false;
  std::vector<UInt32> keystrokes;
  UInt32 pushes = 0;
  bool refusePrefs = false;  // answers settings records with an error, to try a failing mouse
};

class SimDriver : public DriverServerDelegate {
 public:
  SimDriver();
  ~SimDriver() override;

  // Listens at socketPath, publishes `mice` mice (the first `bluetooth` of them Bluetooth), and
  // appends one JSON line per call to recordPath when it is not empty.
  OSErr Start(const std::string& socketPath, int mice, int bluetooth,
              const std::string& recordPath);
  DriverServer& Server() { return server_; }

  UInt32 AddMouse(bool bluetooth);
  bool RemoveMouse(UInt32 number);
  const SimMouse* Mouse(UInt32 number) const;

  // One control line; the answer lines go to *answer. Returns false after "quit".
  bool Control(const std::string& line, std::string* answer);
  std::string Show() const;
  void Stop();

  SInt32 DriverOpen(UInt32 serviceId, UInt32 type) override;
  void DriverCall(const DriverCallRequest& call, DriverCallResult* result) override;

 private:
  SInt32 Call(SimMouse& mouse, const DriverCallRequest& call, DriverCallResult* result);
  void Record(const SimMouse& mouse, const DriverCallRequest& call, SInt32 result);
  std::string Press(UInt32 number, const std::string& slot);
  std::string Report(UInt32 number, const std::string& hex);

  DriverServer server_;
  std::map<UInt32, SimMouse> mice_;
  UInt32 nextMouse_ = 1;
  FILE* record_ = nullptr;
};

// True for the commands a mouse hands to the agent instead of carrying them out itself.
bool SimCommandGoesToAgent(UInt16 command);
// A plausible description of virtual mouse `number`.
CorvimusDeviceInfo SimDeviceInfo(UInt32 number, bool bluetooth);

}  // namespace corvimus
