#include "platform/Folders.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "FileErrors.h"

namespace corvimus {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string ParentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDomain(SInt16 v) {
  return v >= kOnSystemDisk && v <= kUserDomain;
}

// The nearest existing folder at or above `path`.
std::string ExistingAncestor(std::string path) {
  struct stat st;
  while (path.size() > 1 && stat(path.c_str(), &st) != 0) path = ParentOf(path);
  return path;
}

// The top folder of the file system that holds `path`: the last folder going up with its device.
std::string MountPointOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "/";
  std::string cur = path;
  while (cur != "/") {
    std::string up = ParentOf(cur);
    struct stat ust;
    if (stat(up.c_str(), &ust) != 0 || ust.st_dev != st.st_dev) break;
    cur = up;
  }
  return cur;
}

OSErr CleanupFolderPath(SInt16 vRefNum, std::string* path) {
  std::string prefix = InstallationPrefix();
  if (prefix.empty()) return fnfErr;
  std::string home = prefix + "/lib/corvimus";
  std::string own = home + "/Cleanup";
  if (IsDomain(vRefNum)) {
    *path = own;
    return noErr;
  }
  std::string sample;
  if (OSErr e = VolumeSamplePath(vRefNum, &sample); e != noErr) return e;
  struct stat volume, ours;
  if (stat(sample.c_str(), &volume) != 0) return nsvErr;
  if (stat(ExistingAncestor(home).c_str(), &ours) == 0 && ours.st_dev == volume.st_dev) {
    *path = own;
    return noErr;
  }
  std::string mount = MountPointOf(sample);
  *path = (mount == "/" ? "" : mount) + "/.corvimus-cleanup";
  return noErr;
}

OSErr MakeFolders(const std::string& path, mode_t mode) {
  if (path.empty() || path == "/") return noErr;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? noErr : dirNFErr;
  if (OSErr e = MakeFolders(ParentOf(path), mode); e != noErr) return e;
  if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return MacErrorFromErrno(errno);
  return noErr;
}

}  // namespace

std::string InstallationPrefix() {
  std::string fromEnv = Env("CORVIMUS_PREFIX");
  if (!fromEnv.empty()) {
    while (fromEnv.size() > 1 && fromEnv.back() == '/') fromEnv.pop_back();
    return fromEnv;
  }
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  std::string folder = ParentOf(buf);
  // Inside an installation's private folders (a bundle's executable): the folder above
  // lib/corvimus.
  for (std::string cur = folder; cur != "/"; cur = ParentOf(cur)) {
    if (LeafOf(cur) == "corvimus" && LeafOf(ParentOf(cur)) == "lib") return ParentOf(ParentOf(cur));
  }
  // <prefix>/bin/program.
  return ParentOf(folder);
}

OSErr FolderPath(SInt16 vRefNum, OSType folderType, std::string* path) {
  if (!path) return paramErr;
  bool anyDisk = vRefNum == kOnSystemDisk || vRefNum == kOnAppropriateDisk || !IsDomain(vRefNum);
  auto prefixed = [&](const char* rest) -> OSErr {
    std::string prefix = InstallationPrefix();
    if (prefix.empty()) return fnfErr;
    *path = (prefix == "/" ? "" : prefix) + "/lib/corvimus" + rest;
    return noErr;
  };
  switch (folderType) {
    case kPreferencesFolderType: {
      if (!(anyDisk || vRefNum == kUserDomain)) return fnfErr;
      std::string config = Env("XDG_CONFIG_HOME");
      if (!config.empty() && config[0] == '/') {
        *path = config;
        return noErr;
      }
      std::string home = HomeFolder();
      if (home.empty()) return fnfErr;
      *path = home + "/.config";
      return noErr;
    }
    case kUsersFolderType: {
      if (!(anyDisk || vRefNum == kLocalDomain)) return fnfErr;
      std::string users = Env("CORVIMUS_USERS_DIR");
      *path = users.empty() ? "/home" : users;
      return noErr;
    }
    case kKernelExtensionsFolderType:
      if (!(anyDisk || vRefNum == kSystemDomain)) return fnfErr;
      return prefixed("/Extensions");
    case kDomainLibraryFolderType:
      if (vRefNum == kLocalDomain) return prefixed("/Library");
      if (vRefNum == kSystemDomain || vRefNum == kOnSystemDisk) return prefixed("/System/Library");
      return fnfErr;
    case kApplicationsFolderType:
      if (!(anyDisk || vRefNum == kLocalDomain)) return fnfErr;
      return prefixed("/Applications");
    case kFrameworksFolderType:
      return prefixed("/Frameworks");
    case kChewableItemsFolderType:
      return CleanupFolderPath(vRefNum, path);
    default:
      return fnfErr;
  }
}

}  // namespace corvimus

using namespace corvimus;

OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID) {
  std::string path;
  if (OSErr e = FolderPath(vRefNum, folderType, &path); e != noErr) return e;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return MacErrorFromErrno(errno);
    if (!createFolder) return fnfErr;
    // The user's settings folder holds private files; everything else is shared.
    mode_t mode = folderType == kPreferencesFolderType ? 0700 : 0755;
    if (OSErr e = MakeFolders(path, mode); e != noErr) return e;
  } else if (!S_ISDIR(st.st_mode)) {
    return dirNFErr;
  }
  SInt16 v;
  SInt32 id;
  if (OSErr e = PathToDirID(path, &v, &id); e != noErr) return e;
  if (foundVRefNum) *foundVRefNum = v;
  if (foundDirID) *foundDirID = id;
  return noErr;
}

OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef) {
  if (!foundRef) return paramErr;
  SInt16 v;
  SInt32 id;
  if (OSErr e = FindFolder(vRefNum, folderType, createFolder, &v, &id); e != noErr) return e;
  std::string path;
  if (OSErr e = DirIDToPath(v, id, &path); e != noErr) return e;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), foundRef, nullptr);
}

OSStatus FNNotify(const FSRef* ref, FNMessage message, UInt32) {
  if (!ref || message != kFNDirectoryModifiedMessage) return paramErr;
  struct stat st;
  std::string path(ref->path, strnlen(ref->path, kFSRefPathMax));
  if (path.empty()) return paramErr;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  return noErr;
}
