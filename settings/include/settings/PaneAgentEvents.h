// The pane's side of the pane-agent events, and the installation of the agent's two handlers.
#pragma once

#include "platform/AppleEvents.h"
#include "platform/MacTypes.h"
#include "platform/Processes.h"
#include "settings/CorvimusEvents.h"

// The first process whose name equals `name` with case ignored and accents respected, among those
// of the caller's login session (IsProcessInCurrentSession): each session runs an agent of its own,
// and the pane and the settings tool speak to theirs. `psn` may be null. procNotFound when no
// process of this session has the name.
OSErr FindNamedProcess(ConstStr255Param name, ProcessSerialNumber* psn);
// The same in every session of the user, to tell "not running" from "running elsewhere".
OSErr FindNamedProcessInAnySession(ConstStr255Param name, ProcessSerialNumber* psn);

// Asks the agent to reload the settings file ('CvMP'/'CVup'); does not wait.
OSErr RequestDriverPrefsUpdate();

// Asks the agent for the connected devices ('CvMP'/'CVco'), waiting at most 15 ticks. `list` is
// changed only when the reply carries a device list; a list whose count lies outside 0..10 is
// refused with errAECorruptData.
OSErr GetConnectedDevices(CorvimusDeviceList* list);

// Asks the agent what it is doing now ('CvMP'/'CVst'), waiting at most 15 ticks. `status` is
// changed only when the reply carries a status of this version with a count in 0..10
// (errAECorruptData otherwise); its texts are then cut to end inside their fields.
OSErr GetAgentStatus(CorvimusAgentStatus* status);

// Installs the agent's handlers for 'CvMP'/'CVup', 'CvMP'/'CVco' and 'CvMP'/'CVst' (refcon 0). A
// null procedure is skipped and the others are still installed; returns the first error met.
OSErr InstallAgentEventHandlers(AEEventHandlerProcPtr reloadHandler,
                                AEEventHandlerProcPtr devicesHandler,
                                AEEventHandlerProcPtr statusHandler = nullptr);
