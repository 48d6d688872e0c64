// The installed rmkvcv against a real installation: the build is installed into a temporary prefix
// with `cmake --install`, home folders are made in a temporary Users folder (the Folder Manager's
// Users folder is taken from CORVIMUS_USERS_DIR), and the tool is run there as it would be run by
// the uninstaller.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "RemovalToolTestSupport.h"
#include "testing/TempDir.h"
#include "testing/TreeListing.h"

using namespace removal_test;
using corvimus::testing::CompareTrees;
using corvimus::testing::ListTree;
using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::RunResult;
using corvimus::testing::TempDir;
using corvimus::testing::TreeEntry;
using corvimus::testing::TreeListing;
using corvimus::testing::WriteFile;

namespace {

constexpr uid_t kOtherUser = 4242;

const std::string kHome = "lib/corvimus";
const std::string kKext = kHome + "/Extensions/Corvimus.kext";
const std::string kPane = kHome + "/Library/PreferencePanes/Corvimus.prefPane";
const std::string kSystemPane = kHome + "/System/Library/PreferencePanes/Corvimus.prefPane";
const std::string kReceipt = kHome + "/Library/Receipts/Corvimus.pkg";
const std::string kLog = kHome + "/Library/Receipts/Corvimus Log.rtf";
const std::string kUninstaller = kHome + "/Applications/Utilities/Corvimus Uninstaller.app";
const std::string kCleanup = kHome + "/Cleanup";
const std::string kMovedUninstaller = kCleanup + "/Corvimus Uninstaller.app";
const std::string kTool = "/Contents/Resources/rmkvcv";
const std::string kUserPane = ".local/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane";
const std::string kLoginItems = ".config/loginwindow.plist";

bool Under(const std::string& path, const std::string& root) {
  return path == root || path.rfind(root + "/", 0) == 0;
}

// What a run may change, relative to the temporary root.
struct Expected {
  std::vector<std::string> removed;      // trees that must be gone
  std::set<std::string> touchedFolders;  // may get a new date, nothing else
  std::set<std::string> rewrittenFiles;  // may get new content (checked by the test itself)
  std::string addedRoot;                 // may appear with everything in it
};

bool Allowed(const std::string& path, const TreeEntry* before, const TreeEntry* after, void* c) {
  const auto* e = static_cast<const Expected*>(c);
  for (const auto& r : e->removed) {
    if (Under(path, r)) return after == nullptr;
  }
  if (before && after && e->touchedFolders.count(path))
    return before->kind == 'd' && after->kind == 'd' && before->mode == after->mode &&
           before->uid == after->uid;
  if (before && after && e->rewrittenFiles.count(path)) return true;
  if (!before && !e->addedRoot.empty() && Under(path, e->addedRoot)) return true;
  return false;
}

// The entries of a listing below root, keyed relative to it.
TreeListing Subtree(const TreeListing& all, const std::string& root) {
  TreeListing out;
  for (const auto& [path, entry] : all) {
    if (Under(path, root)) out[path.substr(root.size())] = entry;
  }
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

class InstalledRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chmod(root_.path().c_str(), 0755), 0);  // other users may pass, as through /home
    prefix_ = root_ / "prefix";
    users_ = root_ / "Users";
    RunResult install =
        RunProgram({CORVIMUS_CMAKE_COMMAND, "--install", CORVIMUS_BUILD_DIR, "--prefix", prefix_},
                   "", {"DESTDIR="}, 300000);
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    MakeFolder(users_);
  }

  // A path below the prefix.
  std::string P(const std::string& rel) const { return prefix_ + "/" + rel; }
  // The same path as the root's listing names it.
  static std::string L(const std::string& rel) { return "prefix/" + rel; }

  RunResult Run(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), args.begin(), args.end());
    // No CORVIMUS_PREFIX: the tool finds its installation from its own place.
    return RunProgram(argv, "", {"CORVIMUS_USERS_DIR=" + users_, "CORVIMUS_PREFIX="}, 120000);
  }
  std::string InstalledTool() const { return P(kUninstaller + kTool); }

  // alice lists the agent twice among other items and has her own pane; bob has a Preferences
  // folder without the list; a file lies among the homes. Run as root, the homes belong to two
  // other users.
  void MakeHomes() {
    const std::string alice = users_ + "/alice";
    MakeFolder(alice + "/.config");
    WriteLoginItems(alice + "/" + kLoginItems,
                    {"/usr/bin/first", P(kPane) + "/Contents/Resources/CorvimusHelper.app",
                     "/usr/bin/second", "/old/place/CorvimusHelper.app", "/usr/bin/third"});
    MakeFolder(alice + "/" + kUserPane + "/Contents/MacOS");
    WriteFile(alice + "/" + kUserPane + "/Contents/MacOS/Corvimus", "ELF");
    MakeFolder(alice + "/" + kUserPane + "/../Other.prefPane");
    MakeFolder(users_ + "/bob/.config");
    WriteFile(users_ + "/bob/.config/settings.conf", "untouched");
    WriteFile(users_ + "/notes.txt", "not a home");
    // Homes belong to their users; the tool never works in one with root's rights.
    if (geteuid() == 0) {
      for (const auto& [home, user] :
           {std::pair{alice, kOtherUser}, {users_ + "/bob", kOtherUser + 1}}) {
        for (const auto& [rel, entry] : ListTree(home)) {
          std::string p = rel.empty() ? home : home + "/" + rel;
          ASSERT_EQ(lchown(p.c_str(), user, user), 0) << p;
        }
      }
    }
  }

  TempDir root_;
  std::string prefix_;
  std::string users_;
};

}  // namespace

TEST_F(InstalledRemoval, TheInstallationHasItsLayout) {
  for (const std::string& rel :
       {kKext + "/Contents/Info.plist", kKext + "/Contents/MacOS/corvimus-simdriver",
        kKext + "/Contents/Resources/corvimus-driver.service", kReceipt + "/Contents/Info.plist",
        kReceipt + "/Contents/Archive.txt", kLog, kUninstaller + kTool,
        kUninstaller + "/Contents/Info.plist", std::string("lib/tmpfiles.d/corvimus.conf"),
        std::string("lib/systemd/user/corvimus-driver.service"),
        kKext + "/Contents/MacOS/corvimusd", kKext + "/Contents/Resources/corvimusd.service",
        std::string("lib/systemd/system/corvimusd.service"),
        std::string("lib/systemd/system/multi-user.target.wants/corvimusd.service")})
    EXPECT_TRUE(Exists(P(rel))) << rel;
#if CORVIMUS_HAVE_PANE
  EXPECT_TRUE(Exists(P(kPane + "/Contents/MacOS/Corvimus")));
  EXPECT_TRUE(Exists(P(kPane + "/Contents/Info.plist")));
#endif
#if CORVIMUS_HAVE_AGENT
  EXPECT_TRUE(Exists(P(kPane + "/Contents/Resources/CorvimusHelper.app/Contents/MacOS/"
                               "CorvimusHelper")));
#endif
#if CORVIMUS_HAVE_SESSION
  EXPECT_TRUE(Exists(P(kHome + "/Frameworks/ApplicationServices.framework/Frameworks/"
                               "CoreGraphics.framework/CoreGraphics")));
#endif
  // The user unit reaches the driver inside the bundle, so it dies with the bundle.
  char target[4096];
  ssize_t n =
      readlink(P("lib/systemd/user/corvimus-driver.service").c_str(), target, sizeof target);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(target, static_cast<std::size_t>(n)),
            "../../corvimus/Extensions/Corvimus.kext/Contents/Resources/corvimus-driver.service");
  // The simulator is there to be started by hand: a session that started it by itself would have
  // virtual mice beside the real ones.
  struct stat st;
  EXPECT_NE(lstat(P("lib/systemd/user/default.target.wants/corvimus-driver.service").c_str(), &st),
            0);
  // The real driver is a system service, started at boot, also reached inside the bundle.
  n = readlink(P("lib/systemd/system/corvimusd.service").c_str(), target, sizeof target);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(target, static_cast<std::size_t>(n)),
            "../../corvimus/Extensions/Corvimus.kext/Contents/Resources/corvimusd.service");
  EXPECT_EQ(stat(P("lib/systemd/system/multi-user.target.wants/corvimusd.service").c_str(), &st),
            0);
  std::string systemUnit;
  ASSERT_TRUE(ReadFile(P("lib/systemd/system/corvimusd.service"), &systemUnit));
  EXPECT_NE(systemUnit.find("ExecStart=\"" + P(kKext) + "/Contents/MacOS/corvimusd\""),
            std::string::npos)
      << systemUnit;
  std::string unit, rule, log;
  ASSERT_TRUE(ReadFile(P("lib/systemd/user/corvimus-driver.service"), &unit));
  EXPECT_NE(unit.find("ExecStart=\"" + P(kKext) + "/Contents/MacOS/corvimus-simdriver\""),
            std::string::npos)
      << unit;
  ASSERT_TRUE(ReadFile(P("lib/tmpfiles.d/corvimus.conf"), &rule));
  EXPECT_NE(rule.find("D \"" + P(kCleanup) + "\" 0755 root root -"), std::string::npos) << rule;
  ASSERT_TRUE(ReadFile(P(kLog), &log));
  EXPECT_EQ(log.rfind("{\\rtf1", 0), 0u);

  // The receipt lists every installed file, and each one it lists is there.
  std::string archive;
  ASSERT_TRUE(ReadFile(P(kReceipt + "/Contents/Archive.txt"), &archive));
  std::set<std::string> listed;
  for (std::size_t start = 0, end; start < archive.size(); start = end + 1) {
    end = archive.find('\n', start);
    if (end == std::string::npos) end = archive.size();
    if (end > start) listed.insert(archive.substr(start, end - start));
  }
  for (const auto& rel : listed) EXPECT_TRUE(Exists(P(rel))) << rel;
  for (const std::string& rel : {kKext + "/Contents/MacOS/corvimus-simdriver", kUninstaller + kTool,
                                 std::string("lib/tmpfiles.d/corvimus.conf")})
    EXPECT_TRUE(listed.count(rel)) << rel;
  for (const auto& [rel, entry] : ListTree(prefix_)) {
    if (entry.kind == 'd' || Under(rel, kReceipt) || rel == kLog) continue;
    EXPECT_TRUE(listed.count(rel)) << "installed but not in the receipt: " << rel;
  }
}

TEST_F(InstalledRemoval, RemovesEverythingListedAndTouchesNothingElse) {
  MakeHomes();
  // A second copy of the pane in the system domain, and locked items inside the trees.
  MakeFolder(P(kSystemPane + "/Contents/Resources"));
  WriteFile(P(kSystemPane + "/Contents/Resources/old"), "");
  if (CanLockInFolder(prefix_)) {
    for (const std::string& rel :
         {kKext + "/Contents/MacOS/corvimus-simdriver", kKext + "/Contents/MacOS", kKext,
          kReceipt + "/Contents", kSystemPane + "/Contents/Resources/old"})
      ASSERT_TRUE(SetAttribute(P(rel), FS_IMMUTABLE_FL, true)) << rel;
  }
  const TreeListing before = ListTree(root_.path());

  RunResult result = Run(InstalledTool(), {"--rmcvms"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const TreeListing after = ListTree(root_.path());

  Expected expected;
  for (const auto& rel : {kKext, kPane, kSystemPane, kReceipt, kLog, kUninstaller}) {
    ASSERT_TRUE(before.count(L(rel))) << "missing before the run: " << rel;
    EXPECT_FALSE(after.count(L(rel))) << "still there: " << rel;
    expected.removed.push_back(L(rel));
  }
  expected.removed.push_back("Users/alice/" + kUserPane);
  EXPECT_FALSE(Exists(users_ + "/alice/" + kUserPane));
  expected.touchedFolders = {L(kHome + "/Extensions"),
                             L(kHome + "/Library/PreferencePanes"),
                             L(kHome + "/System/Library/PreferencePanes"),
                             L(kHome + "/Library/Receipts"),
                             L(kHome + "/Applications/Utilities"),
                             L(kHome),
                             "Users/alice/.local/lib/corvimus/Library/PreferencePanes",
                             "Users/alice/.config"};
  expected.rewrittenFiles = {"Users/alice/" + kLoginItems};
  expected.addedRoot = L(kCleanup);
  EXPECT_EQ(Joined(CompareTrees(before, after, Allowed, &expected)), "");

  // The uninstaller waits in the cleanup folder, whole.
  EXPECT_EQ(Subtree(after, L(kMovedUninstaller)), Subtree(before, L(kUninstaller)));
  // alice keeps her other login items in order, in a file that is still hers; bob gets no list.
  EXPECT_EQ(LoginItemPaths(users_ + "/alice/" + kLoginItems),
            (std::vector<std::string>{"/usr/bin/first", "/usr/bin/second", "/usr/bin/third"}));
  EXPECT_EQ(after.at("Users/alice/" + kLoginItems).uid,
            before.at("Users/alice/" + kLoginItems).uid);
  EXPECT_FALSE(Exists(users_ + "/bob/" + kLoginItems));
}

TEST_F(InstalledRemoval, ASecondRunReportsTheMissingDriverButStillCleansUp) {
  MakeHomes();
  ASSERT_EQ(Run(InstalledTool(), {"--rmcvms"}).exitCode, 0);
  // Pieces that appeared again since: a pane, a login item, another uninstaller.
  MakeFolder(P(kPane + "/Contents"));
  WriteLoginItems(users_ + "/bob/" + kLoginItems, {"/usr/bin/kept", "/x/CorvimusHelper.app"});
  MakeFolder(P(kUninstaller + "/Contents/Resources"));
  WriteFile(P(kUninstaller + kTool), "another copy");
  const TreeListing cleanupBefore = Subtree(ListTree(root_.path()), L(kCleanup));

  // The tool that was moved away still finds its installation from where it now lies.
  RunResult second = Run(P(kMovedUninstaller + kTool), {"--rmcvms"});
  EXPECT_EQ(second.exitCode, 213);  // the driver is missing: -43
  EXPECT_FALSE(Exists(P(kPane)));
  EXPECT_EQ(LoginItemPaths(users_ + "/bob/" + kLoginItems),
            std::vector<std::string>{"/usr/bin/kept"});
  EXPECT_TRUE(Exists(P(kUninstaller + kTool))) << "moved although the result was not 0";
  EXPECT_EQ(Subtree(ListTree(root_.path()), L(kCleanup)), cleanupBefore);
}

TEST_F(InstalledRemoval, AnyOtherArgumentListTouchesNothing) {
  MakeHomes();
  const TreeListing before = ListTree(root_.path());
  const std::vector<std::vector<std::string>> calls = {
      {},           {"--rmcvms", "--rmcvms"}, {"--rmcvmsx"}, {"--rmcvm"},      {""},
      {"--RMCVMS"}, {"--rmcvms", ""},         {"-rmcvms"},   {"--rmcvms=yes"}, {"rmcvms"}};
  for (const auto& args : calls) {
    RunResult r = Run(InstalledTool(), args);
    std::string shown;
    for (const auto& a : args) shown += "[" + a + "]";
    EXPECT_EQ(r.exitCode, 0) << shown;
    EXPECT_EQ(r.out + r.err, "") << shown;
    EXPECT_EQ(Joined(CompareTrees(before, ListTree(root_.path()))), "") << shown;
  }
}

TEST_F(InstalledRemoval, ADriverThatCannotBeDeletedKeepsTheUninstaller) {
  MakeHomes();
  // The first item of the bundle's deletion (Contents/Info.plist) cannot go.
  if (!MakeUndeletable(P(kKext + "/Contents/Info.plist"))) GTEST_SKIP() << "cannot protect a file";
  RunResult r = Run(InstalledTool(), {"--rmcvms"});
  EXPECT_EQ(r.exitCode, 202);  // -54, permission refused
  // The driver's tree stops at that item and the rest of it stays.
  EXPECT_TRUE(Exists(P(kKext + "/Contents/Info.plist")));
  EXPECT_TRUE(Exists(P(kKext + "/Contents/MacOS/corvimus-simdriver")));
  EXPECT_TRUE(Exists(P(kKext + "/Contents/Resources/corvimus-driver.service")));
  // Every other step ran; only the uninstaller stays where it is.
  EXPECT_FALSE(Exists(P(kPane)));
  EXPECT_FALSE(Exists(P(kReceipt)));
  EXPECT_FALSE(Exists(P(kLog)));
  EXPECT_FALSE(Exists(users_ + "/alice/" + kUserPane));
  EXPECT_TRUE(Exists(P(kUninstaller + kTool)));
  EXPECT_FALSE(Exists(P(kCleanup)));
}

TEST(StagedInstallation, TheCleanupFolderIsEmptiedAtStartUp) {
  // Installed as a package build would: into a staging folder (DESTDIR) for the prefix /usr/local.
  // systemd-tmpfiles, pointed at the staging folder as its root, does what start-up does.
  if (geteuid() != 0 || access("/usr/bin/systemd-tmpfiles", X_OK) != 0)
    GTEST_SKIP() << "needs root and systemd-tmpfiles";
  TempDir dir;
  const std::string stage = dir / "stage";
  RunResult install = RunProgram(
      {CORVIMUS_CMAKE_COMMAND, "--install", CORVIMUS_BUILD_DIR, "--prefix", "/usr/local"}, "",
      {"DESTDIR=" + stage}, 300000);
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const std::string prefix = stage + "/usr/local";
  std::string rule, receipt;
  ASSERT_TRUE(ReadFile(prefix + "/lib/tmpfiles.d/corvimus.conf", &rule));
  EXPECT_NE(rule.find("D \"/usr/local/" + kCleanup + "\""), std::string::npos) << rule;
  ASSERT_TRUE(ReadFile(prefix + "/" + kReceipt + "/Contents/Info.plist", &receipt));
  EXPECT_NE(receipt.find("<string>/usr/local</string>"), std::string::npos) << receipt;

  MakeFolder(dir / "Users");
  RunResult removal =
      RunProgram({prefix + "/" + kUninstaller + kTool, "--rmcvms"}, "",
                 {"CORVIMUS_USERS_DIR=" + (dir / "Users"), "CORVIMUS_PREFIX="}, 120000);
  ASSERT_EQ(removal.exitCode, 0) << removal.err;
  ASSERT_TRUE(Exists(prefix + "/" + kMovedUninstaller + kTool));

  RunResult boot = RunProgram({"/usr/bin/systemd-tmpfiles", "--root=" + stage, "--create",
                               "--remove", prefix + "/lib/tmpfiles.d/corvimus.conf"},
                              "", {}, 60000);
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_TRUE(Exists(prefix + "/" + kCleanup));
  EXPECT_FALSE(Exists(prefix + "/" + kMovedUninstaller));
  EXPECT_TRUE(Exists(prefix + "/" + kHome + "/Frameworks")) << "only the cleanup folder is emptied";
}

// ---- Where the installation puts what the desktop and the system read ---------------------------

namespace {

// The value of `key` in a desktop entry, with the entry's string escapes undone.
std::string DesktopValue(const std::string& entryFile, const std::string& key) {
  std::string text;
  EXPECT_TRUE(ReadFile(entryFile, &text)) << entryFile;
  std::string raw = "<no " + key + ">";
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind(key + "=", 0) == 0) raw = line.substr(key.size() + 1);
  }
  std::string value;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      char e = raw[++i];
      value += e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    } else {
      value += raw[i];
    }
  }
  return value;
}

// The arguments of an Exec value: quoted arguments unquoted, %% a percent sign.
std::vector<std::string> ExecArguments(const std::string& exec) {
  std::vector<std::string> args;
  std::string cur;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
      cur += '%';
      ++i;
      any = true;
    } else if (quoted && c == '\\' && i + 1 < exec.size() &&
               std::string("\"`$\\").find(exec[i + 1]) != std::string::npos) {
      cur += exec[++i];
    } else if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) args.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) args.push_back(cur);
  return args;
}

std::vector<std::string> ReceiptEntries(const std::string& prefixOnDisk) {
  std::string archive;
  EXPECT_TRUE(ReadFile(prefixOnDisk + "/" + kReceipt + "/Contents/Archive.txt", &archive));
  std::vector<std::string> entries;
  for (std::size_t start = 0, end; start < archive.size(); start = end + 1) {
    end = archive.find('\n', start);
    if (end == std::string::npos) end = archive.size();
    if (end > start) entries.push_back(archive.substr(start, end - start));
  }
  return entries;
}

RunResult Install(const std::string& prefix, const std::vector<std::string>& env) {
  return RunProgram({CORVIMUS_CMAKE_COMMAND, "--install", CORVIMUS_BUILD_DIR, "--prefix", prefix},
                    "", env, 300000);
}

const std::string kAutostartEntry = "corvimus-loginwindow.desktop";
const std::string kPaneEntry = "share/applications/corvimus-settings.desktop";
const std::string kPaneHost =
    kHome + "/Applications/System Preferences.app/Contents/MacOS/System Preferences";

// The pane's desktop entry starts the installed host on the installed pane.
void ExpectPaneEntryNames(const std::string& prefixOnDisk, const std::string& prefix) {
  const auto args = ExecArguments(DesktopValue(prefixOnDisk + "/" + kPaneEntry, "Exec"));
  ASSERT_EQ(args.size(), 3u) << DesktopValue(prefixOnDisk + "/" + kPaneEntry, "Exec");
  EXPECT_EQ(args[0], prefix + "/" + kPaneHost);
  EXPECT_EQ(args[1], "--pane");
  EXPECT_EQ(args[2], prefix + "/" + kPane);
}

}  // namespace

TEST(InstallLocations, ForUsrAndUsrLocalTheAutostartEntryGoesToEtcXdg) {
  for (const std::string prefix : {"/usr", "/usr/local"}) {
    TempDir dir;
    const std::string stage = dir / "stage";
    RunResult install = Install(prefix, {"DESTDIR=" + stage});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const std::string entry = stage + "/etc/xdg/autostart/" + kAutostartEntry;
    ASSERT_TRUE(Exists(entry)) << prefix;
    EXPECT_FALSE(Exists(stage + prefix + "/etc")) << prefix;
    EXPECT_EQ(ExecArguments(DesktopValue(entry, "Exec")),
              std::vector<std::string>{prefix + "/bin/corvimus-loginwindow"});
    EXPECT_TRUE(Exists(stage + prefix + "/bin/corvimus-loginwindow"));
    ExpectPaneEntryNames(stage + prefix, prefix);
    // The receipt lists the entry outside the prefix by where it lies on the installed system.
    const auto entries = ReceiptEntries(stage + prefix);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "/etc/xdg/autostart/" + kAutostartEntry),
              1)
        << prefix;
    for (const auto& e : entries)
      EXPECT_TRUE(Exists(e[0] == '/' ? stage + e : stage + prefix + "/" + e)) << e;
  }
}

TEST(InstallLocations, AUsersOwnPrefixPutsTheEntryInHisAutostartFolderAndTheReceiptRemovesIt) {
  TempDir dir;
  const std::string home = dir / "home of erin";
  const std::string prefix = home + "/.local";
  RunResult install = Install(prefix, {"DESTDIR=", "HOME=" + home, "XDG_CONFIG_HOME="});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const std::string entry = home + "/.config/autostart/" + kAutostartEntry;
  ASSERT_TRUE(Exists(entry));
  EXPECT_FALSE(Exists(prefix + "/etc"));
  EXPECT_EQ(ExecArguments(DesktopValue(entry, "Exec")),
            std::vector<std::string>{prefix + "/bin/corvimus-loginwindow"});
  ExpectPaneEntryNames(prefix, prefix);

  // Every file the receipt lists is there, and removing them all (relative names from the prefix,
  // absolute ones as they are) leaves no installed file behind, inside the prefix or outside.
  const auto entries = ReceiptEntries(prefix);
  ASSERT_GT(entries.size(), 10u);
  for (const auto& e : entries) {
    const std::string path = e[0] == '/' ? e : prefix + "/" + e;
    EXPECT_EQ(unlink(path.c_str()), 0) << e;
  }
  EXPECT_FALSE(Exists(entry));
  for (const auto& [rel, item] : ListTree(prefix)) {
    if (item.kind == 'd' || Under(rel, kReceipt) || rel == kLog) continue;
    ADD_FAILURE() << "installed but not in the receipt: " << rel;
  }

  // With a configuration folder of the user's choosing, the entry goes there.
  const std::string config = dir / "config";
  install = Install(prefix, {"DESTDIR=", "HOME=" + home, "XDG_CONFIG_HOME=" + config});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  EXPECT_TRUE(Exists(config + "/autostart/" + kAutostartEntry));
}

TEST(InstallLocations, AnyOtherPrefixKeepsEverythingInsideAndEveryEntryNamesThatPrefix) {
  TempDir dir;
  // Characters a desktop entry and a tmpfiles.d rule must escape.
  const std::string prefix = dir / "opt corvimus $HOME `x` \"q\" 100%";
  RunResult install = Install(prefix, {"DESTDIR="});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const std::string entry = prefix + "/etc/xdg/autostart/" + kAutostartEntry;
  ASSERT_TRUE(Exists(entry));
  const auto launcher = ExecArguments(DesktopValue(entry, "Exec"));
  ASSERT_EQ(launcher, std::vector<std::string>{prefix + "/bin/corvimus-loginwindow"});
  EXPECT_TRUE(Exists(launcher[0]));
  ExpectPaneEntryNames(prefix, prefix);
  EXPECT_TRUE(Exists(prefix + "/" + kPaneHost));
  const auto uninstaller = ExecArguments(
      DesktopValue(prefix + "/share/applications/com.kelvane.mouse.uninstaller.desktop", "Exec"));
  ASSERT_EQ(uninstaller.size(), 1u);
  EXPECT_EQ(uninstaller[0], prefix + "/" + kUninstaller + "/Contents/MacOS/Corvimus Uninstaller");
  // Desktops skip an entry whose program is gone: each names its own program as it lies.
  EXPECT_EQ(DesktopValue(entry, "TryExec"), launcher[0]);
  EXPECT_EQ(
      DesktopValue(prefix + "/share/applications/com.kelvane.mouse.uninstaller.desktop", "TryExec"),
      uninstaller[0]);
  // The button tester lies in the Applications folder, where its entry finds it.
  const auto tester = ExecArguments(
      DesktopValue(prefix + "/share/applications/corvimus-button-tester.desktop", "Exec"));
  ASSERT_EQ(tester.size(), 1u);
  EXPECT_EQ(tester[0],
            prefix + "/" + kHome +
                "/Applications/Mouse Button Tester.app/Contents/MacOS/Mouse Button Tester");
  EXPECT_TRUE(Exists(tester[0]));
  // Every program's words in German go with it.
  for (const std::string& catalogue :
       {kPane + "/Contents/Resources/de.lproj/Corvimus.qm",
        kPane + "/Contents/Resources/de.lproj/CommandTable.qm",
        kPane + "/Contents/Resources/de.lproj/MouseButtonsView.strings",
        kPane + "/Contents/Resources/de.lproj/StringLists.strings",
        kHome + "/Applications/Mouse Button Tester.app/Contents/Resources/de.lproj/ButtonTester.qm",
        kHome + "/Applications/System Preferences.app/Contents/Resources/de.lproj/PaneHost.qm",
        kUninstaller + "/Contents/Resources/de.lproj/Uninstaller.qm"})
    EXPECT_TRUE(Exists(prefix + "/" + catalogue)) << catalogue;
  for (const auto& e : ReceiptEntries(prefix)) EXPECT_NE(e[0], '/') << e;
  // Every file made from a template has all of its placeholders filled in; the manual pages name
  // the installed files by this prefix.
  for (const auto& [rel, item] : ListTree(prefix)) {
    std::string text;
    if (item.kind != 'f' || !ReadFile(prefix + "/" + rel, &text) || text.find('\0') != text.npos)
      continue;
    EXPECT_EQ(text.find("@CORVIMUS_"), std::string::npos) << rel;
    EXPECT_EQ(text.find("@PROJECT_"), std::string::npos) << rel;
  }
  std::string page;
  ASSERT_TRUE(ReadFile(prefix + "/share/man/man8/corvimusd.8", &page));
  EXPECT_NE(page.find(".I " + prefix + "/\\:lib/"), std::string::npos) << page;

  // The cleanup rule names the same folders, as systemd-tmpfiles reads it.
  if (geteuid() != 0 || access("/usr/bin/systemd-tmpfiles", X_OK) != 0) return;
  MakeFolder(prefix + "/" + kHome + "/Applications/.corvimus-cleanup/left");
  RunResult boot = RunProgram({"/usr/bin/systemd-tmpfiles", "--create", "--remove",
                               prefix + "/lib/tmpfiles.d/corvimus.conf"},
                              "", {}, 60000);
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_TRUE(Exists(prefix + "/" + kCleanup));
  EXPECT_FALSE(Exists(prefix + "/" + kHome + "/Applications/.corvimus-cleanup/left"));
  EXPECT_TRUE(Exists(prefix + "/" + kHome + "/Applications/.corvimus-cleanup"));
}

TEST(StagedInstallation, TheCleanupRuleEmptiesOnlyTheFoldersTheSystemMakes) {
  if (geteuid() != 0 || access("/usr/bin/systemd-tmpfiles", X_OK) != 0)
    GTEST_SKIP() << "needs root and systemd-tmpfiles";
  TempDir dir;
  const std::string stage = dir / "stage";
  RunResult install = Install("/usr/local", {"DESTDIR=" + stage});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const std::string home = stage + "/usr/local/" + kHome;
  // The tops of file systems mounted one and two levels inside the installation's folder...
  for (const std::string& made : {home + "/Applications/.corvimus-cleanup/Corvimus Uninstaller.app",
                                  home + "/Applications/Utilities/.corvimus-cleanup/old"})
    MakeFolder(made + "/Contents");
  // ...and folders of the same name anywhere else, which belong to someone else.
  const std::vector<std::string> others = {
      stage + "/.corvimus-cleanup/kept", stage + "/home/.corvimus-cleanup/kept",
      stage + "/home/alice/.corvimus-cleanup/kept", stage + "/media/usb/.corvimus-cleanup/kept",
      home + "/Applications/Utilities/Corvimus Uninstaller.app/.corvimus-cleanup/kept"};
  for (const auto& other : others) {
    MakeFolder(other.substr(0, other.rfind('/')));
    WriteFile(other, "");
  }

  RunResult boot = RunProgram({"/usr/bin/systemd-tmpfiles", "--root=" + stage, "--create",
                               "--remove", stage + "/usr/local/lib/tmpfiles.d/corvimus.conf"},
                              "", {}, 60000);
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_FALSE(Exists(home + "/Applications/.corvimus-cleanup/Corvimus Uninstaller.app"));
  EXPECT_FALSE(Exists(home + "/Applications/Utilities/.corvimus-cleanup/old"));
  EXPECT_TRUE(Exists(home + "/Applications/Utilities/.corvimus-cleanup"));
  for (const auto& other : others) EXPECT_TRUE(Exists(other)) << other;
}
