// Stands in for the agent in the pane's tests. It is built as a bundle named CorvimusHelper, so the
// pane finds it by process name and can launch it from its resources like the real one.
//   'CVup'  appends "reload <records>" to $PANE_TEST_AGENT_LOG (records: of the settings file
//           now on disk, or -1 when it cannot be read)
//   'CVco'  answers with one device per number in $PANE_TEST_AGENT_DEVICES (a file of transport
//           numbers, read at each request; no file means no devices)
// Appends "started" to the log once reachable; ends with the quit event.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/EventLoop.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"

namespace {

void Log(const std::string& line) {
  if (const char* path = std::getenv("PANE_TEST_AGENT_LOG")) {
    std::ofstream(path, std::ios::app) << line << "\n";
  }
}

OSErr Reload(const AppleEvent*, AppleEvent*, SRefCon) {
  QBaseHandle base = NewMouseSettingsBase(8);
  Str255 name;
  name[0] = UInt8(std::strlen(kCorvimusPrefsFileName));
  std::memcpy(name + 1, kCorvimusPrefsFileName, name[0]);
  FSSpec spec;
  long records = -1;
  if (FindMouseSettingsFile(name, 0, &spec) == noErr && ReadMouseSettingsFile(base, &spec) == noErr)
    records = QBaseCountRecords(base);
  QBaseDispose(base);
  Log("reload " + std::to_string(records));
  return noErr;
}

OSErr Devices(const AppleEvent*, AppleEvent* reply, SRefCon) {
  CorvimusDeviceList list;
  std::memset(&list, 0, sizeof list);
  if (const char* path = std::getenv("PANE_TEST_AGENT_DEVICES")) {
    std::ifstream in(path);
    int transport;
    while (list.count < kCorvimusMaxListedDevices && in >> transport)
      list.device[list.count++].transport = UInt16(transport);
  }
  if (reply->descriptorType == typeNull) return noErr;
  return AEPutParamPtr(reply, keyDirectObject, typeCorvimusDeviceList, &list, sizeof list);
}

}  // namespace

int main() {
  if (InstallAgentEventHandlers(Reload, Devices) != noErr) return 3;
  Log("started");
  RunApplicationEventLoop();
  return 0;
}
