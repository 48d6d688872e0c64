// Applications named as Linux names them. One function names a running process, another names an
// application the user chooses (a desktop entry, a program, a bundle); a settings record made from
// the second matches the process the first names, so the agent, the pane and corvimus-prefs agree.
//
// A process's name is, in this order:
//   1. the desktop entry id (the entry's file name without ".desktop", folders below
//      "applications" joined with '-') of the sandbox it runs in: the Flatpak application id from
//      the process's own /.flatpak-info (or the one the compositor reports), a snap's name;
//   2. the desktop entry that the front window names: its Wayland app_id, GTK application id, KDE
//      desktop file name, or WM_CLASS (class, then instance) equal to an entry's id or its
//      StartupWMClass (letter case ignored);
//   3. the desktop entry whose Exec program is the process's own program, or the script it runs;
//   4. for an interpreter (python, perl, ruby, node, a shell, java -jar, ...) the script's file name
//      (python -m: the module);
//   5. the executable's file name.
// Application bundles (X.app/Contents/MacOS/...) are named by the Process Manager before any of
// this and keep their names and signatures.
//
// Desktop entries are read from $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS/applications
// (earlier folders hide entries of the same id in later ones), then the Flatpak and snap export
// folders. The list is read once and read again when one of its folders changes. Hidden entries
// and those of another Type than Application are left out. Not thread-safe: main thread only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

struct DesktopEntry {
  std::string id;    // "org.gnome.Calculator"
  std::string path;  // the file it was read from
  std::string name;  // Name, in the user's language where the entry has it
  std::string icon;  // Icon: a theme name or an absolute path
  std::string exec;
  std::string program;  // the Exec program as an absolute path; empty when it cannot be found
  std::string startupWMClass;
  std::string flatpakId;  // X-Flatpak
  std::string snapName;   // X-SnapInstanceName
  bool noDisplay = false;
};

// What the desktop reports about the front window; any field may be empty.
struct WindowIdentity {
  pid_t pid = 0;
  std::string appId;             // Wayland app_id
  std::string gtkApplicationId;  // GTK application id
  std::string desktopFileName;   // KDE: an id, "id.desktop" or a path
  std::string wmClass;           // WM_CLASS class (KDE: resourceClass)
  std::string wmInstance;        // WM_CLASS instance (KDE: resourceName)
  std::string sandboxedAppId;    // the Flatpak or snap id the compositor knows

  bool operator==(const WindowIdentity&) const = default;
};

// Reads one desktop entry file ([Desktop Entry] group only). False when it is not an application
// entry or cannot be read. The id is the file name without ".desktop".
bool ReadDesktopEntry(const std::string& path, DesktopEntry* out);

// Every visible installed application entry, by id (each id once).
const std::vector<DesktopEntry>& InstalledApplications();

// The installed entry with this id, or whose StartupWMClass is `hint` (case ignored); null if none.
const DesktopEntry* FindDesktopEntryForHint(const std::string& hint);

// The program an Exec line starts: the first word that is not "env" or a VAR=value assignment,
// with desktop-entry quoting removed; empty when there is none.
std::string ProgramOfExecLine(const std::string& exec);

// The name of a running process as described above; `window` (may be null) is what the desktop
// reported for its front window. Empty when the process is gone.
std::string ApplicationNameOfProcess(pid_t pid, const WindowIdentity* window);

// What a settings record stores for an application the user chose.
struct ApplicationChoice {
  std::string fileName;     // the name its processes will have (appFileName); never ends in ".app"
  std::string displayName;  // what the user sees (appName)
  std::string icon;
  OSType signature = kUnknownSignature;  // a bundle's CFBundleSignature, else '????'
};

// `what` is a desktop entry id ("org.gnome.Calculator", ".desktop" optional), a .desktop file, an
// application bundle, or a program or script. False with a sentence in `error` when it names none.
bool DescribeApplication(const std::string& what, ApplicationChoice* out, std::string* error);

}  // namespace corvimus
