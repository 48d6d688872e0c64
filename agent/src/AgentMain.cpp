#include "agent/AgentMain.h"

#include <csignal>
#include <cstdlib>

#include "agent/AgentConnections.h"
#include "agent/AgentEvents.h"
#include "agent/AgentFrontProcess.h"
#include "agent/AgentGlobals.h"
#include "agent/AgentSelection.h"
#include "agent/AgentSettings.h"
#include "agent/KeyTables.h"
#include "platform/AppleEvents.h"
#include "platform/EventLoop.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"

namespace {

// The notifications end with the process; connections are left to the driver, which sees the
// process go.
void ReleaseNotifications() {
  if (gNotifyPort) IONotificationPortDestroy(gNotifyPort);
  gNotifyPort = nullptr;
  if (gAddedIter) IOObjectRelease(gAddedIter);
  gAddedIter = 0;
  if (gRemovedIter) IOObjectRelease(gRemovedIter);
  gRemovedIter = 0;
}

void HandleInterrupt(int) {
  ReleaseNotifications();
  std::exit(0);
}

void NotifyPortReadable(EventLoopSourceRef, int, void* userData) {
  auto* source = static_cast<IORunLoopSourceRef>(userData);
  source->perform(source->info);
}

}  // namespace

int RunCorvimusHelper(Boolean followWindowEvents) {
  ResetCurrentPrefs();
  // SIGINT is taken from the event loop rather than in signal context, so the clean-up below runs
  // as ordinary code.
  InstallEventLoopSignalHandler(SIGINT, HandleInterrupt);

  gSettingsBase = QBaseNew(kCorvimusBaseType, kCorvimusBaseTypeVersion, 8);
  QBaseSetFlipProc(gSettingsBase, FlipCorvimusPrefsRec, nullptr);
  ReloadSettings();

  InstallFrontProcessWatcher(SelectSettingsForProcess, 0);
  if (followWindowEvents) InstallFrontSwitchSource();
  BuildKeyTables(&gCharKeyCodes, &gCharModifiers);

  mach_port_t masterPort = 0;
  if (IOMasterPort(MACH_PORT_NULL, &masterPort) != KERN_SUCCESS || masterPort == 0) return -1;
  CFMutableDictionaryRef matching = IOServiceMatching(kCorvimusServiceClass);
  if (!matching) {
    mach_port_deallocate(mach_task_self(), masterPort);
    return -1;
  }
  gNotifyPort = IONotificationPortCreate(masterPort);
  if (IORunLoopSourceRef source = IONotificationPortGetRunLoopSource(gNotifyPort))
    InstallEventLoopSource(GetMainEventLoop(), source->fd, NotifyPortReadable, source, nullptr);
  CFRetain(matching);
  CFRetain(matching);
  IOServiceAddMatchingNotification(gNotifyPort, kIOFirstMatchNotification, matching, DeviceAdded,
                                   nullptr, &gAddedIter);
  DeviceAdded(nullptr, gAddedIter);
  IOServiceAddMatchingNotification(gNotifyPort, kIOTerminatedNotification, matching,
                                   DeviceTerminated, nullptr, &gRemovedIter);
  DeviceTerminated(nullptr, gRemovedIter);
  // Each registration took one of the two references added above; this drops the one that
  // IOServiceMatching gave us.
  CFRelease(matching);
  mach_port_deallocate(mach_task_self(), masterPort);

  InstallAgentEventHandlers(HandleReloadEvent, HandleDevicesEvent, HandleStatusEvent);

  RunApplicationEventLoop();
  // The same release on a quit event as on SIGINT, so neither end leaves the registrations behind.
  ReleaseNotifications();
  return 0;
}
