#include "agent/AgentConnections.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "agent/AgentRequests.h"

namespace {

// With `wait` false nothing waits for the driver's answer: for the calls whose result is ignored.
OSStatus SendSettings(io_connect_t connection, bool wait) {
  if (wait)
    return IOConnectMethodScalarIStructureI(
        connection, kCorvimusSelectorSetPrefs, 4, sizeof(CorvimusPrefsRec), int(connection),
        int(kCorvimusSetPrefsCode), int(kCorvimusSetPrefsVersion), 0, gCurrentPrefs);
  const UInt64 scalars[] = {connection, kCorvimusSetPrefsCode, kCorvimusSetPrefsVersion, 0};
  return IOConnectCallAsyncMethod(connection, kCorvimusSelectorSetPrefs, MACH_PORT_NULL, nullptr,
                                  0, scalars, 4, gCurrentPrefs, sizeof(CorvimusPrefsRec), nullptr,
                                  nullptr, nullptr, nullptr);
}

OSStatus SendOwnAppMode(io_connect_t connection, Boolean on, bool wait) {
  int ignored = 0;
  if (wait)
    return IOConnectMethodScalarIScalarO(connection, kCorvimusSelectorScalar, 3, 1,
                                         int(connection), int(kCorvimusOwnAppModeCode), on ? 1 : 0,
                                         &ignored);
  const UInt64 scalars[] = {connection, kCorvimusOwnAppModeCode, UInt64(on ? 1 : 0)};
  UInt32 ignoredOut = 1;
  return IOConnectCallAsyncMethod(connection, kCorvimusSelectorScalar, MACH_PORT_NULL, nullptr, 0,
                                  scalars, 3, nullptr, 0, nullptr, &ignoredOut, nullptr, nullptr);
}

// Results that say this one connection could not be reached (its driver is gone, broke the
// protocol, has not answered the open, or is late with its answer), not that the driver refused
// the call. The drivers behind such a connection may be others, so a pass goes on past it.
bool ConnectionUnreachable(OSStatus result) {
  return result == kIOReturnNotAttached || result == kIOReturnNotOpen ||
         result == kIOReturnNotResponding || result == kIOReturnTimeout ||
         result == kIOReturnIPCError;
}

// One call to every connection in order of arrival. The first refusal ends the pass; connections
// that cannot be reached are passed over. Returns the first failure of either kind.
template <typename Call>
OSStatus CallEachConnection(Call call) {
  OSStatus first = 0;
  for (DriverConnection* node = gConnections; node; node = node->next) {
    OSStatus result = call(node->connection);
    if (result == 0) continue;
    if (first == 0) first = result;
    if (!ConnectionUnreachable(result)) break;
  }
  return first;
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
    SendSettings(connection, false);
    SendOwnAppMode(connection, gFrontSignature == kCorvimusAppSignature, false);
    IOObjectRelease(service);
  }
}

void DeviceTerminated(void*, io_iterator_t iterator) {
  while (io_object_t object = IOIteratorNext(iterator)) IOObjectRelease(object);
}

OSStatus PushSettingsToDrivers() {
  return CallEachConnection([](io_connect_t connection) { return SendSettings(connection, true); });
}

OSStatus SendOwnAppModeToDrivers(Boolean on) {
  return CallEachConnection(
      [on](io_connect_t connection) { return SendOwnAppMode(connection, on, true); });
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
