#include "agent/AgentEvents.h"

#include <cstdio>
#include <cstring>

#include "agent/AgentConnections.h"
#include "agent/AgentSettings.h"
#include "settings/Version.h"

OSErr HandleReloadEvent(const AppleEvent*, AppleEvent*, SRefCon) {
  OSErr err = ReloadSettings();
  if (err != noErr) return err;
  return static_cast<OSErr>(PushSettingsToDrivers());
}

void FillDeviceList(CorvimusDeviceList* list) {
  std::memset(list, 0, sizeof *list);
  for (DriverConnection* node = gConnections; node && list->count < kCorvimusMaxListedDevices;
       node = node->next) {
    std::memcpy(&list->device[list->count], &node->info, sizeof node->info);
    ++list->count;
  }
}

void FillAgentStatus(CorvimusAgentStatus* status) {
  std::memset(status, 0, sizeof *status);
  status->version = kCorvimusAgentStatusVersion;
  status->recordKind = gRecordKind;
  status->frontSignature = gFrontSignature;
  // Cut where a UTF-8 character begins, so that the pane never shows half of one.
  UInt8 nameLength = gFrontName[0];
  if (nameLength > 63) {
    nameLength = 63;
    while (nameLength > 0 && (gFrontName[nameLength + 1] & 0xC0) == 0x80) --nameLength;
  }
  status->frontName[0] = nameLength;
  std::memcpy(status->frontName + 1, gFrontName + 1, nameLength);
  if (gRecordKind == kRecordKindApplication) {
    UInt8 n = gCurrentPrefs->appName[0] > 31 ? 31 : gCurrentPrefs->appName[0];
    status->recordName[0] = n;
    std::memcpy(status->recordName + 1, gCurrentPrefs->appName + 1, n);
  }
  std::snprintf(status->agentVersion, sizeof status->agentVersion, "%s", CorvimusVersionString());
  UInt32 linked = IOKitGetLinkedDriverPlaces();
  if (linked & kIODriverLinkedSystem) status->driversLinked |= kDriverLinkedSystem;
  if (linked & kIODriverLinkedUser) status->driversLinked |= kDriverLinkedUser;
  for (DriverConnection* node = gConnections; node && status->count < kCorvimusMaxListedDevices;
       node = node->next) {
    CorvimusMouseLink& mouse = status->mouse[status->count++];
    mouse.driverPlace = node->driverPlace;
    std::memcpy(mouse.link, node->link, sizeof mouse.link);
    mouse.link[sizeof mouse.link - 1] = 0;
  }
}

OSErr HandleStatusEvent(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusAgentStatus status;
  FillAgentStatus(&status);
  if (!reply || reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusAgentStatus, &status, sizeof status);
}

OSErr HandleDevicesEvent(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusDeviceList list;
  FillDeviceList(&list);
  if (!reply || reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusDeviceList, &list, sizeof list);
}
