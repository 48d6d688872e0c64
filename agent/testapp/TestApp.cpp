// A stand-in application for the agent's tests. It runs from a bundle the test builds, so the
// Process Manager gives it that bundle's name and signature. It owns one X window carrying its pid
// and, told "front" on its standard input, makes that window the active one as a window manager
// would. Every 'CvMP'/'CVer' event it receives is printed as "CVer <hex of the report>". With
// TEST_APP_LAUNCH_LOG set it appends "launched <its executable>" to that file when it starts.
//
// Lines out: "ready" once it listens, "ok front" after each activation, "CVer ..." per event.
// It ends when its standard input closes (at once when it was started without one).
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/AppleEvents.h"
#include "platform/EventLoop.h"
#include "settings/CorvimusEvents.h"

namespace {

xcb_connection_t* gConnection = nullptr;
xcb_ewmh_connection_t gEwmh;
int gScreen = 0;
xcb_window_t gWindow = 0;
std::string gInput;

bool OpenWindow() {
  gConnection = xcb_connect(nullptr, &gScreen);
  if (xcb_connection_has_error(gConnection)) return false;
  if (!xcb_ewmh_init_atoms_replies(&gEwmh, xcb_ewmh_init_atoms(gConnection, &gEwmh), nullptr))
    return false;
  xcb_screen_t* screen = gEwmh.screens[gScreen];
  gWindow = xcb_generate_id(gConnection);
  xcb_create_window(gConnection, XCB_COPY_FROM_PARENT, gWindow, screen->root, 0, 0, 64, 64, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  xcb_ewmh_set_wm_pid(&gEwmh, gWindow, uint32_t(getpid()));
  xcb_map_window(gConnection, gWindow);
  std::free(xcb_get_input_focus_reply(gConnection, xcb_get_input_focus(gConnection), nullptr));
  return !xcb_connection_has_error(gConnection);
}

void Activate() {
  if (gWindow) {
    xcb_ewmh_set_active_window(&gEwmh, gScreen, gWindow);
    // A round trip: the property is set before anyone hears that it was.
    std::free(xcb_get_input_focus_reply(gConnection, xcb_get_input_focus(gConnection), nullptr));
  }
  std::printf("ok front\n");
  std::fflush(stdout);
}

void InputReadable(EventLoopSourceRef source, int fd, void*) {
  char buffer[256];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) {
    RemoveEventLoopSource(source);
    QuitApplicationEventLoop();
    return;
  }
  gInput.append(buffer, size_t(n));
  for (size_t newline; (newline = gInput.find('\n')) != std::string::npos;) {
    std::string line = gInput.substr(0, newline);
    gInput.erase(0, newline + 1);
    if (line == "front") Activate();
  }
}

OSErr HandleReport(const AppleEvent* event, AppleEvent*, SRefCon) {
  unsigned char report[64];
  DescType type = 0;
  Size size = 0;
  OSErr err = AEGetParamPtr(event, keyDirectObject, typeCorvimusReport, &type, report,
                            sizeof report, &size);
  if (err != noErr) return err;
  std::string hex;
  static const char digits[] = "0123456789abcdef";
  for (Size i = 0; i < size && i < Size(sizeof report); ++i) {
    hex += digits[report[i] >> 4];
    hex += digits[report[i] & 15];
  }
  std::printf("CVer %s\n", hex.c_str());
  std::fflush(stdout);
  return noErr;
}

}  // namespace

int main() {
  if (const char* log = std::getenv("TEST_APP_LAUNCH_LOG"); log && *log) {
    if (FILE* f = std::fopen(log, "a")) {
      char exe[4096];
      ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
      exe[n > 0 ? n : 0] = 0;
      std::fprintf(f, "launched %s\n", exe);
      std::fclose(f);
    }
  }
  if (std::getenv("DISPLAY") && !OpenWindow()) return 3;
  AEInstallEventHandler(kCorvimusEventClass, kCorvimusEventReport,
                        NewAEEventHandlerUPP(HandleReport), nullptr, false);
  InstallEventLoopSource(GetMainEventLoop(), 0, InputReadable, nullptr, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  RunApplicationEventLoop();
  if (gConnection) {
    if (gWindow) xcb_ewmh_connection_wipe(&gEwmh);
    xcb_disconnect(gConnection);
  }
  return 0;
}
