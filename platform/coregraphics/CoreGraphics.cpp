// CGSessionCopyCurrentDictionary on logind: whether the login session this process works for is the
// active one on its seat, which is what owning the console means on Linux.
//
// The dictionary (a libplist dictionary, released by the caller with plist_free) holds
//   "kCGSSessionOnConsoleKey"  Boolean  the session is active on its seat
// and is empty when no session on a seat can be found for the process (no login manager, a
// container, a user with no graphical login): then the question has no answer and the caller
// decides.
#include <plist/plist.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "coregraphics/LoginSessions.h"

namespace {

const CorvimusLoginSessions kLogind = {sd_pid_get_session, sd_session_get_seat,
                                       sd_uid_get_display, sd_session_is_active};
const CorvimusLoginSessions* gSessions = &kLogind;

// Takes a string the login manager handed out.
std::string Take(char* text) {
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

bool OnASeat(const std::string& session) {
  char* seat = nullptr;
  const int r = gSessions->sessionGetSeat(session.c_str(), &seat);
  return r >= 0 && !Take(seat).empty();
}

// The session whose turn on the console counts for this process. Its own, when that sits on a seat.
// Otherwise the user's display session: desktops that start autostart entries as systemd user
// services (GNOME, Plasma) leave the agent in no session at all, and an agent started from a
// remote shell sits in a session on no seat, which logind always calls active; either way the
// mice it serves are those of the user's desktop. Empty when neither is on a seat.
std::string ConsoleSession() {
  char* own = nullptr;
  if (gSessions->pidGetSession(0, &own) >= 0) {
    std::string session = Take(own);
    if (!session.empty() && OnASeat(session)) return session;
  } else {
    std::free(own);
  }
  char* display = nullptr;
  if (gSessions->uidGetDisplay(getuid(), &display) >= 0) {
    std::string session = Take(display);
    if (!session.empty() && OnASeat(session)) return session;
  } else {
    std::free(display);
  }
  return {};
}

}  // namespace

extern "C" __attribute__((visibility("default"))) plist_t CGSessionCopyCurrentDictionary() {
  plist_t dict = plist_new_dict();
  if (!dict) return nullptr;
  const std::string session = ConsoleSession();
  if (!session.empty()) {
    const int active = gSessions->sessionIsActive(session.c_str());
    if (active >= 0)
      plist_dict_set_item(dict, "kCGSSessionOnConsoleKey", plist_new_bool(active > 0));
  }
  return dict;
}

extern "C" __attribute__((visibility("default"))) void CorvimusSetLoginSessionsForTesting(
    const CorvimusLoginSessions* sessions) {
  gSessions = sessions ? sessions : &kLogind;
}
