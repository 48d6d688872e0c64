#include "platform/FrontSwitch.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "EventLoopInternal.h"
#include "FrontSourcesInternal.h"

struct OpaqueFrontSwitchWatcher {
  FrontSourceKind kind = kFrontSourceX11;  // the Wayland sources are the process's one source
  xcb_connection_t* connection = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t activeWindowAtom = XCB_ATOM_NONE;
  bool lost = false;
};

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

}  // namespace

OSStatus NewFrontSwitchWatcher(FrontSwitchWatcherRef* outWatcher) {
  if (!outWatcher) return paramErr;
  *outWatcher = nullptr;
  FrontSourceKind kind = ChooseFrontSource();
  if (kind != kFrontSourceX11 && kind != kFrontSourceNone && CorvimusWaylandSourceReady()) {
    auto* watcher = new (std::nothrow) OpaqueFrontSwitchWatcher;
    if (!watcher) return memFullErr;
    watcher->kind = kind;
    *outWatcher = watcher;
    return noErr;
  }
  // A Wayland session whose source cannot be reached may still run XWayland.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return kFrontSwitchNoDisplayErr;

  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display, &screenNumber);
  if (!connection || xcb_connection_has_error(connection)) {
    if (connection) xcb_disconnect(connection);
    return kFrontSwitchNoDisplayErr;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    xcb_disconnect(connection);
    return kFrontSwitchNoDisplayErr;
  }

  auto* watcher = new (std::nothrow) OpaqueFrontSwitchWatcher;
  if (!watcher) {
    xcb_disconnect(connection);
    return memFullErr;
  }
  watcher->connection = connection;
  watcher->root = screens.data->root;
  watcher->activeWindowAtom = InternAtom(connection, "_NET_ACTIVE_WINDOW");

  // Other clients select on the root window too; event masks are per client, so this adds ours
  // without disturbing theirs.
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_generic_error_t* error = xcb_request_check(
      connection,
      xcb_change_window_attributes_checked(connection, watcher->root, XCB_CW_EVENT_MASK, &mask));
  if (error || watcher->activeWindowAtom == XCB_ATOM_NONE) {
    std::free(error);
    DisposeFrontSwitchWatcher(watcher);
    return kFrontSwitchNoDisplayErr;
  }
  *outWatcher = watcher;
  return noErr;
}

void DisposeFrontSwitchWatcher(FrontSwitchWatcherRef watcher) {
  if (!watcher) return;
  if (watcher->connection) xcb_disconnect(watcher->connection);
  delete watcher;
}

int GetFrontSwitchWatcherDescriptor(FrontSwitchWatcherRef watcher) {
  if (!watcher || watcher->lost) return -1;
  if (watcher->kind != kFrontSourceX11) return CorvimusWaylandSourceDescriptor();
  return xcb_get_file_descriptor(watcher->connection);
}

Boolean DrainFrontSwitchWatcher(FrontSwitchWatcherRef watcher, Boolean* connectionLost) {
  if (connectionLost) *connectionLost = false;
  if (!watcher) return false;
  Boolean changed = false;
  if (watcher->kind != kFrontSourceX11) {
    if (!watcher->lost) {
      bool lost = false;
      changed = CorvimusDrainWaylandSource(&lost);
      watcher->lost = lost;
    }
  } else if (!watcher->lost) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(watcher->connection)) {
      if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (notify->window == watcher->root && notify->atom == watcher->activeWindowAtom)
          changed = true;
      }
      std::free(event);
    }
    if (xcb_connection_has_error(watcher->connection)) watcher->lost = true;
  }
  if (changed) CorvimusForgetFrontProcess();
  if (connectionLost) *connectionLost = watcher->lost;
  return changed;
}
