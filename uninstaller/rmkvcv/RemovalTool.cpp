#include "RemovalTool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "DriverService.h"
#include "PackageManager.h"
#include "loginitems/LoginItems.h"
#include "platform/FileIdentity.h"
#include "platform/Folders.h"
#include "platform/LoginWindow.h"

namespace {

// A Pascal string made from a literal at compile time.
template <std::size_t N>
struct PascalLiteral {
  static_assert(N - 1 <= 255, "a Pascal string holds at most 255 bytes");
  UInt8 bytes[N] = {};
  constexpr PascalLiteral(const char (&text)[N]) {
    bytes[0] = static_cast<UInt8>(N - 1);
    for (std::size_t i = 0; i + 1 < N; ++i) bytes[i + 1] = static_cast<UInt8>(text[i]);
  }
};

constexpr PascalLiteral kKextPath("Corvimus.kext");
constexpr PascalLiteral kPanePath(":PreferencePanes:Corvimus.prefPane");
constexpr PascalLiteral kReceiptPath(":Receipts:Corvimus.pkg");
constexpr PascalLiteral kLogPath(":Receipts:Corvimus Log.rtf");
constexpr PascalLiteral kPaneFolderPath("PreferencePanes");
constexpr PascalLiteral kUninstallerPath(":Utilities:Corvimus Uninstaller.app");
constexpr PascalLiteral kNoPath("");
// Inside a home folder: a pane installed for one user alone lies where an installation with the
// prefix ~/.local puts it (the login items list is the Preferences folder's, .config).
constexpr PascalLiteral kHomePanePath(
    ":.local:lib:corvimus:Library:PreferencePanes:Corvimus.prefPane");
constexpr char kHelperSuffix[] = "CorvimusHelper.app";

// Finds the folder (never creating it) and the item below it.
OSErr RefInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath, FSRef* ref) {
  SInt16 vRefNum;
  SInt32 dirID;
  if (OSErr err = FindFolder(domain, folderType, kDontCreateFolder, &vRefNum, &dirID); err != noErr)
    return err;
  return MakeRefFromDirID(vRefNum, dirID, partialPath, ref);
}

std::function<void(const std::string&)>& DeleteTreeStepHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

// Every folder of a walk is opened relative to its parent and never through a link, so what the
// walk acts on cannot be redirected by renaming or replacing a folder above it.
int OpenFolderAt(int dirFd, const char* name) {
  return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool IsLinkAt(int dirFd, const char* name) {
  struct stat st;
  return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// The folder an FSRef names, opened as its own name inside the folder above it. Only the folder
// above is reached by its path: the callers' folders (the installation's, the Users folder) are
// root's.
OSErr OpenParentOf(const FSRef* ref, int* parentFd, std::string* leaf) {
  const std::string path = corvimus::PathOfRef(ref);
  const std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) return paramErr;
  *leaf = path.substr(slash + 1);
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  *parentFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return *parentFd < 0 ? MacErrorFromErrno(errno) : OSErr(noErr);
}

// The status for a folder that could not be opened: an item that is no folder, a link among them,
// is dirNFErr.
OSErr FolderOpenError(int err) {
  return err == ELOOP || err == ENOTDIR ? OSErr(dirNFErr) : MacErrorFromErrno(err);
}

// The names in the folder open as fd, in byte order.
OSErr ListNames(int fd, std::vector<std::string>* names) {
  names->clear();
  int listFd = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return MacErrorFromErrno(errno);
  DIR* dir = fdopendir(listFd);
  if (!dir) {
    int err = errno;
    close(listFd);
    return MacErrorFromErrno(err);
  }
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(std::move(name));
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return noErr;
}

// Makes the folder open as fd ready to be emptied: unlocked (a failure shows as the failure of the
// deletions that follow), and, for its owner when that is who runs the walk (a user's own pane,
// removed with his rights), readable, writable and searchable.
void OpenUpFolder(int fd) {
  bool locked = false;
  if (corvimus::GetItemLockedAt(fd, "", &locked) == noErr && locked)
    (void)corvimus::SetItemLockedAt(fd, "", false);
  struct stat st;
  if (geteuid() != 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() &&
      (st.st_mode & S_IRWXU) != S_IRWXU)
    (void)fchmod(fd, (st.st_mode & 07777) | S_IRWXU);
}

// One folder of the walk: its identity, to check the way back up, and the names still to delete.
struct WalkLevel {
  dev_t device;
  ino_t inode;
  std::vector<std::string> names;
  std::size_t next = 0;
};

OSErr EnterFolder(int fd, std::vector<WalkLevel>* levels) {
  OpenUpFolder(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) return MacErrorFromErrno(errno);
  WalkLevel level{st.st_dev, st.st_ino, {}, 0};
  if (OSErr err = ListNames(fd, &level.names); err != noErr) return err;
  levels->push_back(std::move(level));
  return noErr;
}

// Deletes everything inside the folder open as topFd, depth first in byte order of the names. Only
// one folder is held open at a time, so no tree is too deep for the descriptors or the stack; the
// way back up goes through ".." and must lead to the very folder the walk came from, else the tree
// was moved under the walk and the deletion stops.
OSErr EmptyFolder(int topFd) {
  int cur = fcntl(topFd, F_DUPFD_CLOEXEC, 0);
  if (cur < 0) return MacErrorFromErrno(errno);
  std::vector<WalkLevel> levels;
  OSErr err = EnterFolder(cur, &levels);
  while (err == noErr && !levels.empty()) {
    WalkLevel& level = levels.back();
    if (level.next == level.names.size()) {
      if (levels.size() == 1) break;
      int up = openat(cur, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (up < 0) {
        err = MacErrorFromErrno(errno);
        break;
      }
      const WalkLevel& parent = levels[levels.size() - 2];
      struct stat st;
      if (fstat(up, &st) != 0 || st.st_dev != parent.device || st.st_ino != parent.inode) {
        close(up);
        err = dirNFErr;
        break;
      }
      close(cur);
      cur = up;
      levels.pop_back();
      const std::string& emptied = levels.back().names[levels.back().next - 1];
      if (unlinkat(cur, emptied.c_str(), AT_REMOVEDIR) != 0) err = MacErrorFromErrno(errno);
      continue;
    }
    const std::string& name = level.names[level.next++];
    struct stat st;
    if (fstatat(cur, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // An item gone by the time its turn comes is passed over.
      if (errno != ENOENT) err = MacErrorFromErrno(errno);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      int child = OpenFolderAt(cur, name.c_str());
      if (child < 0) {
        err = FolderOpenError(errno);
        break;
      }
      if (DeleteTreeStepHook()) DeleteTreeStepHook()(name);
      close(cur);
      cur = child;
      err = EnterFolder(cur, &levels);
      continue;
    }
    bool locked = false;
    if (corvimus::GetItemLockedAt(cur, name.c_str(), &locked) == noErr && locked)
      (void)corvimus::SetItemLockedAt(cur, name.c_str(), false);
    if (unlinkat(cur, name.c_str(), 0) != 0 && errno != ENOENT) err = MacErrorFromErrno(errno);
  }
  close(cur);
  return err;
}

// Deletes the folder `name` inside the folder open as parentFd, and everything in it.
OSErr DeleteTreeAt(int parentFd, const std::string& name) {
  struct stat st;
  if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return MacErrorFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return dirNFErr;
  int fd = OpenFolderAt(parentFd, name.c_str());
  if (fd < 0) return FolderOpenError(errno);
  OSErr err = EmptyFolder(fd);
  close(fd);
  if (err != noErr) return err;
  if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) return MacErrorFromErrno(errno);
  // A sidecar beside the folder goes with it, as the File Manager deletes items.
  (void)unlinkat(parentFd, ("._" + name).c_str(), 0);
  return noErr;
}

// Opens, below the folder open as dirFd, the folder that holds the item at partialPath (colon form:
// ":a:b:item"), one name at a time and through no link (permErr: a link is not passed through).
// *leaf receives the item's name.
OSErr OpenPartialPath(int dirFd, ConstStr255Param partialPath, int* parentFd, std::string* leaf) {
  std::string path(reinterpret_cast<const char*>(partialPath + 1), partialPath[0]);
  if (!path.empty() && path[0] == ':') path.erase(0, 1);
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    std::size_t colon = path.find(':', start);
    names.push_back(path.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const auto& n : names) {
    // Going up (an empty name) or sideways never belongs in a walk below a folder.
    if (n.empty() || n == "." || n == ".." || n.find('/') != std::string::npos) return bdNamErr;
  }
  int cur = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (cur < 0) return MacErrorFromErrno(errno);
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    int next = OpenFolderAt(cur, names[i].c_str());
    int err = errno;
    const bool link = next < 0 && IsLinkAt(cur, names[i].c_str());
    close(cur);
    if (link) return permErr;
    if (next < 0) return err == ENOENT ? OSErr(dirNFErr) : FolderOpenError(err);
    cur = next;
  }
  *parentFd = cur;
  *leaf = names.back();
  return noErr;
}

// Runs work on the home folder `home` in a child process holding only the rights of the user the
// home belongs to. The home itself is opened without following a link; work gets its descriptor.
OSErr WorkInHome(const FSRef* home, const std::function<OSErr(int homeFd, SInt32* value)>& work,
                 SInt32* value) {
  int parentFd;
  std::string name;
  if (OSErr err = OpenParentOf(home, &parentFd, &name); err != noErr) return err;
  int homeFd = OpenFolderAt(parentFd, name.c_str());
  int openErr = errno;
  close(parentFd);
  if (homeFd < 0) return FolderOpenError(openErr);
  corvimus::UserRights rights;
  OSErr err = corvimus::RightsForHomeFolder(homeFd, name, &rights);
  if (err == noErr)
    err = corvimus::RunWithRights(
        rights, [&](SInt32* v) { return work(homeFd, v); }, value);
  close(homeFd);
  return err;
}

// The user's Preferences folder in the home open as homeFd: ".config", or the folder a link of that
// name leads to when the link and that folder belong to the user the work runs as (dotfile
// managers keep .config elsewhere). A link anyone else made is refused (permErr).
OSErr OpenPreferencesFolder(int homeFd, int* fd) {
  const char* name = kUserPreferencesSubfolder + 1;  // without the leading '/'
  *fd = OpenFolderAt(homeFd, name);
  if (*fd >= 0) return noErr;
  struct stat st;
  if (fstatat(homeFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return MacErrorFromErrno(errno);
  if (!S_ISLNK(st.st_mode)) return dirNFErr;
  if (geteuid() == 0 || st.st_uid != geteuid()) return permErr;
  *fd = openat(homeFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (*fd < 0) return MacErrorFromErrno(errno);
  if (fstat(*fd, &st) != 0 || st.st_uid != geteuid()) {
    close(*fd);
    *fd = -1;
    return permErr;
  }
  return noErr;
}

bool IsAscii(const char* text) {
  for (; *text; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

struct VisitState {
  VisitFolderProcPtr visitor;
  void* userData;
  ItemCount maxLevels;
  FSCatalogInfoBitmap whichInfo;
  FSCatalogInfo catalogInfo;
  FSRef ref;  // the folder to open next, then each item in turn
  FSSpec* spec;
  HFSUniStr255* name;
  FSSpec specStorage;
  HFSUniStr255 nameStorage;
  ItemCount currentLevel;
  Boolean quit;
  Boolean containerChanged;
  OSErr result;
};

void VisitLevel(VisitState* s) {
  if (s->maxLevels != 0 && s->currentLevel >= s->maxLevels) return;
  FSIterator iterator = nullptr;
  s->result = FSOpenIterator(&s->ref, kFSIterateFlat, &iterator);
  if (s->result != noErr) return;
  ++s->currentLevel;
  while (!s->quit && s->result == noErr) {
    ItemCount found = 0;
    s->result = FSGetCatalogInfoBulk(iterator, 1, &found, &s->containerChanged, s->whichInfo,
                                     &s->catalogInfo, &s->ref, s->spec, s->name);
    if ((s->result == noErr || s->result == errFSNoMoreItems) && found == 1) {
      s->quit = s->visitor(s->containerChanged, s->currentLevel, &s->catalogInfo, &s->ref, s->spec,
                           s->name, s->userData)
                    ? 1
                    : 0;
      if (!s->quit && (s->catalogInfo.nodeFlags & kFSNodeIsDirectoryMask)) VisitLevel(s);
    }
  }
  // A folder the visit may not list counts as visited.
  if (s->result == errFSNoMoreItems || s->result == afpAccessDenied) s->result = noErr;
  --s->currentLevel;
  FSCloseIterator(iterator);
}

}  // namespace

void SetDeleteTreeStepHookForTesting(std::function<void(const std::string& folderName)> hook) {
  DeleteTreeStepHook() = std::move(hook);
}

OSErr MakeRefFromDirID(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, FSRef* ref) {
  if (!ref) return paramErr;
  FSRefParam pb{};
  pb.ioNamePtr = name;
  pb.ioVRefNum = vRefNum;
  pb.ioDirID = dirID;
  pb.newRef = ref;
  return PBMakeFSRefSync(&pb);
}

OSErr RefToFSSpec(const FSRef* ref, FSSpec* spec) {
  if (!spec) return paramErr;
  return FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr);
}

OSErr DeleteTreeContents(const FSRef* folder, DeleteTreeState* state) {
  int parentFd;
  std::string name;
  state->result = folder ? OpenParentOf(folder, &parentFd, &name) : OSErr(paramErr);
  if (state->result != noErr) return state->result;
  int fd = OpenFolderAt(parentFd, name.c_str());
  state->result = fd < 0 ? FolderOpenError(errno) : EmptyFolder(fd);
  if (fd >= 0) close(fd);
  close(parentFd);
  return state->result;
}

OSErr DeleteTree(const FSRef* folder) {
  if (!folder) return paramErr;
  int parentFd;
  std::string name;
  if (OSErr err = OpenParentOf(folder, &parentFd, &name); err != noErr) return err;
  OSErr err = DeleteTreeAt(parentFd, name);
  close(parentFd);
  return err;
}

OSErr TouchModificationDate(const FSRef* item) {
  FSCatalogInfo info{};
  FSRef parent;
  if (OSErr err = FSGetCatalogInfo(item, kFSCatInfoNodeFlags | kFSCatInfoContentMod, &info, nullptr,
                                   nullptr, &parent);
      err != noErr)
    return err;
  const UTCDateTime old = info.contentModDate;
  if (OSErr err = GetUTCDateTime(&info.contentModDate, kUTCDefaultOptions); err != noErr)
    return err;
  // Watchers compare dates: the stored one must change even when it already reads now.
  if (corvimus::EqualUTCDateTime(old, info.contentModDate)) {
    if (++info.contentModDate.lowSeconds == 0) ++info.contentModDate.highSeconds;
  }
  if (FSSetCatalogInfo(item, kFSCatInfoContentMod, &info) != noErr) return noErr;
  const bool folder = (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
  (void)FNNotify(folder ? item : &parent, kFNDirectoryModifiedMessage, kNilOptions);
  return noErr;
}

OSErr VisitFolder(const FSRef* folder, ItemCount maxLevels, FSCatalogInfoBitmap whichInfo,
                  Boolean wantFSSpec, Boolean wantName, VisitFolderProcPtr visitor,
                  void* userData) {
  if (!visitor || !folder) return paramErr;
  VisitState state{};
  state.visitor = visitor;
  state.userData = userData;
  state.maxLevels = maxLevels;
  state.whichInfo = whichInfo | kFSCatInfoNodeFlags;
  state.ref = *folder;
  state.spec = wantFSSpec ? &state.specStorage : nullptr;
  state.name = wantName ? &state.nameStorage : nullptr;
  VisitLevel(&state);
  return state.result;
}

OSErr RemoveHelperLoginItemFromHome(const FSRef* home, const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!home || !suffix) return paramErr;
  SInt32 removed = 0;
  OSErr err = WorkInHome(
      home,
      [suffix](int homeFd, SInt32* count) -> OSErr {
        int prefs;
        if (OSErr e = OpenPreferencesFolder(homeFd, &prefs); e != noErr) return e;
        // Only the lower-case name is the login items list, and a missing one is never made.
        struct stat st;
        OSErr e = noErr;
        if (fstatat(prefs, kLoginWindowFileName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          e = MacErrorFromErrno(errno);
        } else if (!IsAscii(suffix)) {
          e = memFullErr;
        } else {
          SInt16 n = 0;
          e = static_cast<OSErr>(RemoveLoginItemsInFolderAt(prefs, suffix, &n));
          *count = n;
        }
        close(prefs);
        return e;
      },
      &removed);
  if (outCount) *outCount = static_cast<SInt16>(removed);
  return err;
}

OSErr DeletePaneFromHome(const FSRef* home, ConstStr255Param partialPath) {
  if (!home || !partialPath || partialPath[0] == 0) return paramErr;
  return WorkInHome(
      home,
      [partialPath](int homeFd, SInt32*) -> OSErr {
        int parentFd;
        std::string name;
        if (OSErr e = OpenPartialPath(homeFd, partialPath, &parentFd, &name); e != noErr) return e;
        OSErr e = DeleteTreeAt(parentFd, name);
        close(parentFd);
        return e;
      },
      nullptr);
}

Boolean VisitUserFolder(Boolean, ItemCount, const FSCatalogInfo*, const FSRef* ref, const FSSpec*,
                        const HFSUniStr255*, void*) {
  SInt16 count = 0;
  (void)RemoveHelperLoginItemFromHome(ref, kHelperSuffix, &count);
  (void)DeletePaneFromHome(ref, kHomePanePath.bytes);
  return false;
}

OSErr DeleteTreeInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return DeleteTree(&ref);
}

OSErr DeleteFileInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return FSDeleteObject(&ref);
}

OSErr TouchInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return TouchModificationDate(&ref);
}

OSErr MoveToCleanupFolder(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  FSCatalogInfo info{};
  if (OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr);
      err != noErr)
    return err;
  SInt16 cleanupVRefNum;
  SInt32 cleanupDirID;
  if (OSErr err = FindFolder(info.volume, kChewableItemsFolderType, kCreateFolder, &cleanupVRefNum,
                             &cleanupDirID);
      err != noErr)
    return err;
  FSRef cleanup;
  if (OSErr err = MakeRefFromDirID(cleanupVRefNum, cleanupDirID, kNoPath.bytes, &cleanup);
      err != noErr)
    return err;
  return FSMoveObject(&ref, &cleanup, nullptr);
}

// The driver's bundle, or "" when the Extensions folder is not there.
std::string DriverBundlePath() {
  SInt16 vRefNum;
  SInt32 dirID;
  FSRef folder;
  UInt8 path[1024];
  if (FindFolder(kSystemDomain, kKernelExtensionsFolderType, kDontCreateFolder, &vRefNum, &dirID) !=
          noErr ||
      MakeRefFromDirID(vRefNum, dirID, kNoPath.bytes, &folder) != noErr ||
      FSRefMakePath(&folder, path, sizeof path) != noErr)
    return "";
  return std::string(reinterpret_cast<const char*>(path)) + "/Corvimus.kext";
}

OSErr RemoveInstallation() {
  const std::string bundle = DriverBundlePath();
  // A package's files are the package manager's to remove (PackageManager.h).
  const std::string package = bundle.empty() ? "" : PackageOwningPath(bundle);
  OSErr result;
  if (!package.empty()) {
    result = PurgePackage(package);
    struct stat st;
    if (result == noErr && lstat(bundle.c_str(), &st) == 0) result = fBsyErr;
  } else {
    const std::string unit =
        bundle.empty() ? "" : bundle + "/Contents/Resources/" + kDriverServiceName;
    bool serviceStopped = StopDriverService(unit) == noErr;
    result = DeleteTreeInDomain(kSystemDomain, kKernelExtensionsFolderType, kKextPath.bytes);
    if (serviceStopped) ReloadServiceManager();
    (void)DeleteTreeInDomain(kLocalDomain, kDomainLibraryFolderType, kPanePath.bytes);
    (void)DeleteTreeInDomain(kSystemDomain, kDomainLibraryFolderType, kPanePath.bytes);
    (void)DeleteTreeInDomain(kLocalDomain, kDomainLibraryFolderType, kReceiptPath.bytes);
    (void)DeleteFileInDomain(kLocalDomain, kDomainLibraryFolderType, kLogPath.bytes);

    OSErr touched = TouchInDomain(kSystemDomain, kKernelExtensionsFolderType, kNoPath.bytes);
    if (result == noErr && touched != noErr) result = touched;
    (void)TouchInDomain(kLocalDomain, kDomainLibraryFolderType, kPaneFolderPath.bytes);
    (void)TouchInDomain(kSystemDomain, kDomainLibraryFolderType, kPaneFolderPath.bytes);
  }

  SInt16 usersVRefNum;
  SInt32 usersDirID;
  FSRef users;
  if (FindFolder(kLocalDomain, kUsersFolderType, kDontCreateFolder, &usersVRefNum, &usersDirID) ==
          noErr &&
      MakeRefFromDirID(usersVRefNum, usersDirID, kNoPath.bytes, &users) == noErr) {
    (void)VisitFolder(&users, 1, kFSCatInfoNone, false, false, VisitUserFolder, nullptr);
  }

  // The uninstaller goes only when the driver did; a package took it along already.
  if (result == noErr && package.empty())
    (void)MoveToCleanupFolder(kLocalDomain, kApplicationsFolderType, kUninstallerPath.bytes);
  return result;
}
