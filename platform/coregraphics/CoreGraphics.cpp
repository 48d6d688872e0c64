// CGSessionCopyCurrentDictionary on logind: the caller's login session, and whether that session
// is the active one on its seat, which is what owning the console means on Linux.
//
// The dictionary (a libplist dictionary, released by the caller with plist_free) holds
//   "kCGSSessionOnConsoleKey"  Boolean  the session is active on its seat
// and is empty when the process belongs to no session (a system service, a container): then the
// question has no answer and the caller decides.
#include <plist/plist.h>
#include <systemd/sd-login.h>

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) plist_t CGSessionCopyCurrentDictionary() {
  plist_t dict = plist_new_dict();
  if (!dict) return nullptr;
  char* session = nullptr;
  if (sd_pid_get_session(0, &session) >= 0 && session) {
    const int active = sd_session_is_active(session);
    if (active >= 0)
      plist_dict_set_item(dict, "kCGSSessionOnConsoleKey", plist_new_bool(active > 0));
    std::free(session);
  }
  return dict;
}
