#include "settings/PaneAgentEvents.h"

#include <cstring>
#include <vector>

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

namespace {

// Asks the agent a question and takes the reply's direct object of `type` into `answer` (`size`
// bytes at most, the rest zero), waiting at most 15 ticks. `accept` judges what came before the
// caller's buffer is touched.
OSErr AskAgent(AEEventID eventID, DescType type, void* answer, Size size,
               bool (*accept)(const void* received)) {
  AppleEvent event;
  OSErr err = MakeAgentEvent(eventID, &event);
  if (err != noErr) return err;
  AppleEvent reply;
  err = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, kCorvimusDevicesTimeoutTicks,
               nullptr, nullptr);
  if (err == noErr) {
    // Into a copy first, so a refused reply leaves the caller's buffer as it was; a short one
    // leaves the rest zero.
    std::vector<UInt8> received(size_t(size), 0);
    DescType actualType;
    Size actualSize = 0;
    err = AEGetParamPtr(&reply, keyDirectObject, type, &actualType, received.data(), size,
                        &actualSize);
    if (err == noErr && !accept(received.data())) err = errAECorruptData;
    if (err == noErr) std::memcpy(answer, received.data(), size_t(size));
  }
  AEDisposeDesc(&reply);
  AEDisposeDesc(&event);
  return err;
}

}  // namespace

OSErr GetConnectedDevices(CorvimusDeviceList* list) {
  if (!list) return paramErr;
  // The pane indexes the entries by the count: one out of range is a damaged reply, not a list.
  return AskAgent(kCorvimusEventDevices, typeCorvimusDeviceList, list, sizeof *list,
                  [](const void* received) {
                    SInt16 count = static_cast<const CorvimusDeviceList*>(received)->count;
                    return count >= 0 && count <= kCorvimusMaxListedDevices;
                  });
}

OSErr GetAgentStatus(CorvimusAgentStatus* status) {
  if (!status) return paramErr;
  OSErr err = AskAgent(kCorvimusEventStatus, typeCorvimusAgentStatus, status, sizeof *status,
                       [](const void* received) {
                         auto* s = static_cast<const CorvimusAgentStatus*>(received);
                         return s->version == kCorvimusAgentStatusVersion && s->count >= 0 &&
                                s->count <= kCorvimusMaxListedDevices;
                       });
  if (err != noErr) return err;
  // Texts end inside their fields whatever the agent sent.
  if (status->frontName[0] > 63) status->frontName[0] = 63;
  if (status->recordName[0] > 31) status->recordName[0] = 31;
  status->agentVersion[sizeof status->agentVersion - 1] = 0;
  for (CorvimusMouseLink& m : status->mouse) m.link[sizeof m.link - 1] = 0;
  return noErr;
}

OSErr InstallAgentEventHandlers(AEEventHandlerProcPtr reloadHandler,
                                AEEventHandlerProcPtr devicesHandler,
                                AEEventHandlerProcPtr statusHandler) {
  OSErr result = noErr;
  if (AEEventHandlerUPP upp = NewAEEventHandlerUPP(reloadHandler)) {
    result = AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventReload, upp, nullptr, false);
  }
  if (AEEventHandlerUPP upp = NewAEEventHandlerUPP(devicesHandler)) {
    OSErr err =
        AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventDevices, upp, nullptr, false);
    if (result == noErr) result = err;
  }
  if (AEEventHandlerUPP upp = NewAEEventHandlerUPP(statusHandler)) {
    OSErr err =
        AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventStatus, upp, nullptr, false);
    if (result == noErr) result = err;
  }
  return result;
}
