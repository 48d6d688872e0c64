#include "settings/KeyNames.h"

#include "platform/Keyboards.h"
#include "recordbase/PStrings.h"

UInt8 gAsciiTable[128] = {};

namespace {

constexpr int kKeyCount = 128;
constexpr SInt16 kKeyNameMax = 63;

// Pascal strings hold at most 255 characters, whatever limit a caller passes.
SInt16 ClampLimit(SInt16 limit) {
  return limit < 0 ? 0 : (limit > 255 ? 255 : limit);
}

void SetName(const char* text, StringPtr out, SInt16 maxLength) {
  Str255 word;
  CStringPCopy(text, word, 255);
  PStringCopy(word, out, ClampLimit(maxLength));
}

void AppendName(const char* text, StringPtr out, SInt16 maxLength) {
  Str255 word;
  CStringPCopy(text, word, 255);
  PStringCat(word, out, ClampLimit(maxLength));
}

void AppendByte(UInt8 byte, StringPtr out, SInt16 maxLength) {
  const unsigned char word[2] = {1, byte};
  PStringCat(word, out, ClampLimit(maxLength));
}

bool IsKeypadKey(UInt8 keyCode) {
  return keyCode >= 65 && keyCode <= 92;
}

const char* FunctionKeyName(UInt8 keyCode) {
  switch (keyCode) {
    case 122:
      return "F1";
    case 120:
      return "F2";
    case 99:
      return "F3";
    case 118:
      return "F4";
    case 96:
      return "F5";
    case 97:
      return "F6";
    case 98:
      return "F7";
    case 100:
      return "F8";
    case 101:
      return "F9";
    case 109:
      return "F10";
    case 103:
      return "F11";
    case 111:
      return "F12";
    case 105:
      return "F13";
    case 107:
      return "F14";
    case 113:
      return "F15";
    default:
      return "Fx";
  }
}

const char* ControlCharacterName(UInt8 ch, UInt8 keyCode) {
  switch (ch) {
    case 1:
      return "home";
    case 3:
      return "enter";
    case 4:
      return "end";
    case 5:
      return "help";
    case 8:
      return "delete";
    case 9:
      return "tab";
    case 11:
      return "pg up";
    case 12:
      return "pg dwn";
    case 13:
      return "return";
    case 16:
      return FunctionKeyName(keyCode);
    case 27:
      return keyCode == 0x35 ? "esc" : "clear";
    case 28:
      return "left";
    case 29:
      return "right";
    case 30:
      return "up";
    case 31:
      return "down";
    case 32:
      return "space";
    case 127:
      return "fw del";
    default:
      return "?";
  }
}

}  // namespace

void GetKeyboardInformation() {
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
  if (kchr) {
    UInt32 state = 0;
    for (UInt16 k = 0; k < kKeyCount; ++k) gAsciiTable[k] = UInt8(KeyTranslate(kchr, k, &state));
  } else if (uchr) {
    const auto* data = static_cast<const UCKeyboardLayout*>(uchr);
    const UInt32 keyboardType = LMGetKbdType();
    UInt32 deadKeyState = 0;
    for (UInt16 k = 0; k < kKeyCount; ++k) {
      UniChar unit = 0;
      UniCharCount length = 0;
      OSStatus err = UCKeyTranslate(data, k, kUCKeyActionDown, 0, keyboardType, 0, &deadKeyState, 1,
                                    &length, &unit);
      if (err == noErr && length == 0 && deadKeyState != 0) {
        // A dead key is named by the accent it shows, and its sequence ends here so that the
        // next key is named by its own character.
        deadKeyState = 0;
        err = UCKeyTranslate(data, k, kUCKeyActionDown, 0, keyboardType,
                             kUCKeyTranslateNoDeadKeysMask, &deadKeyState, 1, &length, &unit);
      }
      gAsciiTable[k] = err == noErr && length >= 1 ? UInt8(unit & 0xFF) : 0;
    }
  }
}

UInt8 GetKeyChar(UInt8 keyCode) {
  return gAsciiTable[keyCode & 0x7F];
}

void GetKeyName(UInt8 keyCode, StringPtr out, SInt16 maxLength) {
  static const char* const kModifierKeyNames[] = {"command", "shift", "caps lock", "option",
                                                  "control"};
  if (keyCode >= 55 && keyCode <= 59) {
    SetName(kModifierKeyNames[keyCode - 55], out, maxLength);
    return;
  }
  const UInt8 ch = GetKeyChar(keyCode);
  if (ch > 32 && ch != 127) {
    const unsigned char name[2] = {1, ch};
    PStringCopy(name, out, ClampLimit(maxLength));
    return;
  }
  SetName(ControlCharacterName(ch, keyCode), out, maxLength);
}

void GetModifiersName(UInt8 keyCode, UInt8 modifiers, StringPtr out, SInt16 maxLength) {
  out[0] = 0;
  if (modifiers & 0x01) AppendName("cmd+", out, maxLength);
  if (modifiers & 0x02) AppendName("shift+", out, maxLength);
  if (modifiers & 0x04) AppendName("caps+", out, maxLength);
  if (modifiers & 0x08) AppendName("opt+", out, maxLength);
  if (modifiers & 0x10) AppendName("ctrl+", out, maxLength);
  if (IsKeypadKey(keyCode)) AppendName("num+", out, maxLength);
}

void GetModifiersCode(UInt8 keyCode, UInt8 modifiers, StringPtr out, SInt16 maxLength) {
  out[0] = 0;
  if (modifiers & 0x01) AppendByte(0x01, out, maxLength);
  if (modifiers & 0x02) AppendByte(0x02, out, maxLength);
  if (modifiers & 0x08) AppendByte(0x03, out, maxLength);
  if (modifiers & 0x10) AppendByte(0x04, out, maxLength);
  if (IsKeypadKey(keyCode)) AppendByte(0x05, out, maxLength);
  if (out[0] != 0) AppendByte(' ', out, maxLength);
}

void GetKeyCombinationName(UInt16 keyWord, UInt16 modifierWord, StringPtr out, SInt16 maxLength,
                           UInt16 useCodes) {
  if (keyWord == 0xFFFF || modifierWord == 0xFFFF) {
    SetName("(none)", out, maxLength);
    return;
  }
  const UInt8 key = UInt8(keyWord >> 8);
  const UInt8 modifiers = UInt8(modifierWord >> 8);
  if (useCodes)
    GetModifiersCode(key, modifiers, out, maxLength);
  else
    GetModifiersName(key, modifiers, out, maxLength);
  Str63 keyName;
  GetKeyName(key, keyName, kKeyNameMax);
  PStringCat(keyName, out, ClampLimit(maxLength));
}
