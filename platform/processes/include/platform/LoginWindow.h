// The login window: the per-user list of items to start at login, and the launcher that starts
// them (corvimus-loginwindow, run by the desktop's autostart at login).
//
// The list lives in the user's Preferences folder in "loginwindow.plist", a property list whose
// root dictionary holds under "AutoLaunchedApplicationDictionary" an array of dictionaries, one
// per item in launch order, each with "Path" (string, POSIX path) and "Hide" (boolean). Every
// component uses this one lower-case file name: Linux file systems tell letter case apart, so a
// differently cased name would be a different file that nothing reads.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/MacTypes.h"

inline constexpr char kLoginWindowFileName[] = "loginwindow.plist";
inline constexpr char kLoginItemsKey[] = "AutoLaunchedApplicationDictionary";
inline constexpr char kLoginItemPathKey[] = "Path";
inline constexpr char kLoginItemHideKey[] = "Hide";
// A user's Preferences folder inside the home folder (the folder mapping's per-user 'pref').
inline constexpr char kUserPreferencesSubfolder[] = "/.config";

struct LoginWindowItem {
  std::string path;
  bool hide = false;
};

// The items of prefsFolder/loginwindow.plist in launch order. Elements that are not dictionaries
// or have no string "Path" are skipped. Returns fnfErr when there is no file and resNotFound
// (-192) when the file is unreadable, not a property list, or has the wrong shape.
OSErr ReadLoginWindowItems(const std::string& prefsFolder, std::vector<LoginWindowItem>* outItems);

// True when one of uid's processes runs the executable `program` (compared by the file it runs,
// so a second path to the same file counts too).
bool IsProgramRunningForUser(const std::string& program, uid_t uid);

// Starts every item of the list once, skipping programs and bundles already running for the
// calling user. Items are told apart as Launch Services does (LSClassifyItem); `open` is called for
// documents (the launcher passes OpenWithDesktop).
// Returns the number of items started.
int LaunchLoginWindowItems(const std::vector<LoginWindowItem>& items,
                           const std::function<bool(const std::string& document)>& open);
