#include "settings/PaneAgentEvents.h"

#include <cstring>

#include "platform/TextUtils.h"

namespace {

// The agent as target of a new 'CvMP' event with the given id.
OSErr MakeAgentEvent(AEEventID eventID, AppleEvent* event) {
  ProcessSerialNumber psn;
  OSErr err = FindNamedProcess(kCorvimusHelperName, &psn);
  if (err != noErr) return err;
  AEAddressDesc target;
  err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  err = AECreateAppleEvent(kCorvimusEventClass, eventID, &target, kAutoGenerateReturnID,
                           kAnyTransactionID, event);
  AEDisposeDesc(&target);
  return err;
}

// The walk of FindNamedProcess; with `thisSessionOnly` false, a process of another login session
// of the user counts too.
OSErr FindProcessByName(ConstStr255Param name, bool thisSessionOnly, ProcessSerialNumber* psn) {
  if (!name) return paramErr;
  ProcessSerialNumber current = {0, kNoProcess};
  for (;;) {
    OSErr err = GetNextProcess(&current);
    if (err != noErr) return err;
    Str255 processName;
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = processName;
    err = GetProcessInformation(&current, &info);
    // A process that ended since the walk began is simply passed over.
    if (err == procNotFound) continue;
    if (err != noErr) return err;
    if (!EqualString(name, processName, false, true)) continue;
    if (thisSessionOnly) {
      Boolean inSession = false;
      err = IsProcessInCurrentSession(&current, &inSession);
      if (err == procNotFound || (err == noErr && !inSession)) continue;
      if (err != noErr) return err;
    }
    if (psn) *psn = current;
    return noErr;
  }
}

}  // namespace

OSErr FindNamedProcess(ConstStr255Param name, ProcessSerialNumber* psn) {
  return FindProcessByName(name, true, psn);
}

OSErr FindNamedProcessInAnySession(ConstStr255Param name, ProcessSerialNumber* psn) {
  return FindProcessByName(name, false, psn);
}

OSErr RequestDriverPrefsUpdate() {
  AppleEvent event;
  OSErr err = MakeAgentEvent(kCorvimusEventReload, &event);
  if (err != noErr) return err;
  err = AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  AEDisposeDesc(&event);
  return err;
}

OSErr GetConnectedDevices(CorvimusDeviceList* list) {
  if (!list) return paramErr;
  AppleEvent event;
  OSErr err = MakeAgentEvent(kCorvimusEventDevices, &event);
  if (err != noErr) return err;
  AppleEvent reply;
  err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kCorvimusDevicesTimeoutTicks,
               nullptr, nullptr);
  if (err == noErr) {
    // Into a copy first, so a refused reply leaves the caller's list as it was; a short one leaves
    // the rest zero.
    CorvimusDeviceList received;
    std::memset(&received, 0, sizeof received);
    DescType actualType;
    Size actualSize = 0;
    err = AEGetParamPtr(&reply, keyDirectObject, typeCorvimusDeviceList, &actualType, &received,
                        sizeof received, &actualSize);
    // The pane indexes the entries by the count: one out of range is a damaged reply, not a list.
    if (err == noErr && (received.count < 0 || received.count > kCorvimusMaxListedDevices))
      err = errAECorruptData;
    if (err == noErr) std::memcpy(list, &received, sizeof received);
  }
  AEDisposeDesc(&reply);
  AEDisposeDesc(&event);
  return err;
}

OSErr InstallAgentEventHandlers(AEEventHandlerProcPtr reloadHandler,
                                AEEventHandlerProcPtr devicesHandler) {
  OSErr result = noErr;
  if (AEEventHandlerUPP upp = NewAEEventHandlerUPP(reloadHandler)) {
    result = AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventReload, upp, nullptr, false);
  }
  if (AEEventHandlerUPP upp = NewAEEventHandlerUPP(devicesHandler)) {
    OSErr err =
        AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventDevices, upp, nullptr, false);
    if (result == noErr) result = err;
  }
  return result;
}
