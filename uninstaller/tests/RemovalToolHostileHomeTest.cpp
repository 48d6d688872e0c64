// The removal tool against home folders whose users (or other users who may write there) try to
// steer it: links planted where it looks, folders of root's that others may write to, files that
// block, and folders swapped for links while the walk is inside the tree. Run as root, as the tool
// is, with numeric user IDs (and one throwaway user of the user database) as the homes' owners.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "RemovalTool.h"
#include "RemovalToolTestSupport.h"
#include "testing/TempDir.h"
#include "testing/TreeListing.h"

using namespace removal_test;
using corvimus::testing::ListTree;
using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::RunResult;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

constexpr char kPaneBelowLocal[] = "lib/corvimus/Library/PreferencePanes/Corvimus.prefPane";
constexpr uid_t kUser = 4242;
constexpr uid_t kOtherMember = 4243;
constexpr gid_t kSharedGroup = 4343;

void Own(const std::string& path, uid_t uid, gid_t gid) {
  ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path;
}

// Every item of the tree at path given to uid:gid (links themselves, not their targets).
void OwnTree(const std::string& path, uid_t uid, gid_t gid) {
  for (const auto& [rel, entry] : ListTree(path))
    Own(rel.empty() ? path : path + "/" + rel, uid, gid);
}

// What a user may not touch: a login items list only root may read or write, that lists the
// agent, and a tree that holds a pane where a home's .local would.
struct Victims {
  explicit Victims(const TempDir& dir) : secret(dir / "private/secret.plist"), tree(dir / "tree") {
    MakeFolder(dir / "private");
    WriteLoginItems(secret, {"/secret/CorvimusHelper.app", "/secret/other"});
    EXPECT_EQ(chmod(secret.c_str(), 0600), 0);
    MakeFolder(tree + "/" + kPaneBelowLocal + "/Contents");
    WriteFile(tree + "/" + kPaneBelowLocal + "/Contents/Info.plist", "<plist/>");
    before = ListTree(dir / "private");
    treeBefore = ListTree(tree);
  }
  void ExpectUntouched(const TempDir& dir) const {
    EXPECT_EQ(ListTree(dir / "private"), before) << "the root-only list was rewritten";
    EXPECT_EQ(ListTree(tree), treeBefore) << "the unrelated tree was deleted";
  }
  std::string secret, tree;
  corvimus::testing::TreeListing before, treeBefore;
};

// A member of the folder's group plants, in a folder he may write to, a .config whose list is a
// link to the root-only list and a .local that is a link to the unrelated tree.
void PlantLinks(const std::string& home, const Victims& victims, uid_t planter) {
  MakeFolder(home + "/.config");
  ASSERT_EQ(symlink(victims.secret.c_str(), (home + "/.config/loginwindow.plist").c_str()), 0);
  ASSERT_EQ(symlink(victims.tree.c_str(), (home + "/.local").c_str()), 0);
  Own(home + "/.config", planter, planter);
  Own(home + "/.config/loginwindow.plist", planter, planter);
  Own(home + "/.local", planter, planter);
}

// The Users folder visited as the tool visits it.
void VisitUsers(const std::string& users) {
  FSRef ref = RefOf(users);
  EXPECT_EQ(VisitFolder(&ref, 1, kFSCatInfoNone, false, false, VisitUserFolder, nullptr), noErr);
}

class HostileHome : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the tool runs as root over other users' homes";
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // other users may pass, as through /home
    MakeFolder(users_);
  }
  TempDir dir_;
  std::string users_ = dir_ / "Users";
};

}  // namespace

TEST_F(HostileHome, ASharedFolderOfRootsThatOthersMayWriteToIsNoHomeOfAnyone) {
  Victims victims(dir_);
  const std::string shared = users_ + "/shared";
  MakeFolder(shared);
  PlantLinks(shared, victims, kOtherMember);
  Own(shared, 0, kSharedGroup);
  ASSERT_EQ(chmod(shared.c_str(), 02775), 0);
  const auto before = ListTree(users_);

  VisitUsers(users_);
  victims.ExpectUntouched(dir_);
  EXPECT_EQ(ListTree(users_), before);
  FSRef ref = RefOf(shared);
  SInt16 count = -1;
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), permErr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(DeletePaneFromHome(&ref, Pascal(kHomePane).bytes), permErr);
  victims.ExpectUntouched(dir_);
}

TEST_F(HostileHome, AHomeMadeByRootForAUserTheDatabaseDoesNotKnowIsLeftAlone) {
  Victims victims(dir_);
  // Made by root and handed to the user's group only, as some set-ups do.
  const std::string home = users_ + "/u4242";
  MakeFolder(home);
  PlantLinks(home, victims, kUser);
  Own(home, 0, kUser);
  ASSERT_EQ(chmod(home.c_str(), 0775), 0);

  VisitUsers(users_);
  victims.ExpectUntouched(dir_);
  EXPECT_TRUE(Exists(home + "/.local"));
}

TEST_F(HostileHome, LinksPlantedInAUsersOwnHomeAreNeverFollowed) {
  Victims victims(dir_);
  const std::string home = users_ + "/mallory";
  MakeFolder(home);
  PlantLinks(home, victims, kUser);
  // The user's own files elsewhere in his home, laid out like a pane, reached through a link.
  MakeFolder(home + "/keep/" + kPaneBelowLocal + "/Contents");
  WriteFile(home + "/keep/" + kPaneBelowLocal + "/Contents/notes", "the user's own");
  ASSERT_EQ(unlink((home + "/.local").c_str()), 0);
  ASSERT_EQ(symlink((home + "/keep").c_str(), (home + "/.local").c_str()), 0);
  OwnTree(home, kUser, kUser);
  const auto keep = ListTree(home + "/keep");

  FSRef ref = RefOf(home);
  SInt16 count = -1;
  EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), resNotFound);
  EXPECT_EQ(DeletePaneFromHome(&ref, Pascal(kHomePane).bytes), permErr);
  victims.ExpectUntouched(dir_);
  EXPECT_EQ(ListTree(home + "/keep"), keep);
}

TEST_F(HostileHome, AListThatIsAFifoOrAFileOfRootsNeverBlocksAndIsLeftAlone) {
  // A FIFO would block a reader for ever; a group-writable list of root's group would be open to a
  // child that kept root's groups.
  const std::string fifo = users_ + "/fifo";
  MakeFolder(fifo + "/.config");
  ASSERT_EQ(mkfifo((fifo + "/.config/loginwindow.plist").c_str(), 0644), 0);
  OwnTree(fifo, kUser, kUser);
  const std::string groups = users_ + "/groups";
  MakeFolder(groups + "/.config");
  WriteLoginItems(groups + "/.config/loginwindow.plist", {"/x/CorvimusHelper.app", "/y"});
  OwnTree(groups, kUser, kUser);
  Own(groups + "/.config/loginwindow.plist", 0, 0);
  ASSERT_EQ(chmod((groups + "/.config/loginwindow.plist").c_str(), 0060), 0);
  const auto before = ListTree(users_);

  SInt16 count = -1;
  for (const std::string& home : {fifo, groups}) {
    FSRef ref = RefOf(home);
    EXPECT_EQ(RemoveHelperLoginItemFromHome(&ref, kSuffix, &count), resNotFound) << home;
    EXPECT_EQ(count, 0);
  }
  EXPECT_EQ(ListTree(users_), before);
}

TEST_F(HostileHome, AHomeMadeByRootIsWorkedInWithTheRightsOfTheUserItBelongsTo) {
  // A throwaway user of the user database whose home folder root made and gave to his group.
  const std::string name = "crvmtest" + std::to_string(getpid() % 100000);
  const std::string home = users_ + "/" + name;
  MakeFolder(home);
  RunResult add = RunProgram({"/usr/sbin/useradd", "--no-create-home", "--home-dir", home,
                              "--shell", "/usr/sbin/nologin", "--user-group", name},
                             "", {}, 30000);
  if (add.exitCode != 0) GTEST_SKIP() << "cannot add a user here: " << add.err;
  struct Remove {
    std::string name;
    ~Remove() { RunProgram({"/usr/sbin/userdel", name}, "", {}, 30000); }
  } remove{name};
  const passwd* pw = getpwnam(name.c_str());
  ASSERT_NE(pw, nullptr);
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  Victims victims(dir_);
  MakeFolder(home + "/.config");
  WriteLoginItems(home + "/.config/loginwindow.plist", {"/a", "/b/CorvimusHelper.app"});
  OwnTree(home, uid, gid);
  Own(home, 0, gid);
  ASSERT_EQ(chmod(home.c_str(), 0775), 0);
  // Another member of his group plants a .local of his own.
  ASSERT_EQ(symlink(victims.tree.c_str(), (home + "/.local").c_str()), 0);
  Own(home + "/.local", kOtherMember, gid);

  VisitUsers(users_);
  EXPECT_EQ(LoginItemPaths(home + "/.config/loginwindow.plist"), std::vector<std::string>{"/a"});
  struct stat st;
  ASSERT_EQ(lstat((home + "/.config/loginwindow.plist").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid) << "rewritten by someone else than the user";
  victims.ExpectUntouched(dir_);
  EXPECT_TRUE(Exists(home + "/.local"));
}

// ---- Folders swapped for links while the walk is inside the tree -------------------------------

namespace {

struct SwapHook {
  explicit SwapHook(std::function<void(const std::string&)> hook) {
    SetDeleteTreeStepHookForTesting(std::move(hook));
  }
  ~SwapHook() { SetDeleteTreeStepHookForTesting(nullptr); }
};

// When the walk reaches `folder` (a path), it is moved to `movedTo` and a link to `target` is put
// in its place: the attack on a walk that looks its folders up again by path.
std::function<void(const std::string&)> SwapForLink(const std::string& folder,
                                                    const std::string& movedTo,
                                                    const std::string& target) {
  return [=](const std::string& name) {
    if (name != folder.substr(folder.rfind('/') + 1)) return;
    if (rename(folder.c_str(), movedTo.c_str()) != 0) return;
    (void)symlink(target.c_str(), folder.c_str());
  };
}

}  // namespace

TEST(DeleteTreeRace, AFolderSwappedForALinkDuringTheWalkNeverLeadsItOutside) {
  TempDir dir;
  const std::string top = dir / "Corvimus.kext";
  MakeFolder(top + "/Contents/Resources");
  WriteFile(top + "/Contents/Info.plist", "");
  WriteFile(top + "/Contents/Resources/unit", "");
  MakeFolder(dir / "outside/Resources");
  WriteFile(dir / "outside/Info.plist", "keep");
  WriteFile(dir / "outside/Resources/unit", "keep");
  const auto outside = ListTree(dir / "outside");

  SwapHook hook(SwapForLink(top + "/Contents", dir / "moved", dir / "outside"));
  FSRef ref = RefOf(top);
  EXPECT_NE(DeleteTree(&ref), noErr) << "the tree changed under the walk";
  ASSERT_TRUE(Exists(dir / "moved")) << "the walk never reached the folder";
  EXPECT_EQ(ListTree(dir / "outside"), outside);
  // What the walk held on to was emptied where it went; the link was left alone.
  EXPECT_TRUE(Exists(top + "/Contents"));
  EXPECT_FALSE(Exists(dir / "moved/Info.plist"));
}

TEST_F(HostileHome, AParentSwappedForALinkWhileAUsersPaneIsDeletedNeverLeadsElsewhere) {
  const std::string home = users_ + "/mallory";
  const std::string pane = home + "/.local/" + kPaneBelowLocal;
  MakeFolder(pane + "/Contents/MacOS");
  WriteFile(pane + "/Contents/MacOS/Corvimus", "ELF");
  // The user's own documents, laid out so that the pane's remaining path leads into them.
  MakeFolder(home + "/Documents/MacOS");
  WriteFile(home + "/Documents/MacOS/Corvimus", "a document that must stay");
  WriteFile(home + "/Documents/letter", "must stay");
  OwnTree(home, kUser, kUser);
  const auto documents = ListTree(home + "/Documents");

  // The swap runs inside the child, with the user's rights, as the user would do it.
  SwapHook hook(SwapForLink(pane + "/Contents", home + "/moved", home + "/Documents"));
  FSRef ref = RefOf(home);
  EXPECT_NE(DeletePaneFromHome(&ref, Pascal(kHomePane).bytes), noErr);
  ASSERT_TRUE(Exists(home + "/moved")) << "the walk never reached the folder";
  EXPECT_EQ(ListTree(home + "/Documents"), documents);
}
