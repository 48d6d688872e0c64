#include "agent/AgentRequests.h"

#include <cstdint>
#include <cstring>

#include "agent/AgentConnections.h"
#include "agent/AgentKeystrokes.h"
#include "agent/Session.h"
#include "platform/AppleEvents.h"
#include "platform/Processes.h"
#include "settings/CorvimusEvents.h"

void PerformDriverAction(io_connect_t connection, const void* argument) {
  // The message bytes carry no alignment promise.
  CorvimusActionRec action;
  std::memcpy(&action, argument, sizeof action);
  UInt8 ch = 0;
  UInt16 mods = 0;
  switch (action.command) {
    case kCmdOpenApplication:
    case kCmdOpenItem:
      // UNFINISHED: opening items needs the Launch Services open call and alias resolution.
      return;
    default:
      if (!GetActionKeystroke(action.command, gFrontSignature, &ch, &mods)) return;
  }
  if (ch == 0 || !gCharKeyCodes || !gCharModifiers) return;
  UInt32 keystroke = MakeLayoutKeystroke(ch, mods, gCharKeyCodes, gCharModifiers);
  int ignored = 0;
  IOConnectMethodScalarIScalarO(connection, kCorvimusSelectorScalar, 3, 1, int(connection),
                                int(kCorvimusKeystrokeCode), int(keystroke), &ignored);
}

OSErr ForwardDriverReport(const void* report) {
  ProcessSerialNumber psn = {0, kNoProcess};
  for (;;) {
    OSErr err = GetNextProcess(&psn);
    if (err != noErr) return err;
    ProcessInfoRec info;
    std::memset(&info, 0, sizeof info);
    info.processInfoLength = sizeof info;
    if (GetProcessInformation(&psn, &info) != noErr) return procNotFound;
    if (info.processSignature == kCorvimusAppSignature) break;
  }
  AEAddressDesc target;
  OSErr err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  AppleEvent event;
  err = AECreateAppleEvent(kCorvimusEventClass, kCorvimusEventReport, &target,
                           kAutoGenerateReturnID, kAnyTransactionID, &event);
  AEDisposeDesc(&target);
  if (err != noErr) return err;
  err = AEPutParamPtr(&event, keyDirectObject, typeCorvimusReport, report, kCorvimusReportSize);
  if (err == noErr)
    err =
        AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  AEDisposeDesc(&event);
  return err;
}

void DriverMessage(void* refcon, io_service_t, natural_t messageType, void* argument) {
  Boolean onConsole = IsSessionOnConsole();
  auto connection = static_cast<io_connect_t>(reinterpret_cast<uintptr_t>(refcon));
  switch (messageType) {
    case kCorvimusMsgDoAction:
      if (onConsole && argument) PerformDriverAction(connection, argument);
      break;
    case kCorvimusMsgRawReport:
      if (onConsole && argument && gFrontSignature == kCorvimusAppSignature)
        ForwardDriverReport(argument);
      break;
    case kIOMessageServiceIsTerminated:
    case kIOMessageServiceWasClosed:
      DropDriverConnection(connection);
      break;
    default:
      break;
  }
}
