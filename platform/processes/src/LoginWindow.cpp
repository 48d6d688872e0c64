#include "platform/LoginWindow.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <utility>

#include "platform/LaunchServices.h"
#include "platform/PropertyLists.h"

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The NUL-separated command line of a process, as separate arguments.
std::vector<std::string> CommandLine(const std::string& procDir) {
  std::ifstream in(procDir + "/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

bool StartsWithShebang(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[2] = {};
  return in.read(head, 2) && head[0] == '#' && head[1] == '!';
}

}  // namespace

OSErr ReadLoginWindowItems(const std::string& prefsFolder, std::vector<LoginWindowItem>* outItems) {
  outItems->clear();
  std::string file = prefsFolder;
  if (file.empty() || file.back() != '/') file += '/';
  file += kLoginWindowFileName;
  PropertyListContent content;
  PropertyList root;
  OSErr err = ReadPropertyListFile(file, &content, &root);
  if (err == fnfErr) return fnfErr;
  if (err != noErr || content != kPropertyListParsed) return resNotFound;
  if (plist_get_node_type(root.get()) != PLIST_DICT) return resNotFound;
  plist_t items = plist_dict_get_item(root.get(), kLoginItemsKey);
  if (!items) return noErr;
  if (plist_get_node_type(items) != PLIST_ARRAY) return resNotFound;
  for (uint32_t k = 0; k < plist_array_get_size(items); ++k) {
    plist_t entry = plist_array_get_item(items, k);
    if (!entry || plist_get_node_type(entry) != PLIST_DICT) continue;
    LoginWindowItem item;
    item.path = PropertyListString(plist_dict_get_item(entry, kLoginItemPathKey));
    if (item.path.empty()) continue;
    plist_t hide = plist_dict_get_item(entry, kLoginItemHideKey);
    uint8_t flag = 0;
    if (hide && plist_get_node_type(hide) == PLIST_BOOLEAN) plist_get_bool_val(hide, &flag);
    item.hide = flag != 0;
    outItems->push_back(std::move(item));
  }
  return noErr;
}

bool IsProgramRunningForUser(const std::string& program, uid_t uid) {
  struct stat target;
  if (stat(program.c_str(), &target) != 0) return false;
  // A script runs as its interpreter, with the script's path as the first argument.
  const bool script = StartsWithShebang(program);
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool running = false;
  while (dirent* e = readdir(proc)) {
    const char* name = e->d_name;
    if (*name < '1' || *name > '9' || std::strspn(name, "0123456789") != std::strlen(name))
      continue;
    std::string dir = std::string("/proc/") + name;
    struct stat owner, exe;
    if (stat(dir.c_str(), &owner) != 0 || owner.st_uid != uid) continue;
    if (stat((dir + "/exe").c_str(), &exe) == 0 && SameFile(exe, target)) {
      running = true;
      break;
    }
    if (script) {
      std::vector<std::string> args = CommandLine(dir);
      struct stat arg;
      if (args.size() >= 2 && stat(args[1].c_str(), &arg) == 0 && SameFile(arg, target)) {
        running = true;
        break;
      }
    }
  }
  closedir(proc);
  return running;
}

int LaunchLoginWindowItems(const std::vector<LoginWindowItem>& items,
                           const std::function<bool(const std::string& document)>& open) {
  int started = 0;
  std::set<std::pair<dev_t, ino_t>> programsSeen;
  std::set<std::string> documentsSeen;
  const uid_t uid = getuid();
  for (const LoginWindowItem& item : items) {
    std::string program;
    LSItemKind kind = LSClassifyItem(item.path, &program);
    if (kind == kLSItemMissing) continue;
    if (kind == kLSItemDocument) {
      if (documentsSeen.insert(item.path).second && open && open(item.path)) ++started;
      continue;
    }
    struct stat st;
    if (stat(program.c_str(), &st) != 0) continue;
    if (!programsSeen.insert({st.st_dev, st.st_ino}).second) continue;
    if (IsProgramRunningForUser(program, uid)) continue;
    if (StartDetachedProgram(program, {})) ++started;
  }
  return started;
}
