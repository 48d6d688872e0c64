#include "agent/AgentFrontProcess.h"

#include <cstring>

#include "platform/FrontSwitch.h"
#include "platform/Processes.h"

namespace {

EventLoopTimerRef sTimer = nullptr;
ProcessSerialNumber sLastProcess = {0, kNoProcess};
OSType sLastSignature = 0;
Str255 sLastName = {0};
FrontProcessChangeProcPtr sChangeProc = nullptr;
UInt32 sChangeRefcon = 0;

// Whether the last look named a front application, and whether the mice were given the record
// for "no known application" (the global one) since: at start-up when the first look fails, and
// whenever a window is in front whose application nobody can name.
bool sFrontKnown = false;
bool sUnknownFrontApplied = false;

FrontSwitchWatcherRef sSwitchWatcher = nullptr;
EventLoopSourceRef sSwitchSource = nullptr;

void FrontSwitchReadable(EventLoopSourceRef, int, void*) {
  Boolean lost = false;
  Boolean changed = DrainFrontSwitchWatcher(sSwitchWatcher, &lost);
  if (changed) CheckFrontProcess();
  if (lost) {
    // The X server went away; the timer carries on alone.
    RemoveEventLoopSource(sSwitchSource);
    sSwitchSource = nullptr;
    DisposeFrontSwitchWatcher(sSwitchWatcher);
    sSwitchWatcher = nullptr;
  }
}

}  // namespace

OSStatus InstallFrontProcessWatcher(FrontProcessChangeProcPtr changeProc, UInt32 refcon) {
  if (sTimer) return 0;
  sLastSignature = 0;
  sLastName[0] = 0;
  EventLoopTimerUPP timerProc = NewEventLoopTimerUPP(FrontProcessTimer);
  if (!timerProc) return memFullErr;
  OSStatus result = InstallEventLoopTimer(GetMainEventLoop(), 0, kFrontProcessInterval, timerProc,
                                          nullptr, &sTimer);
  if (result == 0) {
    sChangeProc = changeProc;
    sChangeRefcon = refcon;
  } else {
    sTimer = nullptr;
  }
  return result;
}

void FrontProcessTimer(EventLoopTimerRef, void*) {
  CheckFrontProcess();
}

void CheckFrontProcess() {
  ProcessSerialNumber front;
  OSErr err = GetFrontProcess(&front);
  if (err != noErr) {
    // A window of an application nobody can name: the global record is in force. Nothing to
    // follow (no display, or one that cannot be read): the same, rather than the built-in
    // defaults the mice were opened with. Once a front application has been known, a look that
    // finds no window only skips the tick, so that a moment without an active window between two
    // others does not flip the mice to the global record and back.
    bool unknownWindow = err == kFrontProcessUnknownErr;
    if ((unknownWindow || !sFrontKnown) && !sUnknownFrontApplied && sChangeProc) {
      sUnknownFrontApplied = true;
      sFrontKnown = false;
      sLastProcess = {0, kNoProcess};
      sChangeProc(0, nullptr, sChangeRefcon);
    }
    return;
  }
  Boolean same = false;
  if (SameProcess(&front, &sLastProcess, &same) == noErr && same) return;

  // The name is read into a buffer of its own: a failed look-up must not leave a half-written
  // name beside the last process's signature, since a reload re-applies both.
  Str255 name = {0};
  ProcessInfoRec info;
  std::memset(&info, 0, sizeof info);
  info.processInfoLength = sizeof info;
  info.processName = name;
  info.processAppSpec = nullptr;
  if (GetProcessInformation(&front, &info) != noErr) return;

  sLastProcess = front;
  sFrontKnown = true;
  sUnknownFrontApplied = false;
  sLastSignature = info.processSignature;
  std::memcpy(sLastName, name, sizeof sLastName);
  if (sChangeProc) sChangeProc(sLastSignature, sLastName, sChangeRefcon);
}

OSStatus ReapplyFrontProcess() {
  if (!sTimer || !sChangeProc) return ioErr;
  sChangeProc(sLastSignature, sFrontKnown ? sLastName : nullptr, sChangeRefcon);
  return 0;
}

OSStatus InstallFrontSwitchSource() {
  if (sSwitchWatcher) return 0;
  // GNOME Shell tells the front window only through the system's extension, which the user may
  // not have enabled yet; the Shell enables an installed one when asked. The source notices the
  // extension whenever it appears on the bus.
  if (ChooseFrontSource() == kFrontSourceGnomeShell && !GnomeShellExtensionRunning())
    EnableGnomeShellExtension();
  OSStatus result = NewFrontSwitchWatcher(&sSwitchWatcher);
  if (result != noErr) return result;
  result =
      InstallEventLoopSource(GetMainEventLoop(), GetFrontSwitchWatcherDescriptor(sSwitchWatcher),
                             FrontSwitchReadable, nullptr, &sSwitchSource);
  if (result != noErr) {
    DisposeFrontSwitchWatcher(sSwitchWatcher);
    sSwitchWatcher = nullptr;
  }
  return result;
}
