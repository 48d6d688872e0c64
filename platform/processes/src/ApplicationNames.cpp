#include "platform/ApplicationNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "platform/FileRefs.h"
#include "platform/Files.h"

namespace corvimus {
namespace {

constexpr size_t kMaxEntryBytes = 1 << 20;
constexpr int kMaxFolderDepth = 4;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::vector<std::string> SplitColons(const std::string& s) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, ':'))
    if (!part.empty() && part[0] == '/') parts.push_back(part);
  return parts;
}

// The folders entries come from, earliest first.
std::vector<std::string> ApplicationFolders() {
  std::string home = EnvOr("HOME", "");
  std::string dataHome = EnvOr("XDG_DATA_HOME", home.empty() ? "" : home + "/.local/share");
  std::vector<std::string> roots;
  if (!dataHome.empty() && dataHome[0] == '/') roots.push_back(dataHome);
  for (auto& d : SplitColons(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share")))
    roots.push_back(d);
  if (!dataHome.empty() && dataHome[0] == '/') roots.push_back(dataHome + "/flatpak/exports/share");
  roots.push_back("/var/lib/flatpak/exports/share");
  std::vector<std::string> folders;
  for (auto& r : roots) {
    std::string f = r + "/applications";
    if (std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
  }
  folders.push_back("/var/lib/snapd/desktop/applications");
  return folders;
}

// Desktop-entry string values: \s \n \t \r \\ are escapes.
std::string Unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      char e = v[++i];
      out += e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    } else {
      out += v[i];
    }
  }
  return out;
}

// The locale's language names to try for Name[...], best first: ll_CC, ll.
std::vector<std::string> LocaleKeys() {
  std::string lang = EnvOr("LC_ALL", EnvOr("LC_MESSAGES", EnvOr("LANG", "")));
  lang = lang.substr(0, lang.find_first_of(".@"));
  std::vector<std::string> keys;
  if (lang.empty() || lang == "C" || lang == "POSIX") return keys;
  keys.push_back(lang);
  size_t underscore = lang.find('_');
  if (underscore != std::string::npos) keys.push_back(lang.substr(0, underscore));
  return keys;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string out(resolved);
  std::free(resolved);
  return out;
}

// A program name as the shell would find it, resolved to the file itself.
std::string ResolveProgram(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos)
    return program[0] == '/' && IsExecutableFile(program) ? RealPath(program) : std::string();
  for (auto& dir : SplitColons(EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin"))) {
    std::string candidate = dir + "/" + program;
    if (IsExecutableFile(candidate)) return RealPath(candidate);
  }
  return {};
}

struct EntryCache {
  std::vector<std::string> folders;
  std::map<std::string, struct timespec> stamps;  // every folder read, with its change time
  std::vector<DesktopEntry> entries;
  std::string path;  // PATH the programs were resolved with
  bool loaded = false;
};
EntryCache gCache;

void Collect(const std::string& folder, const std::string& prefix, int depth,
             std::set<std::string>* seen, std::vector<DesktopEntry>* out) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  gCache.stamps[folder] = st.st_mtim;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::string path = folder + "/" + name;
    if (name.size() > 8 && name.ends_with(".desktop")) {
      std::string id = prefix + name.substr(0, name.size() - 8);
      if (!seen->insert(id).second) continue;  // hidden by an earlier folder, even when invalid
      DesktopEntry entry;
      if (!ReadDesktopEntry(path, &entry)) continue;
      entry.id = id;
      out->push_back(std::move(entry));
    } else if (depth < kMaxFolderDepth && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Collect(path, prefix + name + "-", depth + 1, seen, out);
    }
  }
}

bool CacheIsCurrent() {
  if (!gCache.loaded || gCache.folders != ApplicationFolders() ||
      gCache.path != EnvOr("PATH", ""))
    return false;
  for (const auto& [folder, stamp] : gCache.stamps) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || st.st_mtim.tv_sec != stamp.tv_sec ||
        st.st_mtim.tv_nsec != stamp.tv_nsec)
      return false;
  }
  // A folder that did not exist when the list was read may exist now.
  for (const auto& folder : gCache.folders) {
    struct stat st;
    if (!gCache.stamps.count(folder) && stat(folder.c_str(), &st) == 0) return false;
  }
  return true;
}

const std::vector<DesktopEntry>& Entries() {
  if (CacheIsCurrent()) return gCache.entries;
  gCache = EntryCache();
  gCache.folders = ApplicationFolders();
  gCache.path = EnvOr("PATH", "");
  std::set<std::string> seen;
  std::vector<DesktopEntry> all;
  for (const auto& folder : gCache.folders) Collect(folder, "", 0, &seen, &all);
  for (auto& e : all)
    if (!e.noDisplay || !e.program.empty() || !e.startupWMClass.empty())
      gCache.entries.push_back(std::move(e));
  gCache.loaded = true;
  return gCache.entries;
}

const DesktopEntry* EntryWithId(const std::string& id) {
  if (id.empty()) return nullptr;
  const DesktopEntry* folded = nullptr;
  std::string lower = Lower(id);
  for (const auto& e : Entries()) {
    if (e.id == id) return &e;
    if (!folded && Lower(e.id) == lower) folded = &e;
  }
  return folded;
}

const DesktopEntry* EntryForProgram(const std::string& realProgram) {
  if (realProgram.empty()) return nullptr;
  for (const auto& e : Entries())
    if (e.program == realProgram) return &e;
  return nullptr;
}

std::string ReadWholeFile(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string bytes(limit + 1, '\0');
  in.read(bytes.data(), std::streamsize(bytes.size()));
  bytes.resize(size_t(in.gcount()));
  return bytes.size() > limit ? std::string() : bytes;
}

// The value of `key` in `group` of an ini-style file (.flatpak-info).
std::string IniValue(const std::string& text, const std::string& group, const std::string& key) {
  std::istringstream in(text);
  bool inGroup = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    if (!inGroup) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq);
    while (!k.empty() && k.back() == ' ') k.pop_back();
    if (k == key) {
      std::string v = line.substr(eq + 1);
      while (!v.empty() && (v.front() == ' ')) v.erase(v.begin());
      while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
      return v;
    }
  }
  return {};
}

std::vector<std::string> ProcessArguments(pid_t pid) {
  std::string raw = ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline", 256 * 1024);
  std::vector<std::string> args;
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\0') {
      args.push_back(raw.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < raw.size()) args.push_back(raw.substr(start));
  return args;
}

std::string EnvironmentValue(pid_t pid, const std::string& name) {
  std::string raw = ReadWholeFile("/proc/" + std::to_string(pid) + "/environ", 1024 * 1024);
  std::string wanted = name + "=";
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    if (raw.compare(start, wanted.size(), wanted) == 0)
      return raw.substr(start + wanted.size(), end - start - wanted.size());
    start = end + 1;
  }
  return {};
}

enum class Interpreter { kNone, kScript, kPython, kJava };

Interpreter InterpreterKind(const std::string& exeName) {
  auto versioned = [&](const char* stem) {
    size_t n = std::strlen(stem);
    if (exeName.compare(0, n, stem) != 0) return false;
    for (size_t i = n; i < exeName.size(); ++i)
      if (!(exeName[i] >= '0' && exeName[i] <= '9') && exeName[i] != '.') return false;
    return true;
  };
  if (versioned("python") || versioned("pypy")) return Interpreter::kPython;
  if (exeName == "java") return Interpreter::kJava;
  for (const char* stem : {"perl", "ruby", "lua", "php", "tclsh", "wish", "luajit"})
    if (versioned(stem)) return Interpreter::kScript;
  for (const char* name : {"node", "nodejs", "gjs", "gjs-console", "bash", "sh", "dash", "zsh",
                           "ksh", "mksh", "fish", "osh", "guile", "Rscript", "tcl"})
    if (exeName == name) return Interpreter::kScript;
  return Interpreter::kNone;
}

// What an interpreter runs: the script's path (or a module or jar name) and whether it is a path.
struct ScriptRun {
  std::string what;
  bool isPath = false;
};

ScriptRun ScriptOfInterpreter(Interpreter kind, const std::vector<std::string>& args) {
  // Options of the interpreters that take the next word as their value.
  static const std::set<std::string> kPythonValue = {"-W", "-X", "-Q"};
  static const std::set<std::string> kJavaValue = {"-cp", "-classpath", "--class-path",
                                                   "--module-path", "-p", "--add-modules"};
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (kind == Interpreter::kPython) {
      if (a == "-c") return {};
      if (a == "-m") return i + 1 < args.size() ? ScriptRun{args[i + 1], false} : ScriptRun{};
      if (a.size() > 2 && a.compare(0, 2, "-m") == 0) return {a.substr(2), false};
      if (kPythonValue.count(a)) {
        ++i;
        continue;
      }
    } else if (kind == Interpreter::kJava) {
      if (a == "-jar")
        return i + 1 < args.size() ? ScriptRun{args[i + 1], true} : ScriptRun{};
      if (kJavaValue.count(a)) {
        ++i;
        continue;
      }
      if (!a.empty() && a[0] != '-') {
        // A main class: its last dotted part names the program.
        size_t dot = a.rfind('.');
        return {dot == std::string::npos ? a : a.substr(dot + 1), false};
      }
    } else if (a == "-c" || a == "-e" || a == "-E" || a == "--eval" || a == "-r") {
      return {};  // inline code, no script
    }
    if (a == "--") return i + 1 < args.size() ? ScriptRun{args[i + 1], true} : ScriptRun{};
    if (!a.empty() && a[0] == '-') continue;
    return {a, true};
  }
  return {};
}

std::string WithoutSuffix(std::string name, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) name.resize(name.size() - n);
  return name;
}

// The id an application's sandbox gives it: Flatpak's, else a snap's.
std::string SandboxId(pid_t pid) {
  std::string info = ReadWholeFile("/proc/" + std::to_string(pid) + "/root/.flatpak-info", 65536);
  std::string id = IniValue(info, "Application", "name");
  if (!id.empty()) return id;
  // Only a snap's processes lie in a snap's control group; the environment is read for those alone.
  std::string cgroup = ReadWholeFile("/proc/" + std::to_string(pid) + "/cgroup", 65536);
  if (cgroup.find("snap.") == std::string::npos) return {};
  std::string snap = EnvironmentValue(pid, "SNAP_INSTANCE_NAME");
  if (snap.empty()) snap = EnvironmentValue(pid, "SNAP_NAME");
  if (snap.empty()) return {};
  for (const auto& e : Entries())
    if (e.snapName == snap) return e.id;
  // Snap entries are called <snap>_<app>.desktop; the one named after the snap is its main one.
  if (EntryWithId(snap + "_" + snap)) return snap + "_" + snap;
  return snap;
}

std::string IdFromSandbox(const std::string& sandboxId) {
  if (sandboxId.empty()) return {};
  for (const auto& e : Entries())
    if (e.flatpakId == sandboxId) return e.id;
  const DesktopEntry* e = EntryWithId(sandboxId);
  return e ? e->id : sandboxId;
}

// CFBundleSignature: its first four bytes, zero-padded; 0 when missing.
OSType BundleSignature(const std::string& bundle) {
  std::string bytes = ReadWholeFile(bundle + "/Contents/Info.plist", kMaxEntryBytes);
  if (bytes.empty()) return 0;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), uint32_t(bytes.size()), &root);
  std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
  if (!root || plist_get_node_type(root) != PLIST_DICT) return 0;
  plist_t node = plist_dict_get_item(root, "CFBundleSignature");
  if (!node || plist_get_node_type(node) != PLIST_STRING) return 0;
  char* value = nullptr;
  plist_get_string_val(node, &value);
  UInt8 code[4] = {0, 0, 0, 0};
  for (int i = 0; value && i < 4 && value[i]; ++i) code[i] = UInt8(value[i]);
  free(value);
  return (OSType(code[0]) << 24) | (OSType(code[1]) << 16) | (OSType(code[2]) << 8) | code[3];
}

// The bundle around <bundle>/Contents/MacOS/<program>, if any.
std::string EnclosingBundle(const std::string& program) {
  const std::string marker = "/Contents/MacOS/";
  size_t at = program.rfind(marker);
  if (at == std::string::npos || program.find('/', at + marker.size()) != std::string::npos)
    return {};
  return program.substr(0, at);
}

bool DescribeBundle(const std::string& bundle, ApplicationChoice* out, std::string* error) {
  std::string name = BaseName(bundle);
  if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".app") name.resize(name.size() - 4);
  if (name.empty()) {
    *error = bundle + ": the application has no name";
    return false;
  }
  out->fileName = out->displayName = name;
  OSType signature = BundleSignature(bundle);
  out->signature = signature ? signature : OSType(kUnknownSignature);
  out->icon.clear();
  return true;
}

bool DescribeEntry(const DesktopEntry& entry, ApplicationChoice* out, std::string* error) {
  // A bundle started from a desktop entry is still the bundle.
  std::string bundle = EnclosingBundle(entry.program);
  if (!bundle.empty()) return DescribeBundle(bundle, out, error);
  out->fileName = entry.id;
  out->displayName = entry.name.empty() ? entry.id : entry.name;
  out->icon = entry.icon;
  out->signature = kUnknownSignature;
  return true;
}

}  // namespace

bool ReadDesktopEntry(const std::string& path, DesktopEntry* out) {
  std::string text = ReadWholeFile(path, kMaxEntryBytes);
  if (text.empty()) return false;
  DesktopEntry e;
  e.path = path;
  std::string base = BaseName(path);
  e.id = WithoutSuffix(base, ".desktop");
  std::vector<std::string> locales = LocaleKeys();
  size_t bestName = locales.size() + 1;  // rank of the Name key taken; lower is better
  bool inEntry = false, hidden = false, application = false, sawGroup = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      // Only the first group may be the entry's own.
      inEntry = !sawGroup && line == "[Desktop Entry]";
      sawGroup = true;
      continue;
    }
    if (!inEntry) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string value = line.substr(eq + 1);
    while (!value.empty() && value.front() == ' ') value.erase(value.begin());
    if (key.compare(0, 5, "Name[") == 0 && key.back() == ']') {
      std::string lang = key.substr(5, key.size() - 6);
      for (size_t rank = 0; rank < locales.size(); ++rank)
        if (locales[rank] == lang && rank < bestName) {
          e.name = Unescape(value);
          bestName = rank;
        }
    } else if (key == "Name") {
      if (bestName >= locales.size()) {
        e.name = Unescape(value);
        bestName = locales.size();
      }
    } else if (key == "Type") {
      application = value == "Application";
    } else if (key == "Exec") {
      e.exec = value;
    } else if (key == "Icon") {
      e.icon = Unescape(value);
    } else if (key == "StartupWMClass") {
      e.startupWMClass = Unescape(value);
    } else if (key == "X-Flatpak") {
      e.flatpakId = Unescape(value);
    } else if (key == "X-SnapInstanceName") {
      e.snapName = Unescape(value);
    } else if (key == "NoDisplay") {
      e.noDisplay = value == "true";
    } else if (key == "Hidden") {
      hidden = value == "true";
    }
  }
  if (!application || hidden) return false;
  e.program = ResolveProgram(ProgramOfExecLine(e.exec));
  *out = std::move(e);
  return true;
}

const std::vector<DesktopEntry>& InstalledApplications() {
  return Entries();
}

const DesktopEntry* FindDesktopEntryForHint(const std::string& hint) {
  if (hint.empty()) return nullptr;
  if (const DesktopEntry* e = EntryWithId(hint)) return e;
  std::string lower = Lower(hint);
  for (const auto& e : Entries())
    if (!e.startupWMClass.empty() && Lower(e.startupWMClass) == lower) return &e;
  return nullptr;
}

std::string ProgramOfExecLine(const std::string& exec) {
  // Words, honouring double quotes and backslash escapes inside them.
  std::vector<std::string> words;
  std::string word;
  bool inQuotes = false, any = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      inQuotes = any = true;
    } else if (c == ' ' || c == '\t') {
      if (any || !word.empty()) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any || !word.empty()) words.push_back(word);
  for (const auto& w : words) {
    if (w == "env" || (w.find('=') != std::string::npos && w[0] != '/' && w[0] != '=')) continue;
    if (!w.empty() && w[0] == '%') return {};
    return w;
  }
  return {};
}

std::string ApplicationNameOfProcess(pid_t pid, const WindowIdentity* window) {
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/%d/exe", int(pid));
  ssize_t n = readlink(link, target, sizeof target - 1);
  std::string exe;
  if (n > 0) {
    exe.assign(target, size_t(n));
    exe = WithoutSuffix(exe, " (deleted)");
  } else {
    // No executable to look at: the kernel's short name is all there is.
    std::string comm = ReadWholeFile("/proc/" + std::to_string(pid) + "/comm", 64);
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm.empty()) return {};
    exe = comm;
  }

  std::string sandbox = window ? window->sandboxedAppId : std::string();
  if (sandbox.empty() && n > 0) sandbox = SandboxId(pid);
  if (!sandbox.empty()) return IdFromSandbox(sandbox);

  if (window) {
    std::string desktopFile = WithoutSuffix(BaseName(window->desktopFileName), ".desktop");
    for (const std::string* hint : {&window->appId, &window->gtkApplicationId,
                                    static_cast<const std::string*>(&desktopFile),
                                    &window->wmClass, &window->wmInstance})
      if (const DesktopEntry* e = FindDesktopEntryForHint(*hint)) return e->id;
  }
  if (n <= 0) return exe;

  std::string exeName = BaseName(exe);
  Interpreter kind = InterpreterKind(exeName);
  if (kind != Interpreter::kNone) {
    ScriptRun run = ScriptOfInterpreter(kind, ProcessArguments(pid));
    if (!run.what.empty()) {
      if (run.isPath) {
        std::string script = run.what;
        if (script[0] != '/') {
          // Relative to the process's working folder.
          char cwd[4096];
          std::string cwdLink = "/proc/" + std::to_string(pid) + "/cwd";
          ssize_t c = readlink(cwdLink.c_str(), cwd, sizeof cwd - 1);
          if (c > 0) script = std::string(cwd, size_t(c)) + "/" + script;
        }
        if (const DesktopEntry* e = EntryForProgram(RealPath(script))) return e->id;
        std::string name = BaseName(run.what);
        return kind == Interpreter::kJava ? WithoutSuffix(name, ".jar") : name;
      }
      return run.what;
    }
  }
  if (const DesktopEntry* e = EntryForProgram(RealPath(exe))) return e->id;
  return exeName;
}

bool DescribeApplication(const std::string& whatIn, ApplicationChoice* out, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::string what = whatIn;
  while (what.size() > 1 && what.back() == '/') what.pop_back();
  if (what.empty()) {
    *error = "no application given";
    return false;
  }
  struct stat st;
  bool exists = stat(what.c_str(), &st) == 0;
  if (!exists || what.find('/') == std::string::npos) {
    // A desktop entry id, with or without ".desktop".
    if (const DesktopEntry* e = EntryWithId(WithoutSuffix(what, ".desktop")))
      return DescribeEntry(*e, out, error);
    if (!exists) {
      *error = what + ": no such application (neither a file nor an installed desktop entry)";
      return false;
    }
  }
  std::string name = BaseName(what);
  if (S_ISDIR(st.st_mode)) {
    // A folder counts as a bundle, as it always has; without an Info.plist it has no signature.
    return DescribeBundle(what, out, error);
  }
  if (name.size() > 8 && name.ends_with(".desktop")) {
    DesktopEntry entry;
    if (!ReadDesktopEntry(what, &entry)) {
      *error = what + ": not a desktop entry of an application";
      return false;
    }
    // The same file installed is known by its installed id, which may carry a folder prefix.
    std::string real = RealPath(what);
    for (const auto& e : Entries())
      if (RealPath(e.path) == real) return DescribeEntry(e, out, error);
    return DescribeEntry(entry, out, error);
  }
  std::string real = RealPath(what);
  std::string bundle = EnclosingBundle(real);
  if (!bundle.empty()) return DescribeBundle(bundle, out, error);
  if (const DesktopEntry* e = EntryForProgram(real)) return DescribeEntry(*e, out, error);
  // A program or script: its processes carry its file name (a script run by its interpreter too).
  out->fileName = out->displayName = name;
  if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".app")
    out->fileName = out->displayName = name.substr(0, name.size() - 4);
  out->icon.clear();
  // A file without a bundle may still carry a creator code in its Finder info.
  out->signature = kUnknownSignature;
  FSRef ref;
  FSSpec item;
  FInfo finder;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(what.c_str()), &ref, nullptr) == noErr &&
      FSGetFSSpecFromRef(&ref, &item) == noErr && FSpGetFInfo(&item, &finder) == noErr &&
      finder.fdCreator != 0)
    out->signature = finder.fdCreator;
  if (out->fileName.empty()) {
    *error = what + ": the application has no name";
    return false;
  }
  return true;
}

}  // namespace corvimus
