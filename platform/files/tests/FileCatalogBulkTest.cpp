// Folder iterators, locked items, modification dates, moves, references from partial paths, UTC
// dates, FNNotify and acting as another user, on real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/FileCatalog.h"
#include "platform/FileIdentity.h"
#include "platform/Folders.h"
#include "platform/UTCUtils.h"
#include "testing/MacFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::ReadFile;
using corvimus::testing::RefOf;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

std::string Leaf(const FSRef& ref) {
  std::string p = corvimus::PathOfRef(&ref);
  return p.substr(p.rfind('/') + 1);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int InodeFlags(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  int flags = -1;
  if (fd >= 0) {
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = -1;
    close(fd);
  }
  return flags;
}

bool CanSetImmutable(const std::string& folder) {
  std::string probe = folder + "/probe";
  WriteFile(probe, "");
  bool ok =
      corvimus::SetItemLocked(probe, true) == noErr && (InodeFlags(probe) & FS_IMMUTABLE_FL) != 0;
  corvimus::SetItemLocked(probe, false);
  unlink(probe.c_str());
  return ok;
}

// Every item an iterator gives, one bulk call of `step` items at a time.
std::vector<std::string> Drain(FSIterator it, ItemCount step) {
  std::vector<std::string> names;
  std::vector<FSRef> refs(step);
  std::vector<FSCatalogInfo> infos(step);
  for (;;) {
    ItemCount n = 99;
    OSErr err = FSGetCatalogInfoBulk(it, step, &n, nullptr, kFSCatInfoNodeFlags, infos.data(),
                                     refs.data(), nullptr, nullptr);
    if (err == errFSNoMoreItems) {
      EXPECT_EQ(n, 0u);
      return names;
    }
    EXPECT_EQ(err, noErr);
    if (err != noErr) return names;
    for (ItemCount i = 0; i < n; ++i) names.push_back(Leaf(refs[i]));
  }
}

}  // namespace

TEST(FolderIterator, ListsInByteOrderAndHidesSidecars) {
  TempDir dir;
  for (const char* n : {"b", "A", "a", "._a", "._orphan", "c-folder"}) WriteFile(dir / n, "");
  unlink((dir / "c-folder").c_str());
  ASSERT_EQ(mkdir((dir / "c-folder").c_str(), 0755), 0);
  FSRef folder = RefOf(dir.path());
  FSIterator it = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
  EXPECT_EQ(Drain(it, 2), (std::vector<std::string>{"A", "a", "b", "c-folder"}));
  EXPECT_EQ(FSCloseIterator(it), noErr);
  // Deleting shows the sidecar that belongs to nothing, so that the folder can be emptied.
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateDelete, &it), noErr);
  EXPECT_EQ(Drain(it, 1), (std::vector<std::string>{"._orphan", "A", "a", "b", "c-folder"}));
  FSCloseIterator(it);
}

TEST(FolderIterator, DeletingWhileIteratingNeitherSkipsNorRepeats) {
  TempDir dir;
  for (int i = 0; i < 50; ++i) WriteFile(dir / ("item" + std::to_string(100 + i)), "");
  FSRef folder = RefOf(dir.path());
  FSIterator it = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateDelete, &it), noErr);
  int seen = 0;
  for (;;) {
    FSRef ref;
    ItemCount n = 0;
    Boolean changed = false;
    OSErr err =
        FSGetCatalogInfoBulk(it, 1, &n, &changed, kFSCatInfoNone, nullptr, &ref, nullptr, nullptr);
    if (err == errFSNoMoreItems) break;
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(Leaf(ref), "item" + std::to_string(100 + seen));
    // The previous deletion changed the folder.
    if (seen > 0) {
      EXPECT_TRUE(changed);
    }
    ASSERT_EQ(FSDeleteObject(&ref), noErr);
    ++seen;
    // An item deleted behind the iterator's back is passed over.
    if (seen == 11) {
      ASSERT_EQ(unlink((dir / "item111").c_str()), 0);
      ++seen;
    }
  }
  EXPECT_EQ(seen, 50);
  FSCloseIterator(it);
  EXPECT_EQ(rmdir(dir.path().c_str()), 0);
  ASSERT_EQ(mkdir(dir.path().c_str(), 0700), 0);
}

TEST(FolderIterator, RefusesWhatIsNoFolderAndBadArguments) {
  TempDir dir;
  WriteFile(dir / "file", "");
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir / "folder").c_str(), (dir / "link").c_str()), 0);
  FSIterator it = nullptr;
  FSRef file = RefOf(dir / "file"), link = RefOf(dir / "link"), folder = RefOf(dir / "folder");
  EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &it), errFSNotAFolder);
  EXPECT_EQ(FSOpenIterator(&link, kFSIterateFlat, &it), errFSNotAFolder);
  EXPECT_EQ(it, nullptr);
  EXPECT_EQ(FSOpenIterator(&folder, kFSIterateSubtree, &it), errFSBadIteratorFlags);
  EXPECT_EQ(FSOpenIterator(nullptr, kFSIterateFlat, &it), paramErr);
  EXPECT_EQ(FSCloseIterator(nullptr), errFSIteratorNotFound);
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &it), noErr);
  ItemCount n = 5;
  EXPECT_EQ(
      FSGetCatalogInfoBulk(it, 0, &n, nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr),
      errFSBadItemCount);
  EXPECT_EQ(
      FSGetCatalogInfoBulk(it, 1, &n, nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr),
      errFSNoMoreItems);
  FSCloseIterator(it);
}

TEST(LockedItems, FilesAndFoldersLockWithTheImmutableAttribute) {
  TempDir dir;
  if (!CanSetImmutable(dir.path())) GTEST_SKIP() << "the immutable attribute cannot be set here";
  WriteFile(dir / "file", "");
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  for (const char* name : {"file", "folder"}) {
    FSRef ref = RefOf(dir / name);
    FSCatalogInfo info{};
    info.nodeFlags = kFSNodeLockedMask;
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info), noErr) << name;
    EXPECT_NE(InodeFlags(dir / name) & FS_IMMUTABLE_FL, 0) << name;
    FSCatalogInfo read{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &read, nullptr, nullptr, nullptr), noErr);
    EXPECT_TRUE(read.nodeFlags & kFSNodeLockedMask) << name;
    EXPECT_NE(FSDeleteObject(&ref), noErr) << name;
    info.nodeFlags = 0;
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info), noErr) << name;
    EXPECT_EQ(InodeFlags(dir / name) & FS_IMMUTABLE_FL, 0) << name;
    EXPECT_EQ(FSDeleteObject(&ref), noErr) << name;
  }
  // On such a file system a file without write bits is not locked: one meaning only.
  WriteFile(dir / "readonly", "");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
  bool locked = true;
  ASSERT_EQ(corvimus::GetItemLocked(dir / "readonly", &locked), noErr);
  EXPECT_FALSE(locked);
}

TEST(LockedItems, ItemsThatCannotCarryTheAttributeLockByTheirWriteBits) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0444), 0);
  bool locked = false;
  ASSERT_EQ(corvimus::GetItemLocked(dir / "fifo", &locked), noErr);
  EXPECT_TRUE(locked);
  ASSERT_EQ(corvimus::SetItemLocked(dir / "fifo", false), noErr);
  struct stat st;
  ASSERT_EQ(lstat((dir / "fifo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(corvimus::SetItemLocked(dir / "fifo", true), noErr);
  ASSERT_EQ(lstat((dir / "fifo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  // Links are never locked, and locking one changes nothing.
  ASSERT_EQ(symlink((dir / "fifo").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(corvimus::GetItemLocked(dir / "link", &locked), noErr);
  EXPECT_FALSE(locked);
  EXPECT_EQ(corvimus::SetItemLocked(dir / "link", true), noErr);
  ASSERT_EQ(lstat((dir / "fifo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(corvimus::GetItemLocked(dir / "missing", &locked), fnfErr);
}

TEST(ContentModDate, ReadAndWrittenAsUTCDates) {
  TempDir dir;
  WriteFile(dir / "file", "");
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  const timespec fileTime{1600000000, 0};
  timespec times[2] = {{0, UTIME_OMIT}, fileTime};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "file").c_str(), times, 0), 0);
  FSRef file = RefOf(dir / "file"), link = RefOf(dir / "link");
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&file, kFSCatInfoContentMod, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.contentModDate.highSeconds, 0);
  EXPECT_EQ(info.contentModDate.lowSeconds, 1600000000u + 2082844800u);
  EXPECT_EQ(info.contentModDate.fraction, 0);
  // A link's own date is set, not its target's.
  info.contentModDate.lowSeconds += 10;
  info.contentModDate.fraction = 0x4000;
  ASSERT_EQ(FSSetCatalogInfo(&link, kFSCatInfoContentMod, &info), noErr);
  struct stat st;
  ASSERT_EQ(lstat((dir / "link").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1600000010);
  EXPECT_EQ(st.st_mtim.tv_nsec, 250000000);
  ASSERT_EQ(stat((dir / "file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
}

TEST(UTCDates, ConvertBothWaysAtTheirResolution) {
  timespec unixEpoch{0, 0};
  UTCDateTime d = corvimus::UTCDateTimeFromTimespec(unixEpoch);
  EXPECT_EQ(d.highSeconds, 0);
  EXPECT_EQ(d.lowSeconds, 2082844800u);
  // Past 2040 the seconds since 1904 need the high part.
  d = corvimus::UTCDateTimeFromTimespec(timespec{2300000000LL, 0});
  EXPECT_EQ(d.highSeconds, 1);
  EXPECT_EQ(d.lowSeconds, static_cast<UInt32>(2300000000LL + 2082844800LL - 0x100000000LL));
  EXPECT_EQ(corvimus::TimespecFromUTCDateTime(d).tv_sec, 2300000000LL);
  for (UInt16 fraction : {0, 1, 2, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF}) {
    UTCDateTime in{0, 3000000000u, fraction};
    UTCDateTime back = corvimus::UTCDateTimeFromTimespec(corvimus::TimespecFromUTCDateTime(in));
    EXPECT_TRUE(corvimus::EqualUTCDateTime(in, back)) << fraction;
  }
  d = corvimus::UTCDateTimeFromTimespec(timespec{-2082844801LL, 0});  // 1903
  EXPECT_TRUE(corvimus::EqualUTCDateTime(d, UTCDateTime{0, 0, 0}));
}

TEST(UTCDates, TheClockCanBeSetForTests) {
  UTCDateTime now{};
  EXPECT_EQ(GetUTCDateTime(nullptr, kUTCDefaultOptions), paramErr);
  EXPECT_EQ(GetUTCDateTime(&now, 1), paramErr);
  ASSERT_EQ(GetUTCDateTime(&now, kUTCDefaultOptions), noErr);
  const long long system = static_cast<long long>(time(nullptr)) + corvimus::kSecondsFrom1904To1970;
  EXPECT_NEAR(static_cast<double>(now.lowSeconds), static_cast<double>(system), 5.0);
  corvimus::SetUTCClockForTesting([](timespec* t) {
    *t = timespec{100, 500000000};
    return true;
  });
  ASSERT_EQ(GetUTCDateTime(&now, kUTCDefaultOptions), noErr);
  EXPECT_EQ(now.lowSeconds, 2082844900u);
  EXPECT_EQ(now.fraction, 0x8000);
  corvimus::SetUTCClockForTesting([](timespec*) { return false; });
  EXPECT_EQ(GetUTCDateTime(&now, kUTCDefaultOptions), ioErr);
  corvimus::SetUTCClockForTesting(nullptr);
}

TEST(FSMoveObject, MovesTheItemWithItsSidecarIntoAFolder) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "from").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "to").c_str(), 0755), 0);
  WriteFile(dir / "from/App", "app");
  WriteFile(dir / "from/._App", "sidecar");
  WriteFile(dir / "to/._App", "stale sidecar of nothing");
  FSRef app = RefOf(dir / "from/App"), to = RefOf(dir / "to"), moved;
  ASSERT_EQ(FSMoveObject(&app, &to, &moved), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&moved), dir / "to/App");
  std::string bytes;
  ASSERT_TRUE(ReadFile(dir / "to/._App", &bytes));
  EXPECT_EQ(bytes, "sidecar");
  EXPECT_FALSE(Exists(dir / "from/App"));
  EXPECT_FALSE(Exists(dir / "from/._App"));

  // A name already taken there, in any letter case, is not replaced.
  WriteFile(dir / "from/app", "second");
  FSRef second = RefOf(dir / "from/app");
  EXPECT_EQ(FSMoveObject(&second, &to, nullptr), dupFNErr);
  EXPECT_TRUE(Exists(dir / "from/app"));
  FSRef file = RefOf(dir / "to/App");
  EXPECT_EQ(FSMoveObject(&second, &file, nullptr), dirNFErr);
  FSRef from = RefOf(dir / "from");
  ASSERT_EQ(mkdir((dir / "from/inner").c_str(), 0755), 0);
  FSRef inner = RefOf(dir / "from/inner");
  EXPECT_EQ(FSMoveObject(&from, &inner, nullptr), badMovErr);

  struct stat tmp, shm;
  if (stat(dir.path().c_str(), &tmp) == 0 && stat("/dev/shm", &shm) == 0 &&
      tmp.st_dev != shm.st_dev) {
    FSRef other = RefOf("/dev/shm");
    EXPECT_EQ(FSMoveObject(&second, &other, nullptr), diffVolErr);
    EXPECT_TRUE(Exists(dir / "from/app"));
  }
}

TEST(PBMakeFSRefSync, ResolvesNamesAndPartialPaths) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "Library").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "Library/Receipts").c_str(), 0755), 0);
  WriteFile(dir / "Library/Receipts/Corvimus Log.rtf", "");
  SInt16 v;
  SInt32 id;
  ASSERT_EQ(corvimus::PathToDirID(dir / "Library", &v, &id), noErr);
  FSRef ref;
  FSRefParam pb{};
  pb.ioVRefNum = v;
  pb.ioDirID = id;
  pb.newRef = &ref;
  const UInt8 log[] = "\x1A:Receipts:Corvimus Log.rtf";
  pb.ioNamePtr = log;
  EXPECT_EQ(PBMakeFSRefSync(&pb), noErr);
  EXPECT_EQ(pb.ioResult, noErr);
  EXPECT_EQ(corvimus::PathOfRef(&ref), dir / "Library/Receipts/Corvimus Log.rtf");
  pb.ioNamePtr = nullptr;
  EXPECT_EQ(PBMakeFSRefSync(&pb), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&ref), dir / "Library");
  const UInt8 missing[] = "\x0Fnothing by name";
  pb.ioNamePtr = missing;
  EXPECT_EQ(PBMakeFSRefSync(&pb), fnfErr);
  EXPECT_EQ(pb.ioResult, fnfErr);
  pb.newRef = nullptr;
  EXPECT_EQ(PBMakeFSRefSync(&pb), paramErr);
}

TEST(FSDeleteObject, DeletesItemsWhoseNamesAreLongerThanAnFSSpecHolds) {
  TempDir dir;
  const std::string name(240, 'x');
  WriteFile(dir / name, "");
  FSRef ref = RefOf(dir / name);
  EXPECT_EQ(FSDeleteObject(&ref), noErr);
  EXPECT_FALSE(Exists(dir / name));
}

TEST(FNNotify, ChecksItsArgumentsAndTheItem) {
  TempDir dir;
  FSRef ref = RefOf(dir.path());
  EXPECT_EQ(FNNotify(&ref, kFNDirectoryModifiedMessage, kNilOptions), noErr);
  EXPECT_EQ(FNNotify(&ref, 7, kNilOptions), paramErr);
  EXPECT_EQ(FNNotify(nullptr, kFNDirectoryModifiedMessage, kNilOptions), paramErr);
  ASSERT_EQ(mkdir((dir / "gone").c_str(), 0755), 0);
  FSRef gone = RefOf(dir / "gone");
  ASSERT_EQ(rmdir((dir / "gone").c_str()), 0);
  EXPECT_EQ(FNNotify(&gone, kFNDirectoryModifiedMessage, kNilOptions), fnfErr);
}

TEST(FileIdentity, FilesAreReachedWithTheOwnersRightsOnly) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "home").c_str(), 0755), 0);
  WriteFile(dir / "secret", "root only");
  ASSERT_EQ(chmod((dir / "secret").c_str(), 0600), 0);
  const int home = open((dir / "home").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(home, 0);
  corvimus::UserRights rights;
  if (geteuid() != 0) {
    ASSERT_EQ(corvimus::RightsForHomeFolder(home, "home", &rights), noErr);
    EXPECT_EQ(rights.uid, geteuid());  // its own rights: nothing to change
    close(home);
    GTEST_SKIP() << "needs root to give files to another user";
  }
  if (getpwuid(4242)) GTEST_SKIP() << "uid 4242 has a user database entry here";
  ASSERT_EQ(chown((dir / "home").c_str(), 4242, 4343), 0);
  ASSERT_EQ(corvimus::RightsForHomeFolder(home, "home", &rights), noErr);
  EXPECT_EQ(rights.uid, 4242u);
  EXPECT_EQ(rights.gid, 4343u);  // a user the database does not know: the folder's group alone
  EXPECT_TRUE(rights.groups.empty());

  // The child can neither read root's file nor get root back, and what it makes is the owner's.
  const std::string secret = dir / "secret";
  const std::string made = dir / "home/new";
  SInt32 value = 0;
  OSErr err = corvimus::RunWithRights(
      rights,
      [&](SInt32* v) -> OSErr {
        if (open(secret.c_str(), O_RDONLY | O_CLOEXEC) >= 0) return ioErr;
        if (setuid(0) == 0 || seteuid(0) == 0 || getgroups(0, nullptr) != 0) return permErr;
        int fd = open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return fnfErr;
        close(fd);
        *v = static_cast<SInt32>(getuid());
        return dupFNErr;  // any status comes back as it is
      },
      &value);
  EXPECT_EQ(err, dupFNErr);
  EXPECT_EQ(value, 4242);
  struct stat st;
  ASSERT_EQ(lstat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4242u);
  EXPECT_EQ(st.st_gid, 4343u);
  // The caller keeps root's rights.
  std::string bytes;
  EXPECT_TRUE(ReadFile(secret, &bytes));
  EXPECT_EQ(bytes, "root only");

  // A child that ends without answering is a failure, never a success.
  EXPECT_EQ(corvimus::RunWithRights(
                rights, [](SInt32*) -> OSErr { _exit(0); }, &value),
            ioErr);
  EXPECT_EQ(value, 0);
  close(home);
}

TEST(FileIdentity, AFolderOfRootsIsOnlyTheHomeOfTheUserTheDatabaseNames) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: folders of root's are judged only for root";
  // A user of this machine whose home folder belongs to root (system users such as daemon have
  // one, as a home made by root for a user does).
  std::string user, home;
  uid_t uid = 0;
  gid_t gid = 0;
  setpwent();
  while (passwd* pw = getpwent()) {
    struct stat st;
    if (pw->pw_uid != 0 && pw->pw_dir && stat(pw->pw_dir, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == 0) {
      user = pw->pw_name;
      home = pw->pw_dir;
      uid = pw->pw_uid;
      gid = pw->pw_gid;
      break;
    }
  }
  endpwent();
  if (user.empty()) GTEST_SKIP() << "no user here has a home folder owned by root";

  corvimus::UserRights rights;
  int fd = open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(corvimus::RightsForHomeFolder(fd, user, &rights), noErr) << user << " " << home;
  EXPECT_EQ(rights.uid, uid);
  EXPECT_EQ(rights.gid, gid);
  close(fd);

  // The same name on another folder of root's, root's own name, and a name that is nobody's.
  TempDir dir;
  for (const std::string& name : {user, std::string("root"), std::string("nobody-here-at-all")}) {
    ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
    fd = open((dir / name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(corvimus::RightsForHomeFolder(fd, name, &rights), permErr) << name;
    close(fd);
  }
  fd = open("/root", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    EXPECT_EQ(corvimus::RightsForHomeFolder(fd, "root", &rights), permErr) << "root's own home";
    close(fd);
  }
}
