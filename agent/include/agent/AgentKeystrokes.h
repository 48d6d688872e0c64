// Which keystroke the agent types for a driver's action request, and how it is packed for 'CVtk'.
#pragma once

#include "platform/MacTypes.h"
#include "settings/CorvimusPrefs.h"

// The applications in which back and forward are command-[ and command-] rather than command with
// the arrow characters.
inline constexpr OSType kBracketNavigationSignatures[] = {FourCC("sfri"), FourCC("MACS"),
                                                          FourCC("hbwr")};

inline constexpr UInt8 kRightArrowCharCode = 0x1D;
inline constexpr UInt8 kLeftArrowCharCode = 0x1C;

// For the edit commands 71-74 and back/forward 75/76: stores the character and the action's own
// modifiers and returns true. Every other command is none of the agent's keystrokes: false.
Boolean GetActionKeystroke(UInt16 command, OSType frontSignature, UInt8* charCode,
                           UInt16* modifiers);

// The 32-bit keystroke for 'CVtk': character in bits 0-7, the key that types it on the layout in
// bits 8-15 (255 when none does), and in the high half the action's modifiers together with those
// the layout needs for the character.
UInt32 MakeLayoutKeystroke(UInt8 charCode, UInt16 modifiers, const UInt8* charKeyCodes,
                           const UInt8* charModifiers);
