// Which key, with which modifier keys, types each 8-bit character on the keyboard layout of
// start-up. The agent turns the characters of its edit and navigation keystrokes into key codes
// for the driver with two table look-ups.
#pragma once

#include "platform/MacTypes.h"

// 256 entries each, indexed by character code: the virtual key code (255 = no key types it) and the
// modifier keys it needs as the high byte of the Carbon layout (0x01 command, 0x02 shift, 0x04 caps
// lock, 0x08 option, 0x10 control). Null until BuildKeyTables has run.
extern UInt8* gCharKeyCodes;
extern UInt8* gCharModifiers;

enum : UInt8 { kNoKeyCode = 255 };

// Allocates both tables (a failed allocation stores null) and fills them from the current layout.
// Returns 1 when they were filled, 0 otherwise. Release them with DisposeKeyTables.
SInt16 BuildKeyTables(UInt8** keyCodes, UInt8** modifiers);
void DisposeKeyTables(UInt8* keyCodes, UInt8* modifiers);

// Fills two 256-entry tables from the current keyboard layout; 1 when the layout could be read.
SInt16 FillKeyTables(UInt8* keyCodes, UInt8* modifiers);

// Whether a key found later for a character should replace the one found before: escape beats
// keypad clear, a main-keyboard key beats a keypad key, then cheaper modifiers win.
Boolean PreferNewKey(UInt8 newKey, UInt8 newModifiers, UInt8 oldKey, UInt8 oldModifiers);

// Files key `key` with modifier byte `modifiers` for character `ch`, unless the entry already holds
// a key that PreferNewKey keeps.
void OfferKey(UInt8* keyCodes, UInt8* modifiers, UInt8 ch, UInt8 key, UInt8 modifierByte);
