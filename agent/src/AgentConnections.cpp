#include "agent/AgentConnections.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "agent/AgentRequests.h"

namespace {

OSStatus SendSettings(io_connect_t connection) {
  return IOConnectMethodScalarIStructureI(
      connection, kCorvimusSelectorSetPrefs, 4, sizeof(CorvimusPrefsRec), int(connection),
      int(kCorvimusSetPrefsCode), int(kCorvimusSetPrefsVersion), 0, gCurrentPrefs);
}

OSStatus SendOwnAppMode(io_connect_t connection, Boolean on) {
  int ignored = 0;
  return IOConnectMethodScalarIScalarO(connection, kCorvimusSelectorScalar, 3, 1, int(connection),
                                       int(kCorvimusOwnAppModeCode), on ? 1 : 0, &ignored);
}

void ReadDeviceInfo(io_connect_t connection, CorvimusDeviceInfo* info) {
  std::memset(info, 0, sizeof *info);  // a short answer leaves the rest zero
  IOByteCount size = sizeof *info;
  kern_return_t result = IOConnectMethodScalarIStructureO(
      connection, kCorvimusSelectorDeviceInfo, 3, &size, int(connection),
      int(kCorvimusDeviceInfoCode), int(kCorvimusDeviceInfoSelector), info);
  if (result != KERN_SUCCESS) std::memset(info, 0, sizeof *info);
}

// Where the mouse's driver runs and how the mouse is linked, from the service's properties.
void ReadServiceFacts(io_service_t service, DriverConnection* node) {
  node->driverPlace = kDriverPlaceUnknown;
  node->link[0] = 0;
  CFMutableDictionaryRef properties = nullptr;
  if (IORegistryEntryCreateCFProperties(service, &properties, nullptr, 0) != KERN_SUCCESS) return;
  if (const char* place = CFDictionaryGetCString(properties, kIODriverPlaceKey))
    node->driverPlace = std::strcmp(place, kIODriverPlaceSystem) == 0 ? kDriverPlaceSystem
                        : std::strcmp(place, kIODriverPlaceUser) == 0 ? kDriverPlaceUser
                                                                      : kDriverPlaceUnknown;
  if (const char* link = CFDictionaryGetCString(properties, "Transport"))
    std::snprintf(node->link, sizeof node->link, "%s", link);
  CFRelease(properties);
}

}  // namespace

void DeviceAdded(void*, io_iterator_t iterator) {
  while (io_service_t service = IOIteratorNext(iterator)) {
    io_connect_t connection = 0;
    if (IOServiceOpen(service, mach_task_self(), 0, &connection) != KERN_SUCCESS) {
      IOObjectRelease(service);
      continue;
    }
    io_object_t notification = 0;
    if (IOServiceAddInterestNotification(gNotifyPort, service, kIOGeneralInterest, DriverMessage,
                                         reinterpret_cast<void*>(uintptr_t(connection)),
                                         &notification) != KERN_SUCCESS) {
      IOObjectRelease(service);
      continue;
    }
    CorvimusDeviceInfo info;
    ReadDeviceInfo(connection, &info);
    RememberDriverConnection(connection, &info);
    if (DriverConnection* node = FindDriverConnection(connection)) ReadServiceFacts(service, node);
    SendSettings(connection);
    SendOwnAppMode(connection, gFrontSignature == kCorvimusAppSignature);
    IOObjectRelease(service);
  }
}

void DeviceTerminated(void*, io_iterator_t iterator) {
  while (io_object_t object = IOIteratorNext(iterator)) IOObjectRelease(object);
}

OSStatus PushSettingsToDrivers() {
  for (DriverConnection* node = gConnections; node; node = node->next) {
    OSStatus result = SendSettings(node->connection);
    if (result != 0) return result;
  }
  return 0;
}

OSStatus SendOwnAppModeToDrivers(Boolean on) {
  for (DriverConnection* node = gConnections; node; node = node->next) {
    OSStatus result = SendOwnAppMode(node->connection, on);
    if (result != 0) return result;
  }
  return 0;
}

DriverConnection* FindDriverConnection(io_connect_t connection) {
  for (DriverConnection* node = gConnections; node; node = node->next)
    if (node->connection == connection) return node;
  return nullptr;
}

Boolean RememberDriverConnection(io_connect_t connection, const CorvimusDeviceInfo* info) {
  DriverConnection** link = &gConnections;
  for (; *link; link = &(*link)->next)
    if ((*link)->connection == connection) return true;
  auto* node = new (std::nothrow) DriverConnection;
  if (!node) return false;
  node->next = nullptr;
  node->connection = connection;
  node->driverPlace = kDriverPlaceUnknown;
  node->link[0] = 0;
  if (info)
    std::memcpy(&node->info, info, sizeof node->info);
  else
    std::memset(&node->info, 0, sizeof node->info);
  *link = node;
  return true;
}

void DropDriverConnection(io_connect_t connection) {
  for (DriverConnection** link = &gConnections; *link; link = &(*link)->next) {
    if ((*link)->connection != connection) continue;
    DriverConnection* node = *link;
    IOServiceClose(node->connection);
    *link = node->next;
    delete node;
    return;
  }
}

SInt32 CountDriverConnections() {
  SInt32 count = 0;
  for (DriverConnection* node = gConnections; node; node = node->next) ++count;
  return count;
}
