// The simulator's words for what a mouse's engine sent, read from a real engine's output.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "driver/SimText.h"

namespace enginetest {
namespace {

using corvimus::DescribeEngineOutput;
using corvimus::EngineEvent;
using corvimus::SimKeystrokeText;

std::string Words(Rig& rig) {
  std::vector<EngineEvent> events;
  for (const Written& w : rig.out.written) {
    EngineEvent e;
    e.kind = w.device == 'P'   ? EngineEvent::kPointer
             : w.device == 'K' ? EngineEvent::kKeyboard
             : w.device == 'A' ? EngineEvent::kAgent
                               : EngineEvent::kReport;
    e.type = w.type;
    e.code = w.code;
    e.value = w.value;
    e.command = w.action.command;
    events.push_back(e);
  }
  rig.out.written.clear();
  return DescribeEngineOutput(events);
}

struct WordsCase {
  UInt16 command;
  UInt16 modifiers;
  UInt8 keyCode;
  UInt8 repeat;
  const char* words;
};

TEST(SimText, WhatAClickOfAControlSendsInWords) {
  const WordsCase cases[] = {
      {kCmdMainClick, controlKey, 255, 0, "left click with Ctrl held"},
      {34, UInt16(shiftKey | cmdKey), 255, 0, "right click with Super+Shift held"},
      {36, 0, 255, 0, "button 5 click"},
      {43, shiftKey, 255, 0, "left double click with Shift held"},
      {44, 0, 255, 0, "left triple click"},
      {kCmdKeystroke, controlKey, 0x06, 0, "Ctrl+Z"},
      {kCmdKeystroke, alphaLock, 0x06, 0, "Caps Lock, Z, Caps Lock"},
      {kCmdKeystroke, shiftKey, 255, 0, "Shift"},
      {9, 0, 255, 3, "scroll down 3 lines"},
      {8, 0, 100, 0, "scroll left 1 line"},
      {13, 0, 255, 0, "Page Down"},
      {17, 0, 255, 0, "Ctrl+End"},
      {kCmdUndo, 0, 255, 0, "undo, through the agent"},
      {kCmdOpenItem, 0, 255, 0, "open item, through the agent"},
      {20, 0, 255, 0, "nothing"},
      {0, 0, 255, 0, "button 6 click"},
  };
  for (const WordsCase& c : cases) {
    Rig rig;
    rig.Use(RecordWith(5, c.command, c.modifiers, c.keyCode, c.repeat));
    rig.out.written.clear();
    rig.Click(BTN_FORWARD);
    rig.RunTimers();
    EXPECT_EQ(Words(rig), c.words) << c.command;
  }
}

TEST(SimText, HeldButtonsLocksAnswersAndReports) {
  Rig rig;
  rig.engine.SetDesktop(corvimus::DesktopKind::Gnome);
  CorvimusPrefsRec r = RecordWith(5, 45, optionKey);
  r.device[0].action[6].command = 44;
  r.device[0].action[7].command = 64;
  r.device[0].action[0].command = kCmdBack;
  rig.Use(r);
  rig.out.written.clear();
  rig.Click(BTN_FORWARD);
  EXPECT_EQ(Words(rig), "left button pressed and held with Alt held");
  rig.Click(BTN_FORWARD);
  EXPECT_EQ(Words(rig), "left button released");
  rig.Press(BTN_BACK);
  rig.RunTimers();
  EXPECT_EQ(Words(rig), "left triple click, the last press held");
  rig.Release(BTN_BACK);
  rig.Click(BTN_TASK);
  EXPECT_EQ(Words(rig), "left button released, Super");
  rig.Click(BTN_LEFT);
  rig.engine.PostKeystroke(PackKeystroke(kBackArrowChar, 0x7B, cmdKey));
  EXPECT_EQ(Words(rig), "back, through the agent, Alt+Left");
  rig.engine.SetOwnAppMode(true);
  rig.Frame({{EV_REL, REL_X, 3}, {EV_REL, REL_Y, -2}, {EV_REL, REL_WHEEL_HI_RES, 30}});
  EXPECT_EQ(Words(rig),
            "pointer moved by (3, -2), scroll up 0.25 of a line, 1 report to the own "
            "application");
  EXPECT_EQ(DescribeEngineOutput({}), "nothing");
}

TEST(SimText, AKeystrokeRequestNamesItsKeyWhereTheLayoutMovedIt) {
  EXPECT_EQ(SimKeystrokeText(PackKeystroke('[', 0x21, cmdKey)), "Super+[");
  // The German layout's z sits where a US keyboard has Y.
  EXPECT_EQ(SimKeystrokeText(PackKeystroke('z', 0x10, controlKey)),
            "Ctrl+z (the key Y on a US keyboard)");
  EXPECT_EQ(SimKeystrokeText(PackKeystroke(kBackArrowChar, 0x7B, optionKey)), "Alt+Left");
  EXPECT_EQ(SimKeystrokeText(PackKeystroke(0, 255, shiftKey)), "Shift+character 0 (no key)");
}

}  // namespace
}  // namespace enginetest
