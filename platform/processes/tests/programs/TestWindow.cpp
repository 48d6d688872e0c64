// A process with one X11 window carrying its own _NET_WM_PID (or none with --no-pid). Prints the
// window id in decimal, then waits until its standard input closes.
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  bool withPid = !(argc > 1 && std::strcmp(argv[1], "--no-pid") == 0);
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(conn)) return 2;
  xcb_ewmh_connection_t ewmh;
  if (!xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(conn, &ewmh), nullptr)) return 3;
  xcb_screen_t* screen = ewmh.screens[screenNumber];
  xcb_window_t window = xcb_generate_id(conn);
  xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 100, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  if (withPid) xcb_ewmh_set_wm_pid(&ewmh, window, uint32_t(getpid()));
  xcb_map_window(conn, window);
  // A round trip, so the window and its property exist before anyone is told about them.
  std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
  if (xcb_connection_has_error(conn)) return 4;
  std::printf("%u\n", unsigned(window));
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  xcb_ewmh_connection_wipe(&ewmh);
  xcb_disconnect(conn);
  return 0;
}
