// Saves that replace a file in one step: a temporary file beside it, written and renamed over it,
// and the sweeping of what such saves leave when they are killed half-way.
//
// The names a save uses in the folder of the file N:
//   .N'.save-PID-K        the temporary file (N' is N cut to 40 bytes), locked while it is open
//   ._.N'.save-PID-K      its sidecar, and ._.N'.save-PID-K.XXXXXX while that sidecar is written
//   ._N.oldPID            FSpReplaceFile's copy of N's sidecar while the two are exchanged
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "FileErrors.h"
#include "platform/FileRefs.h"
#include "platform/TextUtils.h"

using namespace corvimus;

namespace {

constexpr size_t kTemporaryNameBytes = 40;
// A leftover whose process number is in use again counts as abandoned after this long; no save
// takes more than a moment.
constexpr time_t kAbandonedAfterSeconds = 60 * 60;

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

std::string TemporaryPrefix(const std::string& name) {
  return "." + name.substr(0, Utf8CutLength(name.data(), name.size(), kTemporaryNameBytes)) +
         ".save-";
}

std::string BackupSuffix() {
  return ".old";
}

// Reads the decimal number at text[*at], moving past it; false when there is none.
bool ReadNumber(const std::string& text, size_t* at, long* value) {
  size_t start = *at;
  long v = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9' && *at - start < 9)
    v = v * 10 + (text[(*at)++] - '0');
  if (*at == start) return false;
  *value = v;
  return true;
}

bool ProcessIsGone(long pid) {
  return pid <= 0 || (kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

bool IsOld(const struct stat& st) {
  return time(nullptr) - st.st_mtime > kAbandonedAfterSeconds;
}

// Whether a living save holds the temporary file's lock. A file that cannot be opened to ask is
// left alone.
bool IsLocked(int folder, const std::string& name) {
  int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return true;
  struct stat st;
  bool held = fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

}  // namespace

OSErr FSpCheckReplaceable(const FSSpec* target) {
  std::string path;
  if (OSErr e = FSSpecToPath(target, &path); e != noErr) return e;
  if (target->name[0] == 0) return bdNamErr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? OSErr(permErr) : OSErr(notAFileErr);
  // A file nobody may write is one its owner made read-only, and one the caller may not write is
  // not the caller's to replace, even from a folder the caller may write.
  if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) return fLckdErr;
  return noErr;
}

OSErr FSpReplaceFile(const FSSpec* source, const FSSpec* target) {
  if (!source || !target) return paramErr;
  if (source->parID != target->parID || source->vRefNum != target->vRefNum) return paramErr;
  std::string from, to;
  if (OSErr e = FSSpecToPath(source, &from); e != noErr) return e;
  if (OSErr e = FSSpecToPath(target, &to); e != noErr) return e;
  if (source->name[0] == 0 || target->name[0] == 0) return bdNamErr;
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return paramErr;
  OSErr replaceable = FSpCheckReplaceable(target);
  if (replaceable != noErr && replaceable != fnfErr) return replaceable;
  if (replaceable == noErr) {
    // The new file takes the old one's place with its permissions: a file the user keeps private
    // stays private. Owner and group follow where the caller may give them (a save run as root).
    struct stat old;
    if (lstat(to.c_str(), &old) != 0) return MacErrorFromErrno(errno);
    if (old.st_uid != st.st_uid || old.st_gid != st.st_gid) {
      if (chown(from.c_str(), old.st_uid, old.st_gid) != 0 && geteuid() == 0)
        return MacErrorFromErrno(errno);
    }
    if (chmod(from.c_str(), old.st_mode & 07777) != 0) return MacErrorFromErrno(errno);
  }

  // The data rename is the one step that decides; the sidecars are arranged around it so that a
  // failure can put the target's old sidecar back.
  std::string fromSidecar = SidecarPathFor(from), toSidecar = SidecarPathFor(to);
  std::string backup = toSidecar + BackupSuffix() + std::to_string(getpid());
  bool hadTargetSidecar = lstat(toSidecar.c_str(), &st) == 0;
  bool hasSourceSidecar = lstat(fromSidecar.c_str(), &st) == 0;
  unlink(backup.c_str());
  if (hadTargetSidecar && link(toSidecar.c_str(), backup.c_str()) != 0)
    return MacErrorFromErrno(errno);
  if (hasSourceSidecar && rename(fromSidecar.c_str(), toSidecar.c_str()) != 0) {
    OSErr e = MacErrorFromErrno(errno);
    if (hadTargetSidecar) unlink(backup.c_str());
    return e;
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    OSErr e = MacErrorFromErrno(errno);
    if (hasSourceSidecar) rename(toSidecar.c_str(), fromSidecar.c_str());
    if (hadTargetSidecar) rename(backup.c_str(), toSidecar.c_str());
    return e;
  }
  if (hadTargetSidecar) unlink(backup.c_str());
  if (!hasSourceSidecar) unlink(toSidecar.c_str());
  return SyncFolder(FolderOf(to).c_str());
}

int FSpSweepSaveFiles(const FSSpec* file) {
  std::string path;
  if (!file || file->name[0] == 0 || FSSpecToPath(file, &path) != noErr) return 0;
  const std::string name = LeafOf(path);
  const std::string temporary = TemporaryPrefix(name);
  const std::string backup = "._" + name + BackupSuffix();
  int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return 0;
  DIR* listing = fdopendir(dup(folder));
  if (!listing) {
    close(folder);
    return 0;
  }
  int swept = 0;
  while (dirent* e = readdir(listing)) {
    const std::string entry = e->d_name;
    bool sidecar = entry.compare(0, 2, "._") == 0;
    const std::string bare = sidecar ? entry.substr(2) : entry;
    size_t at;
    long pid = 0, number = 0;
    if (bare.compare(0, temporary.size(), temporary) == 0) {
      at = temporary.size();
      if (!ReadNumber(bare, &at, &pid) || at >= bare.size() || bare[at++] != '-' ||
          !ReadNumber(bare, &at, &number))
        continue;
      // Only a sidecar may go on: the temporary name its writer gives it before the rename.
      if (at != bare.size() && !(sidecar && bare[at] == '.' && bare.size() - at == 7)) continue;
    } else if (sidecar && entry.compare(0, backup.size(), backup) == 0) {
      at = backup.size();
      if (!ReadNumber(entry, &at, &pid) || at != entry.size()) continue;
    } else {
      continue;
    }
    struct stat st;
    if (fstatat(folder, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (!ProcessIsGone(pid) && !IsOld(st)) continue;
    const bool temporaryData = !sidecar;
    if (temporaryData && IsLocked(folder, entry)) continue;
    // A temporary file's sidecar goes with the file; one whose file still stands waits for it.
    struct stat data;
    if (sidecar && at == bare.size() && bare.compare(0, temporary.size(), temporary) == 0 &&
        fstatat(folder, bare.c_str(), &data, AT_SYMLINK_NOFOLLOW) == 0)
      continue;
    if (unlinkat(folder, entry.c_str(), 0) == 0) ++swept;
    if (temporaryData && unlinkat(folder, ("._" + entry).c_str(), 0) == 0) ++swept;
  }
  closedir(listing);
  close(folder);
  return swept;
}

OSErr FSpCreateSaveFile(const FSSpec* file, OSType creator, OSType fileType, FSSpec* temp,
                        SInt16* refNum) {
  if (!file || !temp || !refNum || file->name[0] == 0) return paramErr;
  *refNum = 0;
  std::string path;
  if (OSErr e = FSSpecToPath(file, &path); e != noErr) return e;
  FSpSweepSaveFiles(file);
  static unsigned counter = 0;
  const std::string prefix = TemporaryPrefix(LeafOf(path)) + std::to_string(getpid()) + "-";
  *temp = *file;
  OSErr err = dupFNErr;
  for (unsigned attempt = 0; attempt < 100 && err == dupFNErr; ++attempt) {
    std::string name = prefix + std::to_string(counter++ % 10000);
    temp->name[0] = static_cast<UInt8>(name.size());
    std::memcpy(temp->name + 1, name.data(), name.size());
    err = FSpCreate(temp, creator, fileType, smSystemScript);
  }
  if (err != noErr) return err;
  err = FSpOpenDF(temp, fsRdWrPerm, refNum);
  if (err == noErr && flock(FSGetDescriptor(*refNum), LOCK_EX | LOCK_NB) != 0) {
    err = MacErrorFromErrno(errno);
    FSCloseFork(*refNum);
    *refNum = 0;
  }
  if (err != noErr) FSpDelete(temp);
  return err;
}
