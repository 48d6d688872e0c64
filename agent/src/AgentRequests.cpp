#include "agent/AgentRequests.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "agent/AgentConnections.h"
#include "agent/AgentKeystrokes.h"
#include "agent/Session.h"
#include "platform/Aliases.h"
#include "platform/AppleEvents.h"
#include "platform/FileRefs.h"
#include "platform/Folders.h"
#include "platform/LaunchServices.h"
#include "platform/Processes.h"
#include "settings/CorvimusEvents.h"

namespace {

void OpenApplicationByCreator(OSType creator) {
  FSRef application;
  if (LSGetApplicationForInfo(kLSUnknownType, creator, nullptr, kLSRolesAll, &application,
                              nullptr) != noErr)
    return;
  LSOpenFSRef(&application, nullptr);
}

void OpenAssignedItem(ConstStringPtr aliasName) {
  // The pane never stores a longer name; anything else did not come from it. An empty name would
  // name the folder itself, and a colon would make the name a partial path that can climb out of
  // the folder: neither is an alias file in it.
  if (aliasName[0] == 0 || aliasName[0] > 31) return;
  for (int i = 1; i <= aliasName[0]; ++i)
    if (aliasName[i] == ':') return;
  SInt16 vRefNum = 0;
  SInt32 prefsDirID = 0;
  if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &prefsDirID) !=
      noErr)
    return;
  Str63 folderName;
  folderName[0] = static_cast<unsigned char>(sizeof kCorvimusAliasFolderName - 1);
  std::memcpy(folderName + 1, kCorvimusAliasFolderName, folderName[0]);
  FSSpec folderSpec;
  if (FSMakeFSSpec(vRefNum, prefsDirID, folderName, &folderSpec) != noErr) return;
  std::string folderPath;
  SInt16 folderVRefNum = 0;
  SInt32 folderDirID = 0;
  if (corvimus::FSSpecToPath(&folderSpec, &folderPath) != noErr ||
      corvimus::PathToDirID(folderPath, &folderVRefNum, &folderDirID) != noErr)
    return;

  FSSpec aliasSpec;
  if (FSMakeFSSpec(folderVRefNum, folderDirID, aliasName, &aliasSpec) != noErr) return;
  Boolean targetIsFolder = false, wasAliased = false;
  if (ResolveAliasFile(&aliasSpec, true, &targetIsFolder, &wasAliased) != noErr) return;
  FSRef target;
  if (FSpMakeFSRef(&aliasSpec, &target) != noErr) return;
  LSOpenFSRef(&target, nullptr);
}

}  // namespace

void PerformDriverAction(io_connect_t connection, const void* argument) {
  // The message bytes carry no alignment promise.
  CorvimusActionRec action;
  std::memcpy(&action, argument, sizeof action);
  UInt8 ch = 0;
  UInt16 mods = 0;
  switch (action.command) {
    case kCmdOpenApplication: {
      UInt32 creator;
      std::memcpy(&creator, action.data, sizeof creator);
      OpenApplicationByCreator(creator);
      return;
    }
    case kCmdOpenItem:
      OpenAssignedItem(action.data);
      return;
    default:
      if (!GetActionKeystroke(action.command, gFrontSignature, &ch, &mods)) return;
  }
  if (ch == 0 || !gCharKeyCodes || !gCharModifiers) return;
  UInt32 keystroke = MakeLayoutKeystroke(ch, mods, gCharKeyCodes, gCharModifiers);
  // The result is ignored, so nothing waits for it: a slow driver cannot hold the agent here.
  const UInt64 scalars[] = {connection, kCorvimusKeystrokeCode, keystroke};
  UInt32 ignoredOut = 1;
  IOConnectCallAsyncMethod(connection, kCorvimusSelectorScalar, MACH_PORT_NULL, nullptr, 0,
                           scalars, 3, nullptr, 0, nullptr, &ignoredOut, nullptr, nullptr);
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
