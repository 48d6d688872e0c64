#include "settings/CommandTable.h"

#include <cstring>
#include <iterator>

#include "settings/CorvimusPrefs.h"

// The names are what the settings pane shows, through its translations (context "CommandTable");
// the marker lets the translation tools find them here. corvimus-prefs takes the words, which are
// never translated.
#define QT_TRANSLATE_NOOP(context, text) text

namespace {

using F = CommandFamily;
using A = CommandActor;
using M = PaneMenu;

}  // namespace

const CommandInfo kCommandTable[kCommandTableSize] = {
    {0, F::kUnchanged, A::kNobody, M::kAction, QT_TRANSLATE_NOOP("CommandTable", "Unchanged"),
     "unchanged", "nothing", "the control's own events pass through", 0, 0},
    {1, F::kAsGlobal, A::kAgent, M::kAction,
     QT_TRANSLATE_NOOP("CommandTable", "Same as all applications"), "same-as-all-applications",
     "global", "the global record's action of the slot", 0, 0},

    {8, F::kScroll, A::kDriver, M::kScroll, QT_TRANSLATE_NOOP("CommandTable", "Scroll up"),
     "scroll-up", nullptr, "REL_WHEEL up by the count of lines", 0, 0},
    {9, F::kScroll, A::kDriver, M::kScroll, QT_TRANSLATE_NOOP("CommandTable", "Scroll down"),
     "scroll-down", nullptr, "REL_WHEEL down by the count of lines", 0, 0},
    {10, F::kScroll, A::kDriver, M::kScroll, QT_TRANSLATE_NOOP("CommandTable", "Scroll left"),
     "scroll-left", nullptr, "REL_HWHEEL left by the count of lines", 0, 0},
    {11, F::kScroll, A::kDriver, M::kScroll, QT_TRANSLATE_NOOP("CommandTable", "Scroll right"),
     "scroll-right", nullptr, "REL_HWHEEL right by the count of lines", 0, 0},
    {12, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll up by a page"), "scroll-up-by-a-page", nullptr,
     "Page Up", 0, 0},
    {13, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll down by a page"), "scroll-down-by-a-page", nullptr,
     "Page Down", 0, 0},
    {14, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll left by a page"), "scroll-left-by-a-page", nullptr,
     "10 lines of REL_HWHEEL left", 0, 0},
    {15, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll right by a page"), "scroll-right-by-a-page", nullptr,
     "10 lines of REL_HWHEEL right", 0, 0},
    {16, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll up to the end"), "scroll-up-to-the-end", nullptr,
     "Ctrl+Home", 0, 0},
    {17, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll down to the end"), "scroll-down-to-the-end", nullptr,
     "Ctrl+End", 0, 0},
    {18, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll left to the end"), "scroll-left-to-the-end", nullptr,
     "Home", 0, 0},
    {19, F::kScroll, A::kDriver, M::kScroll,
     QT_TRANSLATE_NOOP("CommandTable", "Scroll right to the end"), "scroll-right-to-the-end",
     nullptr, "End", 0, 0},

    {20, F::kPrecision, A::kDriver, M::kAction,
     QT_TRANSLATE_NOOP("CommandTable", "Precision pointer"), "precision-pointer", nullptr,
     "the pointer at a quarter of its speed while held", 0, 0},
    {24, F::kKeystroke, A::kDriver, M::kAction, QT_TRANSLATE_NOOP("CommandTable", "Keystroke"),
     "keystroke", nullptr, "the key at the key code's position, held while the control is held", 0,
     0},
    {26, F::kOpenApplication, A::kAgent, M::kNone,
     QT_TRANSLATE_NOOP("CommandTable", "Open application"), "open-application", nullptr,
     "the agent opens the application of the creator code", 0, 0},
    {27, F::kOpenItem, A::kAgent, M::kAction, QT_TRANSLATE_NOOP("CommandTable", "Open item"),
     "open-item", nullptr, "the agent opens what the alias file refers to", 0, 0},

    {32, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Middle click"),
     "middle-click", nullptr, "BTN_MIDDLE", 3, 1},
    {33, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Main click"),
     "main-click", nullptr, "BTN_LEFT", 1, 1},
    {34, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Secondary click"),
     "secondary-click", nullptr, "BTN_RIGHT", 2, 1},
    {35, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 4 click"),
     "button-4-click", nullptr, "BTN_SIDE", 4, 1},
    {36, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 5 click"),
     "button-5-click", nullptr, "BTN_EXTRA", 5, 1},
    {37, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 6 click"),
     "button-6-click", nullptr, "BTN_FORWARD", 6, 1},
    {38, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 7 click"),
     "button-7-click", nullptr, "BTN_BACK", 7, 1},
    {39, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 8 click"),
     "button-8-click", nullptr, "BTN_TASK", 8, 1},
    {40, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Button 9 click"),
     "button-9-click", nullptr, "BTN_TASK + 1", 9, 1},
    {43, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Double click"),
     "double-click", nullptr, "BTN_LEFT twice, 30 ms apart; the last press held", 1, 2},
    {44, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Triple click"),
     "triple-click", nullptr, "BTN_LEFT three times, 30 ms apart; the last press held", 1, 3},
    {45, F::kClick, A::kDriver, M::kClick, QT_TRANSLATE_NOOP("CommandTable", "Click and hold"),
     "click-and-hold", nullptr, "BTN_LEFT down at one press, up at the next", 1, 0},

    {64, F::kSpecial, A::kDriver, M::kSpecialKey, QT_TRANSLATE_NOOP("CommandTable", "All windows"),
     "all-windows", nullptr, "the desktop's overview of all windows", 0, 0},
    {65, F::kSpecial, A::kDriver, M::kSpecialKey, QT_TRANSLATE_NOOP("CommandTable", "Show desktop"),
     "show-desktop", nullptr, "the desktop's show-desktop shortcut", 0, 0},
    {66, F::kSpecial, A::kDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Application windows"), "application-windows", nullptr,
     "the desktop's shortcut for the front application's windows", 0, 0},
    {67, F::kSpecial, A::kDriver, M::kSpecialKey, QT_TRANSLATE_NOOP("CommandTable", "Launcher"),
     "launcher", nullptr, "the desktop's application launcher", 0, 0},
    {68, F::kSpecial, A::kDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Notifications"), "notifications", nullptr,
     "the desktop's list of notifications", 0, 0},
    {69, F::kSpecial, A::kDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Next workspace"), "next-workspace", nullptr,
     "the desktop's shortcut to the next workspace", 0, 0},
    {70, F::kSpecial, A::kDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Switch application"), "switch-application", nullptr,
     "Alt+Tab, Alt held while the control is", 0, 0},

    {71, F::kEdit, A::kAgentThroughDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Undo"), "undo", nullptr, "Ctrl+Z at the layout's Z", 0, 0},
    {72, F::kEdit, A::kAgentThroughDriver, M::kSpecialKey, QT_TRANSLATE_NOOP("CommandTable", "Cut"),
     "cut", nullptr, "Ctrl+X at the layout's X", 0, 0},
    {73, F::kEdit, A::kAgentThroughDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Copy"), "copy", nullptr, "Ctrl+C at the layout's C", 0, 0},
    {74, F::kEdit, A::kAgentThroughDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Paste"), "paste", nullptr, "Ctrl+V at the layout's V", 0,
     0},
    {75, F::kNavigation, A::kAgentThroughDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Forward"), "forward", nullptr, "Alt+Right", 0, 0},
    {76, F::kNavigation, A::kAgentThroughDriver, M::kSpecialKey,
     QT_TRANSLATE_NOOP("CommandTable", "Back"), "back", nullptr, "Alt+Left", 0, 0},
};

const ModifierInfo kModifierTable[kModifierTableSize] = {
    {controlKey, QT_TRANSLATE_NOOP("CommandTable", "Ctrl"), "ctrl", {"control", nullptr}},
    {optionKey, QT_TRANSLATE_NOOP("CommandTable", "Alt"), "alt", {"option", nullptr}},
    {shiftKey, QT_TRANSLATE_NOOP("CommandTable", "Shift"), "shift", {nullptr, nullptr}},
    {cmdKey, QT_TRANSLATE_NOOP("CommandTable", "Super"), "super", {"command", "cmd"}},
    {alphaLock, QT_TRANSLATE_NOOP("CommandTable", "Caps Lock"), "caps-lock", {"capslock", nullptr}},
    {kCorvimusSpaceKey, QT_TRANSLATE_NOOP("CommandTable", "Space"), "space", {nullptr, nullptr}},
};

const ControlInfo kControlTable[kControlTableSize] = {
    {0, "C0", QT_TRANSLATE_NOOP("CommandTable", "Left button"), "left-button", "BTN_LEFT"},
    {1, "C1", QT_TRANSLATE_NOOP("CommandTable", "Right button"), "right-button", "BTN_RIGHT"},
    {2, "C2", QT_TRANSLATE_NOOP("CommandTable", "Middle button (wheel click)"), "middle-button",
     "BTN_MIDDLE"},
    {3, "C3", QT_TRANSLATE_NOOP("CommandTable", "Button 4 (thumb, back)"), "button-4", "BTN_SIDE"},
    {4, "C4", QT_TRANSLATE_NOOP("CommandTable", "Button 5 (thumb, forward)"), "button-5",
     "BTN_EXTRA"},
    {5, "C5", QT_TRANSLATE_NOOP("CommandTable", "Button 6"), "button-6", "BTN_FORWARD"},
    {6, "C6", QT_TRANSLATE_NOOP("CommandTable", "Button 7"), "button-7", "BTN_BACK"},
    {7, "C7", QT_TRANSLATE_NOOP("CommandTable", "Button 8"), "button-8", "BTN_TASK"},
    {kSlotRF, "RF", QT_TRANSLATE_NOOP("CommandTable", "Wheel rolled up"), "wheel-up",
     "REL_WHEEL > 0"},
    {kSlotRB, "RB", QT_TRANSLATE_NOOP("CommandTable", "Wheel rolled down"), "wheel-down",
     "REL_WHEEL < 0"},
    {kSlotPF, "PF", QT_TRANSLATE_NOOP("CommandTable", "Wheel tilted left"), "tilt-left",
     "REL_HWHEEL < 0"},
    {kSlotPB, "PB", QT_TRANSLATE_NOOP("CommandTable", "Wheel tilted right"), "tilt-right",
     "REL_HWHEEL > 0"},
};

namespace {

bool SameWord(const char* a, const std::string& b) {
  if (!a || std::strlen(a) != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i) {
    char c = b[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (a[i] != c) return false;
  }
  return true;
}

}  // namespace

namespace {

// The driver looks commands up for every press: by code at once rather than through the table.
struct CommandIndex {
  const CommandInfo* byCode[128] = {};
  CommandIndex() {
    for (const CommandInfo& c : kCommandTable)
      if (c.code < std::size(byCode)) byCode[c.code] = &c;
  }
};
const CommandIndex gCommandIndex;

}  // namespace

const CommandInfo* FindCommand(UInt16 code) {
  return code < std::size(gCommandIndex.byCode) ? gCommandIndex.byCode[code] : nullptr;
}

const CommandInfo* FindCommandByWord(const std::string& word) {
  for (const CommandInfo& c : kCommandTable)
    if (SameWord(c.word, word) || SameWord(c.legacyWord, word)) return &c;
  return nullptr;
}

UInt16 FindModifierByWord(const std::string& word) {
  for (const ModifierInfo& m : kModifierTable)
    if (SameWord(m.word, word) || SameWord(m.legacyWords[0], word) ||
        SameWord(m.legacyWords[1], word))
      return m.bit;
  return 0;
}

UInt16 AllModifierBits() {
  UInt16 bits = 0;
  for (const ModifierInfo& m : kModifierTable) bits |= m.bit;
  return bits;
}

const ControlInfo* FindControl(int slot) {
  for (const ControlInfo& c : kControlTable)
    if (c.slot == slot) return &c;
  return nullptr;
}

const ControlInfo* FindControlByWord(const std::string& word) {
  std::string lower;
  for (char c : word) lower.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  for (const ControlInfo& c : kControlTable) {
    std::string id = c.id;
    id[0] = char(id[0] - 'A' + 'a');
    if (id[1] >= 'A' && id[1] <= 'Z') id[1] = char(id[1] - 'A' + 'a');
    if (lower == id || lower == c.word) return &c;
  }
  return nullptr;
}

std::string CommandWordFromName(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p) {
    char c = *p;
    if (c == ' ')
      c = '-';
    else if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
    out.push_back(c);
  }
  return out;
}

const char* ScrollDirectionName(int direction) {
  static const char* const kNames[4] = {
      QT_TRANSLATE_NOOP("CommandTable", "Up"), QT_TRANSLATE_NOOP("CommandTable", "Down"),
      QT_TRANSLATE_NOOP("CommandTable", "Left"), QT_TRANSLATE_NOOP("CommandTable", "Right")};
  return direction >= 0 && direction < 4 ? kNames[direction] : "";
}

int EffectiveScrollDirection(UInt16 code, UInt8 keyCode) {
  int d = ScrollDirection(code);
  if (keyCode == kScrollTiltKeyCode && d < 2) d += 2;
  return d;
}
