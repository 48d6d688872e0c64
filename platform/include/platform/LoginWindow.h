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

// How an item is started.
enum LoginItemLaunchKind {
  kLaunchProgram = 0,   // an executable file, started directly
  kLaunchBundle = 1,    // X.app: its Contents/MacOS/<CFBundleExecutable>, started directly
  kLaunchDocument = 2,  // anything else: handed to the desktop's opener
  kLaunchMissing = 3,   // nothing at the path
};

// Works out how to start path; *outProgram receives the executable for programs and bundles.
LoginItemLaunchKind ClassifyLoginItem(const std::string& path, std::string* outProgram);

// True when one of uid's processes runs the executable `program` (compared by the file it runs,
// so a second path to the same file counts too).
bool IsProgramRunningForUser(const std::string& program, uid_t uid);

// Starts every item of the list once, skipping programs and bundles already running for the
// calling user. `open` is called for documents (the launcher passes one that runs xdg-open).
// Returns the number of items started.
int LaunchLoginWindowItems(const std::vector<LoginWindowItem>& items,
                           const std::function<bool(const std::string& document)>& open);

// Starts program with no arguments, detached from the caller (its own session, standard input
// from /dev/null). True when the program could be started.
bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& args);
