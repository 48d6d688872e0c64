#include "settings/KeyNames.h"

#include <linux/input-event-codes.h>

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
  GetCurrentKeyboardLayoutData(&kchr, &uchr);
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

// ---- Key words ---------------------------------------------------------------------------------

namespace {

struct KeyWordRow {
  UInt16 evdev;
  const char* word;
  const char* label;
  const char* other[2];
};

// By the evdev key at a position: the virtual key code table says which key sits where.
constexpr KeyWordRow kKeyWords[] = {
    {KEY_A, "a", "A", {}}, {KEY_B, "b", "B", {}}, {KEY_C, "c", "C", {}},
    {KEY_D, "d", "D", {}}, {KEY_E, "e", "E", {}}, {KEY_F, "f", "F", {}},
    {KEY_G, "g", "G", {}}, {KEY_H, "h", "H", {}}, {KEY_I, "i", "I", {}},
    {KEY_J, "j", "J", {}}, {KEY_K, "k", "K", {}}, {KEY_L, "l", "L", {}},
    {KEY_M, "m", "M", {}}, {KEY_N, "n", "N", {}}, {KEY_O, "o", "O", {}},
    {KEY_P, "p", "P", {}}, {KEY_Q, "q", "Q", {}}, {KEY_R, "r", "R", {}},
    {KEY_S, "s", "S", {}}, {KEY_T, "t", "T", {}}, {KEY_U, "u", "U", {}},
    {KEY_V, "v", "V", {}}, {KEY_W, "w", "W", {}}, {KEY_X, "x", "X", {}},
    {KEY_Y, "y", "Y", {}}, {KEY_Z, "z", "Z", {}},
    {KEY_1, "1", "1", {}}, {KEY_2, "2", "2", {}}, {KEY_3, "3", "3", {}},
    {KEY_4, "4", "4", {}}, {KEY_5, "5", "5", {}}, {KEY_6, "6", "6", {}},
    {KEY_7, "7", "7", {}}, {KEY_8, "8", "8", {}}, {KEY_9, "9", "9", {}},
    {KEY_0, "0", "0", {}},
    {KEY_MINUS, "minus", "-", {}},
    {KEY_EQUAL, "equal", "=", {"equals"}},
    {KEY_LEFTBRACE, "left-bracket", "[", {"bracketleft"}},
    {KEY_RIGHTBRACE, "right-bracket", "]", {"bracketright"}},
    {KEY_SEMICOLON, "semicolon", ";", {}},
    {KEY_APOSTROPHE, "apostrophe", "'", {"quote"}},
    {KEY_GRAVE, "grave", "`", {"backtick"}},
    {KEY_BACKSLASH, "backslash", "\\", {}},
    {KEY_COMMA, "comma", ",", {}},
    {KEY_DOT, "period", ".", {"dot"}},
    {KEY_SLASH, "slash", "/", {}},
    {KEY_102ND, "102nd", "102nd key", {"iso-key"}},
    {KEY_ENTER, "return", "Return", {"enter"}},
    {KEY_TAB, "tab", "Tab", {}},
    {KEY_SPACE, "space", "Space", {}},
    {KEY_BACKSPACE, "backspace", "Backspace", {}},
    {KEY_ESC, "escape", "Esc", {"esc"}},
    {KEY_LEFTMETA, "super", "Super", {"left-super", "meta"}},
    {KEY_RIGHTMETA, "right-super", "Right Super", {}},
    {KEY_LEFTSHIFT, "shift", "Shift", {"left-shift"}},
    {KEY_CAPSLOCK, "caps-lock", "Caps Lock", {}},
    {KEY_LEFTALT, "alt", "Alt", {"left-alt"}},
    {KEY_LEFTCTRL, "ctrl", "Ctrl", {"left-ctrl", "control"}},
    {KEY_RIGHTSHIFT, "right-shift", "Right Shift", {}},
    {KEY_RIGHTALT, "altgr", "AltGr", {"right-alt"}},
    {KEY_RIGHTCTRL, "right-ctrl", "Right Ctrl", {}},
    {KEY_FN, "fn", "Fn", {}},
    {KEY_F1, "f1", "F1", {}}, {KEY_F2, "f2", "F2", {}}, {KEY_F3, "f3", "F3", {}},
    {KEY_F4, "f4", "F4", {}}, {KEY_F5, "f5", "F5", {}}, {KEY_F6, "f6", "F6", {}},
    {KEY_F7, "f7", "F7", {}}, {KEY_F8, "f8", "F8", {}}, {KEY_F9, "f9", "F9", {}},
    {KEY_F10, "f10", "F10", {}}, {KEY_F11, "f11", "F11", {}}, {KEY_F12, "f12", "F12", {}},
    {KEY_F13, "f13", "F13", {}}, {KEY_F14, "f14", "F14", {}}, {KEY_F15, "f15", "F15", {}},
    {KEY_F16, "f16", "F16", {}}, {KEY_F17, "f17", "F17", {}}, {KEY_F18, "f18", "F18", {}},
    {KEY_F19, "f19", "F19", {}}, {KEY_F20, "f20", "F20", {}},
    {KEY_KP0, "kp-0", "Keypad 0", {}}, {KEY_KP1, "kp-1", "Keypad 1", {}},
    {KEY_KP2, "kp-2", "Keypad 2", {}}, {KEY_KP3, "kp-3", "Keypad 3", {}},
    {KEY_KP4, "kp-4", "Keypad 4", {}}, {KEY_KP5, "kp-5", "Keypad 5", {}},
    {KEY_KP6, "kp-6", "Keypad 6", {}}, {KEY_KP7, "kp-7", "Keypad 7", {}},
    {KEY_KP8, "kp-8", "Keypad 8", {}}, {KEY_KP9, "kp-9", "Keypad 9", {}},
    {KEY_KPDOT, "kp-period", "Keypad .", {"kp-dot"}},
    {KEY_KPASTERISK, "kp-multiply", "Keypad *", {"kp-asterisk"}},
    {KEY_KPPLUS, "kp-plus", "Keypad +", {"kp-add"}},
    {KEY_KPMINUS, "kp-minus", "Keypad -", {"kp-subtract"}},
    {KEY_KPSLASH, "kp-divide", "Keypad /", {"kp-slash"}},
    {KEY_KPENTER, "kp-enter", "Keypad Enter", {}},
    {KEY_KPEQUAL, "kp-equal", "Keypad =", {}},
    {KEY_KPCOMMA, "kp-comma", "Keypad ,", {}},
    {KEY_NUMLOCK, "num-lock", "Num Lock", {"clear"}},
    {KEY_VOLUMEUP, "volume-up", "Volume Up", {}},
    {KEY_VOLUMEDOWN, "volume-down", "Volume Down", {}},
    {KEY_MUTE, "mute", "Mute", {}},
    {KEY_YEN, "yen", "Yen", {}},
    {KEY_RO, "ro", "Ro", {}},
    {KEY_HANJA, "hanja", "Hanja", {}},
    {KEY_HANGEUL, "hangeul", "Hangeul", {}},
    {KEY_COMPOSE, "menu", "Menu", {"compose"}},
    {KEY_INSERT, "insert", "Insert", {"help"}},
    {KEY_HOME, "home", "Home", {}},
    {KEY_END, "end", "End", {}},
    {KEY_PAGEUP, "page-up", "Page Up", {"pgup"}},
    {KEY_PAGEDOWN, "page-down", "Page Down", {"pgdn"}},
    {KEY_DELETE, "delete", "Delete", {"del", "forward-delete"}},
    {KEY_LEFT, "left", "Left", {"left-arrow"}},
    {KEY_RIGHT, "right", "Right", {"right-arrow"}},
    {KEY_UP, "up", "Up", {"up-arrow"}},
    {KEY_DOWN, "down", "Down", {"down-arrow"}},
};

constexpr UInt8 kNoKey = 255;

const KeyWordRow* RowOf(UInt8 keyCode) {
  static const auto* const rows = [] {
    static const KeyWordRow* byCode[kKeyCount] = {};
    for (int vk = 0; vk < kKeyCount; ++vk) {
      const SInt32 evdev = KeyboardEvdevCodeForVirtualKey(UInt16(vk));
      for (const KeyWordRow& row : kKeyWords)
        if (SInt32(row.evdev) == evdev) byCode[vk] = &row;
    }
    return byCode;
  }();
  return keyCode < kKeyCount ? rows[keyCode] : nullptr;
}

// Lower case, without the spaces, hyphens and underscores that join words ("Page Up", "page-up"
// and "PAGE_UP" are one word), keeping a last character that is one ("Keypad -").
std::string Folded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if ((c == ' ' || c == '-' || c == '_') && i + 1 < text.size()) continue;
    out.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  }
  return out;
}

}  // namespace

const char* KeyWord(UInt8 keyCode) {
  if (keyCode == kNoKey) return "none";
  const KeyWordRow* row = RowOf(keyCode);
  return row ? row->word : nullptr;
}

const char* UsKeyLabel(UInt8 keyCode) {
  if (keyCode == kNoKey) return "no key";
  const KeyWordRow* row = RowOf(keyCode);
  return row ? row->label : nullptr;
}

int KeyCodeFromWord(const std::string& word) {
  if (word.empty() || word.size() > 40) return -1;
  std::string text = word;
  // The evdev names a Linux user meets in evtest and keyboard tools: KEY_PAGEUP.
  if (text.size() > 4 && Folded(text.substr(0, 3)) == "key" &&
      (text[3] == '_' || text[3] == '-' || text[3] == ' '))
    text = text.substr(4);
  const std::string folded = Folded(text);
  if (folded == "none") return kNoKey;
  for (int vk = 0; vk < kKeyCount; ++vk) {
    const KeyWordRow* row = RowOf(UInt8(vk));
    if (!row) continue;
    bool match = text.size() == 1 ? Folded(row->label) == folded
                                  : Folded(row->word) == folded || Folded(row->label) == folded;
    for (const char* other : row->other) match = match || (other && Folded(other) == folded);
    if (match) return vk;
  }
  return -1;
}
