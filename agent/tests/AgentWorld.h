// A world for the agent to live in during a test: its own runtime, Preferences and home folders,
// an installation prefix, a private X server, the simulated driver with a record of every call it
// receives, stand-in applications in bundles, and the agent itself, all as real processes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/CorvimusDriver.h"
#include "settings/CorvimusEvents.h"
#include "settings/CorvimusPrefs.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"
#include "testing/XvfbServer.h"

namespace agenttest {

// One call the simulated driver received, as its record file tells it.
struct DriverCall {
  UInt32 mouse = 0;
  UInt32 selector = 0;
  std::string code;  // 'CvSe', 'CVsd', 'CVtk', 'MCDV'
  std::vector<long long> scalars;
  long long result = 0;
  bool hasRecord = false;  // an accepted settings record
  CorvimusPrefsRec record{};
};

// A stand-in application running from a bundle of its own.
struct TestApp {
  std::string name;
  corvimus::testing::ChildProcess process;
};

// A settings record that is easy to recognise by its speed.
CorvimusPrefsRec MakeRecord(OSType application, const std::string& fileName, UInt8 speed);
void SetPascal(unsigned char* field, size_t fieldSize, const std::string& text);

class AgentWorld : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts corvimus-simdriver with `mice` mice, the first `bluetooth` of them Bluetooth.
  void StartDriver(int mice, int bluetooth = 0);
  // Starts CorvimusHelper and waits until every mouse got its first record and the agent answers
  // the pane's device query.
  void StartAgent(int expectedMice);
  // Sends a control line to the simulator; returns its answer.
  std::string Sim(const std::string& line);

  // Writes the settings file the way the pane does.
  void WriteSettings(const std::vector<CorvimusPrefsRec>& records);
  std::string SettingsPath() const;

  // Makes a bundle "<bundleName>.app" around the stand-in application, with CFBundleName `name`
  // and the signature (none when empty), and starts it.
  TestApp* Launch(const std::string& bundleName, const std::string& name,
                  const std::string& signature, const std::vector<std::string>& env = {});
  void MakeAppBundle(const std::string& path, const std::string& name,
                     const std::string& signature);
  // Makes the app's window the active one.
  void Front(TestApp* app);

  std::vector<DriverCall> Calls() const;
  std::vector<DriverCall> CallsOf(UInt32 mouse, const std::string& code) const;
  // Waits (up to 15 s) until `done` holds for the calls recorded so far.
  bool WaitForCalls(const std::function<bool(const std::vector<DriverCall>&)>& done);
  // Waits until mouse `mouse` has had `count` calls with `code`.
  bool WaitForCount(UInt32 mouse, const std::string& code, size_t count);
  // The last record mouse `mouse` accepted, or null.
  bool LastRecord(UInt32 mouse, CorvimusPrefsRec* record) const;
  // Waits until the last record of every one of `mice` mice has `speed`.
  bool WaitForSpeed(int mice, UInt8 speed);

  // Sends the agent process an event without reply, addressed by its serial number.
  OSErr SendToAgent(AEEventClass eventClass, AEEventID eventID);

  // The pane's device query, retried for a while when the agent is busy.
  OSErr Devices(CorvimusDeviceList* list);
  bool WaitForDeviceCount(SInt16 count);

  corvimus::testing::TempDir root_;
  corvimus::testing::XvfbServer x_;
  corvimus::testing::ChildProcess sim_;
  corvimus::testing::ChildProcess agent_;
  std::vector<std::unique_ptr<TestApp>> apps_;
  std::string recordPath_;
  std::vector<std::string> agentEnv_;
};

}  // namespace agenttest
