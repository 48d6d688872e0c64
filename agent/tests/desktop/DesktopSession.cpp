#include "DesktopSession.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace agenttest {

namespace fs = std::filesystem;
using corvimus::testing::ChildProcess;
using corvimus::testing::RunProgram;
using corvimus::testing::WriteFile;

namespace {

constexpr UInt32 kMice = 2;

}  // namespace

std::string FindProgram(const std::string& name) {
  return corvimus::testing::SystemProgram(name);
}

void DesktopSession::SetUp() {
  AgentWorld::SetUp();
  if (IsSkipped() || HasFatalFailure()) return;
  home_ = root_ / "home";
  runtime_ = root_ / "run";
  std::string why;
  ASSERT_TRUE(user_.Create(home_, &why)) << why;
  uid_ = user_.uid();
  gid_ = user_.gid();
  for (const char* sub : {"data/applications", "bin", "lib", "config"})
    fs::create_directories(root_ / sub);
  // The test reads the record file and the settings, and writes entries; the user owns it all.
  chmod(root_.path().c_str(), 0755);
  env_ = {{"HOME", home_},
          {"XDG_RUNTIME_DIR", runtime_},
          {"XDG_CONFIG_HOME", root_ / "config"},
          {"XDG_DATA_HOME", root_ / "data"},
          {"XDG_DATA_DIRS", root_ / "nothing"},
          {"CORVIMUS_PREFIX", root_ / "prefix"},
          {"PATH", "/usr/local/bin:/usr/bin:/bin"},
          {"LANG", "C.UTF-8"},
          {"DISPLAY", ""},
          {"GDK_BACKEND", "wayland"},
          {"NO_AT_BRIDGE", "1"}};
  user_.Own(root_.path());
}

void DesktopSession::TearDown() {
  for (auto& [name, app] : windows_)
    if (app) app->CloseInput();
  AgentWorld::TearDown();
  spawned_.clear();
  user_.EndProcesses();
}

std::vector<std::string> DesktopSession::SessionEnv() const {
  std::vector<std::string> env;
  for (const auto& [k, v] : env_) env.push_back(k + "=" + v);
  return env;
}

std::vector<std::string> DesktopSession::AsUser(const std::vector<std::string>& argv) const {
  return user_.Wrap(argv);
}

int DesktopSession::RunAsUser(const std::vector<std::string>& argv, std::string* out,
                              int timeoutMs) {
  auto r = RunProgram(AsUser(argv), {}, SessionEnv(), timeoutMs);
  if (out) *out = r.out;
  if (r.exitCode != 0) ADD_FAILURE() << argv[0] << " failed (" << r.exitCode << "): " << r.err;
  return r.exitCode;
}

ChildProcess* DesktopSession::Spawn(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& extraEnv) {
  auto env = SessionEnv();
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  auto child = std::make_unique<ChildProcess>();
  if (!child->Start(AsUser(argv), env)) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return nullptr;
  }
  spawned_.push_back(std::move(child));
  return spawned_.back().get();
}

bool DesktopSession::StartBus(bool system) {
  std::string daemon = FindProgram("dbus-daemon");
  if (daemon.empty()) return false;
  user_.Own(root_.path());
  for (int bus = 0; bus < (system ? 2 : 1); ++bus) {
    std::string socket = runtime_ + (bus == 0 ? "/bus" : "/system-bus");
    // The session configuration for both: a private system bus needs no policy of its own here.
    ChildProcess* d = Spawn({daemon, "--session", "--nofork", "--nopidfile", "--print-address=1",
                             "--address=unix:path=" + socket});
    std::string address;
    if (!d || !d->ReadLine(&address, 10000) || address.empty()) return false;
    env_[bus == 0 ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS"] = address;
  }
  return true;
}

void DesktopSession::StartAgentSession() {
  std::string client = root_ / "lib/window-client.py";
  fs::copy_file(DESKTOP_WINDOW_CLIENT, client, fs::copy_options::overwrite_existing);
  for (const char* name : {"alpha", "delta"}) {
    fs::copy_file(client, root_ / ("bin/" + std::string(name)),
                  fs::copy_options::overwrite_existing);
    chmod((root_ / ("bin/" + std::string(name))).c_str(), 0755);
  }
  WriteFile(root_ / "bin/beta", "#!/bin/sh\nexec /usr/bin/python3 " + client + " \"$1\" BetaApp\n");
  chmod((root_ / "bin/beta").c_str(), 0755);
  std::string apps = root_ / "data/applications/";
  WriteFile(apps + "org.example.Alpha.desktop",
            "[Desktop Entry]\nType=Application\nName=Alpha\nExec=" + root_ / "bin/alpha" + "\n");
  WriteFile(apps + "org.example.Beta.desktop",
            "[Desktop Entry]\nType=Application\nName=Beta\nExec=" + root_ / "bin/beta" +
                " %U\nStartupWMClass=BetaApp\n");
  WriteFile(apps + "org.example.Gamma.desktop",
            "[Desktop Entry]\nType=Application\nName=Gamma\nExec=flatpak run org.example.Gamma\n"
            "X-Flatpak=org.example.Gamma\n");
  WriteFile(apps + "org.example.Delta.desktop",
            "[Desktop Entry]\nType=Application\nName=Delta\nExec=" + root_ / "bin/delta" + "\n");
  // Gamma's sandbox: the host's folders bound in, and the file a Flatpak sandbox carries.
  std::string sandbox = root_ / "sandbox";
  for (const char* d : {"usr", "etc", "dev", "tmp", "proc", "run"})
    fs::create_directories(sandbox + "/" + d);
  for (const char* link : {"bin", "lib", "lib64", "sbin"})
    if (fs::is_symlink(std::string("/") + link))
      fs::create_symlink(fs::read_symlink(std::string("/") + link), sandbox + "/" + link);
  WriteFile(sandbox + "/.flatpak-info",
            "[Application]\nname=org.example.Gamma\nruntime=runtime/org.example.Platform\n");
  user_.Own(root_.path());
  chown(sandbox.c_str(), 0, 0);

  // The records, added from the entries as a user would; each with its own speed.
  ASSERT_EQ(0, RunAsUser({CORVIMUS_PREFS, "init"}));
  ASSERT_EQ(0, RunAsUser({CORVIMUS_PREFS, "set", "speed", std::to_string(kGlobalSpeed)}));
  for (auto [id, speed] : {std::pair{"org.example.Alpha", kAlphaSpeed},
                           std::pair{"org.example.Beta", kBetaSpeed},
                           std::pair{"org.example.Gamma.desktop", kGammaSpeed}}) {
    ASSERT_EQ(0, RunAsUser({CORVIMUS_PREFS, "add-app", id}));
    std::string name = std::string(id).substr(12, 5);  // the entry's Name
    ASSERT_EQ(0, RunAsUser({CORVIMUS_PREFS, "set", "--app", name, "speed", std::to_string(speed)}));
  }

  sim_.Start(AsUser({CORVIMUS_SIMDRIVER, "--mice", std::to_string(kMice), "--bluetooth", "0",
                     "--record", recordPath_}),
             SessionEnv());
  std::string line;
  ASSERT_TRUE(sim_.ReadLine(&line));
  ASSERT_EQ(0u, line.rfind("ready", 0)) << line;
  ASSERT_TRUE(agent_.Start(AsUser({CORVIMUS_HELPER}), SessionEnv()));
  for (UInt32 mouse = 1; mouse <= kMice; ++mouse)
    ASSERT_TRUE(WaitForCount(mouse, "CVsd", 1)) << "mouse " << mouse << " was not set up";
}

ChildProcess* DesktopSession::Open(const std::string& app) {
  ChildProcess* p = nullptr;
  if (app == "gamma") {
    // Made as root (a mount namespace and a changed root), run as the user.
    std::string sandbox = root_ / "sandbox";
    std::string script = "set -e; for d in usr etc dev tmp run; do mount --rbind /$d " + sandbox +
                         "/$d; done; mount -t proc proc " + sandbox +
                         "/proc; exec " + FindProgram("chroot") + " --userspec=" + std::to_string(uid_) + ":" +
                         std::to_string(gid_) + " " + sandbox + " /usr/bin/python3 " +
                         root_ / "lib/window-client.py" + " gamma";
    if (getuid() != 0) {
      ADD_FAILURE() << "the sandboxed stand-in needs root";
      return nullptr;
    }
    auto child = std::make_unique<ChildProcess>();
    if (!child->Start({FindProgram("unshare"), "--mount", "--propagation", "private", "/bin/sh",
                       "-c", script},
                      SessionEnv())) {
      ADD_FAILURE() << "cannot start the sandboxed stand-in";
      return nullptr;
    }
    spawned_.push_back(std::move(child));
    p = spawned_.back().get();
  } else {
    p = Spawn({root_ / ("bin/" + app), app});
  }
  if (!p) return nullptr;
  std::string line;
  EXPECT_TRUE(p->ReadLine(&line, 20000) && line == "ready") << app << " did not show its window";
  windows_[app] = p;
  return p;
}

void DesktopSession::Close(const std::string& app) {
  auto it = windows_.find(app);
  ASSERT_NE(it, windows_.end());
  it->second->CloseInput();
  it->second->Wait(10000);
  windows_.erase(it);
}

void DesktopSession::SwitchThroughTheApplications(const std::function<void()>& backToAlpha) {
  ASSERT_NE(nullptr, Open("alpha"));
  ExpectBothMice(kAlphaSpeed, "a script run by python3 in front");
  ASSERT_NE(nullptr, Open("beta"));
  ExpectBothMice(kBetaSpeed, "a wrapper's window in front");
  ASSERT_NO_FATAL_FAILURE(backToAlpha());
  ExpectBothMice(kAlphaSpeed, "back to alpha");
  ASSERT_NE(nullptr, Open("delta"));
  ExpectBothMice(kGlobalSpeed, "an application without a record");
  ASSERT_NE(nullptr, Open("gamma"));
  ExpectBothMice(kGammaSpeed, "a sandboxed application");
}

void DesktopSession::ExpectBothMice(UInt8 speed, const std::string& when) {
  EXPECT_TRUE(WaitForSpeed(int(kMice), speed))
      << when << ": the mice did not get the record of speed " << int(speed);
}

}  // namespace agenttest
