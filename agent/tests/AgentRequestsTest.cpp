// The driver's requests: keystrokes for the edit and navigation commands, reports forwarded to the
// product's own application, and the console session deciding whether either happens.
#include <filesystem>
#include <string>

#include "AgentWorld.h"
#include "agent/KeyTables.h"
#include "agent/Session.h"

namespace agenttest {
namespace {

namespace fs = std::filesystem;

// Global record whose buttons C0-C7 hand the agent undo, cut, copy, paste, forward, back, an item
// through a missing alias, and a keystroke the driver posts itself.
CorvimusPrefsRec RequestRecord() {
  CorvimusPrefsRec global = MakeRecord(0, "", 10);
  const UInt16 commands[] = {kCmdUndo,    kCmdCut,  kCmdCopy,     kCmdPaste,
                             kCmdForward, kCmdBack, kCmdOpenItem, kCmdKeystroke};
  for (int slot = 0; slot < 8; ++slot) global.device[0].action[slot].command = commands[slot];
  SetPascal(global.device[0].action[6].data, 32, "missing alias");
  global.device[0].action[7].keyCode = 0x06;
  return global;
}

class AgentRequestsTest : public AgentWorld {
 protected:
  // What the agent should send for `ch`: the layout of the X server, read the same way.
  UInt32 Expected(UInt8 ch) {
    if (!keyCodes_) {
      EXPECT_EQ(1, BuildKeyTables(&keyCodes_, &modifiers_));
    }
    return PackKeystroke(ch, keyCodes_[ch], UInt16(cmdKey | (modifiers_[ch] << 8)));
  }
  std::vector<UInt32> Keystrokes(UInt32 mouse) {
    std::vector<UInt32> keys;
    for (const auto& call : CallsOf(mouse, "CVtk")) keys.push_back(UInt32(call.scalars.at(2)));
    return keys;
  }
  void TearDown() override {
    DisposeKeyTables(keyCodes_, modifiers_);
    AgentWorld::TearDown();
  }
  UInt8* keyCodes_ = nullptr;
  UInt8* modifiers_ = nullptr;
};

TEST_F(AgentRequestsTest, EditAndNavigationKeystrokesGoBackToTheAskingMouse) {
  WriteSettings({RequestRecord()});
  StartDriver(2, 1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* finder = Launch("Finder", "Finder", "MACS");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(2, 10));

  for (const char* slot : {"C0", "C1", "C2", "C3", "C4", "C5"})
    ASSERT_EQ(0u, Sim(std::string("press 1 ") + slot).rfind("ok", 0)) << slot;
  ASSERT_TRUE(WaitForCount(1, "CVtk", 6));
  std::vector<UInt32> expected = {Expected('z'), Expected('x'),  Expected('c'),
                                  Expected('v'), Expected(0x1D), Expected(0x1C)};
  EXPECT_EQ(expected, Keystrokes(1));
  // On the X server's "us" layout 'z' is the key at virtual code 0x06, with no extra modifier.
  EXPECT_EQ(0x01000600u | 'z', Keystrokes(1).at(0));
  EXPECT_TRUE(Keystrokes(2).empty());

  // In the Finder back and forward are the bracket keys; the second mouse asks this time.
  Front(finder);
  ASSERT_EQ(0u, Sim("press 2 C4").rfind("ok", 0));
  ASSERT_EQ(0u, Sim("press 2 C5").rfind("ok", 0));
  ASSERT_TRUE(WaitForCount(2, "CVtk", 2));
  EXPECT_EQ((std::vector<UInt32>{Expected(']'), Expected('[')}), Keystrokes(2));
  EXPECT_EQ(6u, Keystrokes(1).size());
}

TEST_F(AgentRequestsTest, MissingAliasAndDriverKeystrokesDoNothing) {
  WriteSettings({RequestRecord()});
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  Front(Launch("Editor", "Editor", "ttxt"));
  ASSERT_TRUE(WaitForSpeed(1, 10));
  // The driver posts keystrokes (24) itself: nothing reaches the agent.
  EXPECT_EQ("ok button 8: Z", Sim("press 1 C7"));
  // The alias folder does not even exist; then it exists without that alias.
  ASSERT_EQ(0u, Sim("press 1 C6").rfind("ok", 0));
  fs::create_directories(root_ / ("config/" + std::string(kCorvimusAliasFolderName)));
  ASSERT_EQ(0u, Sim("press 1 C6").rfind("ok", 0));
  // A later request on the same connection is still served, and is the only keystroke.
  ASSERT_EQ(0u, Sim("press 1 C0").rfind("ok", 0));
  ASSERT_TRUE(WaitForCount(1, "CVtk", 1));
  EXPECT_EQ(1u, Keystrokes(1).size());
  CorvimusDeviceList list{};
  EXPECT_EQ(noErr, Devices(&list));
}

TEST_F(AgentRequestsTest, ReportsReachTheOwnApplicationOnlyWhileItIsInFront) {
  WriteSettings({RequestRecord()});
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* own = Launch("Own", "Own", "CvMP");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(1, 10));
  ASSERT_EQ(0u, Sim("report 1 0102030405").rfind("ok", 0));
  // The keystroke request behind it on the same connection shows the report was handled.
  ASSERT_EQ(0u, Sim("press 1 C0").rfind("ok", 0));
  ASSERT_TRUE(WaitForCount(1, "CVtk", 1));

  Front(own);
  ASSERT_TRUE(WaitForCount(1, "CVsd", 2));
  ASSERT_EQ(0u, Sim("report 1 a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90")
                    .rfind("ok", 0));
  std::string line;
  ASSERT_TRUE(own->process.ReadLine(&line));
  EXPECT_EQ("CVer a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90", line);
  // A short report arrives zero-filled to 32 bytes.
  ASSERT_EQ(0u, Sim("report 1 ff").rfind("ok", 0));
  ASSERT_TRUE(own->process.ReadLine(&line));
  EXPECT_EQ("CVer ff" + std::string(62, '0'), line);
}

TEST_F(AgentRequestsTest, OffTheConsoleRequestsAreIgnoredButEndingsAreNot) {
  fs::path coreGraphics =
      fs::path(root_ / "prefix/lib/corvimus/Frameworks") / kCoreGraphicsBundlePath;
  fs::create_directories(coreGraphics);
  fs::copy_file(std::string(SESSION_BUNDLE_DIR) + "/libsession_bundle_not_on_console.so",
                coreGraphics / "CoreGraphics");
  WriteSettings({RequestRecord()});
  StartDriver(2);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* own = Launch("Own", "Own", "CvMP");
  Front(own);
  ASSERT_TRUE(WaitForCount(1, "CVsd", 2));

  ASSERT_EQ(0u, Sim("press 1 C0").rfind("ok", 0));
  ASSERT_EQ(0u, Sim("report 1 0102").rfind("ok", 0));
  // Termination comes after both on the same connection and is still carried out.
  ASSERT_EQ(0u, Sim("close 1").rfind("ok closed 1", 0));
  ASSERT_TRUE(WaitForDeviceCount(1));
  EXPECT_TRUE(Keystrokes(1).empty());
  std::string line;
  EXPECT_FALSE(own->process.ReadLine(&line, 300)) << line;
}

}  // namespace
}  // namespace agenttest
