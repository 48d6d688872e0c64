// The simulated driver: virtual mice, each published as one service of class "Corvimus", serving
// the user-client calls the agent makes and remembering what each mouse was told. Each mouse runs
// the driver's action engine, as corvimusd does, on the input a control line makes up; what the
// engine writes is told in words instead of reaching a virtual device.
//
// Control lines (one command a line; every answer ends with a line that starts "ok" or "error"):
//   add [bluetooth]     a new mouse; answers "ok mouse N"
//   remove N            the mouse goes away (its service terminates)
//   press N SLOT        the control SLOT (C0-C7, RF, RB, PF, PB, a control word such as tilt-left,
//                       or its slot number) is pressed and released, or the wheel moved one
//                       notch; answers what a real mouse would now send, "ok C0, left button:
//                       left click with Ctrl held". Commands the agent carries out (26, 27, 71-76)
//                       send every client 'CVda' with the action.
//   report N HEX        'CVrr' with up to 32 bytes (zero-filled to 32)
//   close N             the driver closes every connection to mouse N (kIOMessageServiceWasClosed)
//   refuse N on|off     mouse N refuses settings records (kIOReturnNotPermitted) until "off"
//   show                each mouse's settings in words
//   quit
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/ActionEngine.h"
#include "driver/DriverServer.h"
#include "driver/SimText.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus {

// Where a simulated mouse's engine writes: requests and reports go to the clients, and everything
// is kept for the words of the next answer.
class SimEngineOutput : public EngineOutput {
 public:
  SimEngineOutput(DriverServer* server, UInt32 mouse) : server_(server), mouse_(mouse) {}
  void PointerEvent(UInt16 type, UInt16 code, SInt32 value) override;
  void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) override;
  void AgentRequest(const CorvimusActionRec& action) override;
  void Report(const UInt8 (&bytes)[32]) override;
  std::vector<EngineEvent> written;

 private:
  DriverServer* server_;
  UInt32 mouse_;
};

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
  std::unique_ptr<SimEngineOutput> output;
  std::unique_ptr<ActionEngine> engine;
  UInt64 clockUs = 0;     // the engine's time: the monotonic clock, ahead of it after a press
  std::string lastTyped;  // what the engine typed for the last keystroke the agent sent
};

class SimDriver : public DriverServerDelegate {
 public:
  SimDriver();
  ~SimDriver() override;

  // Listens at socketPath, publishes `mice` mice (the first `bluetooth` of them Bluetooth), and
  // appends one JSON line per call to recordPath when it is not empty.
  OSErr Start(const std::string& socketPath, int mice, int bluetooth,
              const std::string& recordPath);
  // Whose shortcuts the special functions type, for every mouse (the desktop the simulator runs
  // in).
  void SetDesktop(DesktopKind kind);
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
  // Runs the mouse's timed steps to the end, moving its clock along; the answer's words.
  std::string Settle(SimMouse& mouse);
  std::string Report(UInt32 number, const std::string& hex);

  DriverServer server_;
  std::map<UInt32, SimMouse> mice_;
  UInt32 nextMouse_ = 1;
  FILE* record_ = nullptr;
  DesktopKind desktop_ = DesktopKind::Generic;
};

// A plausible description of virtual mouse `number`.
CorvimusDeviceInfo SimDeviceInfo(UInt32 number, bool bluetooth);

}  // namespace corvimus
