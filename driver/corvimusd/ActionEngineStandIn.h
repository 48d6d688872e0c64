// STAND-IN, to be deleted when the action engine (driver/ActionEngine.h) is on main: the engine's
// agreed interface with a body that passes every event through unchanged and asks nothing of the
// agent, so that corvimusd's device plumbing can be built and tested on its own.
#pragma once

#include <cstring>

#include "platform/MacTypes.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus {

enum class DesktopKind { Generic, Gnome, Kde, Sway };

class EngineOutput {
 public:
  virtual ~EngineOutput() = default;
  virtual void PointerEvent(UInt16 type, UInt16 code, SInt32 value) = 0;
  virtual void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) = 0;
  virtual void AgentRequest(const CorvimusActionRec& action) = 0;
  virtual void Report(const UInt8 (&bytes)[32]) = 0;
};

class ActionEngine {
 public:
  explicit ActionEngine(EngineOutput* out) : out_(out) {}
  void SetDesktop(DesktopKind) {}
  void SetRecord(const CorvimusPrefsRec*) {}
  void SetOwnAppMode(bool) {}
  void PostKeystroke(UInt32) {}
  void HandleEvent(UInt16 type, UInt16 code, SInt32 value, UInt64) {
    out_->PointerEvent(type, code, value);
  }
  UInt64 NextTimerUs() const { return 0; }
  void HandleTimer(UInt64) {}
  void Reset() {}

 private:
  EngineOutput* out_;
};

inline DesktopKind DesktopKindFromName(const char* name) {
  if (!name) return DesktopKind::Generic;
  if (std::strstr(name, "GNOME")) return DesktopKind::Gnome;
  if (std::strstr(name, "KDE")) return DesktopKind::Kde;
  if (std::strstr(name, "sway")) return DesktopKind::Sway;
  return DesktopKind::Generic;
}

}  // namespace corvimus
