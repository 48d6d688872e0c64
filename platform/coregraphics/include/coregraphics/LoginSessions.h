// What the session stand-in asks the login manager, as a table of calls a test can replace. The
// calls keep sd-login's conventions: 0 or more on success, a negative errno on failure, strings
// handed out with malloc for the caller to free.
#pragma once

#include <sys/types.h>

struct CorvimusLoginSessions {
  // The login session the process belongs to (pid 0: the caller).
  int (*pidGetSession)(pid_t pid, char** session);
  // The seat a session sits on; an error for a session on no seat (a remote shell, a service).
  int (*sessionGetSeat)(const char* session, char** seat);
  // The user's display session: the graphical session the login manager keeps for the user.
  int (*uidGetDisplay)(uid_t uid, char** session);
  // Positive when the session is the one in front on its seat, 0 when it is not.
  int (*sessionIsActive)(const char* session);
};

// Exported by the stand-in: replaces the login manager's calls (null: logind again). The table must
// outlive its use.
extern "C" void CorvimusSetLoginSessionsForTesting(const CorvimusLoginSessions* sessions);
