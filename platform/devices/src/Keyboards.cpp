#include "platform/Keyboards.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr xkb_keycode_t kXkbKeycodeOffset = 8;  // XKB keycode = evdev code + 8
constexpr UInt16 kKeypadClearKey = 0x47;

// Carbon modifier byte bits.
enum : UInt32 {
  kCmdBit = 0x01,
  kShiftBit = 0x02,
  kCapsBit = 0x04,
  kOptionBit = 0x08,
  kControlBit = 0x10,
  kRightShiftBit = 0x20,
  kRightOptionBit = 0x40,
  kRightControlBit = 0x80,
};

// ---- Built-in 'KCHR' layout --------------------------------------------------------------------
//
// 'KCHR' resource (all multi-byte fields big-endian):
//   offset      size      meaning
//        0         2      version
//        2       256      table number for each modifier byte (bits as in kCmdBit...)
//      258         2      number of character tables N
//      260   128 * N      character tables: one byte per virtual key code, 0 = no character
//  260+128N        2      number of dead-key records (0 here; records are not read)
constexpr size_t kKCHRModifierTable = 2;
constexpr size_t kKCHRTableCount = 258;
constexpr size_t kKCHRTables = 260;

enum { kTablePlain, kTableShift, kTableCaps, kTableOption, kTableShiftOption, kTableControl };
constexpr int kKCHRTableTotal = 6;

// A U.S. layout in the Mac OS Roman character set. Keys without a character are 0; function keys
// type 0x10, as the classic layouts do.
void FillPlainTable(UInt8* t) {
  const char* letters = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\rlj'k;\\,/nm.\t `\b";
  for (int k = 0; k <= 0x33; ++k) t[k] = UInt8(letters[k]);
  t[0x0A] = 0xA4;  // section sign
  t[0x35] = 0x1B;
  t[0x41] = '.';
  t[0x43] = '*';
  t[0x45] = '+';
  t[0x47] = 0x1B;  // keypad clear
  t[0x4B] = '/';
  t[0x4C] = 0x03;
  t[0x4E] = '-';
  t[0x51] = '=';
  const char* pad = "01234567";
  for (int k = 0x52; k <= 0x59; ++k) t[k] = UInt8(pad[k - 0x52]);
  t[0x5B] = '8';
  t[0x5C] = '9';
  for (int k : {0x40, 0x4F, 0x50, 0x5A, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65,
                0x67, 0x69, 0x6A, 0x6B, 0x6D, 0x6F, 0x71, 0x76, 0x78, 0x7A})
    t[k] = 0x10;
  t[0x72] = 0x05;
  t[0x73] = 0x01;
  t[0x74] = 0x0B;
  t[0x75] = 0x7F;
  t[0x77] = 0x04;
  t[0x79] = 0x0C;
  t[0x7B] = 0x1C;
  t[0x7C] = 0x1D;
  t[0x7D] = 0x1F;
  t[0x7E] = 0x1E;
}

std::vector<UInt8> MakeBuiltInKCHR() {
  std::vector<UInt8> data(kKCHRTables + 128 * kKCHRTableTotal + 2, 0);
  data[1] = 2;  // version
  for (int m = 0; m < 256; ++m) {
    const bool control = m & (kControlBit | kRightControlBit);
    const bool option = m & (kOptionBit | kRightOptionBit);
    const bool shift = m & (kShiftBit | kRightShiftBit);
    const bool caps = m & kCapsBit;
    UInt8 table = kTablePlain;
    if (control)
      table = kTableControl;
    else if (option)
      table = shift ? kTableShiftOption : kTableOption;
    else if (shift)
      table = kTableShift;
    else if (caps)
      table = kTableCaps;
    data[kKCHRModifierTable + m] = table;
  }
  data[kKCHRTableCount + 1] = kKCHRTableTotal;
  UInt8* tables = data.data() + kKCHRTables;
  UInt8* plain = tables + 128 * kTablePlain;
  FillPlainTable(plain);
  for (int t = 1; t < kKCHRTableTotal; ++t) std::memcpy(tables + 128 * t, plain, 128);

  UInt8* shift = tables + 128 * kTableShift;
  UInt8* caps = tables + 128 * kTableCaps;
  for (int k = 0; k < 128; ++k) {
    if (plain[k] >= 'a' && plain[k] <= 'z') {
      shift[k] = caps[k] = UInt8(plain[k] - 32);
      tables[128 * kTableControl + k] = UInt8(plain[k] - 'a' + 1);
    }
  }
  const char* from = "1234657=9-80][';\\,/.`";
  const char* to = "!@#$^%&+(_*)}{\":|<?>~";
  for (int k = 0; k < 0x33; ++k) {
    if (const char* p = plain[k] ? std::strchr(from, plain[k]) : nullptr)
      shift[k] = UInt8(to[p - from]);
  }
  shift[0x0A] = 0xB1;  // plus-minus
  std::memcpy(tables + 128 * kTableShiftOption, shift, 128);
  UInt8* option = tables + 128 * kTableOption;
  option[0x00] = 0x8C;  // a ring
  option[0x01] = 0xA7;  // sharp s
  option[0x08] = 0x8D;  // c cedilla
  option[0x12] = 0xC1;  // inverted exclamation mark
  option[0x13] = 0xAA;  // trade mark
  option[0x1B] = 0xD0;  // en dash
  UInt8* control = tables + 128 * kTableControl;
  control[0x21] = 0x1B;
  control[0x1E] = 0x1D;
  control[0x2A] = 0x1C;
  return data;
}

// ---- XKB layouts -------------------------------------------------------------------------------

struct XkbContextDeleter {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct XkbKeymapDeleter {
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct XkbStateDeleter {
  void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
struct XkbComposeTableDeleter {
  void operator()(xkb_compose_table* t) const { xkb_compose_table_unref(t); }
};
struct XkbComposeStateDeleter {
  void operator()(xkb_compose_state* s) const { xkb_compose_state_unref(s); }
};
using KeymapPtr = std::unique_ptr<xkb_keymap, XkbKeymapDeleter>;
using StatePtr = std::unique_ptr<xkb_state, XkbStateDeleter>;
using ComposeStatePtr = std::unique_ptr<xkb_compose_state, XkbComposeStateDeleter>;

}  // namespace

struct UCKeyboardLayout {
  KeymapPtr keymap;
  xkb_layout_index_t group = 0;
  xkb_mod_mask_t shift = 0, lock = 0, level3 = 0, control = 0, super = 0, numLock = 0;
  xkb_compose_table* compose = nullptr;  // shared by all layouts; null when there is no table
};

struct OpaqueKeyboardLayoutRef {
  std::string identity;  // what the layout was made from: names, or the X server's keymap text
  std::string name;
  KeyboardLayoutKind kind = kKLuchrKind;
  std::vector<UInt8> kchr;
  std::unique_ptr<UCKeyboardLayout> uchr;
};

namespace {

struct Registry {
  std::mutex mutex;
  std::unique_ptr<xkb_context, XkbContextDeleter> context;
  std::unique_ptr<xkb_compose_table, XkbComposeTableDeleter> compose;
  bool composeTried = false;
  std::vector<std::unique_ptr<OpaqueKeyboardLayoutRef>> layouts;
  bool testLayoutSet = false;
  KeyboardLayoutRef testLayout = nullptr;
  std::string defaultKeyboardFile = "/etc/default/keyboard";
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

void DiscardLog(xkb_context*, xkb_log_level, const char*, va_list) {}

// Callers hold the registry's mutex.
xkb_context* Context(Registry& r) {
  if (!r.context) {
    // Layouts come from explicit names only, never from XKB_DEFAULT_* in the environment.
    r.context.reset(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    // Failures come back as results (an unknown layout is an ordinary answer); nothing is logged.
    if (r.context) xkb_context_set_log_fn(r.context.get(), DiscardLog);
  }
  return r.context.get();
}

// Dead-key sequences come from the compose table of a UTF-8 locale. The user's own compose file
// (XCOMPOSEFILE, ~/.XCompose) takes part, as it does for every other program of the session.
xkb_compose_table* ComposeTable(Registry& r) {
  if (!r.composeTried && Context(r)) {
    r.composeTried = true;
    r.compose.reset(
        xkb_compose_table_new_from_locale(Context(r), "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS));
  }
  return r.compose.get();
}

// The real modifier mask that pressing (or, for a lock, toggling) the key bearing `keysym` sets.
// Keymaps differ in which real modifier carries AltGr, Super and Num Lock; asking the keymap itself
// avoids guessing. Falls back to the customary real modifier when no key bears the keysym.
xkb_mod_mask_t MaskOfModifierKey(xkb_keymap* keymap, xkb_layout_index_t group, xkb_keysym_t keysym,
                                 const char* fallback) {
  StatePtr state(xkb_state_new(keymap));
  if (state) {
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= xkb_keymap_max_keycode(keymap);
         ++kc) {
      const xkb_keysym_t* syms = nullptr;
      const int n = xkb_keymap_key_get_syms_by_level(keymap, kc, group, 0, &syms);
      if (n != 1 || syms[0] != keysym) continue;
      xkb_state_update_key(state.get(), kc, XKB_KEY_DOWN);
      const xkb_mod_mask_t mask = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_EFFECTIVE);
      xkb_state_update_key(state.get(), kc, XKB_KEY_UP);
      if (mask) return mask;
    }
  }
  const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, fallback);
  return index == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << index;
}

xkb_mod_mask_t MaskOfRealModifier(xkb_keymap* keymap, const char* name) {
  const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
  return index == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << index;
}

KeyboardLayoutRef AddXkbLayout(Registry& r, KeymapPtr keymap, xkb_layout_index_t group,
                               std::string identity, std::string name) {
  auto layout = std::make_unique<OpaqueKeyboardLayoutRef>();
  layout->identity = std::move(identity);
  layout->name = std::move(name);
  layout->kind = kKLuchrKind;
  auto uchr = std::make_unique<UCKeyboardLayout>();
  xkb_keymap* km = keymap.get();
  if (group >= xkb_keymap_num_layouts(km)) group = 0;
  uchr->group = group;
  uchr->shift = MaskOfRealModifier(km, XKB_MOD_NAME_SHIFT);
  uchr->lock = MaskOfRealModifier(km, XKB_MOD_NAME_CAPS);
  uchr->control = MaskOfRealModifier(km, XKB_MOD_NAME_CTRL);
  uchr->level3 = MaskOfModifierKey(km, group, XKB_KEY_ISO_Level3_Shift, "Mod5");
  uchr->super = MaskOfModifierKey(km, group, XKB_KEY_Super_L, XKB_MOD_NAME_LOGO);
  uchr->numLock = MaskOfModifierKey(km, group, XKB_KEY_Num_Lock, XKB_MOD_NAME_NUM);
  uchr->compose = ComposeTable(r);
  uchr->keymap = std::move(keymap);
  layout->uchr = std::move(uchr);
  r.layouts.push_back(std::move(layout));
  return r.layouts.back().get();
}

KeyboardLayoutRef FindLayout(Registry& r, const std::string& identity) {
  for (auto& layout : r.layouts)
    if (layout->identity == identity) return layout.get();
  return nullptr;
}

// "de" or "us(intl)" -> layout and variant.
void SplitLayoutName(const std::string& name, std::string* layout, std::string* variant) {
  const size_t open = name.find('(');
  if (open != std::string::npos && name.back() == ')') {
    *layout = name.substr(0, open);
    *variant = name.substr(open + 1, name.size() - open - 2);
  } else {
    *layout = name;
    variant->clear();
  }
}

KeyboardLayoutRef LayoutFromNames(Registry& r, const std::string& model, const std::string& layout,
                                  const std::string& variant) {
  const std::string name = variant.empty() ? layout : layout + "(" + variant + ")";
  const std::string identity = "names:" + model + ":" + name;
  if (KeyboardLayoutRef found = FindLayout(r, identity)) return found;
  if (layout.empty() || !Context(r)) return nullptr;
  xkb_rule_names names = {};
  names.rules = "evdev";
  names.model = model.c_str();
  names.layout = layout.c_str();
  names.variant = variant.c_str();
  names.options = "";
  KeymapPtr keymap(xkb_keymap_new_from_names(Context(r), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) return nullptr;
  return AddXkbLayout(r, std::move(keymap), 0, identity, name);
}

KeyboardLayoutRef BuiltInKCHRLayout(Registry& r) {
  const std::string identity = std::string("builtin:") + kKLBuiltInKCHRLayoutName;
  if (KeyboardLayoutRef found = FindLayout(r, identity)) return found;
  auto layout = std::make_unique<OpaqueKeyboardLayoutRef>();
  layout->identity = identity;
  layout->name = kKLBuiltInKCHRLayoutName;
  layout->kind = kKLKCHRKind;
  layout->kchr = MakeBuiltInKCHR();
  r.layouts.push_back(std::move(layout));
  return r.layouts.back().get();
}

// The X server's keymap and its active group, or null when there is no display or no XKB.
KeyboardLayoutRef LayoutFromXServer(Registry& r) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display || !Context(r)) return nullptr;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (!connection) return nullptr;
  KeyboardLayoutRef result = nullptr;
  if (!xcb_connection_has_error(connection) &&
      xkb_x11_setup_xkb_extension(
          connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    KeymapPtr keymap(device < 0 ? nullptr
                                : xkb_x11_keymap_new_from_device(Context(r), connection, device,
                                                                 XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap) {
      StatePtr state(xkb_x11_state_new_from_device(keymap.get(), connection, device));
      const xkb_layout_index_t group =
          state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
      std::string identity = "x11:" + std::to_string(group) + ":";
      if (char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1)) {
        identity += text;
        std::free(text);
      }
      result = FindLayout(r, identity);
      if (!result) {
        const char* groupName = xkb_keymap_layout_get_name(keymap.get(), group);
        result = AddXkbLayout(r, std::move(keymap), group, identity, groupName ? groupName : "");
      }
    }
  }
  xcb_disconnect(connection);
  return result;
}

std::string Unquote(std::string value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.pop_back();
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string FirstOfList(const std::string& list) {
  return list.substr(0, list.find(','));
}

// /etc/default/keyboard: shell assignments XKBLAYOUT="de,us" XKBVARIANT=",intl" XKBMODEL=pc105.
KeyboardLayoutRef LayoutFromDefaultKeyboard(Registry& r) {
  std::ifstream in(r.defaultKeyboardFile);
  if (!in) return nullptr;
  std::string layout, variant, model = "pc105", line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, 7, "export ") == 0) start = line.find_first_not_of(" \t", start + 7);
    const size_t eq = line.find('=', start);
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(start, eq - start);
    const std::string value = Unquote(line.substr(eq + 1));
    if (key == "XKBLAYOUT")
      layout = FirstOfList(value);
    else if (key == "XKBVARIANT")
      variant = FirstOfList(value);
    else if (key == "XKBMODEL" && !value.empty())
      model = value;
  }
  if (layout.empty()) return nullptr;
  return LayoutFromNames(r, model, layout, variant);
}

// ---- Translation -------------------------------------------------------------------------------

// The classic control characters of keys whose keysym has no character of its own.
UInt16 ControlCharacterForKeysym(xkb_keysym_t sym) {
  if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F20) return 0x10;
  switch (sym) {
    case XKB_KEY_Home:
    case XKB_KEY_KP_Home:
      return 0x01;
    case XKB_KEY_KP_Enter:
      return 0x03;
    case XKB_KEY_End:
    case XKB_KEY_KP_End:
      return 0x04;
    case XKB_KEY_Help:
    case XKB_KEY_Insert:
    case XKB_KEY_KP_Insert:
      return 0x05;
    case XKB_KEY_BackSpace:
      return 0x08;
    case XKB_KEY_Tab:
    case XKB_KEY_ISO_Left_Tab:
    case XKB_KEY_KP_Tab:
      return 0x09;
    case XKB_KEY_Page_Up:
    case XKB_KEY_KP_Page_Up:
      return 0x0B;
    case XKB_KEY_Page_Down:
    case XKB_KEY_KP_Page_Down:
      return 0x0C;
    case XKB_KEY_Return:
      return 0x0D;
    case XKB_KEY_Escape:
    case XKB_KEY_Clear:
      return 0x1B;
    case XKB_KEY_Left:
    case XKB_KEY_KP_Left:
      return 0x1C;
    case XKB_KEY_Right:
    case XKB_KEY_KP_Right:
      return 0x1D;
    case XKB_KEY_Up:
    case XKB_KEY_KP_Up:
      return 0x1E;
    case XKB_KEY_Down:
    case XKB_KEY_KP_Down:
      return 0x1F;
    case XKB_KEY_Delete:
    case XKB_KEY_KP_Delete:
      return 0x7F;
    default:
      return 0;
  }
}

bool IsDeadKeysym(xkb_keysym_t sym) {
  return sym >= XKB_KEY_dead_grave && sym <= XKB_KEY_dead_longsolidusoverlay;
}

void AppendUtf16(char32_t cp, std::u16string* out) {
  if (cp >= 0x10000 && cp <= 0x10FFFF) {
    cp -= 0x10000;
    out->push_back(char16_t(0xD800 + (cp >> 10)));
    out->push_back(char16_t(0xDC00 + (cp & 0x3FF)));
  } else if (cp && cp < 0x10000) {
    out->push_back(char16_t(cp));
  }
}

void AppendUtf8(const char* s, std::u16string* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    char32_t cp;
    int extra;
    if (*p < 0x80) {
      cp = *p;
      extra = 0;
    } else if ((*p & 0xE0) == 0xC0) {
      cp = *p & 0x1F;
      extra = 1;
    } else if ((*p & 0xF0) == 0xE0) {
      cp = *p & 0x0F;
      extra = 2;
    } else if ((*p & 0xF8) == 0xF0) {
      cp = *p & 0x07;
      extra = 3;
    } else {
      ++p;  // xkbcommon gives valid UTF-8; skip anything else rather than misread it
      continue;
    }
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return;
      cp = (cp << 6) | (*p & 0x3F);
    }
    AppendUtf16(cp, out);
  }
}

// The dead-key state packs up to four pending dead keysyms, one per byte (their low bytes, which
// are never 0 within the dead keysym range), the first in the lowest byte.
constexpr int kMaxPendingDeadKeys = 4;

int PendingDeadKeys(UInt32 state, xkb_keysym_t* syms) {
  int n = 0;
  for (; n < kMaxPendingDeadKeys && (state >> (8 * n)) & 0xFF; ++n)
    syms[n] = 0xFE00 | ((state >> (8 * n)) & 0xFF);
  return n;
}

UInt32 PackDeadKeys(const xkb_keysym_t* syms, int n) {
  UInt32 state = 0;
  for (int i = 0; i < n; ++i) state |= UInt32(syms[i] & 0xFF) << (8 * i);
  return state;
}

// What a dead key types on its own: the compose table's dead key followed by space.
void AppendSpacingCharacter(xkb_compose_table* table, xkb_keysym_t dead, std::u16string* out) {
  if (!table) return;
  ComposeStatePtr compose(xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS));
  if (!compose) return;
  xkb_compose_state_feed(compose.get(), dead);
  xkb_compose_state_feed(compose.get(), XKB_KEY_space);
  if (xkb_compose_state_get_status(compose.get()) != XKB_COMPOSE_COMPOSED) return;
  char buf[64];
  if (xkb_compose_state_get_utf8(compose.get(), buf, sizeof buf) > 0) AppendUtf8(buf, out);
}

// The text of a key with the state's modifiers, without any dead-key processing.
void AppendKeyText(const UCKeyboardLayout* layout, xkb_state* state, xkb_keycode_t kc,
                   xkb_keysym_t sym, UInt16 virtualKeyCode, std::u16string* out) {
  if (UInt16 c = ControlCharacterForKeysym(sym)) {
    out->push_back(char16_t(c));
    return;
  }
  if (IsDeadKeysym(sym)) {
    AppendSpacingCharacter(layout->compose, sym, out);
    return;
  }
  char buf[64];
  // xkbcommon applies the control transformation (control-a gives 0x01) and caps lock.
  if (xkb_state_key_get_utf8(state, kc, buf, sizeof buf) > 0) {
    AppendUtf8(buf, out);
    return;
  }
  if (virtualKeyCode == kKeypadClearKey && sym != XKB_KEY_NoSymbol) out->push_back(0x1B);
}

OSStatus TranslateXkb(const UCKeyboardLayout* layout, UInt16 virtualKeyCode, UInt16 keyAction,
                      UInt32 modifiers, OptionBits options, UInt32* deadKeyState,
                      std::u16string* out) {
  const SInt32 evdev = KeyboardEvdevCodeForVirtualKey(virtualKeyCode);
  if (evdev < 0) return noErr;
  xkb_keymap* keymap = layout->keymap.get();
  const xkb_keycode_t kc = xkb_keycode_t(evdev) + kXkbKeycodeOffset;
  if (kc < xkb_keymap_min_keycode(keymap) || kc > xkb_keymap_max_keycode(keymap)) return noErr;

  StatePtr state(xkb_state_new(keymap));
  if (!state) return memFullErr;
  xkb_mod_mask_t depressed = 0;
  if (modifiers & (kShiftBit | kRightShiftBit)) depressed |= layout->shift;
  if (modifiers & (kOptionBit | kRightOptionBit)) depressed |= layout->level3;
  if (modifiers & (kControlBit | kRightControlBit)) depressed |= layout->control;
  if (modifiers & kCmdBit) depressed |= layout->super;
  xkb_mod_mask_t locked = layout->numLock;
  if (modifiers & kCapsBit) locked |= layout->lock;
  xkb_state_update_mask(state.get(), depressed, 0, locked, 0, 0, layout->group);
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), kc);

  const bool useDeadKeys = keyAction != kUCKeyActionDisplay &&
                           !(options & kUCKeyTranslateNoDeadKeysMask) && layout->compose;
  if (!useDeadKeys || (!IsDeadKeysym(sym) && *deadKeyState == 0)) {
    AppendKeyText(layout, state.get(), kc, sym, virtualKeyCode, out);
    return noErr;
  }

  xkb_keysym_t pending[kMaxPendingDeadKeys + 1];
  int count = PendingDeadKeys(*deadKeyState, pending);
  if (sym == XKB_KEY_NoSymbol || xkb_keysym_to_utf32(sym) == 0) {
    // Keys that type nothing do not touch a pending sequence; special keys end it.
    if (!ControlCharacterForKeysym(sym) && !IsDeadKeysym(sym)) return noErr;
  }
  ComposeStatePtr compose(xkb_compose_state_new(layout->compose, XKB_COMPOSE_STATE_NO_FLAGS));
  if (!compose) return memFullErr;
  for (int i = 0; i < count; ++i) xkb_compose_state_feed(compose.get(), pending[i]);
  const bool wasComposing =
      count == 0 || xkb_compose_state_get_status(compose.get()) == XKB_COMPOSE_COMPOSING;
  if (wasComposing) xkb_compose_state_feed(compose.get(), sym);
  const xkb_compose_status status =
      wasComposing ? xkb_compose_state_get_status(compose.get()) : XKB_COMPOSE_CANCELLED;

  if (status == XKB_COMPOSE_COMPOSING && IsDeadKeysym(sym) && count < kMaxPendingDeadKeys) {
    pending[count++] = sym;
    *deadKeyState = PackDeadKeys(pending, count);
    return noErr;
  }
  if (status == XKB_COMPOSE_COMPOSED) {
    char buf[64];
    *deadKeyState = 0;
    if (xkb_compose_state_get_utf8(compose.get(), buf, sizeof buf) > 0) {
      AppendUtf8(buf, out);
    } else {
      AppendUtf16(xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(compose.get())), out);
    }
    return noErr;
  }
  // The key does not continue the sequence: the pending dead keys type their own characters, and
  // the key counts afresh.
  for (int i = 0; i < count; ++i) AppendSpacingCharacter(layout->compose, pending[i], out);
  *deadKeyState = 0;
  if (IsDeadKeysym(sym)) {
    ComposeStatePtr fresh(xkb_compose_state_new(layout->compose, XKB_COMPOSE_STATE_NO_FLAGS));
    if (fresh && xkb_compose_state_feed(fresh.get(), sym) == XKB_COMPOSE_FEED_ACCEPTED &&
        xkb_compose_state_get_status(fresh.get()) == XKB_COMPOSE_COMPOSING) {
      *deadKeyState = PackDeadKeys(&sym, 1);
      return noErr;
    }
  }
  AppendKeyText(layout, state.get(), kc, sym, virtualKeyCode, out);
  return noErr;
}

}  // namespace

OSStatus KLGetCurrentKeyboardLayout(KeyboardLayoutRef* layout) {
  if (!layout) return paramErr;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  KeyboardLayoutRef found = nullptr;
  if (r.testLayoutSet) {
    found = r.testLayout;
  } else {
    found = LayoutFromXServer(r);
    if (!found) found = LayoutFromDefaultKeyboard(r);
    if (!found) found = LayoutFromNames(r, "pc105", "us", "");
  }
  *layout = found;
  return found ? OSStatus(noErr) : OSStatus(kUCKeyLayoutNotFound);
}

OSStatus KLGetKeyboardLayoutProperty(KeyboardLayoutRef layout, KeyboardLayoutPropertyTag tag,
                                     const void** value) {
  if (!layout || !value) return paramErr;
  switch (tag) {
    case kKLKind:
      *value = &layout->kind;
      return noErr;
    case kKLKCHRData:
      if (layout->kchr.empty()) return paramErr;
      *value = layout->kchr.data();
      return noErr;
    case kKLuchrData:
      if (!layout->uchr) return paramErr;
      *value = layout->uchr.get();
      return noErr;
    case kKLName:
      *value = layout->name.c_str();
      return noErr;
    default:
      return paramErr;
  }
}

OSStatus UCKeyTranslate(const UCKeyboardLayout* layout, UInt16 virtualKeyCode, UInt16 keyAction,
                        UInt32 modifierKeyState, UInt32 /*keyboardType*/,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]) {
  if (!layout) return kUCKeyLayoutNotFound;
  if (!deadKeyState || !actualStringLength || (maxStringLength && !unicodeString)) return paramErr;
  if (keyAction > kUCKeyActionDisplay) return paramErr;
  *actualStringLength = 0;
  if (keyAction == kUCKeyActionUp) return noErr;
  std::u16string out;
  OSStatus err = TranslateXkb(layout, virtualKeyCode, keyAction, modifierKeyState & 0xFF,
                              keyTranslateOptions, deadKeyState, &out);
  if (err != noErr) return err;
  if (out.size() > maxStringLength) return kUCOutputBufferTooSmall;
  for (size_t i = 0; i < out.size(); ++i) unicodeString[i] = out[i];
  *actualStringLength = out.size();
  return noErr;
}

UInt32 KeyTranslate(const void* transData, UInt16 keycode, UInt32* /*state*/) {
  if (!transData) return 0;
  const UInt8* data = static_cast<const UInt8*>(transData);
  const UInt8 table = data[kKCHRModifierTable + (keycode >> 8)];
  const UInt16 tableCount = UInt16((data[kKCHRTableCount] << 8) | data[kKCHRTableCount + 1]);
  if (table >= tableCount) return 0;
  return data[kKCHRTables + 128 * table + (keycode & 0x7F)];
}

UInt8 LMGetKbdType() {
  return kKeyboardTypeISO;
}

void GetCurrentKeyboardLayoutData(const void** kchr, const void** uchr) {
  *kchr = nullptr;
  *uchr = nullptr;
  KeyboardLayoutRef layout = nullptr;
  if (KLGetCurrentKeyboardLayout(&layout) != noErr) return;
  const void* kindValue = nullptr;
  if (KLGetKeyboardLayoutProperty(layout, kKLKind, &kindValue) != noErr || !kindValue) return;
  const KeyboardLayoutKind kind = *static_cast<const KeyboardLayoutKind*>(kindValue);
  if (kind == kKLKCHRKind) {
    if (KLGetKeyboardLayoutProperty(layout, kKLKCHRData, kchr) != noErr) *kchr = nullptr;
  } else if (kind == kKLuchrKind || kind == kKLKCHRuchrKind) {
    if (KLGetKeyboardLayoutProperty(layout, kKLuchrData, uchr) != noErr) *uchr = nullptr;
  }
}

OSStatus KLSetCurrentKeyboardLayoutForTesting(const char* name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!name) {
    r.testLayoutSet = false;
    r.testLayout = nullptr;
    return noErr;
  }
  KeyboardLayoutRef layout = nullptr;
  if (std::strcmp(name, kKLBuiltInKCHRLayoutName) == 0) {
    layout = BuiltInKCHRLayout(r);
  } else {
    std::string layoutName, variant;
    SplitLayoutName(name, &layoutName, &variant);
    layout = LayoutFromNames(r, "pc105", layoutName, variant);
  }
  if (!layout) return kUCKeyLayoutNotFound;
  r.testLayoutSet = true;
  r.testLayout = layout;
  return noErr;
}

void KLSetDefaultKeyboardFileForTesting(const char* path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.defaultKeyboardFile = path ? path : "/etc/default/keyboard";
}
