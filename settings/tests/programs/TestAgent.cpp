// Stands in for the agent in the pane-side tests: answers 'CVup' by printing "reload" and 'CVco'
// with a device list. Options:
//   --devices N     the list holds N devices ("Mouse 1" ...), at most 10
//   --stall MS      the 'CVco' handler sleeps MS milliseconds before answering
//   --wrong-type    the list comes back as direct object of type 'TEXT'
//   --count N       the list's count field is N whatever the entries
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
    else
      return 2;
  }
  if (InstallAgentEventHandlers(Reload, Devices) != noErr) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  RunApplicationEventLoop();
  return 0;
}
