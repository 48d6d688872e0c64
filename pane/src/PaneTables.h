// The pane's menu tables and the rules that turn control values into record fields and back. Kept
// apart from the widgets so each rule can be checked on its own.
#pragma once

#include "platform/MacTypes.h"
#include "settings/CorvimusPrefs.h"
#include "settings/PrefsRules.h"

// Menu-table markers: a separator row, the end of a table, and the three group rows of the action
// pop-up that stand for a whole sub-menu.
enum : SInt16 {
  kMenuEnd = -1,
  kMenuSeparator = -2,
  kMenuClickGroup = -3,
  kMenuSpecialKeyGroup = -4,
  kMenuScrollGroup = -5,
};

// Tabs of the action editor.
enum : int {
  kActionTabNone = 0,
  kActionTabClick = 1,
  kActionTabKeystroke = 2,
  kActionTabSpecialKey = 3,
  kActionTabScroll = 4,
  kActionTabOpenItem = 5,
};

extern const SInt16 gActionMenuCommands[];  // entries of the action pop-up, kMenuEnd-terminated
extern const SInt16 gClickTypeCommands[];
extern const SInt16 gSpecialKeyCommands[];
extern const SInt16 gScrollSetA[];
extern const SInt16 gScrollSetB[];
extern const SInt16 gScrollSetC[];
extern const SInt16 gScrollCountValues[];
extern const UInt8 gMoreKeysCodes[];
extern const int gMoreKeysCount;
extern const UInt16 gMouseCtlID[];     // 0-terminated
extern const UInt16 gMouseCtlIndex[];  // 0xFFFF-terminated, same positions

// Position of value in a kMenuEnd-terminated table, or -1.
int FindInMenuTable(const SInt16* table, SInt16 value);
// Number of rows of a kMenuEnd-terminated table.
int MenuTableCount(const SInt16* table);

// The command that choosing row `row` of the action pop-up writes (0 for separators and rows past
// the table).
UInt16 CommandForActionRow(int row);

// Slider 0-100 <-> record byte; 255 is "no custom value" and shows as the middle.
int SliderFromSpeed(UInt8 speed);
UInt8 SpeedFromSlider(int value);
int SliderFromAcceleration(UInt8 acceleration);
UInt8 AccelerationFromSlider(int value);

// More-keys pop-up row -> virtual key code; 255 for rows 0 and 29 on and anything outside.
UInt8 GetKeycodeFromMenu(SInt16 row);

// Control identifier -> action slot, or -1.
SInt16 GetActionFromControlID(UInt16 controlID);

// Row of the scroll-amount pop-up that a scroll command with that repeat count shows.
int ScrollCountRowFor(UInt16 command, UInt8 repeat);
// Applies the amount row to a scroll command (8-19); false, slot unchanged, for other commands.
bool ApplyScrollCountRow(CorvimusActionRec* action, int row);
// Applies the direction row (0-3) within the current scroll set; false for other commands.
bool ApplyScrollDirection(CorvimusActionRec* action, int row);

// Resets the slot for a newly chosen action row and writes its command.
void ResetActionForRow(CorvimusActionRec* action, int row);

// The main-click rule (NeedsMainClick says where it applies): when none of slots 0-2 holds the
// main click, slot 0 gets it. True when the record was changed (and the user should be told).
bool EnforceMainClick(CorvimusPrefsRec* prefs);

// Record-base order of the settings: the global record first, then by appName, letters compared
// without regard to case.
SInt16 CompareByApp(const void* a, SInt32 sizeA, const void* b, SInt32 sizeB);

// Slot `modifiers` bits from the keyboard state of a captured key press.
struct CapturedModifiers {
  bool command, option, control, shift, capsLock;
};
UInt16 ModifiersFromCapture(const CapturedModifiers& m);
