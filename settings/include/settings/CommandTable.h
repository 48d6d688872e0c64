// What every action command, modifier bit and mouse control means: one table that the settings
// pane, corvimus-prefs, the simulated driver and the driver's action engine all read, so that each
// has one name and one meaning everywhere. A name is the pane's menu title; corvimus-prefs shows it
// in lower case and takes it as a word in lower case with hyphens ("Button 4 click" is shown as
// "button 4 click" and set as button-4-click); numbers stay accepted wherever a word is.
//
// Controls (the action slots a mouse fills; the engine reads Linux input events):
//   C0-C7  BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA, BTN_FORWARD, BTN_BACK, BTN_TASK
//          (buttons 1-8: left, right and middle, then buttons 4-8)
//   RF RB  the wheel rolled up (REL_WHEEL > 0) and down (REL_WHEEL < 0)
//   PF PB  the wheel tilted left (REL_HWHEEL < 0) and right (REL_HWHEEL > 0)
// A wheel event's high-resolution partner (REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES) belongs to the
// same control. A wheel control is pressed and released once per notch: each unit of the
// low-resolution value.
//
// Modifier bits, as Linux users name them. They are held around a click and are part of a
// keystroke:
//   control Ctrl (left Ctrl)   option Alt (left Alt, never AltGr)   command Super (left Super)
//   shift Shift                space  Space, held like a modifier (space-drag pans in image and
//                                     map editors)
//   caps lock  Caps Lock, tapped before the action and tapped again after it: on Linux it is a
//              lock, not a key that is held, so two taps type with the lock turned over and leave
//              it as the user had it.
//
// The commands on Linux (the engine carries out everything marked "driver"):
//   0      Unchanged: the control's own events pass through untouched. The default of C5-C7, and
//          what makes the default record give every event back as it came. To silence a button,
//          give it a keystroke with no key and no modifiers.
//   1      the agent puts the global record's action in its place; should one reach the driver it
//          reads as 0.
//   8-19   scroll; direction (code - 8) % 4: up, down, left, right; kind (code - 8) / 4:
//          0  by `repeat` lines, 0 counting as 1. A line is one wheel notch: REL_WHEEL or
//             REL_HWHEEL 1 with its high-resolution partner 120. From a wheel control each of the
//             wheel's own events, low and high resolution alike, is scaled by the count and turned
//             to the entry's direction, so a high-resolution wheel stays smooth and keeps 120
//             high-resolution units to the notch; from a button, one press scrolls the count at
//             once.
//          1  a page: Page Up / Page Down. A page is a length only the application knows, and
//             toolkits, browsers, editors and pagers all honour those keys (they reach the focused
//             view rather than the one under the pointer). Sideways no key pages across toolkits,
//             so a page left or right is 10 lines of the horizontal wheel.
//          2  to the end: Ctrl+Home / Ctrl+End upwards and downwards (plain Home and End move
//             within a line in text views; with Ctrl they reach the top and bottom in editors,
//             browsers and file lists alike), Home / End left and right (the start and end of the
//             line, the first and last column).
//          A button held on a page or end entry holds the key, so the desktop's key repeat keeps
//          scrolling. `keyCode` 100 marks an entry of the tilting wheel: there up and down read as
//          left and right, as the defaults of PF and PB need. Any other key code reads the
//          direction as named. So the four default wheel entries (8 and 9 with key codes 1 and
//          100, `repeat` 0) give every wheel event back unchanged.
//   20     Precision pointer: while the control is held the pointer moves at a quarter of the
//          speed in force, without acceleration.
//   24     Keystroke: `keyCode` through the virtual key code table (the key at that position),
//          with the modifiers; held while the control is held, so the desktop's key repeat
//          applies. Key code 255 holds only the modifiers.
//   26 27  the agent opens the application or the item; the driver sends it the action.
//   32-40, 43-45  clicks, modifiers held around them. 33 main click = BTN_LEFT, 34 secondary =
//          BTN_RIGHT, 32 middle = BTN_MIDDLE, 35-40 buttons 4-9 = BTN_SIDE, BTN_EXTRA,
//          BTN_FORWARD, BTN_BACK, BTN_TASK and the ninth button code (BTN_TASK + 1). The button
//          stays down while the control is held, so a remapped button still drags.
//          43 / 44: the main button clicked two or three times, press and release 30 ms apart
//          (libinput drops a release and press closer than its 25 ms debounce time as a bouncing
//          switch); the last press is held until the control is released, so double-click-drag
//          selects word by word. 90 and 150 ms in all, well inside the desktops' double-click
//          time (400 ms by default).
//          45: click lock. The first press of the control presses the main button and keeps it
//          down; the next press of a control with this command lets it go. A change of record or
//          mode and the mouse going away let it go as well.
//   64-70  special functions: the desktop's own default shortcut for each (the engine's table per
//          desktop: GNOME, KDE Plasma, sway, and a common set for the others). Its modifiers stay
//          down while the control is held, so holding Switch application keeps the switcher open.
//   71-74  undo, cut, copy, paste: the agent answers with the key that types z, x, c or v on the
//          user's layout, and the driver types Ctrl with the key at that position, so a QWERTZ
//          user's undo is where Z is. Linux applications take Ctrl+Z/X/C/V; Super+Z would tile.
//   75 76  forward and back: Alt+Right and Alt+Left, what browsers and the file managers of GTK
//          and Qt honour (Super+Left would tile the window).
// Codes no table row names pass the control's events through, like 0.
#pragma once

#include <cstddef>
#include <string>

#include "platform/MacTypes.h"

// Which kind of action a command is.
enum class CommandFamily : UInt8 {
  kUnchanged,
  kAsGlobal,
  kScroll,
  kPrecision,
  kKeystroke,
  kOpenApplication,
  kOpenItem,
  kClick,
  kSpecial,
  kEdit,
  kNavigation,
};

// Who carries a command out.
enum class CommandActor : UInt8 {
  kNobody,
  kAgent,               // the agent alone, before the record reaches the driver or on its request
  kDriver,              // the driver's action engine
  kAgentThroughDriver,  // the driver asks the agent, the agent answers with a keystroke to post
};

// The pane menu that offers a command (the settings pane builds its menus from these names).
enum class PaneMenu : UInt8 {
  kNone,        // the pane offers it nowhere
  kAction,      // a row of the action pop-up itself
  kClick,       // the click-type pop-up
  kSpecialKey,  // the special-keys pop-up
  kScroll,      // the scroll direction and amount pop-ups
};

struct CommandInfo {
  UInt16 code;
  CommandFamily family;
  CommandActor actor;
  PaneMenu menu;
  const char* name;        // the pane's title: "Button 4 click"
  const char* word;        // corvimus-prefs' word: "button-4-click"
  const char* legacyWord;  // a word older versions of corvimus-prefs took, or null
  const char* onLinux;     // what a mouse does with it on Linux, in a few words
  UInt8 button;            // clicks: 1 main, 2 secondary, 3 middle, 4-9 buttons 4-9; else 0
  UInt8 clicks;            // clicks: 1, 2 or 3 clicks, 0 for the click lock
};

struct ModifierInfo {
  UInt16 bit;                  // in CorvimusActionRec.modifiers
  const char* name;            // "Ctrl": the pane's check box and the words of show
  const char* word;            // "ctrl"
  const char* legacyWords[2];  // older words of corvimus-prefs ("control"), or null
};

struct ControlInfo {
  int slot;           // the action slot
  const char* id;     // "C0", "PF": the control identifier of the pane's outline
  const char* name;   // "Wheel tilted left": the outline's row
  const char* word;   // "tilt-left": corvimus-prefs takes it beside the identifier
  const char* input;  // the Linux input it stands for, "REL_HWHEEL < 0"
};

inline constexpr size_t kCommandTableSize = 43;
extern const CommandInfo kCommandTable[kCommandTableSize];
// In the order the settings pane shows the check boxes and show lists them.
inline constexpr size_t kModifierTableSize = 6;
extern const ModifierInfo kModifierTable[kModifierTableSize];
// The twelve controls, in the order of the pane's outline.
inline constexpr size_t kControlTableSize = 12;
extern const ControlInfo kControlTable[kControlTableSize];

// The row of a command code, or null for a code nothing produces.
const CommandInfo* FindCommand(UInt16 code);
// The row a word names: its word or legacy word, any letter case; null when none does.
const CommandInfo* FindCommandByWord(const std::string& word);
// The modifier bit a word names (its word, a legacy word, any letter case), 0 when none does.
UInt16 FindModifierByWord(const std::string& word);
// Every bit of the table: a modifiers value holding any other names no key.
UInt16 AllModifierBits();
// The control of an action slot (null for slots 8-11), or of a word: identifier or word.
const ControlInfo* FindControl(int slot);
const ControlInfo* FindControlByWord(const std::string& word);

// The word a name gives: lower case, spaces as hyphens.
std::string CommandWordFromName(const char* name);

// Scroll commands: direction 0-3 (up, down, left, right) and kind 0-2 (lines, page, end).
inline int ScrollDirection(UInt16 code) {
  return (code - 8) % 4;
}
inline int ScrollKind(UInt16 code) {
  return (code - 8) / 4;
}
// "Up", "Down", "Left", "Right": the rows of the pane's direction pop-up.
const char* ScrollDirectionName(int direction);
// The key code that marks an entry of the tilting wheel, and the direction such an entry scrolls.
enum : UInt8 { kScrollTiltKeyCode = 100 };
int EffectiveScrollDirection(UInt16 code, UInt8 keyCode);
