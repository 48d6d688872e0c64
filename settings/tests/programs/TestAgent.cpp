// Stands in for the agent in the pane-side tests: answers 'CVup' by printing "reload" and 'CVco'
// with a device list. Options:
//   --devices N     the list holds N devices ("Mouse 1" ...), at most 10
//   --stall MS      the 'CVco' handler sleeps MS milliseconds before answering
//   --wrong-type    the list comes back as direct object of type 'TEXT'
//   --count N       the list's count field is N whatever the entries
// and answers 'CVst' with a status naming "Front App" and the record "Own", one mouse per device,
// unless --status says otherwise:
//   --status overlong   names whose length bytes and texts run to the end of their fields
//   --status version2   a status of another version
// Prints "ready" once reachable; exits 0 when the event loop ends.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/EventLoop.h"
#include "settings/PaneAgentEvents.h"

namespace {

int gDevices = 0;
int gStallMs = 0;
bool gWrongType = false;
int gCount = -1;
std::string gStatus;

OSErr Reload(const AppleEvent*, AppleEvent*, SRefCon) {
  std::printf("reload\n");
  std::fflush(stdout);
  return noErr;
}

OSErr Devices(const AppleEvent*, AppleEvent* reply, SRefCon) {
  if (gStallMs > 0) usleep(useconds_t(gStallMs) * 1000);
  CorvimusDeviceList list;
  std::memset(&list, 0, sizeof list);
  for (int i = 0; i < gDevices && i < kCorvimusMaxListedDevices; ++i) {
    CorvimusDeviceInfo& d = list.device[list.count++];
    d.transport = i % 2 ? kCorvimusTransportBluetooth : kCorvimusTransportOther;
    d.numButtons = UInt8(3 + i);
    d.vendorID = 0x1234;
    d.productID = UInt16(i);
    std::snprintf(d.productName, sizeof d.productName, "Mouse %d", i + 1);
  }
  if (gCount >= -32768 && gCount != -1) list.count = SInt16(gCount);
  if (reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject,
                       gWrongType ? DescType(typeChar) : DescType(typeCorvimusDeviceList), &list,
                       sizeof list);
}

OSErr Status(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusAgentStatus status;
  std::memset(&status, 0, sizeof status);
  status.version = gStatus == "version2" ? 2 : kCorvimusAgentStatusVersion;
  status.recordKind = kRecordKindApplication;
  status.frontSignature = FourCC("FrNt");
  status.frontName[0] = 9;
  std::memcpy(status.frontName + 1, "Front App", 9);
  status.recordName[0] = 3;
  std::memcpy(status.recordName + 1, "Own", 3);
  std::snprintf(status.agentVersion, sizeof status.agentVersion, "9.9");
  status.driversLinked = kDriverLinkedSystem;
  for (int i = 0; i < gDevices && i < kCorvimusMaxListedDevices; ++i) {
    status.mouse[status.count].driverPlace = kDriverPlaceSystem;
    std::snprintf(status.mouse[status.count++].link, sizeof status.mouse[0].link, "USB");
  }
  if (gStatus == "overlong") {
    status.frontName[0] = 255;
    std::memset(status.frontName + 1, 'f', sizeof status.frontName - 1);
    status.recordName[0] = 200;
    std::memset(status.recordName + 1, 'r', sizeof status.recordName - 1);
    std::memset(status.agentVersion, 'v', sizeof status.agentVersion);
    for (CorvimusMouseLink& m : status.mouse) std::memset(m.link, 'l', sizeof m.link);
  }
  if (reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusAgentStatus, &status, sizeof status);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--devices" && i + 1 < argc)
      gDevices = std::atoi(argv[++i]);
    else if (arg == "--stall" && i + 1 < argc)
      gStallMs = std::atoi(argv[++i]);
    else if (arg == "--wrong-type")
      gWrongType = true;
    else if (arg == "--count" && i + 1 < argc)
      gCount = std::atoi(argv[++i]);
    else if (arg == "--status" && i + 1 < argc)
      gStatus = argv[++i];
    else
      return 2;
  }
  if (InstallAgentEventHandlers(Reload, Devices, Status) != noErr) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  RunApplicationEventLoop();
  return 0;
}
