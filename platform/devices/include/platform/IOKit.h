// IOKit as the agent uses it: find the driver's services, follow their arrival and departure, open
// user-client connections and call their methods, receive the driver's interest messages.
//
// The driver is a daemon speaking the frames of DriverProtocol.h on a Unix stream socket. Two
// places are watched: /run/corvimus/driver.sock (a system driver) and <runtime folder>/driver.sock
// (a per-user one, RuntimeFolder.h). A place without a driver simply contributes no services; when
// a driver appears there later (inotify on the folders, with a slow retry timer where a folder
// cannot be watched) its services arrive as first matches, and when it goes away each of its
// services is terminated: terminate notifications fire and every interest registration on them
// receives kIOMessageServiceIsTerminated.
//
// No driver can hold its caller up for long, nor the callers of another driver. Connecting never
// waits: the greeting is answered in the background (IOMasterPort alone waits, up to two seconds,
// for the drivers running then to list their services), and a driver that does not finish it
// within two seconds is dropped. A call waits at most 40 ms for its answer; a later answer is
// passed over when it comes (the call returned kIOReturnTimeout), and while an answer is overdue
// further calls to that driver return at once. An open not answered in time hands its connection
// out at once: calls that want an answer fail on it (kIOReturnNotResponding) until the answer
// comes, IOConnectCallAsyncMethod calls are kept and sent then, and a refusal arrives as
// kIOMessageServiceWasClosed. A driver that leaves a request unanswered or its socket unread for
// five seconds, breaks the protocol or floods is dropped, its services terminating.
//
// Everything is single-threaded. Notifications are delivered only from IONotificationPortDispatch,
// never from inside another call, so a callback may make any of these calls. The event loop watches
// the port's descriptor and calls IONotificationPortDispatch when it is readable.
#pragma once

#include <cstddef>

#include "platform/CoreFoundation.h"
#include "platform/MacTypes.h"

using kern_return_t = int;
using IOReturn = kern_return_t;
using mach_port_t = UInt32;
using task_port_t = mach_port_t;
using io_object_t = mach_port_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;
using io_connect_t = io_object_t;
using natural_t = UInt32;
using IOItemCount = UInt32;
using IOByteCount = UInt32;
using io_name_t = char[128];

enum : mach_port_t { MACH_PORT_NULL = 0 };

enum : kern_return_t {
  KERN_SUCCESS = 0,
  KERN_INVALID_ARGUMENT = 4,
  KERN_INVALID_NAME = 15,
};

enum : IOReturn {
  kIOReturnSuccess = 0,
  kIOReturnError = int(0xE00002BC),
  kIOReturnNoMemory = int(0xE00002BD),
  kIOReturnNoResources = int(0xE00002BE),
  kIOReturnIPCError = int(0xE00002BF),
  kIOReturnNoDevice = int(0xE00002C0),
  kIOReturnBadArgument = int(0xE00002C2),
  kIOReturnUnsupported = int(0xE00002C7),
  kIOReturnInternalError = int(0xE00002C9),
  kIOReturnNotOpen = int(0xE00002CD),
  kIOReturnTimeout = int(0xE00002D6),
  kIOReturnNotAttached = int(0xE00002D9),
  kIOReturnMessageTooLarge = int(0xE00002E1),
  kIOReturnNotPermitted = int(0xE00002E2),
  kIOReturnNotResponding = int(0xE00002ED),
  kIOReturnNotFound = int(0xE00002F0),
};

enum : natural_t {
  kIOMessageServiceIsTerminated = 0xE0000010,
  kIOMessageServiceWasClosed = 0xE0000110,
};

inline constexpr char kIOFirstMatchNotification[] = "IOServiceFirstMatch";
inline constexpr char kIOTerminatedNotification[] = "IOServiceTerminate";
inline constexpr char kIOGeneralInterest[] = "IOGeneralInterest";
inline constexpr char kIOProviderClassKey[] = "IOProviderClass";

using IONotificationPortRef = struct IONotificationPort*;
using IOServiceMatchingCallback = void (*)(void* refcon, io_iterator_t iterator);
using IOServiceInterestCallback = void (*)(void* refcon, io_service_t service,
                                           natural_t messageType, void* messageArgument);

// What an event loop needs to serve a notification port: a descriptor to watch for reading and the
// call to make when it is readable (perform(info)).
struct IORunLoopSource {
  int fd;
  void (*perform)(void* info);
  void* info;
};
using IORunLoopSourceRef = IORunLoopSource*;

mach_port_t mach_task_self();
// Drops a port right. The master port can be released at any time; the registry lives on.
kern_return_t mach_port_deallocate(task_port_t task, mach_port_t name);

// Starts the registry: watches both driver places and takes in the services of every driver that is
// running. Fails (kIOReturnNoResources) only when the layer itself cannot start (no descriptors).
kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);

// A matching dictionary for services of the class, with one reference; null for a null name.
CFMutableDictionaryRef IOServiceMatching(const char* name);

IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort);
void IONotificationPortDestroy(IONotificationPortRef notify);
IORunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify);
int IONotificationPortGetFileDescriptor(IONotificationPortRef notify);
// Takes in what the drivers sent and delivers this port's notifications, each callback once, in the
// order the events happened. Never blocks.
void IONotificationPortDispatch(IONotificationPortRef notify);

// Registers for kIOFirstMatchNotification or kIOTerminatedNotification of services matching the
// dictionary; consumes one reference of `matching` (also on failure). *notification is an iterator
// holding the services that match now (first match) or none (terminate). The callback fires when
// new objects join the iterator, but only once the iterator has been emptied with IOIteratorNext
// since the last callback: draining it is what keeps the notification armed.
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef notify,
                                               const char* notificationType,
                                               CFDictionaryRef matching,
                                               IOServiceMatchingCallback callback, void* refcon,
                                               io_iterator_t* notification);

// The next object of the iterator with a reference for the caller, or 0 when it is empty.
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRetain(io_object_t object);
// Drops a reference; releasing an iterator or an interest registration cancels its notification.
kern_return_t IOObjectRelease(io_object_t object);
UInt32 IOObjectGetRetainCount(io_object_t object);
// The service's class name, or kIOReturnBadArgument.
kern_return_t IOObjectGetClass(io_object_t object, io_name_t className);

// A message's argument (when it has one) is handed to the callback zero-padded to at least this
// many bytes, since the callback is not told its size.
enum : UInt32 { kIOInterestArgumentMinSize = 256 };

// The service's properties as its driver published them, in a new dictionary with one reference
// for the caller, plus kIODriverPlaceKey: which of the two places its driver listens on. The
// allocator and options are not used. kIOReturnBadArgument for an object that is no service.
inline constexpr char kIODriverPlaceKey[] = "IODriverPlace";
inline constexpr char kIODriverPlaceSystem[] = "system";  // /run/corvimus/driver.sock
inline constexpr char kIODriverPlaceUser[] = "user";      // the per-user runtime folder
kern_return_t IORegistryEntryCreateCFProperties(io_service_t service,
                                                CFMutableDictionaryRef* properties, void* allocator,
                                                UInt32 options);

// Which places a driver answers at now, as bits: 1 the system place, 2 the per-user place. A
// driver counts from its greeting on, with or without mice; the answer is as fresh as the last
// dispatch.
enum : UInt32 { kIODriverLinkedSystem = 1, kIODriverLinkedUser = 2 };
UInt32 IOKitGetLinkedDriverPlaces();

// Registers for kIOGeneralInterest messages of the service: the driver's messages and, when the
// service goes away, kIOMessageServiceIsTerminated. The registration lasts until it is released.
kern_return_t IOServiceAddInterestNotification(IONotificationPortRef notify, io_service_t service,
                                               const char* interestType,
                                               IOServiceInterestCallback callback, void* refcon,
                                               io_object_t* notification);

// Opens a user-client connection of the given type for the own task (mach_task_self()).
kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, UInt32 type,
                            io_connect_t* connect);
// Closes the connection and releases the handle. A connection whose driver or service is gone is
// released without asking the driver.
kern_return_t IOServiceClose(io_connect_t connect);

// The four call forms. Scalars travel as 32-bit values (the ints of the argument list, taken as
// unsigned); structures are checked against the sizes stated and never cut silently.
//   ScalarIScalarO:     ..., scalarIn[scalarInputCount] (int), scalarOut[scalarOutputCount] (int*)
//   ScalarIStructureO:  ..., scalarIn[scalarInputCount] (int), void* structureOut; *structureSize
//   is
//                       the buffer's size on entry and the bytes returned on exit
//   ScalarIStructureI:  ..., scalarIn[scalarInputCount] (int), void* structureIn of structureSize
//   StructureIStructureO: as its arguments say
kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, UInt32 index,
                                            IOItemCount scalarInputCount,
                                            IOItemCount scalarOutputCount, ...);
kern_return_t IOConnectMethodScalarIStructureO(io_connect_t connect, UInt32 index,
                                               IOItemCount scalarInputCount,
                                               IOByteCount* structureSize, ...);
kern_return_t IOConnectMethodScalarIStructureI(io_connect_t connect, UInt32 index,
                                               IOItemCount scalarInputCount,
                                               IOByteCount structureSize, ...);
kern_return_t IOConnectMethodStructureIStructureO(io_connect_t connect, UInt32 index,
                                                  IOItemCount structureInputSize,
                                                  IOByteCount* structureOutputSize,
                                                  void* inputStructure, void* outputStructure);

// The general form under the four above, with 64-bit scalars. *outputCnt and *outputStructCnt are
// capacities on entry and what the driver returned on exit; either pointer may be null for none.
kern_return_t IOConnectCallMethod(io_connect_t connect, UInt32 selector, const UInt64* input,
                                  UInt32 inputCnt, const void* inputStruct, size_t inputStructCnt,
                                  UInt64* output, UInt32* outputCnt, void* outputStruct,
                                  size_t* outputStructCnt);

// The same call without waiting for the answer, for callers that do not need it: the request is
// handed to the driver and its reply, when it comes, is passed over. Only the form without a wake
// port is offered (wakePort MACH_PORT_NULL, reference unused): the driver is asked for the
// outputs the counts state, and nothing is written back into them. kIOReturnSuccess once the
// request is handed over (or, while the connection's open is still unanswered, kept to be sent
// in order as soon as it is); an error when the connection cannot take it.
kern_return_t IOConnectCallAsyncMethod(io_connect_t connect, UInt32 selector, mach_port_t wakePort,
                                       UInt64* reference, UInt32 referenceCnt,
                                       const UInt64* input, UInt32 inputCnt,
                                       const void* inputStruct, size_t inputStructCnt,
                                       UInt64* output, UInt32* outputCnt, void* outputStruct,
                                       size_t* outputStructCnt);

// Test seams. The places watched default to the two above; a test points them into a temporary
// folder before IOMasterPort (an empty string leaves that place unwatched). Shutdown closes every
// link and forgets every object, as if the process had just started.
void IOKitSetDriverPlacesForTesting(const char* systemSocket, const char* userSocket);
void IOKitShutdownForTesting();
