// Settings records in words: the names of the action slots and of the commands, as the
// corvimus-prefs tool and the simulated driver show them. The names come from the one table of
// commands, modifiers and controls (settings/CommandTable.h).
#pragma once

#include <string>

#include "platform/MacTypes.h"
#include "settings/CorvimusPrefs.h"

// "C0".."C7" for slots 0-7, "RF" "RB" "PF" "PB" for 12-15; null for the slots no control offers.
const char* SlotControlName(int slot);
// The control name, or "slot N" for slots 8-11.
std::string SlotLabel(int slot);
// A slot from its control identifier or word ("PF", "tilt-left"; any letter case) or its number
// 0-15; -1 when it is none of these.
int SlotFromText(const std::string& text);

// The modifier bits as Linux users name them, "Ctrl+Shift"; "" for none.
std::string DescribeModifiers(UInt16 modifiers);
// What an action does, in words: "back", "main click with Alt", "scroll down by 3 lines",
// "keystroke return with Super", "open application 'ttxt'", "open item \"Mail\"". A scroll entry
// of the tilting wheel is named by the direction it scrolls.
std::string DescribeAction(const CorvimusActionRec& action);
// A short name for a virtual key code ("return", "F5", "key 0x2C").
std::string DescribeKeyCode(UInt8 keyCode);

// A four-character code between single quotes, non-printing bytes as \xNN: 'CvMP', '\x00\x00\x00A'.
std::string FourCCText(OSType code);
// The text of a Pascal string field with at most `capacity` - 1 characters (the length byte is cut
// to that).
std::string PascalText(const unsigned char* field, int capacity);

// The readable form of one record (the lines corvimus-prefs show prints for it), each line ending
// in a newline; `index` is its position in the base.
std::string DescribeRecord(const CorvimusPrefsRec& record, int index);
