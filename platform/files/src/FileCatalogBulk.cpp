// Locked items, folder iterators, references from a folder and a partial path, and moves.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FileErrors.h"
#include "platform/FileCatalog.h"

using namespace corvimus;

namespace {

std::string LeafOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

OSErr RefOfPath(const std::string& path, FSRef* ref) {
  if (path.size() >= kFSRefPathMax) return bdNamErr;
  std::memcpy(ref->path, path.c_str(), path.size() + 1);
  return noErr;
}

// How a given item keeps its lock.
enum class LockKind { kNone, kAttribute, kWriteBits };

// The item `name` in dirFd, or dirFd itself when name is empty; a link is never followed.
OSErr LockKindOf(int dirFd, const char* name, LockKind* kind, bool* locked) {
  struct statx sx;
  const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
  if (statx(dirFd, name, flags, STATX_TYPE | STATX_MODE, &sx) != 0) return MacErrorFromErrno(errno);
  if (S_ISLNK(sx.stx_mode)) {
    *kind = LockKind::kNone;
    *locked = false;
    return noErr;
  }
  const bool fileOrFolder = S_ISREG(sx.stx_mode) || S_ISDIR(sx.stx_mode);
  if (fileOrFolder && (sx.stx_attributes_mask & STATX_ATTR_IMMUTABLE)) {
    *kind = LockKind::kAttribute;
    *locked = (sx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
    return noErr;
  }
  *kind = LockKind::kWriteBits;
  *locked = (sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return noErr;
}

OSErr SetImmutable(int dirFd, const char* name, bool immutable) {
  // Opened without following a link and without blocking: only regular files and folders get
  // here, but the item may have been swapped since it was looked at.
  int fd = *name ? openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)
                 : dirFd;
  if (fd < 0) return MacErrorFromErrno(errno);
  OSErr err = noErr;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    err = MacErrorFromErrno(errno);
  } else {
    int wanted = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (wanted != flags && ioctl(fd, FS_IOC_SETFLAGS, &wanted) != 0) err = MacErrorFromErrno(errno);
  }
  if (fd != dirFd) close(fd);
  return err;
}

}  // namespace

namespace corvimus {

OSErr GetItemLocked(const std::string& path, bool* locked) {
  if (path.empty()) return fnfErr;
  return GetItemLockedAt(AT_FDCWD, path.c_str(), locked);
}

OSErr SetItemLocked(const std::string& path, bool locked) {
  if (path.empty()) return fnfErr;
  return SetItemLockedAt(AT_FDCWD, path.c_str(), locked);
}

OSErr GetItemLockedAt(int dirFd, const char* name, bool* locked) {
  if (!locked || !name) return paramErr;
  LockKind kind;
  return LockKindOf(dirFd, name, &kind, locked);
}

OSErr SetItemLockedAt(int dirFd, const char* name, bool locked) {
  if (!name) return paramErr;
  LockKind kind;
  bool now = false;
  if (OSErr e = LockKindOf(dirFd, name, &kind, &now); e != noErr) return e;
  if (kind == LockKind::kNone || now == locked) return noErr;
  if (kind == LockKind::kAttribute) return SetImmutable(dirFd, name, locked);
  struct stat st;
  const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
  if (fstatat(dirFd, name, &st, flags) != 0) return MacErrorFromErrno(errno);
  mode_t mode = st.st_mode & 07777;
  mode = locked ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  // The item was no link when it was looked at; one put in its place since is not followed.
  int r = *name ? fchmodat(dirFd, name, mode, AT_SYMLINK_NOFOLLOW) : fchmod(dirFd, mode);
  if (r != 0) return MacErrorFromErrno(errno);
  return noErr;
}

}  // namespace corvimus

// ---- Iterators
// -----------------------------------------------------------------------------------

struct OpaqueFSIterator {
  std::string folder;
  std::vector<std::string> names;
  std::size_t next = 0;
  timespec lastModified{};
};

namespace {

timespec ModifiedTime(const std::string& folder) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) return timespec{};
  return st.st_mtim;
}

}  // namespace

OSErr FSOpenIterator(const FSRef* container, FSIteratorFlags iteratorFlags, FSIterator* iterator) {
  if (!container || !iterator) return paramErr;
  *iterator = nullptr;
  if (iteratorFlags != kFSIterateFlat && iteratorFlags != kFSIterateDelete)
    return errFSBadIteratorFlags;
  std::string folder = PathOfRef(container);
  if (folder.empty()) return paramErr;
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOTDIR || errno == ELOOP) return errFSNotAFolder;
    if (errno == EACCES || errno == EPERM) return afpAccessDenied;
    return MacErrorFromErrno(errno);
  }
  DIR* dir = fdopendir(fd);
  if (!dir) {
    int saved = errno;
    close(fd);
    return MacErrorFromErrno(saved);
  }
  auto* it = new OpaqueFSIterator;
  it->folder = folder;
  std::set<std::string> all;
  errno = 0;
  while (dirent* e = readdir(dir)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") all.insert(std::move(n));
  }
  const bool failed = errno != 0;
  const int readErr = errno;
  closedir(dir);
  if (failed) {
    delete it;
    return readErr == EACCES ? OSErr(afpAccessDenied) : MacErrorFromErrno(readErr);
  }
  for (const std::string& n : all) {
    if (IsSidecarName(n)) {
      // An orphaned sidecar is an item of its own only for a deletion.
      if (iteratorFlags != kFSIterateDelete || all.count(n.substr(2))) continue;
    }
    it->names.push_back(n);
  }
  it->lastModified = ModifiedTime(folder);
  *iterator = it;
  return noErr;
}

OSErr FSCloseIterator(FSIterator iterator) {
  if (!iterator) return errFSIteratorNotFound;
  delete iterator;
  return noErr;
}

OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount* actualObjects,
                           Boolean* containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo* catalogInfos, FSRef* refs, FSSpec* specs,
                           HFSUniStr255* names) {
  if (actualObjects) *actualObjects = 0;
  if (!iterator) return errFSIteratorNotFound;
  if (maximumObjects == 0 || !actualObjects) return errFSBadItemCount;
  if (whichInfo != kFSCatInfoNone && !catalogInfos) return paramErr;
  if (containerChanged) {
    timespec now = ModifiedTime(iterator->folder);
    *containerChanged = now.tv_sec != iterator->lastModified.tv_sec ||
                        now.tv_nsec != iterator->lastModified.tv_nsec;
    iterator->lastModified = now;
  }
  ItemCount count = 0;
  while (count < maximumObjects && iterator->next < iterator->names.size()) {
    const std::string path = JoinPath(iterator->folder, iterator->names[iterator->next++]);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // deleted since the listing was taken
      return MacErrorFromErrno(errno);
    }
    FSRef ref;
    if (OSErr e = RefOfPath(path, &ref); e != noErr) return e;
    if (whichInfo != kFSCatInfoNone || names) {
      OSErr e = FSGetCatalogInfo(&ref, whichInfo, catalogInfos ? &catalogInfos[count] : nullptr,
                                 names ? &names[count] : nullptr, nullptr, nullptr);
      if (e == fnfErr) continue;
      if (e != noErr) return e;
    }
    if (specs) {
      if (OSErr e = FSGetFSSpecFromRef(&ref, &specs[count]); e != noErr) return e;
    }
    if (refs) refs[count] = ref;
    ++count;
  }
  *actualObjects = count;
  return count == 0 ? OSErr(errFSNoMoreItems) : OSErr(noErr);
}

// ---- References and moves
// ------------------------------------------------------------------------

OSErr PBMakeFSRefSync(FSRefParam* pb) {
  if (!pb) return paramErr;
  auto finish = [pb](OSErr err) {
    pb->ioResult = err;
    return err;
  };
  if (!pb->newRef) return finish(paramErr);
  static const UInt8 kEmpty[1] = {0};
  FSSpec spec;
  OSErr err =
      FSMakeFSSpec(pb->ioVRefNum, pb->ioDirID, pb->ioNamePtr ? pb->ioNamePtr : kEmpty, &spec);
  if (err != noErr) return finish(err);
  return finish(FSpMakeFSRef(&spec, pb->newRef));
}

OSErr FSMoveObject(const FSRef* ref, const FSRef* destDirectory, FSRef* newRef) {
  if (!ref || !destDirectory) return paramErr;
  const std::string from = PathOfRef(ref);
  const std::string folder = PathOfRef(destDirectory);
  if (from.empty() || folder.empty() || from == "/") return paramErr;
  struct stat st, dest;
  if (lstat(from.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (lstat(folder.c_str(), &dest) != 0) return MacErrorFromErrno(errno);
  if (!S_ISDIR(dest.st_mode)) return dirNFErr;
  if (st.st_dev != dest.st_dev) return diffVolErr;
  const std::string to = JoinPath(folder, LeafOf(from));
  if (to == from) return noErr;
  std::string taken;
  if (LookUpName(folder, LeafOf(from), &taken) == noErr) return dupFNErr;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return dupFNErr;
    if (errno == EXDEV) return diffVolErr;
    if (errno == EINVAL) return badMovErr;  // into itself
    return MacErrorFromErrno(errno);
  }
  // The sidecar follows. A sidecar already standing under the new name belongs to no item (the
  // name was free), so it is replaced.
  const std::string sidecar = SidecarPathFor(from);
  if (lstat(sidecar.c_str(), &st) == 0) rename(sidecar.c_str(), SidecarPathFor(to).c_str());
  if (newRef) return RefOfPath(to, newRef);
  return noErr;
}
