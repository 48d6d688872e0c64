#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::ChildProcess;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

std::string NameOf(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// Copies the peer program to `path` (a copy, not a link: the kernel reports the resolved file).
void InstallCopy(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(TEST_PEER_PATH, path);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

void StartAndWait(ChildProcess* child, const std::string& program, const std::string& runtime) {
  ASSERT_TRUE(child->Start({program}, {"XDG_RUNTIME_DIR=" + runtime}));
  std::string line;
  ASSERT_TRUE(child->ReadLine(&line));
  ASSERT_EQ(line, "ready");
}

struct Seen {
  ProcessSerialNumber psn;
  std::string name;
  OSType signature;
  OSType type;
  ProcessSerialNumber launcher;
};

std::vector<Seen> WalkAll() {
  std::vector<Seen> seen;
  ProcessSerialNumber psn{0, kNoProcess};
  OSErr err;
  while ((err = GetNextProcess(&psn)) == noErr) {
    Str255 name;
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = name;
    if (GetProcessInformation(&psn, &info) != noErr) continue;
    seen.push_back(
        {psn, NameOf(name), info.processSignature, info.processType, info.processLauncher});
  }
  EXPECT_EQ(err, procNotFound);
  return seen;
}

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProcessScopeForTesting(getpid()); }
  void TearDown() override { SetProcessScopeForTesting(0); }
  TempDir dir_;
};

TEST_F(ProcessesTest, NamesComeFromBundlesOrTheExecutable) {
  std::string runtime = dir_.path();
  std::string plain = dir_ / "bin/corvimus-plain-tool";
  std::string bare = dir_ / "Bare Helper.app/Contents/MacOS/bare";
  std::string listed = dir_ / "Listed.app/Contents/MacOS/listed";
  InstallCopy(plain);
  InstallCopy(bare);
  InstallCopy(listed);
  WriteFile(dir_ / "Listed.app/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<plist version=\"1.0\"><dict>\n"
            "<key>CFBundleName</key><string>Différent Name</string>\n"
            "<key>CFBundleSignature</key><string>CvMP</string>\n"
            "</dict></plist>\n");
  // A damaged list is as good as none.
  WriteFile(dir_ / "Bare Helper.app/Contents/Info.plist", "<plist><dict><key>CFBundleName");
  ChildProcess a, b, c;
  ASSERT_NO_FATAL_FAILURE(StartAndWait(&a, plain, runtime));
  ASSERT_NO_FATAL_FAILURE(StartAndWait(&b, bare, runtime));
  ASSERT_NO_FATAL_FAILURE(StartAndWait(&c, listed, runtime));

  std::vector<Seen> seen = WalkAll();
  ProcessSerialNumber self;
  ASSERT_EQ(GetCurrentProcess(&self), noErr);
  auto find = [&](pid_t pid) -> const Seen* {
    for (const auto& s : seen)
      if (s.psn.lowLongOfPSN == UInt32(pid)) return &s;
    return nullptr;
  };
  ASSERT_EQ(seen.size(), 4u);  // this process and its three children, nothing from elsewhere
  const Seen* sa = find(a.pid());
  const Seen* sb = find(b.pid());
  const Seen* sc = find(c.pid());
  ASSERT_TRUE(sa && sb && sc && find(getpid()));
  EXPECT_EQ(sa->name, "corvimus-plain-tool");
  EXPECT_EQ(sa->signature, FourCC("????"));
  EXPECT_EQ(sb->name, "Bare Helper");
  EXPECT_EQ(sb->signature, FourCC("????"));
  EXPECT_EQ(sc->name, "Différent Name");
  EXPECT_EQ(sc->signature, FourCC("CvMP"));
  EXPECT_EQ(sc->type, FourCC("APPL"));
  Boolean same = false;
  ASSERT_EQ(SameProcess(&sc->launcher, &self, &same), noErr);
  EXPECT_TRUE(same);
  // Ascending pids, each once.
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_LT(seen[i - 1].psn.lowLongOfPSN, seen[i].psn.lowLongOfPSN);
}

TEST_F(ProcessesTest, EndedProcessHasNoInformation) {
  ChildProcess child;
  ASSERT_NO_FATAL_FAILURE(StartAndWait(&child, TEST_PEER_PATH, dir_.path()));
  ProcessSerialNumber psn;
  ASSERT_EQ(GetProcessForPID(child.pid(), &psn), noErr);
  ProcessInfoRec info{};
  EXPECT_EQ(GetProcessInformation(&psn, &info), noErr);
  child.Signal(SIGKILL);
  int status;
  ASSERT_TRUE(child.Wait(&status));
  EXPECT_EQ(GetProcessInformation(&psn, &info), procNotFound);
  pid_t pid;
  EXPECT_EQ(GetProcessPID(&psn, &pid), procNotFound);
}

TEST_F(ProcessesTest, NameFollowsAnExec) {
  // The pane starts the agent this way: a forked copy of itself that then runs the agent.
  ChildProcess child;
  std::string peer = std::filesystem::path(TEST_PEER_PATH).filename();
  ASSERT_TRUE(child.Start({"/bin/sh", "-c", std::string("read line; exec '") + TEST_PEER_PATH + "'"},
                          {"XDG_RUNTIME_DIR=" + dir_.path()}));
  ProcessSerialNumber psn;
  ASSERT_EQ(GetProcessForPID(child.pid(), &psn), noErr);
  Str255 name;
  ProcessInfoRec info{};
  info.processName = name;
  // Right after the fork the child is a copy of this program; the name must not stay that.
  std::string shell = std::filesystem::canonical("/bin/sh").filename();
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
    if (NameOf(name) == shell) break;
    usleep(10000);
  }
  EXPECT_EQ(NameOf(name), shell);
  ASSERT_TRUE(child.WriteInput("go\n"));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  ASSERT_EQ(line, "ready");
  ProcessSerialNumber after;
  ASSERT_EQ(GetProcessForPID(child.pid(), &after), noErr);
  Boolean same = false;
  ASSERT_EQ(SameProcess(&psn, &after, &same), noErr);
  EXPECT_TRUE(same);  // the same process, now running another program
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(NameOf(name), peer);
}

TEST(Processes, WalkWithoutScopeListsOnlyOwnProcessesAndNoKernelThreads) {
  SetProcessScopeForTesting(0);
  ProcessSerialNumber psn{0, kNoProcess};
  bool sawSelf = false;
  int count = 0;
  while (GetNextProcess(&psn) == noErr) {
    ++count;
    pid_t pid = pid_t(psn.lowLongOfPSN);
    sawSelf |= pid == getpid();
    struct stat st;
    std::string dir = "/proc/" + std::to_string(pid);
    if (stat(dir.c_str(), &st) == 0) {
      EXPECT_EQ(st.st_uid, getuid());
    }
    // A kernel thread has no executable; every listed process that still runs has one, or is ours
    // and not readable for another reason (then its name still comes from comm).
    std::string stat;
    if (corvimus::testing::ReadFile(dir + "/stat", &stat)) {
      auto close = stat.rfind(')');
      ASSERT_NE(close, std::string::npos);
      std::istringstream fields(stat.substr(close + 2));
      std::string field;
      unsigned long flags = 0;
      for (int i = 3; i <= 9 && fields >> field; ++i)
        if (i == 9) flags = std::stoul(field);
      EXPECT_EQ(flags & 0x00200000, 0u) << "kernel thread " << pid;
    }
  }
  EXPECT_TRUE(sawSelf);
  EXPECT_GT(count, 0);
}

TEST(Processes, SerialNumbersAndArguments) {
  ProcessSerialNumber self, current{0, kCurrentProcess};
  ASSERT_EQ(GetCurrentProcess(&self), noErr);
  EXPECT_EQ(self.lowLongOfPSN, UInt32(getpid()));
  EXPECT_NE(self.highLongOfPSN, 0u);
  Boolean same = false;
  ASSERT_EQ(SameProcess(&self, &current, &same), noErr);
  EXPECT_TRUE(same);
  pid_t pid = 0;
  ASSERT_EQ(GetProcessPID(&current, &pid), noErr);
  EXPECT_EQ(pid, getpid());
  EXPECT_EQ(GetNextProcess(nullptr), paramErr);
  EXPECT_EQ(GetProcessInformation(&self, nullptr), paramErr);
  ProcessInfoRec withSpec{};
  int spec;
  withSpec.processAppSpec = &spec;
  EXPECT_EQ(GetProcessInformation(&self, &withSpec), paramErr);
  ProcessSerialNumber none{0, kNoProcess};
  ProcessInfoRec info{};
  EXPECT_EQ(GetProcessInformation(&none, &info), procNotFound);
  EXPECT_EQ(GetProcessForPID(-1, &none), paramErr);
}

// Sets variables of this process's environment for one test (an empty value unsets) and puts the
// old values back at its end.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Starts a process with these environment entries ("NAME=" for an empty one) and asks whether it
// runs in this process's session.
bool InThisSession(const std::vector<std::string>& env) {
  ChildProcess child;
  // The line comes once the shell runs, so /proc shows the environment it was started with; the
  // shell then waits for its input without starting another program (during an exec the
  // environment cannot be read).
  EXPECT_TRUE(child.Start({"/bin/sh", "-c", "echo ready; read line"}, env));
  std::string line;
  EXPECT_TRUE(child.ReadLine(&line));
  ProcessSerialNumber psn;
  EXPECT_EQ(GetProcessForPID(child.pid(), &psn), noErr);
  Boolean same = true;
  EXPECT_EQ(IsProcessInCurrentSession(&psn, &same), noErr);
  child.CloseInput();
  child.Wait();
  return same;
}

TEST(Processes, SessionsAreToldApartByRuntimeFolderDisplaysAndSessionId) {
  struct Case {
    const char* what;
    std::vector<std::string> env;
    bool same;
  };
  {
    // A terminal on an X display.
    ScopedEnvironment own({{"XDG_RUNTIME_DIR", "/run/user/4242"},
                           {"DISPLAY", ":5"},
                           {"WAYLAND_DISPLAY", ""},
                           {"XDG_SESSION_ID", "7"}});
    const Case cases[] = {
        {"the same environment", {}, true},
        {"the same display, another screen", {"DISPLAY=:5.0"}, true},
        {"the same display with its host named", {"DISPLAY=unix:5"}, true},
        {"the runtime folder written with a slash", {"XDG_RUNTIME_DIR=/run/user/4242/"}, true},
        {"the displays decide over the session id", {"XDG_SESSION_ID=8"}, true},
        {"another display", {"DISPLAY=:6"}, false},
        {"a display on another host", {"DISPLAY=remote:5"}, false},
        {"another runtime folder", {"XDG_RUNTIME_DIR=/run/user/4243"}, false},
        {"no runtime folder at all", {"XDG_RUNTIME_DIR="}, false},
        {"no display", {"DISPLAY="}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(InThisSession(c.env), c.same) << c.what;
  }
  {
    // A text console or a remote shell.
    ScopedEnvironment own({{"XDG_RUNTIME_DIR", "/run/user/4242"},
                           {"DISPLAY", ""},
                           {"WAYLAND_DISPLAY", ""},
                           {"XDG_SESSION_ID", "7"}});
    const Case cases[] = {
        {"the same session id", {}, true},
        {"another session id", {"XDG_SESSION_ID=8"}, false},
        {"no session id", {"XDG_SESSION_ID="}, true},
        {"a desktop's process", {"DISPLAY=:5"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(InThisSession(c.env), c.same) << c.what;
  }
  {
    // A Wayland session, whose programs may also reach an X server of their own.
    ScopedEnvironment own({{"XDG_RUNTIME_DIR", "/run/user/4242"},
                           {"DISPLAY", ""},
                           {"WAYLAND_DISPLAY", "wayland-1"},
                           {"XDG_SESSION_ID", ""}});
    const Case cases[] = {
        {"the same compositor by its full path",
         {"WAYLAND_DISPLAY=/run/user/4242/wayland-1"},
         true},
        {"the same compositor with an X server beside it", {"DISPLAY=:0"}, true},
        {"another compositor", {"WAYLAND_DISPLAY=wayland-2"}, false},
        {"only an X display", {"WAYLAND_DISPLAY=", "DISPLAY=:0"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(InThisSession(c.env), c.same) << c.what;
  }
  // The caller is always in its own session.
  ProcessSerialNumber self = {0, kCurrentProcess};
  Boolean same = false;
  ASSERT_EQ(IsProcessInCurrentSession(&self, &same), noErr);
  EXPECT_TRUE(same);
}

TEST(Processes, TestSeamsReplaceTheTableAndTheFrontProcess) {
  std::vector<TestProcess> table = {
      {{10, 100}, "Finder", FourCC("MACS")},
      {{11, 200}, std::string(300, 'x'), FourCC("????")},
  };
  SetProcessTableForTesting(&table);
  ProcessSerialNumber psn{0, kNoProcess};
  ASSERT_EQ(GetNextProcess(&psn), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, 100u);
  Str255 name;
  ProcessInfoRec info{};
  info.processName = name;
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(NameOf(name), "Finder");
  EXPECT_EQ(info.processSignature, FourCC("MACS"));
  ASSERT_EQ(GetNextProcess(&psn), noErr);
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(name[0], 255);  // cut to what a Pascal string holds
  EXPECT_EQ(GetNextProcess(&psn), procNotFound);
  SetProcessTableForTesting(nullptr);

  SetFrontProcessSourceForTesting([](ProcessSerialNumber* out) {
    *out = {10, 100};
    return OSErr(noErr);
  });
  ASSERT_EQ(GetFrontProcess(&psn), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, 100u);
  SetFrontProcessSourceForTesting(nullptr);
}

}  // namespace
