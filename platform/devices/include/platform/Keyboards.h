// Keyboard layouts: the current layout, its kind and translation data, key translation and the
// keyboard type.
//
// The system keeps classic virtual key codes (0x00-0x7F) and the modifier byte of the Carbon
// layout (0x01 command, 0x02 shift, 0x04 caps lock, 0x08 option, 0x10 control). Underneath, a
// layout is a real XKB keymap (xkbcommon, the system's XKB data): a virtual key code becomes the
// evdev code of the key at the same position (platform/devices/data/mac_vk_to_evdev.tsv) plus 8,
// and the modifiers become shift = Shift, caps lock = Lock, option = AltGr (level 3), control =
// Control, command = Super. Num Lock is always on, because the classic keypad always types digits.
//
// Which layout is current: the X server's keymap and active group when there is a display, else
// the system default keyboard (/etc/default/keyboard: XKBLAYOUT, XKBVARIANT, XKBMODEL; the first
// layout of a list), else "us". Layouts live for the whole process, like the system's own.
//
// Besides the XKB layouts there is one built-in layout of 'KCHR' kind (kind 1) with 'KCHR' data in
// the classic resource format, for callers that still carry a 'KCHR' branch.
#pragma once

#include <cstddef>

#include "platform/MacTypes.h"
#include "platform/VirtualKeyCodes.h"

using UniChar = UInt16;
using UniCharCount = unsigned long;
using OptionBits = UInt32;

struct OpaqueKeyboardLayoutRef;
using KeyboardLayoutRef = OpaqueKeyboardLayoutRef*;
using KeyboardLayoutPropertyTag = UInt32;
using KeyboardLayoutKind = SInt32;

// The 'uchr' data of a layout. Opaque here: only UCKeyTranslate reads it.
struct UCKeyboardLayout;

enum : KeyboardLayoutPropertyTag {
  kKLKCHRData = 0,  // const void*: the 'KCHR' resource bytes
  kKLuchrData = 1,  // const UCKeyboardLayout*
  kKLName = 4,      // const char*: the layout's name, "de" or "us(intl)"; zero-terminated
  kKLKind = 7,  // const KeyboardLayoutKind*: points at the kind (never the kind cast to a pointer)
};

enum : KeyboardLayoutKind {
  kKLKCHRuchrKind = 0,  // both 'KCHR' and 'uchr' data
  kKLKCHRKind = 1,      // 'KCHR' data only
  kKLuchrKind = 2,      // 'uchr' data only
};

enum : UInt16 {
  kUCKeyActionDown = 0,
  kUCKeyActionUp = 1,
  kUCKeyActionAutoKey = 2,
  kUCKeyActionDisplay = 3,
};

enum : OptionBits {
  kUCKeyTranslateNoDeadKeysBit = 0,
  kUCKeyTranslateNoDeadKeysMask = 1u << kUCKeyTranslateNoDeadKeysBit,
};

enum : OSStatus {
  kUCOutputBufferTooSmall = -25340,
  kUCKeyLayoutNotFound = -25341,  // no 'uchr' data at the given address
};

// The keyboard type of the built-in keyboard (an ISO-positioned USB keyboard).
enum : UInt8 { kKeyboardTypeISO = 205 };

OSStatus KLGetCurrentKeyboardLayout(KeyboardLayoutRef* layout);
OSStatus KLGetKeyboardLayoutProperty(KeyboardLayoutRef layout, KeyboardLayoutPropertyTag tag,
                                     const void** value);

// Translates a key event through 'uchr' data. `modifierKeyState` is the Carbon modifier byte
// (modifiers >> 8). Dead keys: a key that only starts a sequence produces no unit and leaves a
// non-zero `*deadKeyState`; the key after it produces the composed character, or the dead key's own
// character followed by its own when the two do not combine. Produces at most `maxStringLength`
// units; when the result is longer, nothing is written and kUCOutputBufferTooSmall is returned.
// A key that types nothing (no position on Linux, a modifier, a media key) gives 0 units and noErr.
OSStatus UCKeyTranslate(const UCKeyboardLayout* layout, UInt16 virtualKeyCode, UInt16 keyAction,
                        UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]);

// Translates a key through 'KCHR' data. `keycode` carries the virtual key code in bits 0-6, key-up
// in bit 7 and the Carbon modifier byte in bits 8-15. The character is in the low byte of the
// result (0 for none). The built-in layout has no dead keys; dead-key records are not read and
// `*state` is left as it is.
UInt32 KeyTranslate(const void* transData, UInt16 keycode, UInt32* state);

UInt8 LMGetKbdType();

// The current layout's translation data: exactly one of *kchr and *uchr is set when the layout
// could be read ('KCHR' data for a layout of that kind, else its 'uchr' data), neither otherwise.
void GetCurrentKeyboardLayoutData(const void** kchr, const void** uchr);

// Test seams -------------------------------------------------------------------------------------

// The name that selects the built-in 'KCHR' layout.
inline constexpr const char kKLBuiltInKCHRLayoutName[] = "corvimus-kchr";

// Makes a layout current by name, "de", "us(intl)" (XKB layout with its variant in parentheses),
// or kKLBuiltInKCHRLayoutName; nullptr goes back to finding the system's layout. Returns
// kUCKeyLayoutNotFound, leaving the choice as it was, when XKB does not know the layout.
OSStatus KLSetCurrentKeyboardLayoutForTesting(const char* name);

// Reads the system default keyboard from another file than /etc/default/keyboard; nullptr restores
// that path.
void KLSetDefaultKeyboardFileForTesting(const char* path);
