// The Apple Event Manager: descriptors, Apple events with parameters, sending them to a process by
// serial number and handling those that arrive.
//
// Transport: a process that installs a handler (or runs the application event loop) listens on a
// Unix stream socket in the runtime folder (RuntimeFolder.h) named after its process serial number,
// "ae-<pid>-<start>.sock". Only peers of the same user are accepted, in both directions; each frame
// (AppleEventFrames.h) is checked before use and a malformed or oversized one closes that
// connection only. Sockets of processes that ended are removed when found.
//
// Handlers run on the thread that dispatches: from RunApplicationEventLoop, or from
// AEProcessPendingEvents in a process with its own event loop (watch AEGetEventDescriptor for
// reading). A handler's non-zero result is put into the reply as keyErrorNumber; AESend itself
// reports only what went wrong with the delivery (procNotFound, connectionInvalid, errAETimeout).
// Without a handler for the core quit event ('aevt', 'quit'), that event ends the application event
// loop.
//
// Serving never waits for a peer. A reply the socket cannot take at once is sent as the peer reads,
// and that connection's further events wait until it has; a reply not taken within one second
// closes the connection. A connection that brings no complete event for ten seconds is closed
// (senders connect again on their next send). One client process holds at most four connections;
// beyond that, or when all 64 places are taken, the oldest idle connection makes room. Each
// connection has its events handled a few at a time, in turn with the others. A child forked
// without exec may send events (on connections of its own); to receive them it must exec first.
#pragma once

#include "platform/MacTypes.h"
#include "platform/Processes.h"

using DescType = OSType;
using AEKeyword = OSType;
using AEEventClass = OSType;
using AEEventID = OSType;
using AEReturnID = SInt16;
using AETransactionID = SInt32;
using AESendMode = SInt32;
using AESendPriority = SInt16;
using SRefCon = void*;

struct OpaqueAEDataStorageType;
using AEDataStorage = OpaqueAEDataStorageType*;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
using AEAddressDesc = AEDesc;
using AppleEvent = AEDesc;

enum : DescType {
  typeNull = FourCC("null"),
  typeWildCard = FourCC("****"),
  typeAppleEvent = FourCC("aevt"),
  typeProcessSerialNumber = FourCC("psn "),
  typeSInt16 = FourCC("shor"),
  typeSInt32 = FourCC("long"),
  typeChar = FourCC("TEXT"),
  typeUTF8Text = FourCC("utf8"),
  typeType = FourCC("type"),
};

enum : AEKeyword {
  keyDirectObject = FourCC("----"),
  keyErrorNumber = FourCC("errn"),
};

enum : AEEventClass { kCoreEventClass = FourCC("aevt") };
enum : AEEventID {
  kAEOpenApplication = FourCC("oapp"),
  kAEQuitApplication = FourCC("quit"),
  kAEAnswer = FourCC("ansr"),
  kAERestart = FourCC("rest"),
};

enum : AEReturnID { kAutoGenerateReturnID = -1 };
enum : AETransactionID { kAnyTransactionID = 0 };

enum : AESendMode {
  kAENoReply = 0x00000001,
  kAEQueueReply = 0x00000002,  // not offered: AESend answers errAEUnknownSendMode
  kAEWaitReply = 0x00000003,
  kAENeverInteract = 0x00000010,
  kAECanInteract = 0x00000020,
  kAEAlwaysInteract = 0x00000030,
  kAECanSwitchLayer = 0x00000040,
};
enum : AESendPriority { kAENormalPriority = 0, kAEHighPriority = 1 };
enum : SInt32 {
  kAEDefaultTimeout = -1,  // one minute
  kNoTimeOut = -2,
};

using AEEventHandlerProcPtr = OSErr (*)(const AppleEvent* theAppleEvent, AppleEvent* reply,
                                        SRefCon handlerRefcon);
using AEEventHandlerUPP = AEEventHandlerProcPtr;
inline AEEventHandlerUPP NewAEEventHandlerUPP(AEEventHandlerProcPtr proc) {
  return proc;
}
inline void DisposeAEEventHandlerUPP(AEEventHandlerUPP) {}
// Idle and filter procedures are not offered; pass null.
using AEIdleUPP = void*;
using AEFilterUPP = void*;

// Descriptors. A null descriptor (typeNull, no data) needs no disposal but may be disposed.
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
OSErr AEDisposeDesc(AEDesc* theAEDesc);  // leaves a null descriptor
void AEInitializeDesc(AEDesc* desc);
Size AEGetDescDataSize(const AEDesc* theAEDesc);
OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize);

// `target`: a typeProcessSerialNumber descriptor holding a ProcessSerialNumber.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result);
// Replaces a parameter of the same keyword.
OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void* dataPtr, Size dataSize);
// No coercion: a parameter of another type than `desiredType` (unless typeWildCard) is
// errAECoercionFail; a missing one errAEDescNotFound. At most maximumSize bytes are copied;
// *actualSize is the parameter's full size.
OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* actualType, void* dataPtr, Size maximumSize, Size* actualSize);
// The event's class and id ('evcl', 'evid' attributes).
OSErr AEGetEventClassAndID(const AppleEvent* theAppleEvent, AEEventClass* eventClass,
                           AEEventID* eventID);

// kAENoReply returns once the event is handed over, which it waits for no longer than 100 ms (or
// timeOutInTicks when shorter) whatever the time-out says: a receiver that does not read cannot
// hold the sender (errAETimeout). kAEWaitReply waits at most timeOutInTicks (1/60 s;
// kAEDefaultTimeout, kNoTimeOut) for the reply, then gives errAETimeout. `reply` is set to a null
// descriptor first and may be null with kAENoReply.
OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode,
             AESendPriority sendPriority, SInt32 timeOutInTicks, AEIdleUPP idleProc,
             AEFilterUPP filterProc);

// Installing the first handler makes the process reachable. typeWildCard matches any class or id.
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon, Boolean isSysHandler);
OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                           AEEventHandlerUPP handler, Boolean isSysHandler);

// For a process with an event loop of its own: a descriptor that becomes readable when events are
// waiting (-1 when the process cannot listen), and the call that handles them without blocking.
int AEGetEventDescriptor();
OSErr AEProcessPendingEvents();

// Test seam: the idle time-out of incoming connections (0: the usual ten seconds).
void AESetIdleTimeoutForTesting(int milliseconds);
