// A desktop session for the agent to follow: a real compositor started headless, real client
// windows, the simulated driver and the agent, all running as one user. Tests that run as root
// make a throwaway user for it (sway refuses to run as root) and remove it afterwards, with every
// process it still has.
//
// The applications of every session:
//   alpha  a python3 script with a GTK window; its desktop entry org.example.Alpha starts the
//          script itself, so only the script it runs can tell it
//   beta   a wrapper script that starts the same client under another name; its entry
//          org.example.Beta starts the wrapper and names the window's class (StartupWMClass)
//   gamma  a Flatpak-like process: the client in a sandbox whose root holds /.flatpak-info for
//          org.example.Gamma, the id its exported entry carries (X-Flatpak)
//   delta  a client with an entry but no settings record: the global record applies
// Records are added with corvimus-prefs add-app from the entry ids, as a user would.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../AgentWorld.h"
#include "testing/ThrowawayUser.h"

namespace agenttest {

// Speeds that tell the records apart.
inline constexpr UInt8 kGlobalSpeed = 10, kAlphaSpeed = 20, kBetaSpeed = 30, kGammaSpeed = 40;

class DesktopSession : public AgentWorld {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The argv that runs `argv` as the session's user.
  std::vector<std::string> AsUser(const std::vector<std::string>& argv) const;
  // Runs a program as the user with the session's environment; its exit status.
  int RunAsUser(const std::vector<std::string>& argv, std::string* out = nullptr,
                int timeoutMs = 20000);
  // Starts a long-running program as the user; null (with a test failure) when it cannot.
  corvimus::testing::ChildProcess* Spawn(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& extraEnv = {});
  // A private session bus (and, with `system`, a second one for DBUS_SYSTEM_BUS_ADDRESS).
  bool StartBus(bool system = false);

  // The environment of everything in the session; compositors add their own variables.
  std::vector<std::string> SessionEnv() const;
  std::map<std::string, std::string> env_;

  // Writes the desktop entries and scripts, and the settings with the records of alpha, beta and
  // gamma; starts the simulator with two mice and the agent, and waits until both mice have the
  // record the agent chose first.
  void StartAgentSession();
  // Starts one of the applications (alpha, beta, gamma, delta) with its window titled by name.
  corvimus::testing::ChildProcess* Open(const std::string& app);
  // Closes a window's application.
  void Close(const std::string& app);
  // The switches every desktop goes through, up to the sandboxed application in front: alpha,
  // beta, alpha again (brought back by `backToAlpha`, which may close beta), delta without a
  // record, gamma.
  void SwitchThroughTheApplications(const std::function<void()>& backToAlpha);
  // Waits until both mice hold the record with `speed`; fails the test otherwise.
  void ExpectBothMice(UInt8 speed, const std::string& when);

  corvimus::testing::ThrowawayUser user_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  std::string home_;
  std::string runtime_;
  std::map<std::string, corvimus::testing::ChildProcess*> windows_;

 private:
  std::vector<std::unique_ptr<corvimus::testing::ChildProcess>> spawned_;
};

// The program's path in the usual system folders; empty when it is not installed.
std::string FindProgram(const std::string& name);

}  // namespace agenttest
