#include "agent/AgentGlobals.h"

#include <cstring>

#include "settings/MouseSettings.h"

namespace {
// gCurrentPrefs always points here; choosing a record overwrites it in place.
CorvimusPrefsRec sCurrentPrefs;
}  // namespace

QBaseHandle gSettingsBase = nullptr;
CorvimusPrefsRec* gCurrentPrefs = &sCurrentPrefs;
DriverConnection* gConnections = nullptr;
OSType gFrontSignature = 0;
SInt16 gOwnAppMode = 0;
Str255 gFrontName = {0};
SInt16 gRecordKind = kRecordKindDefaults;

IONotificationPortRef gNotifyPort = nullptr;
io_iterator_t gAddedIter = 0;
io_iterator_t gRemovedIter = 0;

// The built-in default, never the copy that may carry the pane's localized name.
void ResetCurrentPrefs() {
  std::memcpy(gCurrentPrefs, &kCorvimusDefaultPrefs, sizeof sCurrentPrefs);
  gRecordKind = kRecordKindDefaults;
}
