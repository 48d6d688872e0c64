#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/LaunchServices.h"
#include "platform/LoginWindow.h"
#include "testing/PropertyListFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::LoginItemListXml;
using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

// Pids of the processes running the executable file at path.
std::vector<pid_t> ProcessesRunning(const std::string& path) {
  struct stat target;
  std::vector<pid_t> pids;
  if (stat(path.c_str(), &target) != 0) return pids;
  DIR* proc = opendir("/proc");
  while (dirent* e = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(e->d_name);
    struct stat exe;
    if (pid > 0 && stat(("/proc/" + std::string(e->d_name) + "/exe").c_str(), &exe) == 0 &&
        exe.st_dev == target.st_dev && exe.st_ino == target.st_ino)
      pids.push_back(pid);
  }
  if (proc) closedir(proc);
  return pids;
}

// A copy of the test item program of its own, so tests running side by side never see each
// other's processes as "already running".
std::string CopyTestItem(const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(TEST_ITEM_PATH, to);
  chmod(to.c_str(), 0755);
  return to;
}

std::string MakeBundle(const std::string& bundle, const std::string& exeName) {
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  WriteFile(bundle + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
            "<string>" +
                exeName + "</string></dict></plist>");
  return bundle;
}

// Waits (boundedly) for the started program to note its start in its log.
int LoggedStarts(const std::string& program) {
  std::string log;
  for (int i = 0; i < 200 && !ReadFile(program + ".log", &log); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  int lines = 0;
  for (char c : log) lines += c == '\n';
  return lines;
}

struct EndProcessesAtExit {
  std::vector<std::string> programs;
  ~EndProcessesAtExit() {
    for (const std::string& p : programs)
      for (pid_t pid : ProcessesRunning(p)) kill(pid, SIGTERM);
  }
};

}  // namespace

TEST(LoginWindowLauncher, StartsEachRegisteredProgramOnceAndNotAgainWhileItRuns) {
  TempDir home;
  ASSERT_EQ(mkdir((home / ".config").c_str(), 0755), 0);
  const std::string agentApp = MakeBundle(home / "Apps/CorvimusHelper.app", "CorvimusHelper");
  const std::string agent = CopyTestItem(agentApp + "/Contents/MacOS/CorvimusHelper");
  const std::string tool = CopyTestItem(home / "bin/tool");
  EndProcessesAtExit cleanup{{agent, tool}};
  // The tool is listed twice and something that does not exist once.
  WriteFile(home / ".config/loginwindow.plist",
            LoginItemListXml({{agentApp}, {tool}, {home / "gone.app"}, {tool}}));
  const std::vector<std::string> env = {"HOME=" + home.path(),
                                        "XDG_CONFIG_HOME=" + (home / ".config")};

  auto run = RunProgram({LAUNCHER_PATH}, "", env, 20000);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ProcessesRunning(agent).size(), 1u);
  EXPECT_EQ(ProcessesRunning(tool).size(), 1u);
  EXPECT_EQ(LoggedStarts(agent), 1);
  EXPECT_EQ(LoggedStarts(tool), 1);

  // At the next login (or a second start) they are still running: nothing starts twice.
  run = RunProgram({LAUNCHER_PATH}, "", env, 20000);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ProcessesRunning(agent).size(), 1u);
  EXPECT_EQ(ProcessesRunning(tool).size(), 1u);

  // Once the agent has ended it is started again.
  for (pid_t pid : ProcessesRunning(agent)) kill(pid, SIGKILL);
  for (int i = 0; i < 200 && !ProcessesRunning(agent).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  run = RunProgram({LAUNCHER_PATH}, "", env, 20000);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ProcessesRunning(agent).size(), 1u);
  EXPECT_EQ(ProcessesRunning(tool).size(), 1u);
}

TEST(LoginWindowLauncher, NoListIsNothingToDoAndABadListIsAnErrorNotACrash) {
  TempDir home;
  ASSERT_EQ(mkdir((home / ".config").c_str(), 0755), 0);
  const std::vector<std::string> env = {"HOME=" + home.path(),
                                        "XDG_CONFIG_HOME=" + (home / ".config")};
  EXPECT_EQ(RunProgram({LAUNCHER_PATH}, "", env, 20000).exitCode, 0);
  std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 400000; ++i) deep += "<array>";
  for (const std::string& bad :
       {deep, std::string("<plist><array/></plist>"), std::string("\x01")}) {
    WriteFile(home / ".config/loginwindow.plist", bad);
    auto run = RunProgram({LAUNCHER_PATH}, "", env, 20000);
    EXPECT_EQ(run.exitCode, 1) << run.err;
  }
  EXPECT_EQ(RunProgram({LAUNCHER_PATH, "--extra"}, "", env, 20000).exitCode, 2);
}

TEST(LoginWindowItems, DocumentsAndFoldersGoToTheOpenerOnceAndMissingItemsAreSkipped) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "x");
  ASSERT_EQ(mkdir((dir / "Folder").c_str(), 0755), 0);
  std::vector<std::string> opened;
  std::vector<LoginWindowItem> items = {{dir / "notes.txt", false},
                                        {dir / "Folder", true},
                                        {dir / "missing", false},
                                        {dir / "notes.txt", false}};
  int started = LaunchLoginWindowItems(items, [&](const std::string& path) {
    opened.push_back(path);
    return true;
  });
  EXPECT_EQ(started, 2);
  EXPECT_EQ(opened, (std::vector<std::string>{dir / "notes.txt", dir / "Folder"}));
}

TEST(LoginWindowItems, ABundleStartsThroughItsDeclaredExecutableOnly) {
  TempDir dir;
  std::string program;
  const std::string good = MakeBundle(dir / "Good.app", "Good");
  CopyTestItem(good + "/Contents/MacOS/Good");
  EXPECT_EQ(LSClassifyItem(good, &program), kLSItemBundle);
  EXPECT_EQ(program, good + "/Contents/MacOS/Good");
  // An executable name that leaves Contents/MacOS, or names nothing, makes it a plain folder.
  const std::string escaping = MakeBundle(dir / "Escape.app", "../../../bin/x");
  EXPECT_EQ(LSClassifyItem(escaping, &program), kLSItemDocument);
  EXPECT_EQ(program, "");
  const std::string empty = MakeBundle(dir / "Empty.app", "Nothing");
  EXPECT_EQ(LSClassifyItem(empty, &program), kLSItemDocument);
  WriteFile(dir / "plain", "data");
  EXPECT_EQ(LSClassifyItem(dir / "plain", &program), kLSItemDocument);
  EXPECT_EQ(LSClassifyItem(dir / "none", &program), kLSItemMissing);
  EXPECT_EQ(LSClassifyItem(TEST_ITEM_PATH, &program), kLSItemProgram);
}

TEST(LoginWindowItems, ReadingSkipsWhatIsNoItemAndRefusesWrongShapes) {
  TempDir dir;
  std::vector<LoginWindowItem> items;
  EXPECT_EQ(ReadLoginWindowItems(dir.path(), &items), fnfErr);
  WriteFile(dir / "loginwindow.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
            "<key>AutoLaunchedApplicationDictionary</key><array><string>/x</string>"
            "<dict><key>Path</key><true/></dict>"
            "<dict><key>Path</key><string>/a/B.app</string><key>Hide</key><true/></dict>"
            "<dict><key>Path</key><string>/c</string><key>Hide</key><string>yes</string></dict>"
            "</array></dict></plist>");
  ASSERT_EQ(ReadLoginWindowItems(dir.path(), &items), noErr);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].path, "/a/B.app");
  EXPECT_TRUE(items[0].hide);
  EXPECT_EQ(items[1].path, "/c");
  EXPECT_FALSE(items[1].hide);
  WriteFile(dir / "loginwindow.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
            "<key>AutoLaunchedApplicationDictionary</key><dict/></dict></plist>");
  EXPECT_EQ(ReadLoginWindowItems(dir.path(), &items), resNotFound);
  EXPECT_TRUE(items.empty());
}

TEST(LoginWindowItems, AProgramStartsDetachedAndAFailedStartIsReported) {
  TempDir dir;
  const std::string program = CopyTestItem(dir / "item");
  EndProcessesAtExit cleanup{{program}};
  EXPECT_FALSE(IsProgramRunningForUser(program, getuid()));
  ASSERT_TRUE(StartDetachedProgram(program, {}));
  EXPECT_TRUE(IsProgramRunningForUser(program, getuid()));
  EXPECT_FALSE(IsProgramRunningForUser(program, getuid() + 12345));
  EXPECT_FALSE(StartDetachedProgram(dir / "does-not-exist", {}));
  EXPECT_FALSE(StartDetachedProgram("corvimus-no-such-program-anywhere", {}));
}
