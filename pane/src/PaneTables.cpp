#include "PaneTables.h"

#include <cstring>

#include "recordbase/PStrings.h"

const SInt16 gActionMenuCommands[] = {0,
                                      1,
                                      kMenuSeparator,
                                      kMenuClickGroup,
                                      kCmdKeystroke,
                                      kMenuSpecialKeyGroup,
                                      27,
                                      kMenuSeparator,
                                      kMenuScrollGroup,
                                      20,
                                      kMenuEnd};
const SInt16 gClickTypeCommands[] = {33, 34, 32, 43, 44, 45, kMenuSeparator,
                                     35, 36, 37, 38, 39, 40, kMenuEnd};
const SInt16 gSpecialKeyCommands[] = {75, 76, kMenuSeparator, 65, 66, 64, 68, 69,
                                      70, 67, kMenuSeparator, 71, 72, 73, 74, kMenuEnd};
const SInt16 gScrollSetA[] = {8, 9, 10, 11, kMenuEnd};
const SInt16 gScrollSetB[] = {12, 13, 14, 15, kMenuEnd};
const SInt16 gScrollSetC[] = {16, 17, 18, 19, kMenuEnd};
// -2 picks set B, -1 set C, a positive value is a count for set A.
const SInt16 gScrollCountValues[] = {1, -2, -1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 25, 30};
static const int kScrollCountRows = sizeof(gScrollCountValues) / sizeof(gScrollCountValues[0]);

const UInt8 gMoreKeysCodes[] = {
    255,  255,                                                               // (none), separator
    0x35, 0x30, 0x24, 0x33, 0x47, 0x4C, 0x72, 0x75, 0x73, 0x77, 0x74, 0x79,  // esc .. pg dwn
    0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D, 0x67, 0x6F, 0x69,  // F1 .. F13
    0x6B, 0x71,                                                                    // F14, F15
};
const int gMoreKeysCount = sizeof(gMoreKeysCodes);

#define CTL(a, b) UInt16((UInt8(a) << 8) | UInt8(b))
const UInt16 gMouseCtlID[] = {
    CTL('C', '0'), CTL('C', '1'), CTL('C', '2'), CTL('C', '3'), CTL('C', '4'),
    CTL('R', 'F'), CTL('R', 'B'), CTL('P', 'F'), CTL('P', 'B'), CTL('C', '3'),
    CTL('C', '4'), CTL('C', '5'), CTL('C', '6'), CTL('C', '7'), 0};
#undef CTL
const UInt16 gMouseCtlIndex[] = {0, 1, 2, 3, 4, 12, 13, 14, 15, 3, 4, 5, 6, 7, 0xFFFF};

int FindInMenuTable(const SInt16* table, SInt16 value) {
  for (int i = 0; table[i] != kMenuEnd; ++i)
    if (table[i] == value) return i;
  return -1;
}

int MenuTableCount(const SInt16* table) {
  int n = 0;
  while (table[n] != kMenuEnd) ++n;
  return n;
}

UInt16 CommandForActionRow(int row) {
  if (row < 0 || row >= MenuTableCount(gActionMenuCommands)) return 0;
  switch (SInt16 entry = gActionMenuCommands[row]) {
    case kMenuSeparator:
      return 0;
    case kMenuClickGroup:
      return gClickTypeCommands[0];
    case kMenuSpecialKeyGroup:
      return gSpecialKeyCommands[0];
    case kMenuScrollGroup:
      return gScrollSetA[0];
    default:
      return UInt16(entry);
  }
}

int SliderFromSpeed(UInt8 speed) {
  if (speed == 255) return 50;
  if (speed <= 40) return (40 - speed) * 50 / 32 + 50;
  return (140 - speed) / 2;
}

UInt8 SpeedFromSlider(int v) {
  if (v <= 49) return UInt8(140 - 2 * v);
  return UInt8(40 - (32 * v - 1600) / 50);
}

int SliderFromAcceleration(UInt8 acceleration) {
  return acceleration == 255 ? 50 : acceleration >> 1;
}

UInt8 AccelerationFromSlider(int value) {
  return UInt8(2 * value);
}

UInt8 GetKeycodeFromMenu(SInt16 row) {
  if (row < 1 || row > 28) return 255;
  return gMoreKeysCodes[row];
}

SInt16 GetActionFromControlID(UInt16 controlID) {
  for (int i = 0; gMouseCtlID[i] != 0; ++i)
    if (gMouseCtlID[i] == controlID) return SInt16(gMouseCtlIndex[i]);
  return -1;
}

int ScrollCountRowFor(UInt16 command, UInt8 repeat) {
  if (command >= 12 && command <= 15) return 1;
  if (command >= 16 && command <= 19) return 2;
  if (repeat <= 1) return 0;
  for (int q = 3; q < kScrollCountRows; ++q)
    if (gScrollCountValues[q] == repeat) return q;
  return 3;
}

bool ApplyScrollCountRow(CorvimusActionRec* action, int row) {
  if (row < 0 || row >= kScrollCountRows) return false;
  if (action->command < kCmdScrollFirst || action->command > kCmdScrollLast) return false;
  SInt16 v = gScrollCountValues[row];
  UInt16 d = (action->command - 8) % 4;
  if (v == -2) {
    action->command = 12 + d;
    action->repeat = 0;
  } else if (v == -1) {
    action->command = 16 + d;
    action->repeat = 0;
  } else {
    action->command = 8 + d;
    action->repeat = UInt8(v);
  }
  return true;
}

bool ApplyScrollDirection(CorvimusActionRec* action, int row) {
  if (row < 0 || row > 3) return false;
  for (const SInt16* set : {gScrollSetA, gScrollSetB, gScrollSetC}) {
    if (FindInMenuTable(set, SInt16(action->command)) >= 0) {
      action->command = UInt16(set[0] + row);
      return true;
    }
  }
  return false;
}

void ResetActionForRow(CorvimusActionRec* action, int row) {
  action->modifiers = 0;
  action->keyCode = 255;
  action->repeat = 0;
  action->delay = 0;
  action->reserved1 = 0;
  action->reserved2 = 0;
  action->data[0] = 0;
  action->command = CommandForActionRow(row);
}

bool EnforceMainClick(CorvimusPrefsRec* prefs) {
  if (HasMainClick(*prefs)) return false;
  CorvimusActionRec* a = prefs->device[0].action;
  a[0].command = kCmdMainClick;
  a[0].reserved1 = 0;
  a[0].modifiers = 0;
  a[0].keyCode = 0;
  a[0].repeat = 0;
  a[0].delay = 0;
  a[0].reserved2 = 0;
  a[0].data[0] = 0;
  return true;
}

SInt16 CompareByApp(const void* a, SInt32 sizeA, const void* b, SInt32 sizeB) {
  // A record of another size is not a settings record: it goes after all of them, so that it can
  // never take the global record's place in front.
  bool settingsA = sizeA == kCorvimusPrefsRecSize, settingsB = sizeB == kCorvimusPrefsRecSize;
  if (!settingsA || !settingsB) return SInt16(settingsB - settingsA);
  // Records sit 2-aligned in the base: read the fields by copying, never through the struct.
  UInt32 appA = 0, appB = 0;
  Str31 nameA = {0}, nameB = {0};
  std::memcpy(&appA, a, 4);
  std::memcpy(nameA, static_cast<const char*>(a) + offsetof(CorvimusPrefsRec, appName),
              sizeof(Str31));
  std::memcpy(&appB, b, 4);
  std::memcpy(nameB, static_cast<const char*>(b) + offsetof(CorvimusPrefsRec, appName),
              sizeof(Str31));
  if (appA == 0) return -1;
  if (appB == 0) return 1;
  // A damaged length byte must not make the comparison read past the field.
  if (nameA[0] > 31) nameA[0] = 31;
  if (nameB[0] > 31) nameB[0] = 31;
  return PStringCmp(nameA, nameB);
}

UInt16 ModifiersFromCapture(const CapturedModifiers& m) {
  UInt16 bits = 0;
  if (m.command) bits |= cmdKey;
  if (m.option) bits |= optionKey;
  if (m.control) bits |= controlKey;
  if (m.shift) bits |= shiftKey;
  if (m.capsLock) bits |= alphaLock;
  return bits;
}
