// The one table of commands, modifiers and controls: every command has one name, the word
// corvimus-prefs takes is that name, and each row agrees with the rules the pane and the agent
// follow.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "settings/CommandTable.h"
#include "settings/CorvimusPrefs.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(CommandTable, EachCommandHasOneNameAndItsWordIsThatName) {
  std::set<UInt16> codes;
  std::set<std::string> names, words;
  for (const CommandInfo& c : kCommandTable) {
    ASSERT_NE(c.name, nullptr) << "a row of the table is missing";
    EXPECT_TRUE(codes.insert(c.code).second) << c.code;
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    EXPECT_EQ(c.word, CommandWordFromName(c.name)) << c.code;
    EXPECT_TRUE(words.insert(c.word).second) << c.word;
    if (c.legacyWord) {
      EXPECT_TRUE(words.insert(c.legacyWord).second) << c.legacyWord;
    }
    EXPECT_NE(std::string(c.onLinux), "") << c.code;
    EXPECT_EQ(FindCommand(c.code), &c);
    EXPECT_EQ(FindCommandByWord(c.word), &c);
    EXPECT_EQ(FindCommandByWord(Upper(c.word)), &c);
    if (c.legacyWord) {
      EXPECT_EQ(FindCommandByWord(c.legacyWord), &c);
    }
  }
  // What the pane offers and the agent reads: 0, 1, 8-20, 24, 26, 27, 32-40, 43-45, 64-76.
  std::set<UInt16> expected = {0, 1, 20, 24, 26, 27, 43, 44, 45};
  for (UInt16 c = 8; c <= 19; ++c) expected.insert(c);
  for (UInt16 c = 32; c <= 40; ++c) expected.insert(c);
  for (UInt16 c = 64; c <= 76; ++c) expected.insert(c);
  EXPECT_EQ(codes, expected);
  for (UInt16 code : {2, 7, 21, 25, 28, 41, 42, 46, 63, 77, 0xFFFF})
    EXPECT_EQ(FindCommand(code), nullptr) << code;
  EXPECT_EQ(FindCommandByWord("scroll"), nullptr);
  EXPECT_EQ(FindCommandByWord(""), nullptr);
  EXPECT_EQ(FindCommandByWord("main click"), nullptr);  // a name, not a word
}

TEST(CommandTable, WhoCarriesEachCommandOutAndWhichMenuOffersIt) {
  for (const CommandInfo& c : kCommandTable) {
    CommandActor actor = CommandActor::kDriver;
    if (c.code == 0) actor = CommandActor::kNobody;
    if (c.code == 1 || c.code == 26 || c.code == 27) actor = CommandActor::kAgent;
    if (c.code >= 71 && c.code <= 76) actor = CommandActor::kAgentThroughDriver;
    EXPECT_EQ(c.actor, actor) << c.code;

    PaneMenu menu = PaneMenu::kAction;
    if (c.code >= 8 && c.code <= 19) menu = PaneMenu::kScroll;
    if ((c.code >= 32 && c.code <= 40) || (c.code >= 43 && c.code <= 45)) menu = PaneMenu::kClick;
    if (c.code >= 64 && c.code <= 76) menu = PaneMenu::kSpecialKey;
    if (c.code == 26) menu = PaneMenu::kNone;  // only ever put in a record by hand
    EXPECT_EQ(c.menu, menu) << c.code;
    EXPECT_EQ(c.family == CommandFamily::kClick, menu == PaneMenu::kClick) << c.code;
    EXPECT_EQ(c.family == CommandFamily::kScroll, menu == PaneMenu::kScroll) << c.code;
  }
}

TEST(CommandTable, ClicksNameTheirButtonAndCount) {
  // 33 main, 34 secondary, 32 middle; 35-40 buttons 4-9; 43-45 the main button twice, three
  // times and locked.
  const struct {
    UInt16 code;
    UInt8 button, clicks;
  } cases[] = {{33, 1, 1}, {34, 2, 1}, {32, 3, 1}, {35, 4, 1}, {36, 5, 1}, {37, 6, 1},
               {38, 7, 1}, {39, 8, 1}, {40, 9, 1}, {43, 1, 2}, {44, 1, 3}, {45, 1, 0}};
  for (const auto& c : cases) {
    const CommandInfo* info = FindCommand(c.code);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->button, c.button) << c.code;
    EXPECT_EQ(info->clicks, c.clicks) << c.code;
    if (c.code >= 35 && c.code <= 40) {
      EXPECT_EQ(std::string(info->name), "Button " + std::to_string(c.button) + " click");
    }
  }
  for (const CommandInfo& c : kCommandTable) {
    if (c.family != CommandFamily::kClick) {
      EXPECT_EQ(c.button + c.clicks, 0) << c.code;
    }
  }
}

TEST(CommandTable, ScrollNamesFollowTheirDirectionAndKind) {
  const char* const kinds[] = {"", " by a page", " to the end"};
  for (UInt16 code = 8; code <= 19; ++code) {
    std::string direction = ScrollDirectionName(ScrollDirection(code));
    direction[0] = char(std::tolower(static_cast<unsigned char>(direction[0])));
    EXPECT_EQ(std::string(FindCommand(code)->name),
              "Scroll " + direction + kinds[ScrollKind(code)]);
  }
  // The tilting wheel's entries: up and down read as left and right, left and right stay.
  const int tilted[4] = {2, 3, 2, 3};
  for (UInt16 code = 8; code <= 19; ++code) {
    EXPECT_EQ(EffectiveScrollDirection(code, kScrollTiltKeyCode), tilted[(code - 8) % 4]) << code;
    for (UInt8 keyCode : {0, 1, 99, 101, 255})
      EXPECT_EQ(EffectiveScrollDirection(code, keyCode), (code - 8) % 4) << code;
  }
  EXPECT_STREQ(ScrollDirectionName(4), "");
}

TEST(CommandTable, ModifiersHaveLinuxNamesAndTheOldWordsStillWork) {
  UInt16 all = 0;
  std::set<std::string> words;
  for (const ModifierInfo& m : kModifierTable) {
    ASSERT_NE(m.name, nullptr);
    EXPECT_EQ(all & m.bit, 0) << m.name;
    all |= m.bit;
    EXPECT_EQ(m.word, CommandWordFromName(m.name));
    EXPECT_EQ(FindModifierByWord(m.word), m.bit);
    EXPECT_EQ(FindModifierByWord(Upper(m.word)), m.bit);
    EXPECT_TRUE(words.insert(m.word).second);
    for (const char* legacy : m.legacyWords) {
      if (!legacy) continue;
      EXPECT_TRUE(words.insert(legacy).second) << legacy;
      EXPECT_EQ(FindModifierByWord(legacy), m.bit) << legacy;
    }
  }
  EXPECT_EQ(all, cmdKey | shiftKey | alphaLock | optionKey | controlKey | kCorvimusSpaceKey);
  EXPECT_EQ(FindModifierByWord("control"), controlKey);
  EXPECT_EQ(FindModifierByWord("option"), optionKey);  // Alt, never AltGr
  EXPECT_EQ(FindModifierByWord("command"), cmdKey);    // Super
  EXPECT_EQ(FindModifierByWord("hyper"), 0);
  EXPECT_EQ(FindModifierByWord(""), 0);
}

TEST(CommandTable, ControlsAreTheButtonsAndTheWheelsSlots) {
  std::set<int> slots;
  std::set<std::string> words;
  for (const ControlInfo& c : kControlTable) {
    ASSERT_NE(c.id, nullptr);
    EXPECT_TRUE(slots.insert(c.slot).second);
    EXPECT_TRUE(words.insert(c.word).second);
    EXPECT_EQ(FindControl(c.slot), &c);
    EXPECT_EQ(FindControlByWord(c.id), &c);
    EXPECT_EQ(FindControlByWord(Upper(c.word)), &c);
  }
  EXPECT_EQ(slots, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, kSlotRF, kSlotRB, kSlotPF, kSlotPB}));
  for (int slot : {8, 9, 10, 11, 16, -1}) EXPECT_EQ(FindControl(slot), nullptr) << slot;
  // The tilting wheel is named by the way it tilts, as its events go.
  EXPECT_STREQ(FindControl(kSlotPF)->name, "Wheel tilted left");
  EXPECT_STREQ(FindControl(kSlotPF)->input, "REL_HWHEEL < 0");
  EXPECT_STREQ(FindControl(kSlotPB)->name, "Wheel tilted right");
  EXPECT_EQ(FindControlByWord("pf"), FindControl(kSlotPF));
  EXPECT_EQ(FindControlByWord("tilt-right"), FindControl(kSlotPB));
  EXPECT_EQ(FindControlByWord("C8"), nullptr);
  EXPECT_EQ(FindControlByWord(""), nullptr);
}

}  // namespace
