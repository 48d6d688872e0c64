// A process for the Apple-event and event-loop tests. Installs handlers of class 'Cvts':
//   'echo'  replies with the event's direct object, same type
//   'slow'  sleeps the number of milliseconds given as direct object (typeSInt32), then replies
//   'fail'  returns the error given as direct object (typeSInt32)
//   'note'  prints "note <text>" (the direct object as text) and sends no reply
//   'fill'  replies with as many bytes as the direct object (typeSInt32) says, at most 65000
// Prints "ready" once reachable, "interrupt" on SIGINT (then exits 0), and returns 0 when the event
// loop ends (the quit event). With "--idle-ms N" its connections time out after N ms of silence.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/AppleEvents.h"
#include "platform/EventLoop.h"

namespace {

constexpr AEEventClass kTestClass = FourCC("Cvts");

OSErr HandleEcho(const AppleEvent* event, AppleEvent* reply, SRefCon) {
  char data[70000];
  DescType type;
  Size size;
  OSErr err = AEGetParamPtr(event, keyDirectObject, typeWildCard, &type, data, sizeof data, &size);
  if (err != noErr) return err;
  return AEPutParamPtr(reply, keyDirectObject, type, data, size);
}

SInt32 NumberParam(const AppleEvent* event) {
  SInt32 value = 0;
  AEGetParamPtr(event, keyDirectObject, typeSInt32, nullptr, &value, sizeof value, nullptr);
  return value;
}

OSErr HandleSlow(const AppleEvent* event, AppleEvent* reply, SRefCon refcon) {
  usleep(useconds_t(NumberParam(event)) * 1000);
  return HandleEcho(event, reply, refcon);
}

OSErr HandleFail(const AppleEvent* event, AppleEvent*, SRefCon) {
  return OSErr(NumberParam(event));
}

OSErr HandleNote(const AppleEvent* event, AppleEvent*, SRefCon) {
  char text[256];
  Size size = 0;
  AEGetParamPtr(event, keyDirectObject, typeWildCard, nullptr, text, sizeof text - 1, &size);
  if (size > Size(sizeof text - 1)) size = sizeof text - 1;
  std::printf("note %s\n", std::string(text, size_t(size)).c_str());
  std::fflush(stdout);
  return noErr;
}

OSErr HandleFill(const AppleEvent* event, AppleEvent* reply, SRefCon) {
  SInt32 size = NumberParam(event);
  if (size < 0 || size > 65000) return paramErr;
  std::string bytes(size_t(size), 'f');
  return AEPutParamPtr(reply, keyDirectObject, typeChar, bytes.data(), size);
}

void HandleInterrupt(int) {
  std::printf("interrupt\n");
  std::fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--idle-ms") AESetIdleTimeoutForTesting(std::atoi(argv[2]));
  AEInstallEventHandler(kTestClass, FourCC("echo"), NewAEEventHandlerUPP(HandleEcho), nullptr, 0);
  AEInstallEventHandler(kTestClass, FourCC("slow"), NewAEEventHandlerUPP(HandleSlow), nullptr, 0);
  AEInstallEventHandler(kTestClass, FourCC("fail"), NewAEEventHandlerUPP(HandleFail), nullptr, 0);
  AEInstallEventHandler(kTestClass, FourCC("fill"), NewAEEventHandlerUPP(HandleFill), nullptr, 0);
  if (AEInstallEventHandler(kTestClass, FourCC("note"), NewAEEventHandlerUPP(HandleNote), nullptr,
                            0) != noErr)
    return 2;
  if (InstallEventLoopSignalHandler(SIGINT, HandleInterrupt) != noErr) return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  RunApplicationEventLoop();
  return 0;
}
