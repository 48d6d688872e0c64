#include "platform/FileRefs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "FileErrors.h"
#include "platform/AppleDouble.h"

namespace corvimus {
namespace {

struct FolderEntry {
  dev_t dev;
  ino_t ino;
  SInt16 vRefNum;
  std::string path;
};

// Process-wide tables of the volumes and folders handed out so far.
struct Registry {
  std::mutex lock;
  std::map<SInt32, FolderEntry> folders;
  std::map<std::pair<dev_t, ino_t>, SInt32> folderIds;
  std::map<dev_t, SInt16> volumes;
  std::map<SInt16, std::string> volumeSamples;
  SInt32 nextDirID = 100;
  SInt16 nextVRefNum = -100;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

// The sample path of a volume is the item most recently seen on it, which is the likeliest to
// still exist when the volume is asked about.
SInt16 VolumeFor(Registry& r, dev_t dev, const std::string& samplePath) {
  auto it = r.volumes.find(dev);
  SInt16 v;
  if (it != r.volumes.end()) {
    v = it->second;
  } else {
    v = r.nextVRefNum--;
    r.volumes[dev] = v;
  }
  r.volumeSamples[v] = samplePath;
  return v;
}

std::string Parent(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Leaf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Decodes one UTF-8 character; a byte that does not start a valid sequence stands for itself in a
// range no character uses, so such names still compare byte for byte.
char32_t NextChar(const std::string& s, size_t* i) {
  auto b = static_cast<unsigned char>(s[*i]);
  int extra = b < 0x80             ? 0
              : (b & 0xE0) == 0xC0 ? 1
              : (b & 0xF0) == 0xE0 ? 2
              : (b & 0xF8) == 0xF0 ? 3
                                   : -1;
  if (extra == 0) {
    ++*i;
    return b;
  }
  if (extra < 0 || *i + extra >= s.size()) {
    ++*i;
    return 0x110000 + b;
  }
  char32_t c = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto n = static_cast<unsigned char>(s[*i + k]);
    if ((n & 0xC0) != 0x80) {
      ++*i;
      return 0x110000 + b;
    }
    c = (c << 6) | (n & 0x3F);
  }
  *i += extra + 1;
  return c;
}

char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size())
    if (FoldCase(NextChar(a, &i)) != FoldCase(NextChar(b, &j))) return false;
  return i == a.size() && j == b.size();
}

bool ValidName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string FromPascal(ConstStr255Param p) {
  return p ? std::string(reinterpret_cast<const char*>(p) + 1, p[0]) : std::string();
}

void ToStr63(const std::string& s, Str63 out) {
  size_t n = std::min<size_t>(s.size(), 63);
  out[0] = static_cast<UInt8>(n);
  std::memcpy(out + 1, s.data(), n);
}

OSErr MakeAbsolute(const std::string& path, std::string* out) {
  if (path.empty()) return bdNamErr;
  if (path[0] == '/') {
    *out = path;
  } else {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return MacErrorFromErrno(errno);
    *out = Join(cwd, path);
  }
  return noErr;
}

// Canonical form of an existing item's path: its folder resolved, its own name kept (a symbolic
// link stays an item of its own).
OSErr CanonicalItemPath(const std::string& path, std::string* out) {
  std::string abs;
  if (OSErr e = MakeAbsolute(path, &abs); e != noErr) return e;
  while (abs.size() > 1 && abs.back() == '/') abs.pop_back();
  struct stat st;
  if (lstat(abs.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  std::string leaf = Leaf(abs);
  char buf[PATH_MAX];
  if (abs == "/" || leaf == "." || leaf == "..") {
    if (!realpath(abs.c_str(), buf)) return MacErrorFromErrno(errno);
    *out = buf;
    return noErr;
  }
  if (!realpath(Parent(abs).c_str(), buf)) return MacErrorFromErrno(errno);
  *out = Join(buf, leaf);
  return noErr;
}

}  // namespace

bool IsSidecarName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "._") == 0;
}

std::string SidecarPathFor(const std::string& path) {
  std::string folder = Parent(path);
  return Join(folder, "._" + Leaf(path));
}

OSErr PathToDirID(const std::string& path, SInt16* vRefNum, SInt32* dirID) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return MacErrorFromErrno(errno);
  struct stat st;
  if (stat(buf, &st) != 0) return MacErrorFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return dirNFErr;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  SInt16 v = VolumeFor(r, st.st_dev, buf);
  auto key = std::make_pair(st.st_dev, st.st_ino);
  auto it = r.folderIds.find(key);
  SInt32 id;
  if (it != r.folderIds.end()) {
    id = it->second;
    r.folders[id].path = buf;  // it may have moved since it was last seen
  } else {
    id = r.nextDirID++;
    r.folderIds[key] = id;
    r.folders[id] = {st.st_dev, st.st_ino, v, buf};
  }
  if (vRefNum) *vRefNum = v;
  if (dirID) *dirID = id;
  return noErr;
}

OSErr DirIDToPath(SInt16 vRefNum, SInt32 dirID, std::string* path) {
  FolderEntry entry;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.folders.find(dirID);
    if (it == r.folders.end()) return dirNFErr;
    entry = it->second;
  }
  if (vRefNum != 0 && vRefNum != entry.vRefNum) return nsvErr;
  struct stat st;
  if (stat(entry.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != entry.dev ||
      st.st_ino != entry.ino)
    return dirNFErr;
  *path = entry.path;
  return noErr;
}

OSErr PathToVRefNum(const std::string& path, SInt16* vRefNum) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  *vRefNum = VolumeFor(r, st.st_dev, path);
  return noErr;
}

OSErr VolumeSamplePath(SInt16 vRefNum, std::string* path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.volumeSamples.find(vRefNum);
  if (it == r.volumeSamples.end()) return nsvErr;
  *path = it->second;
  return noErr;
}

OSErr LookUpName(const std::string& folder, const std::string& name, std::string* found) {
  if (!ValidName(name)) return bdNamErr;
  struct stat st;
  std::string exact = Join(folder, name);
  if (lstat(exact.c_str(), &st) == 0) {
    *found = name;
    return noErr;
  }
  if (errno != ENOENT) return MacErrorFromErrno(errno);
  if (IsSidecarName(name)) return fnfErr;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return errno == ENOENT ? OSErr(dirNFErr) : MacErrorFromErrno(errno);
  std::string best;
  bool any = false;
  while (dirent* e = readdir(dir)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == ".." || IsSidecarName(entry)) continue;
    if (EqualIgnoringCase(entry, name) && (!any || entry < best)) {
      best = entry;
      any = true;
    }
  }
  closedir(dir);
  if (!any) return fnfErr;
  *found = best;
  return noErr;
}

OSErr FSSpecToPath(const FSSpec* spec, std::string* path) {
  if (!spec) return paramErr;
  std::string folder;
  if (OSErr e = DirIDToPath(spec->vRefNum, spec->parID, &folder); e != noErr) return e;
  std::string name = FromPascal(spec->name);
  if (name.empty()) {
    *path = folder;
    return noErr;
  }
  if (!ValidName(name)) return bdNamErr;
  *path = Join(folder, name);
  return noErr;
}

}  // namespace corvimus

using namespace corvimus;

namespace {

// Fills `spec` for the item at `itemPath` inside the existing folder `folder`.
OSErr SpecFor(const std::string& folder, const std::string& name, FSSpec* spec) {
  if (name.size() > 63) return bdNamErr;
  SInt16 v;
  SInt32 id;
  if (OSErr e = PathToDirID(folder, &v, &id); e != noErr) return e;
  spec->vRefNum = v;
  spec->parID = id;
  ToStr63(name, spec->name);
  return noErr;
}

// A folder's own spec: its parent folder and its name.
OSErr SpecForFolderItself(const std::string& folder, FSSpec* spec) {
  char buf[PATH_MAX];
  if (!realpath(folder.c_str(), buf)) return MacErrorFromErrno(errno);
  std::string canon = buf;
  if (canon == "/") {
    SInt16 v;
    SInt32 id;
    if (OSErr e = PathToDirID(canon, &v, &id); e != noErr) return e;
    spec->vRefNum = v;
    spec->parID = id;
    spec->name[0] = 0;
    return noErr;
  }
  return SpecFor(Parent(canon), Leaf(canon), spec);
}

}  // namespace

OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec) {
  if (!spec) return paramErr;
  std::string folder;
  if (OSErr e = DirIDToPath(vRefNum, dirID, &folder); e != noErr) return e;
  std::string name = FromPascal(fileName);
  if (name.find('\0') != std::string::npos || name.find('/') != std::string::npos) return bdNamErr;
  if (name.empty()) return SpecForFolderItself(folder, spec);
  if (name.find(':') == std::string::npos) {
    if (!ValidName(name)) return bdNamErr;
    std::string real;
    OSErr e = LookUpName(folder, name, &real);
    if (e == noErr) return SpecFor(folder, real, spec);
    if (e != fnfErr) return e;
    if (OSErr s = SpecFor(folder, name, spec); s != noErr) return s;
    return fnfErr;
  }
  // A partial path: components between colons; an empty component after the first colon goes up.
  std::vector<std::string> parts;
  size_t start = name[0] == ':' ? 1 : 0;
  while (true) {
    size_t colon = name.find(':', start);
    parts.push_back(
        name.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  bool namesFolder = parts.back().empty();
  if (namesFolder) parts.pop_back();
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    bool last = i + 1 == parts.size();
    if (part.empty()) {
      folder = Parent(folder);
      if (last) return SpecForFolderItself(folder, spec);
      continue;
    }
    if (!ValidName(part)) return bdNamErr;
    std::string real;
    OSErr e = LookUpName(folder, part, &real);
    if (last) {
      if (e == noErr) return SpecFor(folder, real, spec);
      if (e != fnfErr) return e;
      if (OSErr s = SpecFor(folder, part, spec); s != noErr) return s;
      return fnfErr;
    }
    if (e == fnfErr) return dirNFErr;
    if (e != noErr) return e;
    folder = Join(folder, real);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dirNFErr;
  }
  return SpecForFolderItself(folder, spec);
}

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode) {
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  if (spec->name[0] == 0) return bdNamErr;
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return MacErrorFromErrno(errno);
  close(fd);
  AppleDouble sidecar;
  std::vector<UInt8> info(kAppleDoubleFinderInfoSize, 0);
  StoreFinderInfo(info.data(), fileType, creator, 0);
  sidecar.Set(kAppleDoubleFinderInfo, std::move(info));
  if (OSErr e = WriteSidecar(path, sidecar); e != noErr) {
    unlink(path.c_str());
    return e;
  }
  return noErr;
}

OSErr FSpDelete(const FSSpec* spec) {
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  if (spec->name[0] == 0) return bdNamErr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) {
    if (rmdir(path.c_str()) != 0) return MacErrorFromErrno(errno);
  } else if (unlink(path.c_str()) != 0) {
    return MacErrorFromErrno(errno);
  }
  DeleteSidecar(path);
  return noErr;
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info) {
  if (!info) return paramErr;
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  *info = FInfo{};
  AppleDouble sidecar;
  OSErr e = ReadSidecar(path, &sidecar);
  if (e == fnfErr) return noErr;
  if (e != noErr) return e;
  const AppleDoubleEntry* entry = sidecar.Find(kAppleDoubleFinderInfo);
  if (!entry) return noErr;
  if (entry->data.size() < 16) return ioErr;
  LoadFinderInfo(entry->data.data(), &info->fdType, &info->fdCreator, &info->fdFlags);
  return noErr;
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info) {
  if (!info) return paramErr;
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  AppleDouble sidecar;
  OSErr e = ReadSidecar(path, &sidecar);
  if (e != noErr && e != fnfErr) return e;
  std::vector<UInt8> entry(kAppleDoubleFinderInfoSize, 0);
  if (const auto* old = sidecar.Find(kAppleDoubleFinderInfo)) {
    std::copy_n(old->data.begin(), std::min(old->data.size(), entry.size()), entry.begin());
  }
  StoreFinderInfo(entry.data(), info->fdType, info->fdCreator, info->fdFlags);
  sidecar.Set(kAppleDoubleFinderInfo, std::move(entry));
  return WriteSidecar(path, sidecar);
}

OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName) {
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  std::string name = FromPascal(newName);
  if (!ValidName(name) || name.size() > 255 || spec->name[0] == 0) return bdNamErr;
  std::string target = Join(Parent(path), name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (target == path) return noErr;
  // Only a change of letter case may reuse a taken name: the name that is taken is our own.
  if (lstat(target.c_str(), &st) == 0 && !EqualIgnoringCase(name, Leaf(path))) return dupFNErr;
  if (rename(path.c_str(), target.c_str()) != 0) return MacErrorFromErrno(errno);
  std::string oldSidecar = SidecarPathFor(path);
  if (lstat(oldSidecar.c_str(), &st) == 0)
    rename(oldSidecar.c_str(), SidecarPathFor(target).c_str());
  return noErr;
}

OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
  if (!path || !ref) return paramErr;
  std::string canon;
  if (OSErr e = CanonicalItemPath(reinterpret_cast<const char*>(path), &canon); e != noErr)
    return e;
  if (canon.size() >= kFSRefPathMax) return bdNamErr;
  struct stat st;
  if (lstat(canon.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  std::memcpy(ref->path, canon.c_str(), canon.size() + 1);
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
  return noErr;
}

OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
  if (!ref || !path) return paramErr;
  size_t n = strnlen(ref->path, kFSRefPathMax);
  if (n == 0 || n == kFSRefPathMax) return paramErr;
  if (n + 1 > maxPathSize) return bdNamErr;
  std::memcpy(path, ref->path, n + 1);
  return noErr;
}

OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref) {
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), ref, nullptr);
}

OSErr FSMakeFSRefFromName(const FSRef* parent, ConstStr255Param name, FSRef* ref) {
  if (!parent || !ref) return paramErr;
  std::string folder(parent->path, strnlen(parent->path, kFSRefPathMax));
  std::string real;
  if (OSErr e = LookUpName(folder, FromPascal(name), &real); e != noErr) return e;
  std::string path = Join(folder, real);
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), ref, nullptr);
}

OSErr FSGetFSSpecFromRef(const FSRef* ref, FSSpec* spec) {
  if (!ref || !spec) return paramErr;
  std::string path(ref->path, strnlen(ref->path, kFSRefPathMax));
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (path == "/") return SpecForFolderItself(path, spec);
  return SpecFor(Parent(path), Leaf(path), spec);
}

OSErr FSDeleteObject(const FSRef* ref) {
  // Works on the reference's own path rather than through an FSSpec, whose names stop at 63
  // bytes: an FSRef names any item, and any item can be deleted.
  if (!ref) return paramErr;
  std::string path(ref->path, strnlen(ref->path, kFSRefPathMax));
  if (path.empty() || path == "/") return paramErr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) {
    if (rmdir(path.c_str()) != 0) return MacErrorFromErrno(errno);
  } else if (unlink(path.c_str()) != 0) {
    return MacErrorFromErrno(errno);
  }
  DeleteSidecar(path);
  return noErr;
}
