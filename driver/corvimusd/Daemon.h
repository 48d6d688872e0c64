// corvimusd's logic, with no device access of its own: one published service of class "Corvimus"
// per physical mouse, the agents' calls, whose settings count, and where each mouse's events go.
//
// Whose settings count: only a client of the user active on seat0 may push a record, the mode or a
// keystroke; anyone may ask for a description. Each mouse keeps, per user, the last record and mode
// that user pushed, so a switch of user brings back that user's own (or the defaults). Requests to
// the agent go only to the active user's clients. While the active user has no connection to a
// mouse (the login screen, no agent running, an agent that crashed) its events pass through
// untouched: nobody would answer its requests, and the buttons that make them must not go dead.
//
// Single-threaded; the owner feeds it events, seat changes and timer expiries (see main.cpp).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DaemonDevices.h"
#include "driver/ActionEngine.h"
#include "driver/DriverServer.h"

namespace corvimus {

class CorvimusDaemon : public DriverServerDelegate {
 public:
  // keyboard: the shared virtual keyboard every mouse's keystrokes go to (null: none).
  explicit CorvimusDaemon(VirtualDevice* keyboard);
  ~CorvimusDaemon() override;

  DriverServer& Server() { return server_; }

  // Publishes the mouse; its events will go to pointer. Returns its service id.
  UInt32 AddMouse(const MouseDescription& description, std::unique_ptr<VirtualDevice> pointer);
  // The mouse is gone: whatever its engine holds is released, its clients see the service end and
  // its virtual pointer is destroyed.
  void RemoveMouse(UInt32 serviceId);
  // One evdev event of the mouse, SYN_REPORT frames included.
  void MouseEvent(UInt32 serviceId, UInt16 type, UInt16 code, SInt32 value, UInt64 nowUs);

  // The user active on seat0 (kDriverUnknownUid: nobody) and the desktop of that session.
  void SetActiveUser(UInt32 uid, DesktopKind desktop);
  UInt32 ActiveUser() const { return activeUid_; }
  // True while the mouse's events go through the engine rather than straight through.
  bool Remapping(UInt32 serviceId) const;

  // The earliest time (CLOCK_MONOTONIC, microseconds) an engine wants HandleTimer; 0 for none.
  UInt64 NextTimerUs() const;
  void HandleTimer(UInt64 nowUs);

  SInt32 DriverOpen(UInt32 serviceId, UInt32 type) override;
  void DriverOpened(UInt32 serviceId, UInt32 connectionId, UInt32 clientUid) override;
  void DriverClosed(UInt32 serviceId, UInt32 connectionId) override;
  void DriverCall(const DriverCallRequest& call, DriverCallResult* result) override;

 private:
  struct Mouse;
  class Output;

  void Reconsider(Mouse& mouse);
  void ApplyUserSettings(Mouse& mouse);

  DriverServer server_;
  VirtualDevice* keyboard_;
  std::map<UInt32, std::unique_ptr<Mouse>> mice_;
  UInt32 nextService_ = 1;
  UInt32 activeUid_ = kDriverUnknownUid;
  DesktopKind desktop_ = DesktopKind::Generic;
};

}  // namespace corvimus
