// Tree deletion, touching and folder visits of the removal tool, on real folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "RemovalTool.h"
#include "RemovalToolTestSupport.h"
#include "platform/UTCUtils.h"
#include "testing/TempDir.h"

using namespace removal_test;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

// A tree of folders, files, a file with a sidecar, a 200-byte name and an orphaned sidecar.
void BuildTree(const std::string& top) {
  MakeFolder(top + "/Contents/MacOS");
  MakeFolder(top + "/Contents/Resources/en.lproj/deeper/still/deeper");
  MakeFolder(top + "/Empty");
  WriteFile(top + "/Contents/Info.plist", "<plist/>");
  WriteFile(top + "/Contents/MacOS/program", "ELF");
  WriteFile(top + "/Contents/Resources/en.lproj/deeper/still/deeper/leaf", "x");
  WriteFile(top + "/Contents/Resources/" + std::string(200, 'n'), "long name");
  WriteFile(top + "/Contents/Resources/icon", "icon");
  WriteFile(top + "/Contents/Resources/._icon", "sidecar of icon");
  WriteFile(top + "/Contents/._gone", "sidecar whose file is missing");
}

}  // namespace

TEST(DeleteTree, RemovesEveryLevelDepthFirst) {
  TempDir dir;
  const std::string top = dir / "Corvimus.prefPane";
  BuildTree(top);
  WriteFile(dir / "neighbour", "stays");
  FSRef ref = RefOf(top);
  EXPECT_EQ(DeleteTree(&ref), noErr);
  EXPECT_FALSE(Exists(top));
  EXPECT_TRUE(Exists(dir / "neighbour"));
}

TEST(DeleteTree, RefusesWhatIsNoFolder) {
  TempDir dir;
  WriteFile(dir / "file", "data");
  MakeFolder(dir / "real");
  WriteFile(dir / "real/inside", "kept");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);

  FSRef file = RefOf(dir / "file");
  EXPECT_EQ(DeleteTree(&file), dirNFErr);
  EXPECT_TRUE(Exists(dir / "file"));
  // A link to a folder is no folder: neither the link nor what it leads to is touched.
  FSRef link = RefOf(dir / "link");
  EXPECT_EQ(DeleteTree(&link), dirNFErr);
  EXPECT_TRUE(Exists(dir / "link"));
  EXPECT_TRUE(Exists(dir / "real/inside"));

  MakeFolder(dir / "vanished");
  FSRef gone = RefOf(dir / "vanished");
  ASSERT_EQ(rmdir((dir / "vanished").c_str()), 0);
  EXPECT_EQ(DeleteTree(&gone), fnfErr);
}

TEST(DeleteTree, LinksInsideAreDeletedAsLinksNeverFollowed) {
  TempDir dir;
  const std::string top = dir / "tree";
  MakeFolder(top + "/sub");
  MakeFolder(dir / "outside/folder");
  WriteFile(dir / "outside/folder/precious", "keep me");
  WriteFile(dir / "outside/file", "keep me too");
  ASSERT_EQ(symlink("/", (top + "/root").c_str()), 0);
  ASSERT_EQ(symlink((dir / "outside/folder").c_str(), (top + "/sub/folder-link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "outside/file").c_str(), (top + "/sub/file-link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (top + "/dangling").c_str()), 0);

  FSRef ref = RefOf(top);
  EXPECT_EQ(DeleteTree(&ref), noErr);
  EXPECT_FALSE(Exists(top));
  EXPECT_TRUE(Exists(dir / "outside/folder/precious"));
  EXPECT_TRUE(Exists(dir / "outside/file"));
  EXPECT_TRUE(Exists("/etc"));
}

TEST(DeleteTree, LockedFilesAndFoldersAreUnlockedAndDeleted) {
  TempDir dir;
  if (!CanLockInFolder(dir.path())) GTEST_SKIP() << "the immutable attribute cannot be set here";
  const std::string top = dir / "Corvimus.kext";
  BuildTree(top);
  // Locked at every level, the top folder included, and a locked folder inside a locked folder.
  const std::vector<std::string> locked = {
      top + "/Contents/MacOS/program",
      top + "/Contents/MacOS",
      top + "/Contents/Resources/en.lproj/deeper/still/deeper/leaf",
      top + "/Contents/Resources/en.lproj/deeper/still/deeper",
      top + "/Contents/Resources/en.lproj/deeper",
      top + "/Contents/Resources/icon",
      top + "/Empty",
      top,
  };
  for (const auto& p : locked) ASSERT_TRUE(SetAttribute(p, FS_IMMUTABLE_FL, true)) << p;
  // Without any write bit too: locked in the other sense does not matter here.
  ASSERT_EQ(chmod((top + "/Contents/Info.plist").c_str(), 0444), 0);

  FSRef ref = RefOf(top);
  EXPECT_EQ(DeleteTree(&ref), noErr);
  EXPECT_FALSE(Exists(top));
}

TEST(DeleteTree, AnItemThatCannotGoStopsTheTreeAndLeavesTheRest) {
  TempDir dir;
  const std::string top = dir / "tree";
  // Items go in byte order of their names, depth first: a-first, then b-sub's contents.
  MakeFolder(top + "/b-sub/inner");
  WriteFile(top + "/a-first", "");
  WriteFile(top + "/b-sub/a-blocker", "");
  WriteFile(top + "/b-sub/b-after", "");
  WriteFile(top + "/b-sub/inner/deep", "");
  WriteFile(top + "/c-last", "");
  if (!MakeUndeletable(top + "/b-sub/a-blocker")) GTEST_SKIP() << "cannot protect a file here";

  FSRef ref = RefOf(top);
  OSErr err = DeleteTree(&ref);
  EXPECT_EQ(err, permErr);
  EXPECT_FALSE(Exists(top + "/a-first"));  // deleted before the failure: stays deleted
  for (const char* rest : {"/b-sub/a-blocker", "/b-sub/b-after", "/b-sub/inner/deep", "/c-last"})
    EXPECT_TRUE(Exists(top + rest)) << rest;
  EXPECT_TRUE(Exists(top));
}

TEST(DeleteTree, TheDeepestTreeAPathCanNameIsDeleted) {
  TempDir dir;
  const std::string top = dir / "deep";
  std::string path = top;
  // One-letter folders down to the longest path a reference holds.
  int levels = 0;
  while (path.size() + 2 < kFSRefPathMax - 1) {
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << levels;
    path += "/d";
    ++levels;
  }
  ASSERT_GT(levels, 1500);
  WriteFile(path.substr(0, path.size() - 2) + "/f", "");
  FSRef ref = RefOf(top);
  EXPECT_EQ(DeleteTree(&ref), noErr);
  EXPECT_FALSE(Exists(top));
}

TEST(DeleteTreeContents, EmptiesTheFolderAndKeepsIt) {
  TempDir dir;
  BuildTree(dir / "folder");
  FSRef ref = RefOf(dir / "folder");
  DeleteTreeState state{};
  EXPECT_EQ(DeleteTreeContents(&ref, &state), noErr);
  EXPECT_EQ(state.result, noErr);
  EXPECT_TRUE(Exists(dir / "folder"));
  EXPECT_EQ(rmdir((dir / "folder").c_str()), 0) << "something was left inside";
}

class TouchModificationDateTest : public ::testing::Test {
 protected:
  void TearDown() override { corvimus::SetUTCClockForTesting(nullptr); }

  static void SetClock(timespec now) {
    corvimus::SetUTCClockForTesting([now](timespec* t) {
      *t = now;
      return true;
    });
  }
  static timespec ModifiedAt(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mtim;
  }
  static void SetModified(const std::string& path, timespec t) {
    timespec times[2] = {{0, UTIME_OMIT}, t};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
};

TEST_F(TouchModificationDateTest, AFolderWhoseDateIsNowMovesOneSecondOn) {
  TempDir dir;
  MakeFolder(dir / "Extensions");
  // A time the File Manager's dates hold exactly (a whole number of 1/65536 s).
  UTCDateTime exact{0, static_cast<UInt32>(1700000000 + corvimus::kSecondsFrom1904To1970), 0x8000};
  const timespec now = corvimus::TimespecFromUTCDateTime(exact);
  SetModified(dir / "Extensions", now);
  SetClock(now);
  FSRef ref = RefOf(dir / "Extensions");
  EXPECT_EQ(TouchModificationDate(&ref), noErr);
  timespec after = ModifiedAt(dir / "Extensions");
  EXPECT_EQ(after.tv_sec, now.tv_sec + 1);
  EXPECT_EQ(after.tv_nsec, now.tv_nsec);
}

TEST_F(TouchModificationDateTest, AnOlderDateBecomesNowForFoldersAndFiles) {
  TempDir dir;
  MakeFolder(dir / "PreferencePanes");
  WriteFile(dir / "file", "");
  SetModified(dir / "PreferencePanes", timespec{1000000000, 0});
  SetModified(dir / "file", timespec{1000000000, 0});
  const timespec now{1800000000, 250000000};
  SetClock(now);
  for (const char* name : {"PreferencePanes", "file"}) {
    FSRef ref = RefOf(dir / name);
    EXPECT_EQ(TouchModificationDate(&ref), noErr) << name;
    timespec after = ModifiedAt(dir / name);
    EXPECT_EQ(after.tv_sec, now.tv_sec) << name;
    // Stored at the File Manager's resolution of 1/65536 s.
    EXPECT_NEAR(after.tv_nsec, now.tv_nsec, 16000) << name;
  }
}

TEST_F(TouchModificationDateTest, AClockThatFailsOrAMissingItemIsReported) {
  TempDir dir;
  MakeFolder(dir / "f");
  FSRef ref = RefOf(dir / "f");
  corvimus::SetUTCClockForTesting([](timespec*) { return false; });
  const timespec before = ModifiedAt(dir / "f");
  EXPECT_EQ(TouchModificationDate(&ref), ioErr);
  EXPECT_EQ(ModifiedAt(dir / "f").tv_sec, before.tv_sec);
  rmdir((dir / "f").c_str());
  EXPECT_EQ(TouchModificationDate(&ref), fnfErr);
}

TEST_F(TouchModificationDateTest, ADateThatCannotBeStoredIsNoFailure) {
  TempDir dir;
  if (!CanLockInFolder(dir.path())) GTEST_SKIP() << "the immutable attribute cannot be set here";
  MakeFolder(dir / "locked");
  SetModified(dir / "locked", timespec{1000000000, 0});
  ASSERT_TRUE(SetAttribute(dir / "locked", FS_IMMUTABLE_FL, true));
  FSRef ref = RefOf(dir / "locked");
  EXPECT_EQ(TouchModificationDate(&ref), noErr);
  EXPECT_EQ(ModifiedAt(dir / "locked").tv_sec, 1000000000);
}

namespace {

struct Visit {
  std::vector<std::pair<std::string, ItemCount>> seen;  // name, depth
  std::string stopAt;
  bool sawSpecAndName = true;
};

Boolean Record(Boolean, ItemCount level, const FSCatalogInfo*, const FSRef* ref, const FSSpec* spec,
               const HFSUniStr255* name, void* user) {
  auto* v = static_cast<Visit*>(user);
  std::string path = corvimus::PathOfRef(ref);
  std::string leaf = path.substr(path.rfind('/') + 1);
  v->seen.emplace_back(leaf, level);
  if (!spec || !name || name->length != leaf.size()) v->sawSpecAndName = false;
  return leaf == v->stopAt;
}

}  // namespace

TEST(VisitFolder, VisitsDownToTheDepthAskedAndStopsWhenAsked) {
  TempDir dir;
  MakeFolder(dir / "Users/alice/.config");
  MakeFolder(dir / "Users/bob");
  WriteFile(dir / "Users/notes.txt", "");
  MakeFolder(dir / "elsewhere/inside");
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "Users/linked").c_str()), 0);
  FSRef users = RefOf(dir / "Users");

  Visit one;
  EXPECT_EQ(VisitFolder(&users, 1, kFSCatInfoNone, false, false, Record, &one), noErr);
  std::vector<std::pair<std::string, ItemCount>> expected = {
      {"alice", 1}, {"bob", 1}, {"linked", 1}, {"notes.txt", 1}};
  EXPECT_EQ(one.seen, expected);

  Visit all;
  EXPECT_EQ(VisitFolder(&users, 0, kFSCatInfoNone, true, true, Record, &all), noErr);
  // A link to a folder is an item, never entered.
  expected = {{"alice", 1}, {".config", 2}, {"bob", 1}, {"linked", 1}, {"notes.txt", 1}};
  EXPECT_EQ(all.seen, expected);
  EXPECT_TRUE(all.sawSpecAndName);

  Visit stop;
  stop.stopAt = "bob";
  EXPECT_EQ(VisitFolder(&users, 0, kFSCatInfoNone, false, false, Record, &stop), noErr);
  expected = {{"alice", 1}, {".config", 2}, {"bob", 1}};
  EXPECT_EQ(stop.seen, expected);

  EXPECT_EQ(VisitFolder(&users, 1, kFSCatInfoNone, false, false, nullptr, nullptr), paramErr);
}

TEST(VisitFolder, AFolderThatMayNotBeListedCountsAsVisited) {
  if (geteuid() == 0) GTEST_SKIP() << "root may list every folder";
  TempDir dir;
  MakeFolder(dir / "Users/closed");
  MakeFolder(dir / "Users/open");
  ASSERT_EQ(chmod((dir / "Users/closed").c_str(), 0), 0);
  FSRef users = RefOf(dir / "Users");
  Visit all;
  EXPECT_EQ(VisitFolder(&users, 0, kFSCatInfoNone, false, false, Record, &all), noErr);
  std::vector<std::pair<std::string, ItemCount>> expected = {{"closed", 1}, {"open", 1}};
  EXPECT_EQ(all.seen, expected);
  chmod((dir / "Users/closed").c_str(), 0755);
}

TEST(MakeRefFromDirID, FindsItemsByPartialPathAndRefusesANullOutput) {
  TempDir dir;
  MakeFolder(dir / "Library/PreferencePanes/Corvimus.prefPane");
  SInt16 v;
  SInt32 id;
  ASSERT_EQ(corvimus::PathToDirID(dir / "Library", &v, &id), noErr);
  FSRef ref;
  Pascal pane(":PreferencePanes:Corvimus.prefPane");
  ASSERT_EQ(MakeRefFromDirID(v, id, pane.bytes, &ref), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&ref), dir / "Library/PreferencePanes/Corvimus.prefPane");
  Pascal none("");
  ASSERT_EQ(MakeRefFromDirID(v, id, none.bytes, &ref), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&ref), dir / "Library");
  Pascal missing(":Receipts:Corvimus.pkg");
  EXPECT_EQ(MakeRefFromDirID(v, id, missing.bytes, &ref), dirNFErr);
  Pascal missingItem(":PreferencePanes:Other.prefPane");
  EXPECT_EQ(MakeRefFromDirID(v, id, missingItem.bytes, &ref), fnfErr);
  EXPECT_EQ(MakeRefFromDirID(v, id, pane.bytes, nullptr), paramErr);

  FSSpec spec;
  EXPECT_EQ(RefToFSSpec(&ref, nullptr), paramErr);
  ASSERT_EQ(MakeRefFromDirID(v, id, pane.bytes, &ref), noErr);
  ASSERT_EQ(RefToFSSpec(&ref, &spec), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]),
            "Corvimus.prefPane");
}
