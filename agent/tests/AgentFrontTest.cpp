// The agent following the front application: which record each mouse gets, with real processes.
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "AgentWorld.h"

namespace agenttest {
namespace {

// Indices of the calls of one mouse, in the order the driver received them.
std::vector<size_t> Positions(const std::vector<DriverCall>& calls, UInt32 mouse,
                              const std::string& code) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < calls.size(); ++i)
    if (calls[i].mouse == mouse && calls[i].code == code) positions.push_back(i);
  return positions;
}

using AgentFrontTest = AgentWorld;

TEST_F(AgentFrontTest, WithoutSettingsFileMiceKeepTheDefaultRecord) {
  StartDriver(2, 1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* own = Launch("Own", "Own", "CvMP");

  for (UInt32 mouse : {1u, 2u}) {
    auto pushes = CallsOf(mouse, "CvSe");
    ASSERT_EQ(1u, pushes.size());
    ASSERT_TRUE(pushes[0].hasRecord);
    EXPECT_EQ(0, std::memcmp(&pushes[0].record, &kCorvimusDefaultPrefs, sizeof(CorvimusPrefsRec)));
    auto modes = CallsOf(mouse, "CVsd");
    ASSERT_EQ(1u, modes.size());
    EXPECT_EQ(0, modes[0].scalars.at(2));
  }
  // Each switch is seen (the own-application mode goes on and off), yet no record follows.
  Front(editor);
  Front(own);
  ASSERT_TRUE(WaitForCount(1, "CVsd", 2) && WaitForCount(2, "CVsd", 2));
  Front(editor);
  ASSERT_TRUE(WaitForCount(1, "CVsd", 3) && WaitForCount(2, "CVsd", 3));
  for (UInt32 mouse : {1u, 2u}) {
    EXPECT_EQ(1u, CallsOf(mouse, "CvSe").size());
    auto modes = CallsOf(mouse, "CVsd");
    EXPECT_EQ(1, modes[1].scalars.at(2));
    EXPECT_EQ(0, modes[2].scalars.at(2));
  }
}

// With nothing to follow, the file's global record is what the mice get, not the built-in defaults
// they were opened with: without a display at all, and on a display with no active window yet.
TEST_F(AgentFrontTest, WithoutAKnownFrontApplicationTheGlobalRecordIsInForce) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  StartDriver(2);
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}, {"DISPLAY="}));
  ASSERT_TRUE(WaitForSpeed(2, 10));
  // A reload chooses the same way. (Sent to the agent itself: one without a display is not in
  // this test's session, where the pane's look-up searches.)
  WriteSettings({MakeRecord(0, "", 15), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  ASSERT_EQ(noErr, SendToAgent(kCorvimusEventClass, kCorvimusEventReload));
  ASSERT_TRUE(WaitForSpeed(2, 15));
  agent_.Signal(SIGINT);
  ASSERT_EQ(0, agent_.Wait(10000));

  // The mice remember the first agent's record: this one's pushes are counted from here, the
  // defaults as each mouse opens, then the global record.
  size_t before[2] = {CallsOf(1, "CvSe").size(), CallsOf(2, "CvSe").size()};
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}));
  for (UInt32 mouse : {1u, 2u}) {
    ASSERT_TRUE(WaitForCount(mouse, "CvSe", before[mouse - 1] + 2)) << "mouse " << mouse;
    EXPECT_EQ(0, std::memcmp(&CallsOf(mouse, "CvSe")[before[mouse - 1]].record,
                             &kCorvimusDefaultPrefs, sizeof(CorvimusPrefsRec)));
  }
  ASSERT_TRUE(WaitForSpeed(2, 15));
  // Once an application is known, its record follows as always.
  Front(Launch("Editor", "Editor", "ttxt"));
  ASSERT_TRUE(WaitForSpeed(2, 20));
}

TEST_F(AgentFrontTest, RecordsFollowSignatureThenFileName) {
  CorvimusPrefsRec global = MakeRecord(0, "", 10);
  global.device[0].action[5].command = kCmdCopy;
  global.device[0].action[5].modifiers = shiftKey;
  CorvimusPrefsRec editor = MakeRecord(FourCC("ttxt"), "Editor", 20);
  editor.device[0].action[6].command = kCmdPaste;  // slot 5 stays "as in the global record"
  editor.active = 0;                               // pushed like any other
  WriteSettings({global, editor, MakeRecord(kUnknownSignature, "Foo2", 50),
                 MakeRecord(kUnknownSignature, "FOO", 30),
                 MakeRecord(kUnknownSignature, "foo.APP", 40),
                 MakeRecord(FourCC("emal"), "Other", 60), MakeRecord(FourCC("CvMP"), "Own", 70)});
  StartDriver(2, 1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editorApp = Launch("Editor", "Editor", "ttxt");
  TestApp* fooApp = Launch("Foo", "Foo.app", "");
  TestApp* fooUpper = Launch("FooUpper", "Foo.APP", "");
  TestApp* other = Launch("Other", "FOO", "othr");  // a signature without a record
  TestApp* own = Launch("Own", "Own", "CvMP");

  Front(editorApp);
  ASSERT_TRUE(WaitForSpeed(2, 20));
  CorvimusPrefsRec got;
  ASSERT_TRUE(LastRecord(2, &got));
  EXPECT_EQ(FourCC("ttxt"), got.application);
  EXPECT_EQ(0, got.active);
  EXPECT_EQ(kCmdCopy, got.device[0].action[5].command);
  EXPECT_EQ(shiftKey, got.device[0].action[5].modifiers);
  EXPECT_EQ(kCmdPaste, got.device[0].action[6].command);
  EXPECT_EQ(global.device[0].action[0].command, got.device[0].action[0].command);

  Front(fooApp);
  ASSERT_TRUE(WaitForSpeed(2, 30));
  Front(fooUpper);
  ASSERT_TRUE(WaitForSpeed(2, 40));
  Front(other);
  ASSERT_TRUE(WaitForSpeed(2, 10));
  ASSERT_TRUE(LastRecord(1, &got));
  EXPECT_EQ(0u, got.application);

  // A second process of the same application is a new front process: chosen and pushed again.
  Front(editorApp);
  ASSERT_TRUE(WaitForSpeed(2, 20));
  size_t pushesBefore = CallsOf(1, "CvSe").size();
  TestApp* editorAgain = Launch("Editor", "Editor", "ttxt");
  Front(editorAgain);
  ASSERT_TRUE(WaitForCount(1, "CvSe", pushesBefore + 1));

  // The product's own application: mode on, and the global record rather than its own.
  Front(own);
  ASSERT_TRUE(WaitForSpeed(2, 10));
  for (UInt32 mouse : {1u, 2u}) {
    auto calls = Calls();
    auto modes = Positions(calls, mouse, "CVsd");
    auto pushes = Positions(calls, mouse, "CvSe");
    ASSERT_GE(modes.size(), 2u);
    EXPECT_EQ(1, calls[modes.back()].scalars.at(2));
    EXPECT_LT(modes.back(), pushes.back()) << "the mode goes on before the global record";
  }
  // Leaving it: mode off before the next record.
  Front(editorApp);
  ASSERT_TRUE(WaitForSpeed(2, 20));
  for (UInt32 mouse : {1u, 2u}) {
    auto calls = Calls();
    auto modes = Positions(calls, mouse, "CVsd");
    auto pushes = Positions(calls, mouse, "CvSe");
    EXPECT_EQ(0, calls[modes.back()].scalars.at(2));
    EXPECT_LT(modes.back(), pushes.back()) << "the mode goes off before the next record";
    EXPECT_GT(modes.back(), pushes[pushes.size() - 2]);
  }
}

TEST_F(AgentFrontTest, ReloadRequestRereadsTheFileAndPushes) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  StartDriver(2);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(2, 20));

  // The pane saves and asks for a reload; the front application did not change.
  WriteSettings({MakeRecord(0, "", 11), MakeRecord(FourCC("ttxt"), "Editor", 21)});
  ASSERT_EQ(noErr, RequestDriverPrefsUpdate());
  ASSERT_TRUE(WaitForSpeed(2, 21));

  // A file that holds no record: nothing is pushed and the mice keep what they have. (The query
  // first lets the last reload finish: it pushes twice, and the second push may still be on its
  // way when the first one's record is seen.)
  CorvimusDeviceList list;
  ASSERT_EQ(noErr, Devices(&list));
  size_t before = CallsOf(2, "CvSe").size();
  corvimus::testing::WriteFile(SettingsPath(), "");
  ASSERT_EQ(noErr, RequestDriverPrefsUpdate());
  // The device query goes out after the reload request and is answered after it.
  ASSERT_EQ(noErr, Devices(&list));
  EXPECT_EQ(before, CallsOf(2, "CvSe").size());
  CorvimusPrefsRec got;
  ASSERT_TRUE(LastRecord(2, &got));
  EXPECT_EQ(21, got.device[0].speed);
}

}  // namespace
}  // namespace agenttest

namespace agenttest {
namespace {

TEST_F(AgentFrontTest, SettingsToolEditsReachTheMiceAfterApply) {
  using corvimus::testing::RunProgram;
  // Without our agent there is nobody to apply to (an agent of a test running beside this one
  // may be found by name, but it listens in another runtime folder and cannot be reached).
  auto alone = RunProgram({CORVIMUS_PREFS, "apply"});
  EXPECT_NE(0, alone.exitCode);
  EXPECT_FALSE(alone.err.empty());

  WriteSettings({MakeRecord(0, "", 10)});
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  Front(Launch("Editor", "Editor", "ttxt"));
  ASSERT_TRUE(WaitForSpeed(1, 10));

  auto set = RunProgram({CORVIMUS_PREFS, "set", "speed", "90"});
  ASSERT_EQ(0, set.exitCode) << set.err;
  set = RunProgram({CORVIMUS_PREFS, "set", "C3", "copy"});
  ASSERT_EQ(0, set.exitCode) << set.err;
  // Edits alone change nothing for the mice; apply does. The tool finds the agent by name, so
  // while another test's agent comes first it fails; that one soon ends.
  corvimus::testing::RunResult apply;
  for (int attempt = 0; attempt < 100; ++attempt) {
    apply = RunProgram({CORVIMUS_PREFS, "apply"});
    if (apply.exitCode != 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(0, apply.exitCode) << apply.err;
  ASSERT_TRUE(WaitForSpeed(1, 90));
  CorvimusPrefsRec got;
  ASSERT_TRUE(LastRecord(1, &got));
  EXPECT_EQ(kCmdCopy, got.device[0].action[3].command);
  EXPECT_EQ(2, RunProgram({CORVIMUS_PREFS, "apply", "--file", SettingsPath()}).exitCode);
}

}  // namespace
}  // namespace agenttest
