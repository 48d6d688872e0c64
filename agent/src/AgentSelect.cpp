#include <cstring>

#include "agent/AgentConnections.h"
#include "agent/AgentGlobals.h"
#include "agent/AgentSelection.h"

void SelectSettingsForProcess(OSType signature, ConstStringPtr name, UInt32) {
  gFrontSignature = signature;
  if (name)
    std::memcpy(gFrontName, name, size_t(name[0]) + 1);
  else
    gFrontName[0] = 0;
  CorvimusPrefsRec chosen;
  if (signature == kCorvimusAppSignature) {
    if (gOwnAppMode == 0) SendOwnAppModeToDrivers(true);
    gOwnAppMode = 1;
    // Reports, not remapping, whatever record the mice keep meanwhile.
    gRecordKind = kRecordKindOwnApplication;
    // The product's own application always works with the global record, never with a record
    // of its own.
    SInt32 size = 0;
    const void* global = gSettingsBase ? QBaseGetRecord(gSettingsBase, 0, &size) : nullptr;
    if (!global || size != kCorvimusPrefsRecSize) return;
    std::memcpy(gCurrentPrefs, global, sizeof *gCurrentPrefs);
    PrepareRecordForDrivers(gSettingsBase, kGlobalRecord, gCurrentPrefs);
    PushSettingsToDrivers();
    return;
  }
  if (gOwnAppMode == 1) SendOwnAppModeToDrivers(false);
  gOwnAppMode = 0;
  SettingsChoice choice = ChooseSettingsRecord(gSettingsBase, signature, name, &chosen);
  if (choice == kNoSettingsRecord) return;
  PrepareRecordForDrivers(gSettingsBase, choice, &chosen);
  std::memcpy(gCurrentPrefs, &chosen, sizeof *gCurrentPrefs);
  gRecordKind = choice == kApplicationRecord ? kRecordKindApplication : kRecordKindGlobal;
  PushSettingsToDrivers();
}
