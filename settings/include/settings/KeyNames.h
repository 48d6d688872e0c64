// Short names of keys and key combinations ("cmd+shift+F5", "ctrl+a", "opt+num+3") that follow the
// current keyboard layout, for the settings pane and corvimus-prefs. All names are Pascal strings
// (a length byte, then the bytes), cut at the maximum length the caller gives; `out` must have
// room for that many bytes plus the length byte.
//
// Characters are the low 8 bits of what a key types: for U+0000-U+00FF that is the Latin-1 byte.
#pragma once

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
