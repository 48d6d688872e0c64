#include "Uninstaller.h"

#include <sys/wait.h>

#include <cerrno>

#include "platform/Authorization.h"
#include "platform/Folders.h"
#include "platform/Processes.h"
#include "platform/TextUtils.h"

using namespace corvimus::toolbox;

namespace {

// Held from start to end.
IBNibRef gNibRef = nullptr;

const unsigned char kHelperProcessName[] = "\016CorvimusHelper";
const unsigned char kPreferencesProcessName[] = "\022System Preferences";
const unsigned char kDriverName[] = "\015Corvimus.kext";
const char kRemovalToolName[] = "rmkvcv";
char kRemovalToolArgument[] = "--rmcvms";

// Quits the running parts, runs the removal tool and shows how it went. The window the command came
// from goes first.
void RemoveInstallation(WindowRef window) {
  DisposeWindow(window);
  // Not waited for: the tool deletes the files of a program that is still ending just as well.
  SendEventToProcess(kHelperProcessName, kCoreEventClass, kAEQuitApplication);
  SendEventToProcess(kPreferencesProcessName, kCoreEventClass, kAEQuitApplication);

  QString result = QStringLiteral("Error");
  FSRef tool;
  if (GetBundleResourceRef(kRemovalToolName, &tool) == noErr) {
    char* arguments[] = {kRemovalToolArgument, nullptr};
    if (RunToolWithPrivileges(&tool, arguments) == noErr) result = QStringLiteral("Success");
  }
  if (ShowNibWindow(result) != noErr) QuitApplicationEventLoop();
}

}  // namespace

OSStatus RunUninstaller() {
  InstallBundleTranslations();
  OSStatus err = CreateNibReference(QStringLiteral("main"), &gNibRef);
  if (err != noErr) return err;
  err = SetMenuBarFromNib(gNibRef, QStringLiteral("Menus"));
  if (err == noErr) {
    err = ShowNibWindow(IsDriverInstalled() ? QStringLiteral("Confirm")
                                            : QStringLiteral("NotNeeded"));
  }
  if (err == noErr) RunApplicationEventLoop();
  DisposeNibReference(gNibRef);
  gNibRef = nullptr;
  return err;
}

Boolean IsDriverInstalled() {
  SInt16 vRefNum;
  SInt32 dirID;
  if (FindFolder(kOnSystemDisk, kKernelExtensionsFolderType, kDontCreateFolder, &vRefNum, &dirID) !=
      noErr)
    return false;
  FSSpec spec;
  return FSMakeFSSpec(vRefNum, dirID, kDriverName, &spec) == noErr;
}

OSStatus ShowNibWindow(const QString& name) {
  WindowRef window;
  OSStatus err = CreateWindowFromNib(gNibRef, name, &window);
  if (err != noErr) return err;
  const EventTypeSpec kinds[] = {{kEventClassCommand, kEventCommandProcess},
                                 {kEventClassWindow, kEventWindowClose}};
  err = InstallWindowEventHandler(window, NewEventHandlerUPP(HandleWindowEvent), 2, kinds, window,
                                  nullptr);
  ShowWindow(window);
  return err;
}

OSStatus HandleWindowEvent(EventHandlerCallRef, EventRef event, void* userData) {
  auto window = static_cast<WindowRef>(userData);
  UInt32 eventClass = GetEventClass(event);
  UInt32 kind = GetEventKind(event);
  if (eventClass == kEventClassWindow && kind == kEventWindowClose) {
    QuitApplicationEventLoop();
    return eventNotHandledErr;
  }
  if (eventClass != kEventClassCommand || kind != kEventCommandProcess) return eventNotHandledErr;

  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                        nullptr, &command) != noErr)
    return eventNotHandledErr;
  switch (command.commandID) {
    case kCommandRemove:
      RemoveInstallation(window);
      return noErr;
    case kCommandRestart:
      SendRestartEvent();
      QuitApplicationEventLoop();
      return eventNotHandledErr;
    case kCommandDismiss:
      DisposeWindow(window);
      return eventNotHandledErr;
    case kHICommandAbout:
      return ShowNibWindow(QStringLiteral("Info"));
    case kHICommandClose:
      QuitApplicationEventLoop();
      return eventNotHandledErr;
    default:
      return eventNotHandledErr;
  }
}

OSStatus GetBundleResourceRef(const char* name, FSRef* ref) {
  QUrl url;
  OSStatus err = CopyBundleResourceURL(name, &url);
  if (err != noErr) return err;
  if (!ref) return paramErr;
  QByteArray path = url.toLocalFile().toUtf8();
  if (path.isEmpty() ||
      FSPathMakeRef(reinterpret_cast<const UInt8*>(path.constData()), ref, nullptr) != noErr)
    return fnfErr;
  return noErr;
}

OSStatus CopyBundleResourceURL(const char* name, QUrl* url) {
  if (!url) return paramErr;
  url->clear();
  QString bundle = MainBundlePath();
  if (bundle.isEmpty()) return ioErr;
  if (!name) return resNotFound;
  QUrl found = CopyBundleResource(bundle, StringFromMacRoman(name));
  if (found.isEmpty()) return fnfErr;
  *url = found;
  return noErr;
}

OSStatus RunToolWithPrivileges(const FSRef* tool, char* const* arguments) {
  UInt8 path[1024];
  OSStatus err = FSRefMakePath(tool, path, sizeof path);
  if (err != noErr) return err;
  const AuthorizationFlags flags =
      kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
  AuthorizationRef authorization;
  err = AuthorizationCreate(nullptr, nullptr, flags, &authorization);
  if (err != noErr) return err;

  AuthorizationItem right{kAuthorizationRightExecute, 0, nullptr, 0};
  AuthorizationRights rights{1, &right};
  err = AuthorizationCopyRights(authorization, &rights, nullptr, flags, nullptr);
  if (err == noErr) {
    char* noArguments[] = {nullptr};
    pid_t child = -1;
    err = AuthorizationExecuteWithPrivileges(authorization, reinterpret_cast<const char*>(path),
                                             kAuthorizationFlagDefaults,
                                             arguments ? arguments : noArguments, nullptr, &child);
    if (err == noErr) {
      // This child only: waiting for any child could take another one's status for the tool's.
      int status = 0;
      pid_t ended;
      do {
        ended = waitpid(child, &status, 0);
      } while (ended < 0 && errno == EINTR);
      if (ended < 0) {
        err = errAuthorizationInternal;
      } else if (WIFEXITED(status)) {
        err = WEXITSTATUS(status);
      } else {
        // Killed by a signal: whatever it did, it did not finish.
        err = errAuthorizationToolExecuteFailure;
      }
    }
  }
  AuthorizationFree(authorization, kAuthorizationFlagDestroyRights);
  return err;
}

OSErr FindRunningProcess(ConstStr255Param name, ProcessSerialNumber* psn) {
  if (!name) return paramErr;
  ProcessSerialNumber process{0, kNoProcess};
  OSErr err;
  while ((err = GetNextProcess(&process)) == noErr) {
    Str255 processName;
    ProcessInfoRec info{};
    info.processInfoLength = 60;
    info.processName = processName;
    info.processAppSpec = nullptr;
    if (GetProcessInformation(&process, &info) != noErr) continue;
    if (EqualString(processName, name, false, true)) {
      if (psn) *psn = process;
      return noErr;
    }
  }
  return err;
}

OSErr SendEventToProcess(ConstStr255Param name, AEEventClass eventClass, AEEventID eventID) {
  ProcessSerialNumber psn;
  OSErr err = FindRunningProcess(name, &psn);
  if (err != noErr) return err;
  if (eventClass == 0 && eventID == 0) return noErr;
  AEAddressDesc target;
  err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  AppleEvent event;
  err = AECreateAppleEvent(eventClass, eventID, &target, kAutoGenerateReturnID, kAnyTransactionID,
                           &event);
  if (err == noErr) {
    err =
        AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    AEDisposeDesc(&event);
  }
  AEDisposeDesc(&target);
  return err;
}

OSErr SendRestartEvent() {
  const ProcessSerialNumber system{0, kSystemProcess};
  AEAddressDesc target;
  OSErr err = AECreateDesc(typeProcessSerialNumber, &system, sizeof system, &target);
  if (err != noErr) return err;
  AppleEvent event;
  err = AECreateAppleEvent(kCoreEventClass, kAERestart, &target, kAutoGenerateReturnID,
                           kAnyTransactionID, &event);
  if (err == noErr) {
    err = AESend(&event, nullptr, kAENoReply | kAEAlwaysInteract | kAECanSwitchLayer,
                 kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    AEDisposeDesc(&event);
  }
  AEDisposeDesc(&target);
  return err;
}
