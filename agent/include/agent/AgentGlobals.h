// The agent's process-wide state. Everything here is touched only from the main thread, inside
// the application event loop.
#pragma once

#include "agent/KeyTables.h"
#include "platform/IOKit.h"
#include "platform/MacTypes.h"
#include "recordbase/QBase.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusEvents.h"
#include "settings/CorvimusPrefs.h"

// One open driver connection, in order of arrival.
struct DriverConnection {
  DriverConnection* next;
  io_connect_t connection;  // also the refcon of the service's interest notification
  CorvimusDeviceInfo info;  // all zero when the driver gave no description
  UInt8 driverPlace;        // CorvimusDriverPlace: where the mouse's driver runs
  char link[22];            // how the mouse is linked, as its driver says ("USB"); may be empty
};

extern QBaseHandle gSettingsBase;        // created once at start-up, never disposed
extern CorvimusPrefsRec* gCurrentPrefs;  // the record last chosen for the driver
extern DriverConnection* gConnections;
extern OSType gFrontSignature;  // signature last handed to SelectSettingsForProcess; 0 at start
extern SInt16 gOwnAppMode;      // 1 while the drivers were told that a 'CvMP' process is in front
extern Str255 gFrontName;       // name last handed to SelectSettingsForProcess; empty at start
extern SInt16 gRecordKind;      // CorvimusRecordKind of gCurrentPrefs
// gCharKeyCodes and gCharModifiers, the key tables, live with the code that builds them.

extern IONotificationPortRef gNotifyPort;
extern io_iterator_t gAddedIter;
extern io_iterator_t gRemovedIter;

// Puts the default record into gCurrentPrefs (start-up step 1).
void ResetCurrentPrefs();
