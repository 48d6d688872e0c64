#include "agent/AgentEvents.h"

#include <cstring>

#include "agent/AgentConnections.h"
#include "agent/AgentSettings.h"

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

OSErr HandleDevicesEvent(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusDeviceList list;
  FillDeviceList(&list);
  if (!reply || reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusDeviceList, &list, sizeof list);
}
