#include "agent/KeyTables.h"

#include <cstring>

#include "platform/Keyboards.h"
#include "platform/MacMemory.h"

UInt8* gCharKeyCodes = nullptr;
UInt8* gCharModifiers = nullptr;

namespace {

constexpr int kTableSize = 256;
constexpr int kKeyCount = 128;

// Carbon modifier states tried, cheapest first: none, shift, caps lock, option, shift-option,
// caps-lock-option, control.
constexpr UInt16 kModifierStates[] = {0x0000, 0x0200, 0x0400, 0x0800, 0x0A00, 0x0C00, 0x1000};

constexpr UInt8 kEscapeKey = 0x35;
constexpr UInt8 kKeypadClearKey = 0x47;

bool IsPadKey(UInt8 key) {
  return key >= 0x40 && key <= 0x5F;
}

// What holding the modifier keys costs the user: command 16, caps lock 8, control 4, option 2,
// shift 1.
int ModifierCost(UInt8 modifiers) {
  int cost = 0;
  if (modifiers & 0x01) cost += 16;
  if (modifiers & 0x04) cost += 8;
  if (modifiers & 0x10) cost += 4;
  if (modifiers & 0x08) cost += 2;
  if (modifiers & 0x02) cost += 1;
  return cost;
}

}  // namespace

Boolean PreferNewKey(UInt8 newKey, UInt8 newModifiers, UInt8 oldKey, UInt8 oldModifiers) {
  if (newKey == kEscapeKey && oldKey == kKeypadClearKey) return true;
  const bool newPad = IsPadKey(newKey), oldPad = IsPadKey(oldKey);
  if (newPad != oldPad) return oldPad;
  return ModifierCost(newModifiers) < ModifierCost(oldModifiers);
}

void OfferKey(UInt8* keyCodes, UInt8* modifiers, UInt8 ch, UInt8 key, UInt8 modifierByte) {
  if (keyCodes[ch] == kNoKeyCode || PreferNewKey(key, modifierByte, keyCodes[ch], modifiers[ch])) {
    keyCodes[ch] = key;
    modifiers[ch] = modifierByte;
  }
}

SInt16 FillKeyTables(UInt8* keyCodes, UInt8* modifiers) {
  const void* kchr = nullptr;
  const void* uchr = nullptr;
  KeyboardLayoutRef layout = nullptr;
  if (KLGetCurrentKeyboardLayout(&layout) == noErr) {
    const void* kindValue = nullptr;
    if (KLGetKeyboardLayoutProperty(layout, kKLKind, &kindValue) == noErr && kindValue) {
      const KeyboardLayoutKind kind = *static_cast<const KeyboardLayoutKind*>(kindValue);
      if (kind == kKLKCHRKind) {
        if (KLGetKeyboardLayoutProperty(layout, kKLKCHRData, &kchr) != noErr) kchr = nullptr;
      } else if (kind == kKLuchrKind || kind == kKLKCHRuchrKind) {
        if (KLGetKeyboardLayoutProperty(layout, kKLuchrData, &uchr) != noErr) uchr = nullptr;
      }
    }
  }

  std::memset(keyCodes, kNoKeyCode, kTableSize);
  std::memset(modifiers, 0, kTableSize);

  if (kchr) {
    UInt32 state = 0;
    for (UInt16 s : kModifierStates) {
      for (UInt16 k = 0; k < kKeyCount; ++k) {
        const UInt32 result = KeyTranslate(kchr, UInt16(k | s), &state);
        if (result != 0)
          OfferKey(keyCodes, modifiers, UInt8(result & 0xFF), UInt8(k), UInt8(s >> 8));
      }
    }
    return 1;
  }
  if (uchr) {
    const UInt32 keyboardType = LMGetKbdType();
    UInt32 deadKeyState = 0;
    for (UInt16 s : kModifierStates) {
      for (UInt16 k = 0; k < kKeyCount; ++k) {
        UniChar unit = 0;
        UniCharCount length = 0;
        const OSStatus err =
            UCKeyTranslate(static_cast<const UCKeyboardLayout*>(uchr), k, kUCKeyActionDown,
                           UInt32(s >> 8), keyboardType, 0, &deadKeyState, 1, &length, &unit);
        // A key that only starts a dead-key sequence types nothing by itself: it is not filed,
        // and the sequence is dropped so that it cannot change what the next key types.
        if (deadKeyState != 0) {
          deadKeyState = 0;
          continue;
        }
        if (err == noErr && length >= 1)
          OfferKey(keyCodes, modifiers, UInt8(unit & 0xFF), UInt8(k), UInt8(s >> 8));
      }
    }
    return 1;
  }
  return 0;
}

SInt16 BuildKeyTables(UInt8** keyCodes, UInt8** modifiers) {
  *keyCodes = reinterpret_cast<UInt8*>(NewPtr(kTableSize));
  *modifiers = reinterpret_cast<UInt8*>(NewPtr(kTableSize));
  if (!*keyCodes || !*modifiers) return 0;
  return FillKeyTables(*keyCodes, *modifiers);
}

void DisposeKeyTables(UInt8* keyCodes, UInt8* modifiers) {
  if (keyCodes) DisposePtr(reinterpret_cast<Ptr>(keyCodes));
  if (modifiers) DisposePtr(reinterpret_cast<Ptr>(modifiers));
}
