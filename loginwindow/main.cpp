// corvimus-loginwindow: started by the desktop's autostart when the user logs in, it starts the
// items of the user's login-item list, as the login window does.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "platform/LaunchServices.h"
#include "platform/LoginWindow.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: %s\n", argv[0]);
    return 2;
  }
  std::string prefs;
  if (corvimus::FolderPath(kOnSystemDisk, kPreferencesFolderType, &prefs) != noErr) return 1;
  std::vector<LoginWindowItem> items;
  OSErr err = ReadLoginWindowItems(prefs, &items);
  if (err == fnfErr) return 0;  // nothing registered
  if (err != noErr) {
    std::fprintf(stderr, "corvimus-loginwindow: %s/%s is unreadable\n", prefs.c_str(),
                 kLoginWindowFileName);
    return 1;
  }
  LaunchLoginWindowItems(items, OpenWithDesktop);
  return 0;
}
