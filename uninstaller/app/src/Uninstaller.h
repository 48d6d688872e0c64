// Corvimus Uninstaller: checks for the driver, asks for confirmation, asks the agent and System
// Preferences to quit, runs the removal tool "rmkvcv" from its own resources with administrator
// rights and reports the result.
#pragma once

#include <QString>
#include <QUrl>

#include "UninstallerToolbox.h"
#include "platform/AppleEvents.h"
#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

// Commands carried by the controls and menu items of the nib.
enum : UInt32 {
  kCommandRemove = FourCC("CVCV"),   // the removal sequence
  kCommandRestart = FourCC("BOOT"),  // restart the machine, then end
  kCommandDismiss = FourCC("CLAB"),  // dispose of the window the command came from
};

// The program's main routine (a QApplication must exist); the process exits with its result.
OSStatus RunUninstaller();
Boolean IsDriverInstalled();
OSStatus ShowNibWindow(const QString& name);
OSStatus HandleWindowEvent(corvimus::toolbox::EventHandlerCallRef handlerRef,
                           corvimus::toolbox::EventRef event, void* userData);
OSStatus GetBundleResourceRef(const char* name, FSRef* ref);
// *url is set in every case (empty on failure).
OSStatus CopyBundleResourceURL(const char* name, QUrl* url);
// The tool's exit code, or a failure status. `arguments` is null-terminated; null means none.
OSStatus RunToolWithPrivileges(const FSRef* tool, char* const* arguments);
OSErr FindRunningProcess(ConstStr255Param name, ProcessSerialNumber* psn);
// Class and ID both 0 only test that the process runs.
OSErr SendEventToProcess(ConstStr255Param name, AEEventClass eventClass, AEEventID eventID);
OSErr SendRestartEvent();
