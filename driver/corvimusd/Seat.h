// Who is at the machine: the user whose session is active on seat0, and that session's desktop.
// logind answers on a real system; a file stands in for it where there is no logind (the test
// virtual machine), written by whoever plays the user switching.
#pragma once

#include <memory>
#include <string>

#include "platform/MacTypes.h"

namespace corvimus {

struct SeatUser {
  UInt32 uid = 0xFFFFFFFF;  // kDriverUnknownUid: nobody (the login screen, no seat at all)
  std::string desktop;      // XDG_CURRENT_DESKTOP-like name of the session, "" when unknown
};

class SeatWatcher {
 public:
  virtual ~SeatWatcher() = default;
  // Readable when the answer may have changed; call Current() then.
  virtual int Descriptor() const = 0;
  virtual SeatUser Current() = 0;
};

// logind's seat0: sd_seat_get_active, followed with sd_login_monitor. Null when logind cannot be
// watched at all.
std::unique_ptr<SeatWatcher> WatchLogindSeat();

// A file holding "UID [DESKTOP]" stands for the active session; no file, or anything else in it,
// means nobody. Its folder is watched, so the file may be replaced by rename.
std::unique_ptr<SeatWatcher> WatchSeatFile(const std::string& path);

// The content of such a file.
SeatUser ParseSeatFile(const std::string& text);

}  // namespace corvimus
