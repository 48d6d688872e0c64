#include "platform/Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <plist/plist++.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <unordered_map>

#include "EventLoopInternal.h"
#include "FrontSourcesInternal.h"
#include "platform/ApplicationNames.h"
#include "platform/TextUtils.h"

namespace {

constexpr unsigned kKernelThreadFlag = 0x00200000;  // PF_KTHREAD in /proc/<pid>/stat flags

struct ProcStat {
  pid_t pid = 0;
  pid_t ppid = 0;
  char state = '?';
  unsigned flags = 0;
  unsigned long long startTicks = 0;  // clock ticks since boot
  uid_t uid = 0;
};

struct ProcessEntry {
  pid_t pid;
  pid_t ppid;
  ProcessSerialNumber psn;
};

struct NameAndSignature {
  std::string exe;  // what the name was worked out from: an exec changes it
  corvimus::WindowIdentity window;  // and what the desktop said of the process's front window
  std::string name;
  OSType signature = kUnknownSignature;
  OSType type = kApplicationType;
};

const std::vector<TestProcess>* gTestTable = nullptr;
pid_t gScopeAncestor = 0;
std::function<OSErr(ProcessSerialNumber*)> gFrontSource;

std::vector<ProcessEntry> gSnapshot;
// Names by serial number, so a walk that asks for every process reads each bundle only once.
std::map<std::pair<UInt32, UInt32>, NameAndSignature> gNameCache;
// What the X server said of the active window's class, for naming its process.
corvimus::WindowIdentity gXWindow;

ssize_t ReadSmallFile(const char* path, char* buf, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t total = 0;
  while (total < size) {
    ssize_t n = read(fd, buf + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return -1;
    }
    if (n == 0) break;
    total += size_t(n);
  }
  close(fd);
  return ssize_t(total);
}

// /proc/<pid>/stat: "pid (comm) state ppid ... flags(9) ... starttime(22) ...". The name may hold
// spaces and parentheses, so fields are counted from the last ')'.
bool ReadProcStat(pid_t pid, ProcStat* out) {
  char path[64], buf[1024];
  snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The file belongs to the process's owner, like its /proc folder.
  struct stat owner;
  ssize_t n = -1;
  if (fstat(fd, &owner) == 0) {
    out->uid = owner.st_uid;
    n = read(fd, buf, sizeof buf - 1);
  }
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  char* close = strrchr(buf, ')');
  if (!close || close[1] != ' ') return false;
  char* p = close + 2;
  out->pid = pid;
  out->state = *p;
  // Fields 4.. follow the state; index them from 4.
  unsigned long long fields[23] = {};
  char* cursor = p + 1;
  for (int field = 4; field <= 22; ++field) {
    while (*cursor == ' ') ++cursor;
    char* end;
    long long v = strtoll(cursor, &end, 10);
    if (end == cursor) return false;
    fields[field] = static_cast<unsigned long long>(v);
    cursor = end;
  }
  out->ppid = pid_t(fields[4]);
  out->flags = unsigned(fields[9]);
  out->startTicks = fields[22];
  return true;
}

ProcessSerialNumber MakePSN(pid_t pid, unsigned long long startTicks) {
  UInt32 high = UInt32(startTicks + 1);
  if (high == 0) high = 1;
  return {high, UInt32(pid)};
}

bool IsListable(pid_t pid, ProcStat* stat) {
  if (!ReadProcStat(pid, stat) || stat->uid != getuid()) return false;
  if (stat->state == 'Z' || stat->state == 'X') return false;
  if (stat->flags & kKernelThreadFlag) return false;
  return true;
}

void TakeSnapshot() {
  gSnapshot.clear();
  DIR* dir = opendir("/proc");
  if (!dir) return;
  std::unordered_map<pid_t, pid_t> parents;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    char* end;
    long pid = strtol(e->d_name, &end, 10);
    if (*end) continue;
    ProcStat st;
    if (!IsListable(pid_t(pid), &st)) continue;
    gSnapshot.push_back({pid_t(pid), st.ppid, MakePSN(pid_t(pid), st.startTicks)});
    if (gScopeAncestor) parents[pid_t(pid)] = st.ppid;
  }
  closedir(dir);
  if (gScopeAncestor) {
    // The ancestor's own parent chain may leave the user's processes; look those up directly.
    std::erase_if(gSnapshot, [&](const ProcessEntry& e) {
      pid_t p = e.pid;
      for (int depth = 0; depth < 4096 && p > 0; ++depth) {
        if (p == gScopeAncestor) return false;
        auto it = parents.find(p);
        if (it == parents.end()) return true;
        p = it->second;
      }
      return true;
    });
  }
  std::sort(gSnapshot.begin(), gSnapshot.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  // Forget names of processes that are gone.
  for (auto it = gNameCache.begin(); it != gNameCache.end();) {
    auto e = std::lower_bound(gSnapshot.begin(), gSnapshot.end(), pid_t(it->first.second),
                              [](const ProcessEntry& entry, pid_t pid) { return entry.pid < pid; });
    bool live = e != gSnapshot.end() && e->psn.lowLongOfPSN == it->first.second &&
                e->psn.highLongOfPSN == it->first.first;
    it = live ? std::next(it) : gNameCache.erase(it);
  }
}

std::string StringFromPlist(PList::Dictionary* dict, const char* key) {
  auto it = dict->Find(key);
  if (it == dict->End()) return {};
  auto* str = dynamic_cast<PList::String*>(it->second);
  return str ? str->GetValue() : std::string();
}

OSType CodeFromString(const std::string& s, OSType fallback) {
  if (s.size() != 4) return fallback;
  return (OSType(UInt8(s[0])) << 24) | (OSType(UInt8(s[1])) << 16) | (OSType(UInt8(s[2])) << 8) |
         OSType(UInt8(s[3]));
}

// Reads X.app/Contents/Info.plist (XML or binary); a damaged or missing list leaves the defaults.
void ReadBundleInfo(const std::string& contents, NameAndSignature* info) {
  std::ifstream in(contents + "/Info.plist", std::ios::binary);
  if (!in) return;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (1u << 20)) return;
  std::unique_ptr<PList::Structure> root;
  if (bytes.compare(0, 6, "bplist") == 0) {
    root.reset(PList::Structure::FromBin(std::vector<char>(bytes.begin(), bytes.end())));
  } else {
    root.reset(PList::Structure::FromXml(bytes));
  }
  auto* dict = dynamic_cast<PList::Dictionary*>(root.get());
  if (!dict) return;
  std::string name = StringFromPlist(dict, "CFBundleName");
  if (!name.empty()) info->name = name;
  info->signature = CodeFromString(StringFromPlist(dict, "CFBundleSignature"), kUnknownSignature);
  info->type = CodeFromString(StringFromPlist(dict, "CFBundlePackageType"), kApplicationType);
}

// The name of a process, from `cached` when its executable is still the one the name came from.
NameAndSignature LookUpName(pid_t pid, const NameAndSignature* cached) {
  NameAndSignature info;
  const corvimus::WindowIdentity* window = CorvimusFrontWindowOf(pid);
  if (!window && gXWindow.pid == pid) window = &gXWindow;
  char path[64], target[4096];
  snprintf(path, sizeof path, "/proc/%d/exe", int(pid));
  ssize_t n = readlink(path, target, sizeof target - 1);
  if (n <= 0) {
    // No executable to look at: the kernel's short name is all there is.
    snprintf(path, sizeof path, "/proc/%d/comm", int(pid));
    char comm[64];
    ssize_t c = ReadSmallFile(path, comm, sizeof comm - 1);
    if (c > 0) {
      while (c > 0 && comm[c - 1] == '\n') --c;
      info.name.assign(comm, size_t(c));
    }
    return info;
  }
  if (cached && cached->exe.size() == size_t(n) &&
      cached->exe.compare(0, size_t(n), target, size_t(n)) == 0 &&
      cached->window == (window ? *window : corvimus::WindowIdentity()))
    return *cached;
  std::string exe(target, size_t(n));
  info.exe = exe;
  if (window) info.window = *window;
  const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.ends_with(deleted))
    exe.resize(exe.size() - deleted.size());
  size_t slash = exe.rfind('/');
  // .../X.app/Contents/MacOS/<file>
  const std::string marker = ".app/Contents/MacOS";
  std::string folder = exe.substr(0, slash);
  if (folder.ends_with(marker)) {
    std::string bundle = folder.substr(0, folder.size() - marker.size());
    size_t start = bundle.rfind('/');
    std::string bundleName = bundle.substr(start == std::string::npos ? 0 : start + 1);
    if (!bundleName.empty()) {
      info.name = bundleName;
      ReadBundleInfo(folder.substr(0, folder.size() - std::strlen("/MacOS")), &info);
      return info;
    }
  }
  info.name = corvimus::ApplicationNameOfProcess(pid, window);
  if (info.name.empty()) info.name = exe.substr(slash + 1);
  return info;
}

// Copies a UTF-8 name as a Pascal string of at most 255 bytes, not cutting a character in two.
void StoreName(const std::string& name, StringPtr out) {
  corvimus::StorePascalUtf8(name.data(), name.size(), out, 255);
}

const TestProcess* FindTestProcess(const ProcessSerialNumber& psn) {
  for (const auto& p : *gTestTable)
    if (p.psn.highLongOfPSN == psn.highLongOfPSN && p.psn.lowLongOfPSN == psn.lowLongOfPSN)
      return &p;
  return nullptr;
}

bool CurrentPSN(ProcessSerialNumber* psn) {
  // Asked for on every send; a forked child is a new process and looks again.
  static pid_t cachedPid = 0;
  static ProcessSerialNumber cached;
  pid_t self = getpid();
  if (cachedPid != self) {
    ProcStat st;
    if (!ReadProcStat(self, &st)) return false;
    cached = MakePSN(self, st.startTicks);
    cachedPid = self;
  }
  *psn = cached;
  return true;
}

// kCurrentProcess stands for the caller.
bool Resolve(const ProcessSerialNumber* in, ProcessSerialNumber* out) {
  if (in->highLongOfPSN == 0 && in->lowLongOfPSN == kCurrentProcess) return CurrentPSN(out);
  *out = *in;
  return true;
}

// The real process behind a serial number, when it is still the same process and a listed one.
bool LiveProcess(const ProcessSerialNumber& psn, ProcStat* st) {
  if (psn.lowLongOfPSN == 0 || psn.lowLongOfPSN > 0x7fffffff) return false;
  pid_t pid = pid_t(psn.lowLongOfPSN);
  if (!IsListable(pid, st)) return false;
  ProcessSerialNumber now = MakePSN(pid, st->startTicks);
  return now.highLongOfPSN == psn.highLongOfPSN;
}

// X11 connection kept between calls: the front process is asked for twice a second. The connection
// listens to property changes of the root window and of the window it last answered for, so an
// answer stays good until the server says otherwise: an unchanged front costs no round trip, and a
// process that asks while nothing happens is not woken by the server's replies.
struct XState {
  std::string display;
  xcb_connection_t* conn = nullptr;
  xcb_ewmh_connection_t ewmh{};
  int screen = 0;
  bool ewmhReady = false;
  xcb_window_t root = XCB_NONE;
  bool known = false;              // active and pid below still describe the server's state
  xcb_window_t active = XCB_NONE;  // the active window, whose own properties are listened to
  pid_t pid = 0;                   // its _NET_WM_PID; 0 when it names none
  bool namesNoProcess = false;     // there is an active window, and it names no process
};
XState gX;

void CloseX() {
  if (gX.ewmhReady) xcb_ewmh_connection_wipe(&gX.ewmh);
  if (gX.conn) xcb_disconnect(gX.conn);
  gX.conn = nullptr;
  gX.ewmhReady = false;
  gX.known = false;
  gX.active = XCB_NONE;
}

void ListenToProperties(xcb_window_t window, bool on) {
  const uint32_t mask = on ? XCB_EVENT_MASK_PROPERTY_CHANGE : 0;
  // Unchecked: a window that is gone answers with an error event, which TakeXEvents drops.
  xcb_change_window_attributes(gX.conn, window, XCB_CW_EVENT_MASK, &mask);
}

bool OpenX() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    CloseX();
    return false;
  }
  if (gX.conn && (gX.display != display || xcb_connection_has_error(gX.conn))) CloseX();
  if (gX.conn) return true;
  gX.display = display;
  gX.conn = xcb_connect(display, &gX.screen);
  if (xcb_connection_has_error(gX.conn)) {
    CloseX();
    return false;
  }
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(gX.conn, &gX.ewmh);
  if (!cookies || !xcb_ewmh_init_atoms_replies(&gX.ewmh, cookies, nullptr)) {
    xcb_disconnect(gX.conn);
    gX.conn = nullptr;
    return false;
  }
  gX.ewmhReady = true;
  if (gX.screen < 0 || gX.screen >= gX.ewmh.nb_screens) {
    CloseX();
    return false;
  }
  gX.root = gX.ewmh.screens[gX.screen]->root;
  // Before anything is read, so that no change can fall between a read and the listening.
  ListenToProperties(gX.root, true);
  return true;
}

// Reads, without waiting, what the server sent since the last look. A change of the active window,
// or of the process the active window names, means the answer must be worked out again.
void TakeXEvents() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(gX.conn)) {
    if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
      auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
      if ((notify->window == gX.root && notify->atom == gX.ewmh._NET_ACTIVE_WINDOW) ||
          (notify->window == gX.active && notify->atom == gX.ewmh._NET_WM_PID))
        gX.known = false;
    }
    std::free(event);
  }
}

// Asks the server for the active window and its process. False when the connection broke.
bool ReadActiveWindow() {
  xcb_window_t active = XCB_NONE;
  if (!xcb_ewmh_get_active_window_reply(&gX.ewmh, xcb_ewmh_get_active_window(&gX.ewmh, gX.screen),
                                        &active, nullptr)) {
    if (xcb_connection_has_error(gX.conn)) return false;
    active = XCB_NONE;  // no such property: nothing is active
  }
  if (active != gX.active) {
    if (gX.active != XCB_NONE && gX.active != gX.root) ListenToProperties(gX.active, false);
    if (active != XCB_NONE && active != gX.root) ListenToProperties(active, true);
    gX.active = active;
  }
  gX.pid = 0;
  gX.namesNoProcess = false;
  gXWindow = corvimus::WindowIdentity();
  uint32_t pid = 0;
  xcb_generic_error_t* error = nullptr;
  if (active != XCB_NONE) {
    if (xcb_ewmh_get_wm_pid_reply(&gX.ewmh, xcb_ewmh_get_wm_pid(&gX.ewmh, active), &pid, &error) &&
        pid != 0 && pid <= 0x7fffffff)
      gX.pid = pid_t(pid);
    else if (!error)
      gX.namesNoProcess = true;  // a window that is there but does not say whose it is
    std::free(error);
  }
  if (gX.pid != 0) {
    // WM_CLASS, for naming the process: the instance and the class, each ended by a NUL.
    gXWindow.pid = gX.pid;
    xcb_get_property_reply_t* wmClass = xcb_get_property_reply(
        gX.conn,
        xcb_get_property(gX.conn, 0, active, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr);
    if (wmClass) {
      const char* bytes = static_cast<const char*>(xcb_get_property_value(wmClass));
      int length = xcb_get_property_value_length(wmClass);
      std::string value(bytes ? bytes : "", bytes ? size_t(std::max(length, 0)) : 0);
      size_t nul = value.find('\0');
      gXWindow.wmInstance = value.substr(0, nul);
      if (nul != std::string::npos)
        gXWindow.wmClass = value.substr(nul + 1, value.find('\0', nul + 1) - nul - 1);
      std::free(wmClass);
    }
  }
  if (xcb_connection_has_error(gX.conn)) return false;
  gX.known = true;
  return true;
}

OSErr FrontProcessFromX(ProcessSerialNumber* psn) {
  if (!OpenX()) return procNotFound;
  TakeXEvents();
  if (!gX.known && !ReadActiveWindow()) {
    CloseX();
    return procNotFound;
  }
  // The process is looked up every time: one that ended is not handed out again.
  if (gX.pid == 0) return gX.namesNoProcess ? OSErr(kFrontProcessUnknownErr) : OSErr(procNotFound);
  return GetProcessForPID(gX.pid, psn);
}

// What tells login sessions apart, from a process's environment: its runtime folder, the displays
// it draws on and the session id the login manager gave it. Empty when unset.
struct SessionMarks {
  std::string runtimeFolder, x11Display, waylandDisplay, sessionId;
};

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// ":0", ":0.0" and "unix:0" are one display; the screen does not make another session.
std::string NormalizedX11Display(const std::string& display) {
  size_t colon = display.rfind(':');
  if (colon == std::string::npos) return display;
  std::string host = display.substr(0, colon);
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (host == "unix") host.clear();
  return host + ":" + number;
}

SessionMarks MakeSessionMarks(const std::map<std::string, std::string>& env) {
  auto get = [&](const char* name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  };
  SessionMarks marks;
  // The same choice as the runtime folder's: a relative or missing XDG_RUNTIME_DIR means the
  // fallback folder, the same for all of the user's processes.
  std::string runtime = get("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime[0] == '/') marks.runtimeFolder = WithoutTrailingSlashes(runtime);
  if (std::string x11 = get("DISPLAY"); !x11.empty()) marks.x11Display = NormalizedX11Display(x11);
  std::string wayland = get("WAYLAND_DISPLAY");
  if (!wayland.empty() && wayland[0] != '/' && !marks.runtimeFolder.empty())
    wayland = marks.runtimeFolder + "/" + wayland;
  marks.waylandDisplay = wayland;
  marks.sessionId = get("XDG_SESSION_ID");
  return marks;
}

const char* const kSessionVariables[] = {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY",
                                         "XDG_SESSION_ID"};

SessionMarks OwnSessionMarks() {
  std::map<std::string, std::string> env;
  for (const char* name : kSessionVariables)
    if (const char* value = std::getenv(name)) env[name] = value;
  return MakeSessionMarks(env);
}

// From the environment the process was started with. False when it cannot be read.
bool ProcessSessionMarks(pid_t pid, SessionMarks* marks) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/environ", int(pid));
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::map<std::string, std::string> env;
  for (std::string entry; std::getline(in, entry, '\0');) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string name = entry.substr(0, eq);
    for (const char* wanted : kSessionVariables)
      if (name == wanted) env[name] = entry.substr(eq + 1);
  }
  if (in.bad()) return false;
  *marks = MakeSessionMarks(env);
  return true;
}

bool SameSession(const SessionMarks& a, const SessionMarks& b) {
  // Another runtime folder: another login, and one whose event sockets we cannot reach anyway.
  if (a.runtimeFolder != b.runtimeFolder) return false;
  // Displays decide where both have one: each display the two share must be the same.
  bool compared = false;
  if (!a.waylandDisplay.empty() && !b.waylandDisplay.empty()) {
    if (a.waylandDisplay != b.waylandDisplay) return false;
    compared = true;
  }
  if (!a.x11Display.empty() && !b.x11Display.empty()) {
    if (a.x11Display != b.x11Display) return false;
    compared = true;
  }
  if (compared) return true;
  bool aHasDisplay = !a.waylandDisplay.empty() || !a.x11Display.empty();
  bool bHasDisplay = !b.waylandDisplay.empty() || !b.x11Display.empty();
  // One draws on a display the other does not know: a desktop and a text console or remote shell.
  if (aHasDisplay || bHasDisplay) return false;
  if (!a.sessionId.empty() && !b.sessionId.empty()) return a.sessionId == b.sessionId;
  return true;  // nothing tells them apart
}

}  // namespace

OSErr GetNextProcess(ProcessSerialNumber* PSN) {
  if (!PSN) return paramErr;
  if (gTestTable) {
    const auto& t = *gTestTable;
    size_t next = 0;
    if (PSN->highLongOfPSN != 0 || PSN->lowLongOfPSN != kNoProcess) {
      while (next < t.size() && (t[next].psn.highLongOfPSN != PSN->highLongOfPSN ||
                                 t[next].psn.lowLongOfPSN != PSN->lowLongOfPSN))
        ++next;
      if (next == t.size()) return procNotFound;
      ++next;
    }
    if (next >= t.size()) return procNotFound;
    *PSN = t[next].psn;
    return noErr;
  }
  if (PSN->highLongOfPSN == 0 && PSN->lowLongOfPSN == kNoProcess) {
    TakeSnapshot();
    if (gSnapshot.empty()) return procNotFound;
    *PSN = gSnapshot.front().psn;
    return noErr;
  }
  if (gSnapshot.empty()) TakeSnapshot();
  auto it = std::upper_bound(gSnapshot.begin(), gSnapshot.end(), pid_t(PSN->lowLongOfPSN),
                             [](pid_t pid, const ProcessEntry& e) { return pid < e.pid; });
  if (it == gSnapshot.end()) return procNotFound;
  *PSN = it->psn;
  return noErr;
}

OSErr GetProcessInformation(const ProcessSerialNumber* PSN, ProcessInfoRec* info) {
  if (!PSN || !info || info->processAppSpec) return paramErr;
  ProcessSerialNumber psn;
  if (!Resolve(PSN, &psn)) return procNotFound;
  if (gTestTable) {
    const TestProcess* p = FindTestProcess(psn);
    if (!p) return procNotFound;
    if (info->processName) StoreName(p->name, info->processName);
    info->processNumber = psn;
    info->processType = kApplicationType;
    info->processSignature = p->signature;
    info->processMode = 0;
    info->processLocation = nullptr;
    info->processSize = info->processFreeMem = 0;
    info->processLauncher = {0, kNoProcess};
    info->processLaunchDate = info->processActiveTime = 0;
    return noErr;
  }
  ProcStat st;
  if (!LiveProcess(psn, &st)) return procNotFound;
  auto key = std::make_pair(psn.highLongOfPSN, psn.lowLongOfPSN);
  auto cached = gNameCache.find(key);
  try {
    if (cached == gNameCache.end()) {
      // Processes looked up one by one, never in a walk, would otherwise pile up here.
      if (gNameCache.size() >= 1024) gNameCache.clear();
      cached = gNameCache.emplace(key, LookUpName(st.pid, nullptr)).first;
    } else {
      cached->second = LookUpName(st.pid, &cached->second);
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  if (info->processName) StoreName(cached->second.name, info->processName);
  info->processNumber = psn;
  info->processType = cached->second.type;
  info->processSignature = cached->second.signature;
  info->processMode = 0;
  info->processLocation = nullptr;
  info->processSize = info->processFreeMem = 0;
  info->processLauncher = {0, kNoProcess};
  auto inSnapshot = std::lower_bound(gSnapshot.begin(), gSnapshot.end(), st.ppid,
                                     [](const ProcessEntry& e, pid_t pid) { return e.pid < pid; });
  ProcStat parent;
  if (inSnapshot != gSnapshot.end() && inSnapshot->pid == st.ppid) {
    info->processLauncher = inSnapshot->psn;
  } else if (st.ppid > 0 && IsListable(st.ppid, &parent)) {
    info->processLauncher = MakePSN(st.ppid, parent.startTicks);
  }
  static const long hz = sysconf(_SC_CLK_TCK);
  info->processLaunchDate = hz > 0 ? UInt32(st.startTicks * 60 / (unsigned long long)hz) : 0;
  info->processActiveTime = 0;
  return noErr;
}

OSErr GetCurrentProcess(ProcessSerialNumber* PSN) {
  if (!PSN) return paramErr;
  return CurrentPSN(PSN) ? noErr : procNotFound;
}

OSErr GetFrontProcess(ProcessSerialNumber* PSN) {
  if (!PSN) return paramErr;
  if (gFrontSource) return gFrontSource(PSN);
  pid_t pid = 0;
  OSErr err = noErr;
  if (CorvimusWaylandFrontProcess(&pid, &err)) return err == noErr ? GetProcessForPID(pid, PSN) : err;
  return FrontProcessFromX(PSN);
}

OSErr SameProcess(const ProcessSerialNumber* PSN1, const ProcessSerialNumber* PSN2,
                  Boolean* result) {
  if (!PSN1 || !PSN2 || !result) return paramErr;
  ProcessSerialNumber a, b;
  if (!Resolve(PSN1, &a) || !Resolve(PSN2, &b)) return procNotFound;
  *result = a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
  return noErr;
}

OSErr GetProcessPID(const ProcessSerialNumber* PSN, pid_t* pid) {
  if (!PSN || !pid) return paramErr;
  ProcessSerialNumber psn;
  if (!Resolve(PSN, &psn)) return procNotFound;
  ProcStat st;
  if (!LiveProcess(psn, &st)) return procNotFound;
  *pid = st.pid;
  return noErr;
}

OSErr GetProcessForPID(pid_t pid, ProcessSerialNumber* PSN) {
  if (!PSN || pid <= 0) return paramErr;
  ProcStat st;
  if (!IsListable(pid, &st)) return procNotFound;
  *PSN = MakePSN(pid, st.startTicks);
  return noErr;
}

OSErr IsProcessInCurrentSession(const ProcessSerialNumber* PSN, Boolean* result) {
  if (!PSN || !result) return paramErr;
  *result = false;
  ProcessSerialNumber psn;
  if (!Resolve(PSN, &psn)) return procNotFound;
  if (gTestTable) {
    if (!FindTestProcess(psn)) return procNotFound;
    *result = true;
    return noErr;
  }
  ProcStat st;
  if (!LiveProcess(psn, &st)) return procNotFound;
  if (st.pid == getpid()) {
    *result = true;
    return noErr;
  }
  SessionMarks marks;
  try {
    // A process whose environment cannot be read cannot be shown to be of this session.
    if (ProcessSessionMarks(st.pid, &marks)) *result = SameSession(OwnSessionMarks(), marks);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

void SetProcessTableForTesting(const std::vector<TestProcess>* table) {
  gTestTable = table;
}

void SetProcessScopeForTesting(pid_t ancestor) {
  gScopeAncestor = ancestor;
  gSnapshot.clear();
}

void SetFrontProcessSourceForTesting(std::function<OSErr(ProcessSerialNumber*)> source) {
  gFrontSource = std::move(source);
}

void CorvimusForgetFrontProcess() {
  gX.known = false;
}
