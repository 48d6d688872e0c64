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
// "keystroke Super+Return", "open application 'ttxt'", "open item \"Mail\"". A scroll entry
// of the tilting wheel is named by the direction it scrolls.
std::string DescribeAction(const CorvimusActionRec& action);
// In the words corvimus-prefs set takes, so that what show prints can be typed back:
// The modifier bits, "ctrl+shift"; "" for none; a number ("0x0040") when a bit is no modifier's.
std::string ModifierWords(UInt16 modifiers);
// "back", "scroll-down --repeat 3", "keystroke --key c --modifiers ctrl", "main-click --modifiers
// alt", "open-item \"Mail\"", "unknown command 99". A scroll entry of the tilting wheel is named
// by the direction it scrolls.
std::string ActionWords(const CorvimusActionRec& action);
// What the action does on a Linux desktop where its words do not say it: "Ctrl+C" for that
// keystroke, "Alt+Left" for back, "Page Down"; "" otherwise. With `layoutChars` (what each key
// types on the user's layout, as gAsciiTable holds it) a keystroke whose key types another
// character there says so: "Ctrl+Y: the key that types z on this keyboard layout".
std::string ActionEffect(const CorvimusActionRec& action, const UInt8* layoutChars = nullptr);
// "C" for the key that types c on the US layout, "Page Up", "no key"; "key 0x34" where no key sits.
std::string KeyText(UInt8 keyCode);


// A four-character code between single quotes, non-printing bytes as \xNN: 'CvMP', '\x00\x00\x00A'.
std::string FourCCText(OSType code);
// The text of a Pascal string field with at most `capacity` - 1 characters (the length byte is cut
// to that).
std::string PascalText(const unsigned char* field, int capacity);

// The readable form of one record (the lines corvimus-prefs show prints for it), each line ending
// in a newline; `index` is its position in the base. A control's line holds its identifier, its
// word, its name and its action in words, then what the action does: "  C3     back       button 4
// (thumb, back)      back (Alt+Left)". Slots no control offers are listed when they hold an action.
std::string DescribeRecord(const CorvimusPrefsRec& record, int index,
                           const UInt8* layoutChars = nullptr);
