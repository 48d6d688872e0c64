#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/PaneAgentEvents.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::ChildProcess;
using corvimus::testing::TempDir;

namespace {

std::string Pascal(const std::string& s) {
  return std::string(1, char(s.size())) + s;
}
const unsigned char* P(const std::string& pascal) {
  return reinterpret_cast<const unsigned char*>(pascal.data());
}

class PaneAgentEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    // Only this test's own children: agents of tests running beside it are not ours to find.
    SetProcessScopeForTesting(getpid());
  }
  void TearDown() override { SetProcessScopeForTesting(0); }

  // Starts the stand-in agent laid out as the bundle <name>.app, so its process name is `name`.
  void StartAgent(ChildProcess* agent, const std::string& name,
                  std::vector<std::string> args = {}) {
    std::string folder = dir_ / (name + ".app/Contents/MacOS");
    std::filesystem::create_directories(folder);
    std::string program = folder + "/" + name;
    if (!std::filesystem::exists(program)) std::filesystem::copy_file(TEST_AGENT_PATH, program);
    args.insert(args.begin(), program);
    ASSERT_TRUE(agent->Start(args));
    std::string line;
    ASSERT_TRUE(agent->ReadLine(&line));
    ASSERT_EQ(line, "ready");
  }

  TempDir dir_;
};

CorvimusDeviceList Filled(UInt8 byte) {
  CorvimusDeviceList list;
  std::memset(&list, byte, sizeof list);
  return list;
}

bool Same(const CorvimusDeviceList& a, const CorvimusDeviceList& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(PaneAgentEventsTest, FindsTheAgentByNameWithCaseIgnoredAndAccentsRespected) {
  ChildProcess accented, lower;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&accented, "CorvimusHélper"));
  ProcessSerialNumber psn;
  EXPECT_EQ(FindNamedProcess(kCorvimusHelperName, &psn), procNotFound);
  ASSERT_NO_FATAL_FAILURE(StartAgent(&lower, "corvimushelper"));
  ASSERT_EQ(FindNamedProcess(kCorvimusHelperName, &psn), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, UInt32(lower.pid()));
  EXPECT_EQ(FindNamedProcess(kCorvimusHelperName, nullptr), noErr);
  ASSERT_EQ(FindNamedProcess(P(Pascal("CORVIMUSHÉLPER")), &psn), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, UInt32(accented.pid()));
  EXPECT_EQ(FindNamedProcess(P(Pascal("CorvimusHelp")), &psn), procNotFound);
}

TEST_F(PaneAgentEventsTest, ConnectedDevicesComeBackAsTheAgentListedThem) {
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&agent, "CorvimusHelper", {"--devices", "3"}));
  CorvimusDeviceList list = Filled(0xA5);
  ASSERT_EQ(GetConnectedDevices(&list), noErr);
  EXPECT_EQ(list.count, 3);
  EXPECT_EQ(list.filler1, 0);
  EXPECT_STREQ(list.device[0].productName, "Mouse 1");
  EXPECT_STREQ(list.device[2].productName, "Mouse 3");
  EXPECT_EQ(list.device[1].transport, kCorvimusTransportBluetooth);
  EXPECT_EQ(list.device[2].numButtons, 5);
  const auto* rest = reinterpret_cast<const UInt8*>(&list.device[3]);
  EXPECT_TRUE(
      std::all_of(rest, rest + 7 * sizeof(CorvimusDeviceInfo), [](UInt8 b) { return b == 0; }));
}

TEST_F(PaneAgentEventsTest, MoreThanTenDevicesListTheFirstTenAndNoneListsZeros) {
  ChildProcess many;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&many, "CorvimusHelper", {"--devices", "12"}));
  CorvimusDeviceList list = Filled(0xA5);
  ASSERT_EQ(GetConnectedDevices(&list), noErr);
  EXPECT_EQ(list.count, 10);
  EXPECT_STREQ(list.device[9].productName, "Mouse 10");
  many.Signal(SIGKILL);
  int status;
  ASSERT_TRUE(many.Wait(&status));

  ChildProcess none;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&none, "CorvimusHelper", {"--devices", "0"}));
  list = Filled(0xA5);
  ASSERT_EQ(GetConnectedDevices(&list), noErr);
  EXPECT_TRUE(Same(list, Filled(0)));
}

TEST_F(PaneAgentEventsTest, ReloadRequestReachesTheAgentWithoutWaiting) {
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&agent, "CorvimusHelper"));
  ASSERT_EQ(RequestDriverPrefsUpdate(), noErr);
  ASSERT_EQ(RequestDriverPrefsUpdate(), noErr);
  std::string line;
  ASSERT_TRUE(agent.ReadLine(&line));
  EXPECT_EQ(line, "reload");
  ASSERT_TRUE(agent.ReadLine(&line));
  EXPECT_EQ(line, "reload");
}

TEST_F(PaneAgentEventsTest, WithoutAnAgentBothCallsReportNoSuchProcess) {
  CorvimusDeviceList list = Filled(0x3C);
  EXPECT_EQ(GetConnectedDevices(&list), procNotFound);
  EXPECT_TRUE(Same(list, Filled(0x3C)));
  EXPECT_EQ(RequestDriverPrefsUpdate(), procNotFound);
  EXPECT_EQ(GetConnectedDevices(nullptr), paramErr);
}

TEST_F(PaneAgentEventsTest, AnAgentThatDoesNotAnswerInFifteenTicksTimesOut) {
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(
      StartAgent(&agent, "CorvimusHelper", {"--devices", "2", "--stall", "1500"}));
  CorvimusDeviceList list = Filled(0x3C);
  EXPECT_EQ(GetConnectedDevices(&list), errAETimeout);
  EXPECT_TRUE(Same(list, Filled(0x3C)));
  // The agent is merely slow: it still ends normally on the quit event.
  ProcessSerialNumber psn;
  ASSERT_EQ(FindNamedProcess(kCorvimusHelperName, &psn), noErr);
  AEAddressDesc target;
  ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target), noErr);
  AppleEvent quit;
  ASSERT_EQ(AECreateAppleEvent(kCoreEventClass, kAEQuitApplication, &target, kAutoGenerateReturnID,
                               kAnyTransactionID, &quit),
            noErr);
  AEDisposeDesc(&target);
  EXPECT_EQ(
      AESend(&quit, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr),
      noErr);
  AEDisposeDesc(&quit);
  int status = -1;
  ASSERT_TRUE(agent.Wait(&status));
  EXPECT_EQ(status, 0);
}

TEST_F(PaneAgentEventsTest, AReplyOfTheWrongTypeIsRefusedAndChangesNothing) {
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&agent, "CorvimusHelper", {"--devices", "2", "--wrong-type"}));
  CorvimusDeviceList list = Filled(0x3C);
  EXPECT_EQ(GetConnectedDevices(&list), errAECoercionFail);
  EXPECT_TRUE(Same(list, Filled(0x3C)));
}

TEST_F(PaneAgentEventsTest, AListWithACountOutOfRangeIsRefused) {
  for (const char* count : {"11", "-2"}) {
    ChildProcess agent;
    ASSERT_NO_FATAL_FAILURE(
        StartAgent(&agent, "CorvimusHelper", {"--devices", "2", "--count", count}));
    CorvimusDeviceList list = Filled(0x3C);
    EXPECT_EQ(GetConnectedDevices(&list), errAECorruptData) << count;
    EXPECT_TRUE(Same(list, Filled(0x3C)));
    agent.Signal(SIGKILL);
    int status;
    ASSERT_TRUE(agent.Wait(&status));
  }
}

TEST_F(PaneAgentEventsTest, TheStatusComesWithWhatTheAgentSaid) {
  CorvimusAgentStatus status;
  EXPECT_EQ(GetAgentStatus(&status), procNotFound) << "no agent";
  EXPECT_EQ(GetAgentStatus(nullptr), paramErr);
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(StartAgent(&agent, "CorvimusHelper", {"--devices", "3"}));
  ASSERT_EQ(GetAgentStatus(&status), noErr);
  EXPECT_EQ(status.recordKind, kRecordKindApplication);
  EXPECT_EQ(status.frontSignature, FourCC("FrNt"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.frontName + 1), status.frontName[0]),
            "Front App");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.recordName + 1), status.recordName[0]),
            "Own");
  EXPECT_STREQ(status.agentVersion, "9.9");
  EXPECT_EQ(status.driversLinked, kDriverLinkedSystem);
  ASSERT_EQ(status.count, 3);
  EXPECT_STREQ(status.mouse[2].link, "USB");
}

TEST_F(PaneAgentEventsTest, AStatusOfAnotherVersionIsRefusedAndOverlongTextsAreCut) {
  {
    ChildProcess agent;
    ASSERT_NO_FATAL_FAILURE(StartAgent(&agent, "CorvimusHelper", {"--status", "version2"}));
    CorvimusAgentStatus status;
    std::memset(&status, 0x3C, sizeof status);
    EXPECT_EQ(GetAgentStatus(&status), errAECorruptData);
    EXPECT_EQ(status.version, 0x3C3C) << "a refused status changes nothing";
    agent.Signal(SIGKILL);
    int code;
    ASSERT_TRUE(agent.Wait(&code));
  }
  ChildProcess agent;
  ASSERT_NO_FATAL_FAILURE(
      StartAgent(&agent, "CorvimusHelper", {"--devices", "10", "--status", "overlong"}));
  CorvimusAgentStatus status;
  ASSERT_EQ(GetAgentStatus(&status), noErr);
  // Every text ends inside its field, whatever the agent sent.
  EXPECT_EQ(status.frontName[0], 63);
  EXPECT_EQ(status.recordName[0], 31);
  EXPECT_EQ(std::strlen(status.agentVersion), sizeof status.agentVersion - 1);
  for (const CorvimusMouseLink& m : status.mouse) EXPECT_EQ(std::strlen(m.link), sizeof m.link - 1);
}

}  // namespace
