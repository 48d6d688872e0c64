// The removal tool's work in users' home folders: their login items and their own copies of the
// pane, done with the rights of each home's owner.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RemovalTool.h"
#include "RemovalToolTestSupport.h"
#include "testing/TempDir.h"
#include "testing/TreeListing.h"

using namespace removal_test;
using corvimus::testing::ListTree;
using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

constexpr uid_t kOtherUser = 4242;

std::string PlistOf(const std::string& home) {
  return home + "/.config/loginwindow.plist";
}

uid_t OwnerOf(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_uid;
}

// Gives the whole tree at path to another user (links themselves, not their targets).
void GiveAway(const std::string& path, uid_t user = kOtherUser) {
  for (const auto& [rel, entry] : ListTree(path)) {
    std::string p = rel.empty() ? path : path + "/" + rel;
    ASSERT_EQ(lchown(p.c_str(), user, user), 0) << p;
  }
}

// A home belongs to its user. Run as root, the test gives the tree to another user, since the tool
// never works in a home with root's rights; run as anyone else, the tree is the test's own already.
void MakeUsers(const std::string& path) {
  if (geteuid() == 0) GiveAway(path);
}

}  // namespace

TEST(RemoveHelperLoginItemFromHome, BothAgentEntriesGoAndTheOthersKeepTheirOrder) {
  TempDir dir;
  const std::string home = dir / "alice";
  MakeFolder(home + "/.config");
  WriteLoginItems(PlistOf(home),
                  {"/usr/bin/first", "/opt/old/CorvimusHelper.app",
                   "/usr/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents/Resources/"
                   "CorvimusHelper.app",
                   "/usr/bin/second", "/home/alice/CorvimusHelper.app.bak",
                   "/home/alice/corvimushelper.app", "/usr/bin/third"});
  MakeUsers(home);
  FSRef ref = RefOf(home);
  SInt16 count = -1;
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), noErr);
  EXPECT_EQ(count, 2);
  // The suffix is compared literally: other letter case and longer names stay.
  std::vector<std::string> expected = {"/usr/bin/first", "/usr/bin/second",
                                       "/home/alice/CorvimusHelper.app.bak",
                                       "/home/alice/corvimushelper.app", "/usr/bin/third"};
  EXPECT_EQ(LoginItemPaths(PlistOf(home)), expected);
  std::string text;
  ASSERT_TRUE(ReadFile(PlistOf(home), &text));
  EXPECT_NE(text.find("<string>kept</string>"), std::string::npos) << "other keys are kept";

  // Nothing left to remove: the file stays exactly as it is.
  const auto before = ListTree(home);
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), noErr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(ListTree(home), before);
}

TEST(RemoveHelperLoginItemFromHome, APreferencesFolderKeptElsewhereIsFollowed) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // the owner may pass to his dotfiles
  // Dotfile managers keep .config in another folder and link it into the home.
  MakeFolder(dir / "dotfiles/config");
  MakeFolder(dir / "frank");
  ASSERT_EQ(symlink((dir / "dotfiles/config").c_str(), (dir / "frank/.config").c_str()), 0);
  WriteLoginItems(dir / "dotfiles/config/loginwindow.plist", {"/x/CorvimusHelper.app", "/y"});
  MakeUsers(dir / "frank");
  MakeUsers(dir / "dotfiles");
  FSRef ref = RefOf(dir / "frank");
  SInt16 count = -1;
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(LoginItemPaths(dir / "dotfiles/config/loginwindow.plist"),
            std::vector<std::string>{"/y"});
  char target[4096];
  EXPECT_GT(readlink((dir / "frank/.config").c_str(), target, sizeof target), 0);
}

TEST(RemoveHelperLoginItemFromHome, AHomeWithoutTheFileGetsNone) {
  TempDir dir;
  MakeFolder(dir / "bob/.config");
  WriteFile(dir / "bob/.config/other.conf", "x");
  MakeFolder(dir / "carol");  // no .config at all
  MakeFolder(dir / "dave/.config");
  WriteFile(dir / "dave/.config/LoginWindow.plist", "<plist/>");  // another file: names differ
  for (const char* name : {"bob", "carol", "dave"}) MakeUsers(dir / name);
  const auto before = ListTree(dir.path());
  SInt16 count = -1;
  for (const char* name : {"bob", "carol", "dave"}) {
    FSRef ref = RefOf(dir / name);
    OSErr err = RemoveHelperLoginItemFromHome(&ref, kSuffix, &count);
    EXPECT_TRUE(err == fnfErr || err == dirNFErr) << name << ": " << err;
    EXPECT_EQ(count, 0);
  }
  EXPECT_EQ(ListTree(dir.path()), before);
}

TEST(RemoveHelperLoginItemFromHome, UnreadableListsAndItemsThatAreNoHomesAreLeftAlone) {
  TempDir dir;
  MakeFolder(dir / "garbage/.config");
  WriteFile(PlistOf(dir / "garbage"), "this is no property list");
  MakeFolder(dir / "nokey/.config");
  WriteFile(PlistOf(dir / "nokey"),
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Other</key>"
            "<string>/x/CorvimusHelper.app</string></dict></plist>");
  MakeFolder(dir / "wrongshape/.config");
  WriteFile(PlistOf(dir / "wrongshape"),
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>/x/CorvimusHelper.app"
            "</string></array></plist>");
  WriteFile(dir / "notes.txt", "a file in the Users folder");
  MakeFolder(dir / "real/.config");
  WriteLoginItems(PlistOf(dir / "real"), {"/x/CorvimusHelper.app"});
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "linked").c_str()), 0);
  for (const char* name : {"garbage", "nokey", "wrongshape", "real"}) MakeUsers(dir / name);
  const auto before = ListTree(dir.path());

  SInt16 count = -1;
  for (const char* name : {"garbage", "nokey", "wrongshape"}) {
    FSRef ref = RefOf(dir / name);
    EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), resNotFound) << name;
    EXPECT_EQ(count, 0);
  }
  // A file, and a link to a home, are no home folders.
  for (const char* name : {"notes.txt", "linked"}) {
    FSRef ref = RefOf(dir / name);
    EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), dirNFErr) << name;
  }
  FSRef real = RefOf(dir / "real");
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&real, "Corvimus\xC3\xA9.app", &count), memFullErr);
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&real, nullptr, &count), paramErr);
  EXPECT_EQ(ListTree(dir.path()), before);
}

TEST(RemoveHelperLoginItemFromHome, WorksWithTheRightsOfTheHomesOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // other users may pass, as through /home
  // A list only root may read, and a user who links it into his own home.
  MakeFolder(dir / "private");
  WriteLoginItems(dir / "private/secret.plist", {"/secret/CorvimusHelper.app", "/secret/other"});
  ASSERT_EQ(chmod((dir / "private/secret.plist").c_str(), 0600), 0);
  MakeFolder(dir / "mallory/.config");
  ASSERT_EQ(symlink((dir / "private/secret.plist").c_str(), PlistOf(dir / "mallory").c_str()), 0);
  GiveAway(dir / "mallory");
  // An ordinary user's list is rewritten and stays his.
  MakeFolder(dir / "erin/.config");
  WriteLoginItems(PlistOf(dir / "erin"), {"/a", "/b/CorvimusHelper.app"});
  GiveAway(dir / "erin");
  const auto privateBefore = ListTree(dir / "private");
  const auto malloryBefore = ListTree(dir / "mallory");

  SInt16 count = -1;
  FSRef mallory = RefOf(dir / "mallory");
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&mallory, kSuffix, &count), resNotFound);
  EXPECT_EQ(ListTree(dir / "private"), privateBefore);
  EXPECT_EQ(ListTree(dir / "mallory"), malloryBefore) << "the link was replaced by a copy";

  FSRef erin = RefOf(dir / "erin");
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&erin, kSuffix, &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(LoginItemPaths(PlistOf(dir / "erin")), std::vector<std::string>{"/a"});
  EXPECT_EQ(OwnerOf(PlistOf(dir / "erin")), kOtherUser);
  EXPECT_EQ(geteuid(), 0u);
  // Root's own rights are back: a root-only file can be read again.
  std::string bytes;
  EXPECT_TRUE(ReadFile(dir / "private/secret.plist", &bytes));
}

TEST(DeletePaneFromHome, DeletesTheUsersOwnPaneAndNothingBeside) {
  TempDir dir;
  const std::string panes = dir / "alice/.local/lib/corvimus/Library/PreferencePanes";
  MakeFolder(panes + "/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app/Contents/MacOS");
  WriteFile(panes +
                "/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app/Contents/MacOS/"
                "CorvimusHelper",
            "ELF");
  MakeFolder(panes + "/Other.prefPane");
  MakeFolder(dir / "bob");
  MakeUsers(dir / "alice");
  MakeUsers(dir / "bob");
  // Locked as its owner can lock it: no write bits (the immutable attribute is root's alone).
  ASSERT_EQ(chmod((panes + "/Corvimus.prefPane/Contents").c_str(), 0555), 0);
  FSRef home = RefOf(dir / "alice");
  EXPECT_EQ(DeletePaneFromHome(&home, Pascal(kHomePane).bytes), noErr);
  EXPECT_FALSE(Exists(panes + "/Corvimus.prefPane"));
  EXPECT_TRUE(Exists(panes + "/Other.prefPane"));
  // Nothing there any more, and homes without one.
  EXPECT_EQ(DeletePaneFromHome(&home, Pascal(kHomePane).bytes), fnfErr);
  FSRef bob = RefOf(dir / "bob");
  EXPECT_EQ(DeletePaneFromHome(&bob, Pascal(kHomePane).bytes), dirNFErr);
  EXPECT_FALSE(Exists(dir / "bob/.local"));
  WriteFile(dir / "notes.txt", "");
  FSRef file = RefOf(dir / "notes.txt");
  EXPECT_EQ(DeletePaneFromHome(&file, Pascal(kHomePane).bytes), dirNFErr);
}

TEST(DeletePaneFromHome, AUserCannotSteerItIntoOtherFolders) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // other users may pass, as through /home
  // A pane in a tree the user may not change, reached through a link in his home.
  MakeFolder(dir / "system/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents");
  WriteFile(dir / "system/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents/x", "");
  MakeFolder(dir / "mallory");
  ASSERT_EQ(symlink((dir / "system").c_str(), (dir / "mallory/.local").c_str()), 0);
  GiveAway(dir / "mallory");
  const auto before = ListTree(dir / "system");
  FSRef home = RefOf(dir / "mallory");
  EXPECT_EQ(DeletePaneFromHome(&home, Pascal(kHomePane).bytes), permErr);
  EXPECT_EQ(ListTree(dir / "system"), before);
}

TEST(VisitUserFolder, HandlesEveryItemOfTheUsersFolderAndNeverStops) {
  TempDir dir;
  const std::string users = dir / "Users";
  for (const char* name : {"alice", "bob"}) {
    std::string home = users + "/" + name;
    MakeFolder(home + "/.config");
    MakeFolder(home + "/.local/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane");
    WriteLoginItems(PlistOf(home), {"/x/CorvimusHelper.app", "/usr/bin/kept"});
  }
  WriteFile(users + "/notes.txt", "");
  MakeUsers(users + "/alice");
  MakeUsers(users + "/bob");
  FSRef ref = RefOf(users);
  EXPECT_EQ(VisitFolder(&ref, 1, kFSCatInfoNone, false, false, VisitUserFolder, nullptr), noErr);
  for (const char* name : {"alice", "bob"}) {
    std::string home = users + "/" + name;
    EXPECT_EQ(LoginItemPaths(PlistOf(home)), std::vector<std::string>{"/usr/bin/kept"}) << name;
    EXPECT_FALSE(Exists(home + "/.local/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane"));
    EXPECT_TRUE(Exists(home + "/.local/lib/corvimus/Library/PreferencePanes"));
  }
  EXPECT_TRUE(Exists(users + "/notes.txt"));
}
