// The Wayland front-application sources: sway's IPC, the KWin script and the GNOME Shell extension.
// One source lives per process, made when first asked for; a source whose connection breaks is
// dropped and made again on a later question.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FrontSourcesInternal.h"
#include "platform/FrontSwitch.h"
#include "platform/Json.h"
#include "platform/Processes.h"

namespace {

using corvimus::Json;
using corvimus::WindowIdentity;

// ---- The session -------------------------------------------------------------------------------

bool EnvNames(const char* variable, const char* word) {
  const char* value = std::getenv(variable);
  if (!value) return false;
  // XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME").
  std::string list = std::string(":") + value + ":";
  std::string lower;
  for (char c : list) lower += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string wanted = ":" + std::string(word) + ":";
  for (char& c : wanted) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.find(wanted) != std::string::npos;
}

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

// ---- What a source knows -----------------------------------------------------------------------

enum class FrontState { kUnknown, kNoWindow, kWindow };

class Source {
 public:
  virtual ~Source() = default;
  virtual int Descriptor() const = 0;
  // Reads what is pending; true when the front may have changed. False in *lost when broken.
  virtual bool Drain(bool* lost) = 0;
  // Brings the answer up to date after a drain (a query where events alone cannot tell).
  virtual void Refresh() {}

  FrontState state = FrontState::kUnknown;
  WindowIdentity window;
};

// ---- sway and i3 -------------------------------------------------------------------------------

// Messages are "i3-ipc", a 32-bit payload length and a 32-bit type, both in the machine's order,
// then the payload (JSON). Events carry the type's high bit.
constexpr char kI3Magic[] = "i3-ipc";
constexpr size_t kI3HeaderSize = 14;
constexpr uint32_t kI3Subscribe = 2, kI3GetTree = 4;
constexpr uint32_t kI3EventBit = 0x80000000u;
constexpr uint32_t kI3WorkspaceEvent = kI3EventBit | 0, kI3WindowEvent = kI3EventBit | 3;
constexpr uint32_t kI3MaxPayload = 64u << 20;
constexpr int kI3ReplyTimeoutMs = 2000;

int ConnectUnix(const std::string& path) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string I3Message(uint32_t type, const std::string& payload) {
  std::string m(kI3Magic, 6);
  uint32_t length = uint32_t(payload.size());
  m.append(reinterpret_cast<const char*>(&length), 4);
  m.append(reinterpret_cast<const char*>(&type), 4);
  return m + payload;
}

// Splits complete messages off the front of `buffer`. False when the stream is not i3 IPC.
bool TakeI3Message(std::string* buffer, uint32_t* type, std::string* payload, bool* complete) {
  *complete = false;
  if (buffer->size() < kI3HeaderSize) return true;
  if (buffer->compare(0, 6, kI3Magic) != 0) return false;
  uint32_t length;
  std::memcpy(&length, buffer->data() + 6, 4);
  std::memcpy(type, buffer->data() + 10, 4);
  if (length > kI3MaxPayload) return false;
  if (buffer->size() < kI3HeaderSize + length) return true;
  payload->assign(*buffer, kI3HeaderSize, length);
  buffer->erase(0, kI3HeaderSize + length);
  *complete = true;
  return true;
}

// A window container as sway describes it: pid, app_id (Wayland) or window_properties (X11).
WindowIdentity WindowOfContainer(const Json& node) {
  WindowIdentity w;
  UInt64 pid = node.UnsignedMember("pid");
  w.pid = pid > 0 && pid <= 0x7fffffff ? pid_t(pid) : 0;
  w.appId = node.StringMember("app_id");
  const Json& props = node.Member("window_properties");
  w.wmClass = props.StringMember("class");
  w.wmInstance = props.StringMember("instance");
  return w;
}

bool IsWindowNode(const Json& node) {
  std::string type = node.StringMember("type");
  return (type == "con" || type == "floating_con") && node.Member("nodes").items.empty() &&
         (node.Member("pid").kind == Json::kNumber || node.Member("app_id").kind == Json::kString ||
          node.Member("window_properties").kind == Json::kObject);
}

// The focused node of a tree, depth first; null when none is marked.
const Json* FocusedNode(const Json& node, int depth = 0) {
  if (depth > 64) return nullptr;
  if (node.Member("focused").boolean) return &node;
  for (const char* list : {"nodes", "floating_nodes"})
    for (const Json& child : node.Member(list).items)
      if (const Json* found = FocusedNode(child, depth + 1)) return found;
  return nullptr;
}

class SwaySource : public Source {
 public:
  ~SwaySource() override {
    if (events_ >= 0) close(events_);
    if (commands_ >= 0) close(commands_);
  }

  bool Start(const std::string& path) {
    events_ = ConnectUnix(path);
    commands_ = ConnectUnix(path);
    if (events_ < 0 || commands_ < 0) return false;
    if (!WriteAll(events_, I3Message(kI3Subscribe, "[\"window\",\"workspace\"]"))) return false;
    fcntl(events_, F_SETFL, fcntl(events_, F_GETFL) | O_NONBLOCK);
    stale_ = true;
    return true;
  }

  int Descriptor() const override { return events_; }

  bool Drain(bool* lost) override {
    bool changed = false;
    char chunk[65536];
    for (;;) {
      ssize_t n = read(events_, chunk, sizeof chunk);
      if (n > 0) {
        pending_.append(chunk, size_t(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      *lost = true;  // end of stream or an error
      return true;
    }
    for (;;) {
      uint32_t type = 0;
      std::string payload;
      bool complete = false;
      if (!TakeI3Message(&pending_, &type, &payload, &complete)) {
        *lost = true;
        return true;
      }
      if (!complete) break;
      if (type != kI3WindowEvent && type != kI3WorkspaceEvent) continue;  // the subscribe reply
      Json event;
      if (!corvimus::ParseJson(payload, &event, nullptr)) continue;
      std::string change = event.StringMember("change");
      if (type == kI3WindowEvent && change == "focus") {
        const Json& container = event.Member("container");
        window = WindowOfContainer(container);
        state = FrontState::kWindow;
        stale_ = false;
        changed = true;
      } else if (type == kI3WindowEvent && (change == "title" || change == "mark" ||
                                            change == "urgent" || change == "fullscreen_mode")) {
        continue;  // the focus stays where it is
      } else {
        // A window closed or moved, a workspace came into view: ask what is focused now.
        stale_ = true;
        changed = true;
      }
    }
    return changed;
  }

  void Refresh() override {
    if (!stale_) return;
    std::string tree;
    if (!Ask(kI3GetTree, &tree)) {
      state = FrontState::kUnknown;
      return;
    }
    Json root;
    if (!corvimus::ParseJson(tree, &root, nullptr)) {
      state = FrontState::kUnknown;
      return;
    }
    stale_ = false;
    const Json* focused = FocusedNode(root);
    if (!focused || !IsWindowNode(*focused)) {
      state = FrontState::kNoWindow;
      window = WindowIdentity();
      return;
    }
    window = WindowOfContainer(*focused);
    state = FrontState::kWindow;
  }

 private:
  // One request and its reply on the command connection.
  bool Ask(uint32_t type, std::string* reply) {
    if (commands_ < 0 || !WriteAll(commands_, I3Message(type, ""))) return false;
    std::string buffer;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kI3ReplyTimeoutMs);
    for (;;) {
      uint32_t got = 0;
      bool complete = false;
      if (!TakeI3Message(&buffer, &got, reply, &complete)) break;
      if (complete) {
        if (got == type) return true;
        continue;
      }
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - std::chrono::steady_clock::now())
                         .count());
      pollfd p{commands_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) break;
      char chunk[65536];
      ssize_t n = read(commands_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      buffer.append(chunk, size_t(n));
    }
    // A connection that answered wrongly or not at all is of no further use.
    close(commands_);
    commands_ = -1;
    return false;
  }

  int events_ = -1;
  int commands_ = -1;
  std::string pending_;
  bool stale_ = true;
};

// ---- The session bus ---------------------------------------------------------------------------

constexpr uint64_t kBusCallTimeoutUs = 3'000'000;
constexpr char kFrontInterface[] = "com.kelvane.mouse.FrontWindow";
constexpr char kHelperBusName[] = "com.kelvane.mouse.Helper";

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

BusPtr OpenSessionBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  sd_bus_set_method_call_timeout(bus, kBusCallTimeoutUs);
  return BusPtr(bus);
}

pid_t PidFromText(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  return *end == '\0' && v > 0 && v <= 0x7fffffff ? pid_t(v) : 0;
}

class BusSource : public Source {
 public:
  int Descriptor() const override { return bus_ ? sd_bus_get_fd(bus_.get()) : -1; }

  bool Drain(bool* lost) override {
    changed_ = false;
    for (;;) {
      int r = sd_bus_process(bus_.get(), nullptr);
      if (r < 0) {
        *lost = true;
        return true;
      }
      if (r == 0) break;
    }
    sd_bus_flush(bus_.get());
    return changed_;
  }

 protected:
  void Report(const WindowIdentity& w) {
    if (w.pid == 0 && w.appId.empty() && w.wmClass.empty() && w.desktopFileName.empty() &&
        w.gtkApplicationId.empty() && w.sandboxedAppId.empty()) {
      state = FrontState::kNoWindow;
      window = WindowIdentity();
    } else {
      state = FrontState::kWindow;
      window = w;
    }
    changed_ = true;
  }

  BusPtr bus_;
  bool changed_ = false;
};

// The script is loaded from the resources of the running program's bundle: it travels with the
// agent that answers its calls.
std::string KWinScriptPath() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string exe(self, size_t(n));
  std::string folder = exe.substr(0, exe.rfind('/'));
  const std::string macos = "/Contents/MacOS";
  if (!folder.ends_with(macos)) return {};
  std::string path = folder.substr(0, folder.size() - macos.size()) + "/Contents/Resources/" +
                     kKWinScriptFileName;
  return access(path.c_str(), R_OK) == 0 ? path : std::string();
}

class KWinSource : public BusSource {
 public:
  bool Start() {
    bus_ = OpenSessionBus();
    if (!bus_) return false;
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("WindowActivated", "ssss", "", &KWinSource::OnActivated,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    if (sd_bus_add_object_vtable(bus_.get(), nullptr, kFrontWindowObjectPath, kFrontInterface,
                                 kVtable, this) < 0)
      return false;
    if (sd_bus_request_name(bus_.get(), kHelperBusName,
                            SD_BUS_NAME_REPLACE_EXISTING | SD_BUS_NAME_ALLOW_REPLACEMENT) < 0)
      return false;
    if (!LookUpKWin()) return false;
    std::string script = KWinScriptPath();
    if (script.empty()) return false;
    // A script of the same name left by an earlier agent would call a name we now own; it is
    // loaded afresh all the same, so that an updated installation takes effect.
    sd_bus_message* reply = nullptr;
    int loaded = 0;
    if (sd_bus_call_method(bus_.get(), "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                           "isScriptLoaded", nullptr, &reply, "s", kKWinScriptPluginName) >= 0) {
      sd_bus_message_read(reply, "b", &loaded);
      sd_bus_message_unref(reply);
      reply = nullptr;
    }
    if (loaded)
      sd_bus_call_method(bus_.get(), "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                         "unloadScript", nullptr, nullptr, "s", kKWinScriptPluginName);
    int32_t id = -1;
    if (sd_bus_call_method(bus_.get(), "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                           "loadScript", nullptr, &reply, "ss", script.c_str(),
                           kKWinScriptPluginName) < 0)
      return false;
    sd_bus_message_read(reply, "i", &id);
    sd_bus_message_unref(reply);
    if (id < 0) return false;
    return sd_bus_call_method(bus_.get(), "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                              "start", nullptr, nullptr, "") >= 0;
  }

 private:
  bool LookUpKWin() {
    sd_bus_creds* creds = nullptr;
    if (sd_bus_get_name_creds(bus_.get(), "org.kde.KWin", SD_BUS_CREDS_UNIQUE_NAME, &creds) < 0)
      return false;
    const char* unique = nullptr;
    bool ok = sd_bus_creds_get_unique_name(creds, &unique) >= 0 && unique;
    if (ok) kwin_ = unique;
    sd_bus_creds_unref(creds);
    return ok;
  }

  static int OnActivated(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<KWinSource*>(userdata);
    // Only KWin itself tells us what is in front.
    const char* sender = sd_bus_message_get_sender(m);
    if (!sender || self->kwin_ != sender)
      return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED, "not the window manager");
    const char *pid = nullptr, *resourceClass = nullptr, *resourceName = nullptr,
               *desktopFile = nullptr;
    int r = sd_bus_message_read(m, "ssss", &pid, &resourceClass, &resourceName, &desktopFile);
    if (r < 0) return r;
    WindowIdentity w;
    w.pid = PidFromText(pid);
    w.wmClass = resourceClass;
    w.wmInstance = resourceName;
    w.desktopFileName = desktopFile;
    self->Report(w);
    return sd_bus_reply_method_return(m, "");
  }

  std::string kwin_;
};

class GnomeShellSource : public BusSource {
 public:
  bool Start() {
    bus_ = OpenSessionBus();
    if (!bus_) return false;
    if (sd_bus_match_signal(bus_.get(), nullptr, kFrontWindowBusName, kFrontWindowObjectPath,
                            kFrontInterface, "FocusChanged", &GnomeShellSource::OnFocus,
                            this) < 0)
      return false;
    if (sd_bus_match_signal(bus_.get(), nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", &GnomeShellSource::OnOwner,
                            this) < 0)
      return false;
    Ask();
    return true;
  }

 private:
  void Ask() {
    sd_bus_call_method_async(bus_.get(), nullptr, kFrontWindowBusName, kFrontWindowObjectPath,
                             kFrontInterface, "GetFocus", &GnomeShellSource::OnFocus, this, "");
  }

  // A reply to GetFocus and the FocusChanged signal carry the same four values.
  static int OnFocus(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<GnomeShellSource*>(userdata);
    if (sd_bus_message_is_method_error(m, nullptr)) {
      // No extension on the bus: nobody can tell what is in front.
      self->state = FrontState::kUnknown;
      self->window = WindowIdentity();
      self->changed_ = true;
      return 0;
    }
    int32_t pid = 0;
    const char *wmClass = nullptr, *gtkId = nullptr, *sandboxId = nullptr;
    if (sd_bus_message_read(m, "isss", &pid, &wmClass, &gtkId, &sandboxId) < 0) return 0;
    WindowIdentity w;
    w.pid = pid > 0 ? pid_t(pid) : 0;
    w.wmClass = wmClass;
    w.gtkApplicationId = gtkId;
    w.sandboxedAppId = sandboxId;
    self->Report(w);
    return 0;
  }

  static int OnOwner(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<GnomeShellSource*>(userdata);
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) return 0;
    if (!name || std::strcmp(name, kFrontWindowBusName) != 0) return 0;
    if (after && *after) {
      self->Ask();
    } else {
      self->state = FrontState::kUnknown;
      self->window = WindowIdentity();
      self->changed_ = true;
    }
    return 0;
  }
};

// ---- The process's one source ------------------------------------------------------------------

struct Current {
  FrontSourceKind kind = kFrontSourceNone;
  std::unique_ptr<Source> source;
  std::chrono::steady_clock::time_point lastAttempt{};
  bool attempted = false;
};
Current gCurrent;

constexpr auto kRetryInterval = std::chrono::seconds(2);

std::unique_ptr<Source> MakeSource(FrontSourceKind kind) {
  switch (kind) {
    case kFrontSourceSway: {
      auto s = std::make_unique<SwaySource>();
      const char* path = Set("SWAYSOCK") ? std::getenv("SWAYSOCK") : std::getenv("I3SOCK");
      if (path && s->Start(path)) return s;
      break;
    }
    case kFrontSourceKWin: {
      auto s = std::make_unique<KWinSource>();
      if (s->Start()) return s;
      break;
    }
    case kFrontSourceGnomeShell: {
      auto s = std::make_unique<GnomeShellSource>();
      if (s->Start()) return s;
      break;
    }
    default:
      break;
  }
  return nullptr;
}

}  // namespace

FrontSourceKind ChooseFrontSource() {
  // i3 itself answers the same IPC but names no pids; on X11 the active window does.
  if (Set("SWAYSOCK") || (Set("I3SOCK") && !Set("DISPLAY"))) return kFrontSourceSway;
  if (Set("WAYLAND_DISPLAY")) {
    if (EnvNames("XDG_CURRENT_DESKTOP", "KDE")) return kFrontSourceKWin;
    if (EnvNames("XDG_CURRENT_DESKTOP", "GNOME")) return kFrontSourceGnomeShell;
  }
  return Set("DISPLAY") ? kFrontSourceX11 : kFrontSourceNone;
}

const char* FrontSourceName(FrontSourceKind kind) {
  switch (kind) {
    case kFrontSourceX11:
      return "X11";
    case kFrontSourceSway:
      return "sway";
    case kFrontSourceKWin:
      return "KWin";
    case kFrontSourceGnomeShell:
      return "GNOME Shell";
    default:
      return "none";
  }
}

Boolean GnomeShellExtensionRunning() {
  if (ChooseFrontSource() != kFrontSourceGnomeShell) return false;
  BusPtr bus = OpenSessionBus();
  if (!bus) return false;
  return sd_bus_get_name_creds(bus.get(), kFrontWindowBusName, SD_BUS_CREDS_UNIQUE_NAME,
                               nullptr) >= 0;
}

OSStatus EnableGnomeShellExtension() {
  BusPtr bus = OpenSessionBus();
  if (!bus) return kFrontSwitchNoDisplayErr;
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus.get(), "org.gnome.Shell", "/org/gnome/Shell",
                         "org.gnome.Shell.Extensions", "EnableExtension", nullptr, &reply, "s",
                         kGnomeShellExtensionUUID) < 0)
    return kFrontSwitchNoDisplayErr;
  int ok = 0;
  sd_bus_message_read(reply, "b", &ok);
  sd_bus_message_unref(reply);
  return ok ? OSStatus(noErr) : OSStatus(fnfErr);
}

int CorvimusWaylandSourceDescriptor() {
  return gCurrent.source ? gCurrent.source->Descriptor() : -1;
}

bool CorvimusWaylandSourceReady() {
  FrontSourceKind kind = ChooseFrontSource();
  if (kind == kFrontSourceNone || kind == kFrontSourceX11) return false;
  if (gCurrent.kind != kind) {
    gCurrent = Current();
    gCurrent.kind = kind;
  }
  if (gCurrent.source) return true;
  auto now = std::chrono::steady_clock::now();
  if (gCurrent.attempted && now - gCurrent.lastAttempt < kRetryInterval) return false;
  gCurrent.attempted = true;
  gCurrent.lastAttempt = now;
  gCurrent.source = MakeSource(kind);
  return gCurrent.source != nullptr;
}

bool CorvimusDrainWaylandSource(bool* lost) {
  *lost = false;
  if (!gCurrent.source) {
    *lost = true;
    return false;
  }
  bool changed = gCurrent.source->Drain(lost);
  if (*lost) gCurrent.source.reset();
  return changed;
}

bool CorvimusWaylandFrontProcess(pid_t* pid, OSErr* err) {
  if (!CorvimusWaylandSourceReady()) {
    // The session has a Wayland source that cannot be reached now: X11 may still know the front
    // when XWayland runs, else nobody can tell it.
    FrontSourceKind kind = ChooseFrontSource();
    if (kind == kFrontSourceNone || kind == kFrontSourceX11 || Set("DISPLAY")) return false;
    *err = kFrontProcessUnknownErr;
    return true;
  }
  bool lost = false;
  CorvimusDrainWaylandSource(&lost);
  if (lost) {
    *err = kFrontProcessUnknownErr;
    return true;
  }
  Source& s = *gCurrent.source;
  s.Refresh();
  switch (s.state) {
    case FrontState::kUnknown:
      *err = kFrontProcessUnknownErr;
      break;
    case FrontState::kNoWindow:
      *err = procNotFound;
      break;
    case FrontState::kWindow:
      *pid = s.window.pid;
      *err = s.window.pid > 0 ? OSErr(noErr) : OSErr(kFrontProcessUnknownErr);
      break;
  }
  return true;
}

const corvimus::WindowIdentity* CorvimusFrontWindowOf(pid_t pid) {
  if (!gCurrent.source || gCurrent.source->state != FrontState::kWindow) return nullptr;
  const WindowIdentity& w = gCurrent.source->window;
  return w.pid == pid && pid > 0 ? &w : nullptr;
}
