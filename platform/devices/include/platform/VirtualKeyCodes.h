// Classic virtual key codes (0x00-0x7F, what the settings record and the keystroke tables store)
// and the Linux keys at their positions (platform/devices/data/mac_vk_to_evdev.tsv).
//
// A unit of its own, apart from the keyboard layouts: the driver types keystrokes by position and
// needs only this table, not the layouts' xkbcommon and X connection.
#pragma once

#include "platform/MacTypes.h"

// The evdev code of the key at the position of a virtual key code, or -1 when there is none.
SInt32 KeyboardEvdevCodeForVirtualKey(UInt16 virtualKeyCode);
