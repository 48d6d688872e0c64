// Short names of keys and key combinations ("cmd+shift+F5", "ctrl+a", "opt+num+3") that follow the
// current keyboard layout, for the settings pane and corvimus-prefs. All names are Pascal strings
// (a length byte, then the bytes), cut at the maximum length the caller gives; `out` must have
// room for that many bytes plus the length byte.
//
// Characters are the low 8 bits of what a key types: for U+0000-U+00FF that is the Latin-1 byte.
#pragma once

#include <string>

#include "platform/MacTypes.h"

// The character each virtual key code types with no modifier held, 0 for none. All zero until
// GetKeyboardInformation runs. A dead key holds the accent it shows on its own.
extern UInt8 gAsciiTable[128];

// Fills gAsciiTable from the current keyboard layout; left as it was when the layout cannot be
// read.
void GetKeyboardInformation();

UInt8 GetKeyChar(UInt8 keyCode);

// "command" .. "control" for the modifier keys, the character the key types, or a word for keys
// whose character is a control character ("esc", "space", "F5", "fw del", ...); "?" otherwise.
void GetKeyName(UInt8 keyCode, StringPtr out, SInt16 maxLength);

// The modifier byte (0x01 command, 0x02 shift, 0x04 caps lock, 0x08 option, 0x10 control; 0x20 has
// no word) as "cmd+shift+caps+opt+ctrl+", with "num+" for keypad keys (65-92).
void GetModifiersName(UInt8 keyCode, UInt8 modifiers, StringPtr out, SInt16 maxLength);

// The same as bytes 0x01 command, 0x02 shift, 0x03 option, 0x04 control, 0x05 keypad (caps lock has
// none), followed by a space when anything was written.
void GetModifiersCode(UInt8 keyCode, UInt8 modifiers, StringPtr out, SInt16 maxLength);

// The modifiers (code form when useCodes is not 0) followed by the key's name; "(none)" when either
// word is 0xFFFF. The key code is the high byte of keyWord, the modifier byte the high byte of
// modifierWord.
void GetKeyCombinationName(UInt16 keyWord, UInt16 modifierWord, StringPtr out, SInt16 maxLength,
                           UInt16 useCodes);

// ---- Keys in the words a Linux user types (corvimus-prefs --key, its show and its export)
//
// A keystroke stores a virtual key code: a position on the keyboard, which the driver turns into
// the evdev key at that position (the virtual key code table). A key's word names that position
// as Linux names the key there: "c", "5", "minus", "f5", "left", "page-up", "kp-5", "space". The
// word of a letter, digit or sign is what the key at that position types on the US layout, on
// every layout: "c" is the key right of X wherever the user's layout puts C, so that a record
// means the same on every machine (the edit commands undo, cut, copy and paste follow the layout
// instead). Key code 255, a keystroke of its modifiers alone, is "none".

// The word of a key code ("c", "page-up", "none"), or null where no key sits.
const char* KeyWord(UInt8 keyCode);
// The key as Linux shortcuts write it, named by its keycap on a US keyboard ("C", "Page Up",
// "Keypad 5", "-"), "no key" for 255; null where no key sits. (The pane's labels follow the
// user's layout instead.)
const char* UsKeyLabel(UInt8 keyCode);
// The key code a word names: its word, its label or another word it takes ("enter", "esc",
// "pgup", the evdev name "KEY_PAGEUP"), in any letter case, with spaces, hyphens and underscores
// alike; a single character is the key that types it on the US layout. -1 when none does.
int KeyCodeFromWord(const std::string& word);
