#include "driver/ActionEngine.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/VirtualKeyCodes.h"
#include "settings/CommandTable.h"
#include "settings/CorvimusDriver.h"
#include "settings/MouseSettings.h"

namespace corvimus {

static_assert(EV_SYN == 0 && EV_REL == 2 && EV_MSC == 4 && SYN_REPORT == 0 && REL_X == 0 &&
              REL_Y == 1);

namespace {

constexpr UInt64 kClickStepUs = 30000;        // between the presses and releases the engine makes
constexpr UInt64 kAnswerTimeoutUs = 2000000;  // how long a request waits for the agent's answer
constexpr size_t kMaxPending = 8;
constexpr size_t kQueueSoftLimit = 96;  // timed steps; wheel notches beyond it are dropped
constexpr int kMaxNotchesPerEvent = 16;
constexpr SInt32 kHiResPerLine = 120;
constexpr SInt32 kPageLinesSideways = 10;
constexpr double kPrecisionFactor = 0.25;
constexpr UInt16 kFirstSlotButton = BTN_LEFT;  // C0-C7: BTN_LEFT..BTN_TASK
constexpr UInt16 kLastSlotButton = BTN_TASK;
constexpr UInt16 kButtonNine = BTN_TASK + 1;

bool IsModifierKey(UInt16 code) {
  switch (code) {
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
    case KEY_SPACE:  // held like a modifier around clicks and keys
      return true;
    default:
      return false;
  }
}

// The keys that stand for the modifier bits, in the order they go down. Caps lock is no held key:
// it is tapped around the action.
struct ModifierKey {
  UInt16 bit;
  UInt16 key;
};
constexpr ModifierKey kModifierKeys[] = {
    {controlKey, KEY_LEFTCTRL}, {optionKey, KEY_LEFTALT},       {cmdKey, KEY_LEFTMETA},
    {shiftKey, KEY_LEFTSHIFT},  {kCorvimusSpaceKey, KEY_SPACE},
};

// The shortcuts of commands 64-70 (all windows, show desktop, application windows, launcher,
// notifications, next workspace, switch application), modifiers first and the key last.
struct Shortcut {
  UInt8 count;
  UInt16 keys[4];
};
constexpr Shortcut kNone = {0, {}};
constexpr Shortcut kShortcuts[4][7] = {
    // Generic: what Xfce, Cinnamon, MATE and the others mostly share.
    {kNone,
     {2, {KEY_LEFTMETA, KEY_D}},
     kNone,
     {2, {KEY_LEFTALT, KEY_F1}},
     kNone,
     {3, {KEY_LEFTCTRL, KEY_LEFTALT, KEY_RIGHT}},
     {2, {KEY_LEFTALT, KEY_TAB}}},
    // GNOME
    {{1, {KEY_LEFTMETA}},
     {2, {KEY_LEFTMETA, KEY_D}},
     {2, {KEY_LEFTALT, KEY_GRAVE}},
     {2, {KEY_LEFTMETA, KEY_A}},
     {2, {KEY_LEFTMETA, KEY_V}},
     {3, {KEY_LEFTCTRL, KEY_LEFTALT, KEY_RIGHT}},
     {2, {KEY_LEFTALT, KEY_TAB}}},
    // KDE Plasma
    {{2, {KEY_LEFTCTRL, KEY_F10}},
     {2, {KEY_LEFTMETA, KEY_D}},
     {2, {KEY_LEFTCTRL, KEY_F7}},
     {2, {KEY_LEFTALT, KEY_F1}},
     kNone,
     {3, {KEY_LEFTMETA, KEY_LEFTCTRL, KEY_RIGHT}},
     {2, {KEY_LEFTALT, KEY_TAB}}},
    // sway: its default configuration binds only the launcher of these.
    {kNone, kNone, kNone, {2, {KEY_LEFTMETA, KEY_D}}, kNone, kNone, kNone},
};

const Shortcut& ShortcutFor(DesktopKind kind, UInt16 command) {
  if (command < kCmdSpecialFirst || command > kCmdSpecialLast) return kNone;
  return kShortcuts[int(kind)][command - kCmdSpecialFirst];
}

UInt16 ClickButtonCode(UInt8 button) {
  static const UInt16 kCodes[] = {BTN_LEFT,    BTN_RIGHT, BTN_MIDDLE, BTN_SIDE,   BTN_EXTRA,
                                  BTN_FORWARD, BTN_BACK,  BTN_TASK,   kButtonNine};
  return button >= 1 && button <= 9 ? kCodes[button - 1] : BTN_LEFT;
}

// The character a request's answer types: 71-74 z x c v, 75/76 the bracket or the arrow.
bool AnswerFits(UInt16 command, UInt8 ch) {
  switch (command) {
    case kCmdUndo:
      return ch == 'z' || ch == 'Z';
    case kCmdCut:
      return ch == 'x' || ch == 'X';
    case kCmdCopy:
      return ch == 'c' || ch == 'C';
    case kCmdPaste:
      return ch == 'v' || ch == 'V';
    case kCmdForward:
      return ch == ']' || ch == kForwardArrowChar;
    case kCmdBack:
      return ch == '[' || ch == kBackArrowChar;
    default:
      return false;
  }
}

}  // namespace

// ---- Desktops and names ------------------------------------------------------------------------

DesktopKind DesktopKindFromName(const char* name) {
  if (!name) return DesktopKind::Generic;
  std::string all = name;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    for (char& c : item) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (item == "gnome" || item.rfind("gnome-", 0) == 0 || item == "ubuntu" ||
        item.rfind("ubuntu-", 0) == 0)
      return DesktopKind::Gnome;
    if (item == "kde" || item.rfind("plasma", 0) == 0) return DesktopKind::Kde;
    if (item == "sway") return DesktopKind::Sway;
    start = end + 1;
  }
  return DesktopKind::Generic;
}

const char* DesktopKindName(DesktopKind kind) {
  switch (kind) {
    case DesktopKind::Gnome:
      return "GNOME";
    case DesktopKind::Kde:
      return "KDE Plasma";
    case DesktopKind::Sway:
      return "sway";
    default:
      return "other desktop";
  }
}

std::string EvdevKeyName(UInt16 code) {
  static const char kRow1[] = "QWERTYUIOP";  // KEY_Q (16) ..
  static const char kRow2[] = "ASDFGHJKL";   // KEY_A (30) ..
  static const char kRow3[] = "ZXCVBNM";     // KEY_Z (44) ..
  if (code >= KEY_1 && code <= KEY_9) return std::string(1, char('1' + code - KEY_1));
  if (code == KEY_0) return "0";
  if (code >= KEY_Q && code <= KEY_P) return std::string(1, kRow1[code - KEY_Q]);
  if (code >= KEY_A && code <= KEY_L) return std::string(1, kRow2[code - KEY_A]);
  if (code >= KEY_Z && code <= KEY_M) return std::string(1, kRow3[code - KEY_Z]);
  if (code >= KEY_F1 && code <= KEY_F10) return "F" + std::to_string(code - KEY_F1 + 1);
  if (code >= KEY_F13 && code <= KEY_F24) return "F" + std::to_string(code - KEY_F13 + 13);
  static const struct {
    UInt16 code;
    const char* name;
  } kNames[] = {
      {KEY_ESC, "Esc"},
      {KEY_MINUS, "-"},
      {KEY_EQUAL, "="},
      {KEY_BACKSPACE, "Backspace"},
      {KEY_TAB, "Tab"},
      {KEY_LEFTBRACE, "["},
      {KEY_RIGHTBRACE, "]"},
      {KEY_ENTER, "Enter"},
      {KEY_LEFTCTRL, "Ctrl"},
      {KEY_SEMICOLON, ";"},
      {KEY_APOSTROPHE, "'"},
      {KEY_GRAVE, "`"},
      {KEY_LEFTSHIFT, "Shift"},
      {KEY_BACKSLASH, "\\"},
      {KEY_COMMA, ","},
      {KEY_DOT, "."},
      {KEY_SLASH, "/"},
      {KEY_RIGHTSHIFT, "Right Shift"},
      {KEY_KPASTERISK, "Keypad *"},
      {KEY_LEFTALT, "Alt"},
      {KEY_SPACE, "Space"},
      {KEY_CAPSLOCK, "Caps Lock"},
      {KEY_NUMLOCK, "Num Lock"},
      {KEY_KP7, "Keypad 7"},
      {KEY_KP8, "Keypad 8"},
      {KEY_KP9, "Keypad 9"},
      {KEY_KPMINUS, "Keypad -"},
      {KEY_KP4, "Keypad 4"},
      {KEY_KP5, "Keypad 5"},
      {KEY_KP6, "Keypad 6"},
      {KEY_KPPLUS, "Keypad +"},
      {KEY_KP1, "Keypad 1"},
      {KEY_KP2, "Keypad 2"},
      {KEY_KP3, "Keypad 3"},
      {KEY_KP0, "Keypad 0"},
      {KEY_KPDOT, "Keypad ."},
      {KEY_102ND, "<>"},
      {KEY_F11, "F11"},
      {KEY_F12, "F12"},
      {KEY_RO, "Ro"},
      {KEY_KPENTER, "Keypad Enter"},
      {KEY_RIGHTCTRL, "Right Ctrl"},
      {KEY_KPSLASH, "Keypad /"},
      {KEY_RIGHTALT, "AltGr"},
      {KEY_HOME, "Home"},
      {KEY_UP, "Up"},
      {KEY_PAGEUP, "Page Up"},
      {KEY_LEFT, "Left"},
      {KEY_RIGHT, "Right"},
      {KEY_END, "End"},
      {KEY_DOWN, "Down"},
      {KEY_PAGEDOWN, "Page Down"},
      {KEY_INSERT, "Insert"},
      {KEY_DELETE, "Delete"},
      {KEY_MUTE, "Mute"},
      {KEY_VOLUMEDOWN, "Volume Down"},
      {KEY_VOLUMEUP, "Volume Up"},
      {KEY_KPEQUAL, "Keypad ="},
      {KEY_KPCOMMA, "Keypad ,"},
      {KEY_HANGEUL, "Hangeul"},
      {KEY_HANJA, "Hanja"},
      {KEY_YEN, "Yen"},
      {KEY_LEFTMETA, "Super"},
      {KEY_RIGHTMETA, "Right Super"},
      {KEY_COMPOSE, "Menu"},
      {KEY_FN, "Fn"},
  };
  for (const auto& k : kNames)
    if (k.code == code) return k.name;
  return "key " + std::to_string(code);
}

std::string SpecialFunctionShortcut(DesktopKind kind, UInt16 command) {
  const Shortcut& s = ShortcutFor(kind, command);
  std::string out;
  for (int i = 0; i < s.count; ++i) {
    if (i) out += "+";
    out += EvdevKeyName(s.keys[i]);
  }
  return out;
}

// ---- The engine --------------------------------------------------------------------------------

ActionEngine::ActionEngine(EngineOutput* out) : out_(out), record_(kCorvimusDefaultPrefs) {
  after_.reserve(16);
  pending_.reserve(kMaxPending);
  Recompute();
}

void ActionEngine::SetDesktop(DesktopKind kind) {
  if (kind == desktop_) return;
  // A held special function lets go of the keys of the desktop it was pressed on.
  Flush();
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    Held& h = held_[size_t(slot)];
    const CommandInfo* info = FindCommand(h.action.command);
    if (!h.down || !info || info->family != CommandFamily::kSpecial) continue;
    Seq seq;
    BuildRelease(slot, h.action, h.inputCode, &seq);
    Run(seq);
    h.down = false;
  }
  desktop_ = kind;
  Flush();
}

bool ActionEngine::RecordInForce() const {
  return !ownAppMode_ && record_.active;
}

void ActionEngine::Recompute() {
  bool inForce = RecordInForce();
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    const CorvimusActionRec& r = record_.device[0].action[slot];
    const CommandInfo* info = FindCommand(r.command);
    bool passes = !inForce || !info || info->family == CommandFamily::kUnchanged ||
                  info->family == CommandFamily::kAsGlobal;
    effective_[size_t(slot)] =
        passes ? Action{} : Action{r.command, r.modifiers, r.keyCode, r.repeat};
    UInt16& direct = directButton_[size_t(slot)];
    direct = 0;
    if (slot <= kSlotButtonLast && passes)
      direct = UInt16(kFirstSlotButton + slot);
    else if (slot <= kSlotButtonLast && info->family == CommandFamily::kClick &&
             info->clicks == 1 && r.modifiers == 0)
      direct = ClickButtonCode(info->button);
  }
  const CorvimusDevicePrefs& d = record_.device[0];
  motionUntouched_ =
      precision_ == 0 &&
      (!inForce || (d.speed == kCorvimusNoValue && d.acceleration == kCorvimusNoValue));
}

void ActionEngine::SetRecord(const CorvimusPrefsRec* record) {
  Flush();
  record_ = record ? *record : kCorvimusDefaultPrefs;
  Recompute();
  TakeBackChanged();
  Flush();
}

void ActionEngine::SetOwnAppMode(bool on) {
  Flush();
  ownAppMode_ = on;
  Recompute();
  TakeBackChanged();
  Flush();
}

void ActionEngine::TakeBackChanged() {
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    Held& h = held_[size_t(slot)];
    if (!h.down || h.action == Effective(slot)) continue;
    Seq seq;
    BuildRelease(slot, h.action, h.inputCode, &seq);
    Run(seq);
    h.down = false;
  }
  if (lockDown_ && !(lockAction_ == Effective(lockSlot_))) {
    // The lock lets go the same way a second press would.
    Seq seq;
    BuildPress(lockSlot_, lockAction_, 0, &seq);
    Run(seq);
  }
}

void ActionEngine::Reset() {
  queue_.clear();
  after_.clear();
  FlushPointer();
  ReleaseEverything();
  held_ = {};
  heldMask_ = 0;
  lockDown_ = false;
  lockSlot_ = -1;
  precision_ = 0;
  Recompute();
  remainderX_ = remainderY_ = 0;
  lastMotionUs_ = 0;
  pending_.clear();
  inFrame_ = dropping_ = frameMotion_ = false;
  frameDx_ = frameDy_ = 0;
  spacedUntilUs_ = {};
}

void ActionEngine::ReleaseEverything() {
  bool any = false;
  for (size_t code = 0; code < pointerDown_.size(); ++code) {
    if (!pointerDown_[code]) continue;
    pointerDown_[code] = 0;
    Emit(kPointer, EV_KEY, UInt16(code), 0);
    any = true;
  }
  if (any) FlushPointer();
  // Keys first, modifiers last, so that nothing is typed with a modifier gone early.
  any = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t code = 0; code < keyboardDown_.size(); ++code) {
      if (!keyboardDown_[code] || IsModifierKey(UInt16(code)) != (pass == 1)) continue;
      keyboardDown_[code] = 0;
      Emit(kKeyboard, EV_KEY, UInt16(code), 0);
      any = true;
    }
  }
  if (any) Emit(kKeyboard, EV_SYN, SYN_REPORT, 0);
  keyboardDirty_ = false;
}

// ---- Writing events (first: the paths every event takes use them) -----------------------------

inline void ActionEngine::Emit(Device device, UInt16 type, UInt16 code, SInt32 value) {
  if (device == kPointer) {
    out_->PointerEvent(type, code, value);
    pointerDirty_ = true;
    if (type == EV_KEY) pointerButtonsInFrame_ = true;
  } else {
    out_->KeyboardEvent(type, code, value);
    keyboardDirty_ = type != EV_SYN;
  }
}

inline void ActionEngine::Apply(Device device, const Op& op) {
  if (op.kind == kRaw) {
    Emit(device, op.type, op.code, op.value);
    return;
  }
  auto& down = device == kPointer ? pointerDown_ : keyboardDown_;
  if (op.code >= down.size()) return;
  UInt8& count = down[op.code];
  if (op.kind == kPress) {
    if (count == 255) return;
    if (count++ == 0) Emit(device, EV_KEY, op.code, 1);
  } else {
    if (count == 0) return;  // never pressed by the engine: nothing to release
    if (--count == 0) Emit(device, EV_KEY, op.code, 0);
  }
}

inline void ActionEngine::FlushPointer() {
  if (pointerDirty_) out_->PointerEvent(EV_SYN, SYN_REPORT, 0);
  pointerDirty_ = false;
  pointerButtonsInFrame_ = false;
}

// ---- Input -------------------------------------------------------------------------------------

// A control that gives a plain click of one button (its own, or another without modifiers), with
// nothing waiting to go out before it, presses and releases that button in place; the rest takes
// the full path.
void ActionEngine::HandleOtherEvent(UInt16 type, UInt16 code, SInt32 value) {
  if (type == EV_KEY && code >= kFirstSlotButton && code <= kLastSlotButton &&
      (value == 0 || value == 1) && !dropping_ && !ownAppMode_ && queue_.empty() &&
      after_.empty()) {
    size_t slot = code - kFirstSlotButton;
    UInt16 direct = directButton_[slot];
    Held& h = held_[slot];
    if (direct && (value ? !h.down && spacedUntilUs_[direct - BTN_LEFT] <= nowUs_ : h.down)) {
      inFrame_ = true;
      h.down = value;
      if (value) {
        h.action = effective_[slot];
        h.inputCode = code;
        heldMask_ |= UInt16(1u << slot);
      } else {
        heldMask_ &= UInt16(~(1u << slot));
      }
      Apply(kPointer, {value ? kPress : kRelease, EV_KEY, direct, value});
      return;
    }
  }
  HandleEventInFull(type, code, value);
}

void ActionEngine::HandleEventInFull(UInt16 type, UInt16 code, SInt32 value) {
  const UInt64 nowUs = nowUs_;
  if (!inFrame_ && !queue_.empty()) RunDue(nowUs);
  if (type == EV_SYN) {
    if (code == SYN_DROPPED) {
      dropping_ = true;
      frameMotion_ = false;
      frameDx_ = frameDy_ = 0;
      return;
    }
    if (code == SYN_REPORT) {
      if (dropping_) {
        dropping_ = false;
        inFrame_ = false;
        Flush();
        return;
      }
      EndInputFrame();
      return;
    }
  }
  if (dropping_) return;
  inFrame_ = true;
  switch (type) {
    case EV_KEY:
      if (code >= kFirstSlotButton && code <= kLastSlotButton) {
        Button(code, value);
      } else if (value == 2) {
        if (code < pointerDown_.size() && pointerDown_[code]) Emit(kPointer, type, code, value);
      } else {
        Apply(kPointer, {value ? kPress : kRelease, EV_KEY, code, value});
      }
      return;
    case EV_REL:
      switch (code) {
        case REL_X:
        case REL_Y:
          Motion(code, value);
          return;
        case REL_WHEEL:
        case REL_WHEEL_HI_RES:
          Wheel(true, code == REL_WHEEL_HI_RES, code, value);
          return;
        case REL_HWHEEL:
        case REL_HWHEEL_HI_RES:
          Wheel(false, code == REL_HWHEEL_HI_RES, code, value);
          return;
        default:
          break;
      }
      break;
    default:
      break;
  }
  Emit(kPointer, type, code, value);
}

void ActionEngine::EndInputFrame() {
  inFrame_ = false;
  Flush();
  if (!queue_.empty()) RunDue(nowUs_);
}

void ActionEngine::Motion(UInt16 code, SInt32 value) {
  if (motionUntouched_) {
    Emit(kPointer, EV_REL, code, value);
    return;
  }
  (code == REL_X ? frameDx_ : frameDy_) += value;
  frameMotion_ = true;
}

void ActionEngine::FlushMotion() {
  if (!frameMotion_) return;
  frameMotion_ = false;
  SInt64 dx = frameDx_, dy = frameDy_;
  frameDx_ = frameDy_ = 0;
  const CorvimusDevicePrefs& d = record_.device[0];
  bool inForce = RecordInForce();
  double base = inForce && d.speed != kCorvimusNoValue ? 40.0 / std::max<int>(d.speed, 1) : 1.0;
  double gain = base;
  double interval =
      lastMotionUs_ && nowUs_ > lastMotionUs_ ? (nowUs_ - lastMotionUs_) / 1000.0 : 16;
  lastMotionUs_ = nowUs_;
  if (precision_ > 0) {
    gain = base * kPrecisionFactor;
  } else if (inForce && d.acceleration != kCorvimusNoValue) {
    double a = d.acceleration / 100.0;
    double v = std::sqrt(double(dx) * dx + double(dy) * dy) / std::clamp(interval, 1.0, 16.0);
    gain = base * (1 + a * std::clamp((v - 1) / 8, 0.0, 2.0));
  }
  remainderX_ += dx * gain;
  remainderY_ += dy * gain;
  double outX = std::trunc(remainderX_), outY = std::trunc(remainderY_);
  remainderX_ -= outX;
  remainderY_ -= outY;
  if (outX != 0) Emit(kPointer, EV_REL, REL_X, SInt32(std::clamp(outX, -1e9, 1e9)));
  if (outY != 0) Emit(kPointer, EV_REL, REL_Y, SInt32(std::clamp(outY, -1e9, 1e9)));
}

void ActionEngine::Button(UInt16 code, SInt32 value) {
  int slot = code - kFirstSlotButton;
  Held& h = held_[size_t(slot)];
  if (value == 2) return;  // a mouse has no key repeat of its own worth keeping
  if (value) {
    heldMask_ |= UInt16(1u << slot);
  } else {
    heldMask_ &= UInt16(~(1u << slot));
  }
  if (ownAppMode_) SendReport(slot, EV_KEY, code, value, false);
  Seq seq;
  if (value) {
    if (h.down) return;  // pressed twice without a release (a lost frame): the first holds
    h = {true, Effective(slot), code};
    BuildPress(slot, h.action, code, &seq);
  } else {
    if (!h.down) return;  // its action was taken back, or its press came before a reset
    h.down = false;
    BuildRelease(slot, h.action, code, &seq);
  }
  Run(seq);
}

void ActionEngine::Wheel(bool vertical, bool hiRes, UInt16 code, SInt32 value) {
  if (value == 0) {
    Emit(kPointer, EV_REL, code, value);
    return;
  }
  int slot = vertical ? (value > 0 ? kSlotRF : kSlotRB) : (value < 0 ? kSlotPF : kSlotPB);
  if (ownAppMode_) SendReport(slot, EV_REL, code, value, hiRes);
  Action a = Effective(slot);
  if (a.command == kCmdNone) {
    Emit(kPointer, EV_REL, code, value);
    return;
  }
  const CommandInfo* info = FindCommand(a.command);
  if (info->family == CommandFamily::kScroll && ScrollKind(a.command) == 0) {
    // The wheel's own amount, scaled and turned: smooth wheels stay smooth.
    int direction = EffectiveScrollDirection(a.command, a.keyCode);
    SInt64 amount = SInt64(std::abs(SInt64(value))) * std::max<int>(a.repeat, 1);
    amount = std::min<SInt64>(amount, 0x7FFFFFFF);
    if (direction == 1 || direction == 2) amount = -amount;
    UInt16 out = direction < 2 ? (hiRes ? REL_WHEEL_HI_RES : REL_WHEEL)
                               : (hiRes ? REL_HWHEEL_HI_RES : REL_HWHEEL);
    Emit(kPointer, EV_REL, out, SInt32(amount));
    return;
  }
  if (hiRes) return;  // a notch is counted once, by its low-resolution event
  int notches = std::min<SInt64>(std::abs(SInt64(value)), kMaxNotchesPerEvent);
  for (int n = 0; n < notches; ++n) {
    if (queue_.size() >= kQueueSoftLimit) return;
    Seq seq, release;
    BuildPress(slot, a, 0, &seq);
    BuildRelease(slot, a, 0, &release);
    for (int i = 0; i < release.count && seq.count < std::size(seq.steps); ++i) {
      Step step = release.steps[i];
      // Clicks made from a notch are spaced like the engine's other clicks.
      if (i == 0 && step.device == kPointer) step.gapUs = std::max(step.gapUs, kClickStepUs);
      step.spaced = true;
      seq.steps[seq.count++] = step;
    }
    Run(seq);
  }
}

void ActionEngine::SendReport(int slot, UInt16 type, UInt16 code, SInt32 value, bool hiRes) {
  UInt8 r[kCorvimusReportSize] = {};
  r[0] = kCorvimusReportVersion;
  r[1] = type == EV_KEY ? kCorvimusReportButton
                        : (code == REL_WHEEL || code == REL_WHEEL_HI_RES ? kCorvimusReportWheel
                                                                         : kCorvimusReportTilt);
  r[2] = UInt8(slot);
  r[3] = hiRes ? kCorvimusReportHiRes : 0;
  StoreU16LE(r + 4, type);
  StoreU16LE(r + 6, code);
  StoreU32LE(r + 8, UInt32(value));
  StoreU16LE(r + 12, heldMask_);
  StoreU64LE(r + 16, nowUs_);
  StoreU32LE(r + 24, reportSequence_++);
  out_->Report(r);
}

// ---- Building steps ----------------------------------------------------------------------------

ActionEngine::Step* ActionEngine::NewStep(Seq* seq, Device device, UInt64 gapUs, bool spaced) {
  // Sequences are built from the fixed shapes below and never fill up; should one, the last step
  // takes the rest rather than writing past the end.
  if (seq->count == std::size(seq->steps)) return &seq->steps[seq->count - 1];
  Step* step = &seq->steps[seq->count++];
  step->device = device;
  step->gapUs = gapUs;
  step->spaced = spaced;
  step->count = 0;
  return step;
}

void ActionEngine::AddOp(Step* step, OpKind kind, UInt16 type, UInt16 code, SInt32 value) {
  if (step->count < std::size(step->ops)) step->ops[step->count++] = {kind, type, code, value};
}

void ActionEngine::AddCapsTap(Seq* seq) {
  AddOp(NewStep(seq, kKeyboard), kPress, EV_KEY, KEY_CAPSLOCK, 1);
  AddOp(NewStep(seq, kKeyboard), kRelease, EV_KEY, KEY_CAPSLOCK, 0);
}

void ActionEngine::AddModifierKeys(Step* step, UInt16 modifiers, bool down) {
  const int n = int(std::size(kModifierKeys));
  for (int i = 0; i < n; ++i) {
    const ModifierKey& m = kModifierKeys[down ? i : n - 1 - i];
    if (modifiers & m.bit) AddOp(step, down ? kPress : kRelease, EV_KEY, m.key, down ? 1 : 0);
  }
}

// The down or up half of a click: modifiers go down before the button and up after it.
void ActionEngine::AddClick(Seq* seq, UInt16 modifiers, UInt16 button, bool down) {
  bool keys = modifiers & UInt16(~alphaLock);
  if (down) {
    if (modifiers & alphaLock) AddCapsTap(seq);
    if (keys) AddModifierKeys(NewStep(seq, kKeyboard), modifiers, true);
    AddOp(NewStep(seq, kPointer), kPress, EV_KEY, button, 1);
  } else {
    AddOp(NewStep(seq, kPointer), kRelease, EV_KEY, button, 0);
    if (keys) AddModifierKeys(NewStep(seq, kKeyboard), modifiers, false);
    if (modifiers & alphaLock) AddCapsTap(seq);
  }
}

// Keys pressed in order and released in reverse: the last one is the key, the others modifiers.
void ActionEngine::AddTap(Seq* seq, const UInt16* keys, int count, bool capsLock) {
  if (capsLock) AddCapsTap(seq);
  Step* down = NewStep(seq, kKeyboard);
  for (int i = 0; i < count; ++i) AddOp(down, kPress, EV_KEY, keys[i], 1);
  Step* up = NewStep(seq, kKeyboard);
  for (int i = count - 1; i >= 0; --i) AddOp(up, kRelease, EV_KEY, keys[i], 0);
  if (capsLock) AddCapsTap(seq);
}

namespace {

// Page and end scrolling by keys: up to two keys, the last one the key itself.
int ScrollKeys(int kind, int direction, UInt16 keys[2]) {
  if (kind == 1) {
    keys[0] = direction == 0 ? KEY_PAGEUP : KEY_PAGEDOWN;
    return 1;
  }
  if (direction < 2) {
    keys[0] = KEY_LEFTCTRL;
    keys[1] = direction == 0 ? KEY_HOME : KEY_END;
    return 2;
  }
  keys[0] = direction == 2 ? KEY_HOME : KEY_END;
  return 1;
}

// Lines of wheel in a direction (up, down, left, right), with their high-resolution partner.
void ScrollOps(int direction, SInt32 lines, UInt16* loCode, UInt16* hiCode, SInt32* lo,
               SInt32* hi) {
  bool vertical = direction < 2;
  SInt32 sign = direction == 0 || direction == 3 ? 1 : -1;
  *loCode = vertical ? REL_WHEEL : REL_HWHEEL;
  *hiCode = vertical ? REL_WHEEL_HI_RES : REL_HWHEEL_HI_RES;
  *lo = sign * lines;
  *hi = sign * lines * kHiResPerLine;
}

}  // namespace

void ActionEngine::BuildPress(int slot, const Action& a, UInt16 inputCode, Seq* seq) {
  const CommandInfo* info = FindCommand(a.command);
  switch (info ? info->family : CommandFamily::kUnchanged) {
    case CommandFamily::kScroll: {
      int direction = EffectiveScrollDirection(a.command, a.keyCode);
      int kind = ScrollKind(a.command);
      if (kind == 0 || (kind == 1 && direction >= 2)) {
        SInt32 lines = kind == 0 ? std::max<SInt32>(a.repeat, 1) : kPageLinesSideways;
        UInt16 loCode, hiCode;
        SInt32 lo, hi;
        ScrollOps(direction, lines, &loCode, &hiCode, &lo, &hi);
        Step* step = NewStep(seq, kPointer);
        AddOp(step, kRaw, EV_REL, loCode, lo);
        AddOp(step, kRaw, EV_REL, hiCode, hi);
      } else {
        UInt16 keys[2];
        int n = ScrollKeys(kind, direction, keys);
        Step* step = NewStep(seq, kKeyboard);
        for (int i = 0; i < n; ++i) AddOp(step, kPress, EV_KEY, keys[i], 1);
      }
      return;
    }
    case CommandFamily::kPrecision:
      ++precision_;
      motionUntouched_ = false;
      return;
    case CommandFamily::kKeystroke: {
      if (a.modifiers & alphaLock) AddCapsTap(seq);
      Step* step = NewStep(seq, kKeyboard);
      AddModifierKeys(step, a.modifiers, true);
      SInt32 key = a.keyCode == kCorvimusNoValue ? -1 : KeyboardEvdevCodeForVirtualKey(a.keyCode);
      if (key > 0) AddOp(step, kPress, EV_KEY, UInt16(key), 1);
      return;
    }
    case CommandFamily::kClick: {
      UInt16 button = ClickButtonCode(info->button);
      if (info->clicks == 0) {
        // The click lock: this press either takes the main button down or lets it go.
        AddClick(seq, lockDown_ ? lockAction_.modifiers : a.modifiers, button, !lockDown_);
        lockDown_ = !lockDown_;
        lockSlot_ = slot;
        lockAction_ = a;
        return;
      }
      AddClick(seq, a.modifiers, button, true);
      for (int i = 1; i < info->clicks; ++i) {
        AddOp(NewStep(seq, kPointer, kClickStepUs, true), kRelease, EV_KEY, button, 0);
        AddOp(NewStep(seq, kPointer, kClickStepUs), kPress, EV_KEY, button, 1);
      }
      return;
    }
    case CommandFamily::kSpecial: {
      const Shortcut& shortcut = ShortcutFor(desktop_, a.command);
      if (!shortcut.count) return;
      // The key goes down and up at once; its modifiers stay down while the control is held.
      Step* down = NewStep(seq, kKeyboard);
      for (int i = 0; i < shortcut.count; ++i) AddOp(down, kPress, EV_KEY, shortcut.keys[i], 1);
      AddOp(NewStep(seq, kKeyboard), kRelease, EV_KEY, shortcut.keys[shortcut.count - 1], 0);
      return;
    }
    case CommandFamily::kEdit:
    case CommandFamily::kNavigation:
      RememberRequest(a.command);
      [[fallthrough]];
    case CommandFamily::kOpenApplication:
    case CommandFamily::kOpenItem:
      out_->AgentRequest(record_.device[0].action[slot]);
      return;
    default:
      if (inputCode) AddOp(NewStep(seq, kPointer), kPress, EV_KEY, inputCode, 1);
      return;
  }
}

void ActionEngine::BuildRelease(int /*slot*/, const Action& a, UInt16 inputCode, Seq* seq) {
  const CommandInfo* info = FindCommand(a.command);
  switch (info ? info->family : CommandFamily::kUnchanged) {
    case CommandFamily::kScroll: {
      int direction = EffectiveScrollDirection(a.command, a.keyCode);
      int kind = ScrollKind(a.command);
      if (kind == 0 || (kind == 1 && direction >= 2)) return;
      UInt16 keys[2];
      int n = ScrollKeys(kind, direction, keys);
      Step* step = NewStep(seq, kKeyboard);
      for (int i = n - 1; i >= 0; --i) AddOp(step, kRelease, EV_KEY, keys[i], 0);
      return;
    }
    case CommandFamily::kPrecision:
      if (precision_ > 0) --precision_;
      Recompute();
      return;
    case CommandFamily::kKeystroke: {
      Step* step = NewStep(seq, kKeyboard);
      SInt32 key = a.keyCode == kCorvimusNoValue ? -1 : KeyboardEvdevCodeForVirtualKey(a.keyCode);
      if (key > 0) AddOp(step, kRelease, EV_KEY, UInt16(key), 0);
      AddModifierKeys(step, a.modifiers, false);
      if (a.modifiers & alphaLock) AddCapsTap(seq);
      return;
    }
    case CommandFamily::kClick:
      if (info->clicks) AddClick(seq, a.modifiers, ClickButtonCode(info->button), false);
      return;
    case CommandFamily::kSpecial: {
      const Shortcut& shortcut = ShortcutFor(desktop_, a.command);
      if (shortcut.count < 2) return;
      Step* up = NewStep(seq, kKeyboard);
      for (int i = shortcut.count - 2; i >= 0; --i)
        AddOp(up, kRelease, EV_KEY, shortcut.keys[i], 0);
      return;
    }
    case CommandFamily::kEdit:
    case CommandFamily::kNavigation:
    case CommandFamily::kOpenApplication:
    case CommandFamily::kOpenItem:
      return;
    default:
      if (inputCode) AddOp(NewStep(seq, kPointer), kRelease, EV_KEY, inputCode, 0);
      return;
  }
}

// ---- The agent's answers -----------------------------------------------------------------------

void ActionEngine::ForgetOldRequests() {
  while (!pending_.empty() && nowUs_ > pending_.front().sentUs + kAnswerTimeoutUs)
    pending_.erase(pending_.begin());
}

void ActionEngine::RememberRequest(UInt16 command) {
  ForgetOldRequests();
  if (pending_.size() == kMaxPending) pending_.erase(pending_.begin());
  pending_.push_back({command, nowUs_});
}

void ActionEngine::PostKeystroke(UInt32 packed) {
  Flush();
  TypeAnswer(packed);
  Flush();
}

void ActionEngine::TypeAnswer(UInt32 packed) {
  const UInt8 ch = KeystrokeChar(packed), vk = KeystrokeKeyCode(packed);
  const UInt16 modifiers = KeystrokeModifiers(packed);
  ForgetOldRequests();
  UInt16 command = 0;
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (!AnswerFits(pending_[i].command, ch)) continue;
    command = pending_[i].command;
    // Requests before it went unanswered (the agent skips them off the console).
    pending_.erase(pending_.begin(), pending_.begin() + SInt64(i) + 1);
    break;
  }
  SInt32 key = vk == kCorvimusNoValue ? -1 : KeyboardEvdevCodeForVirtualKey(vk);
  UInt16 keys[8];
  int n = 0;
  Seq seq;
  if (command == kCmdForward || command == kCmdBack) {
    keys[n++] = KEY_LEFTALT;
    keys[n++] = command == kCmdForward ? KEY_RIGHT : KEY_LEFT;
    AddTap(&seq, keys, n, false);
  } else if (command) {
    static const UInt16 kUsKeys[] = {KEY_Z, KEY_X, KEY_C, KEY_V};
    if (key <= 0) key = kUsKeys[command - kCmdUndo];
    // The edit commands are Ctrl's; the layout's own modifiers choose the character.
    keys[n++] = KEY_LEFTCTRL;
    if (modifiers & optionKey) keys[n++] = KEY_RIGHTALT;
    if (modifiers & shiftKey) keys[n++] = KEY_LEFTSHIFT;
    keys[n++] = UInt16(key);
    AddTap(&seq, keys, n, modifiers & alphaLock);
  } else {
    if (key <= 0) return;
    for (const ModifierKey& m : kModifierKeys)
      if (modifiers & m.bit) keys[n++] = m.key;
    keys[n++] = UInt16(key);
    AddTap(&seq, keys, n, modifiers & alphaLock);
  }
  Run(seq);
}

// ---- Output ------------------------------------------------------------------------------------

namespace {

bool IsButtonCode(UInt16 code) {
  return code >= BTN_LEFT && code < BTN_LEFT + 16;
}

}  // namespace

UInt64 ActionEngine::SpacingFor(const Step& step) const {
  UInt64 until = 0;
  if (step.device != kPointer) return 0;
  for (int i = 0; i < step.count; ++i)
    if (step.ops[i].kind == kPress && IsButtonCode(step.ops[i].code))
      until = std::max(until, spacedUntilUs_[step.ops[i].code - BTN_LEFT]);
  return until;
}

void ActionEngine::NoteSpacing(const Step& step, UInt64 atUs) {
  if (!step.spaced || step.device != kPointer) return;
  for (int i = 0; i < step.count; ++i)
    if (step.ops[i].kind == kRelease && IsButtonCode(step.ops[i].code))
      spacedUntilUs_[step.ops[i].code - BTN_LEFT] = atUs + kClickStepUs;
}

// Carries a sequence out as soon as its order allows: in the pointer frame being written, right
// after it, or at its time from the queue. Once one step waits, every later one waits behind it.
void ActionEngine::Run(const Seq& seq) {
  UInt64 previous = queue_.empty() ? nowUs_ : std::max(nowUs_, queue_.back().dueUs);
  bool queued = !queue_.empty(), deferred = false, pointerHere = false;
  for (int i = 0; i < seq.count; ++i) {
    const Step& step = seq.steps[i];
    if (step.count == 0) continue;
    UInt64 due = std::max(previous + step.gapUs, SpacingFor(step));
    if (queued || due > nowUs_) {
      queue_.push_back({due, step});
      NoteSpacing(step, due);
      queued = true;
      previous = due;
      continue;
    }
    NoteSpacing(step, nowUs_);
    if (deferred || !after_.empty()) {
      after_.push_back(step);
      deferred = true;
    } else if (step.device == kPointer) {
      ExecuteOps(step);
      pointerHere = true;
    } else if (pointerHere || pointerButtonsInFrame_) {
      // Keys after a button of this frame: they must follow its SYN_REPORT.
      after_.push_back(step);
      deferred = true;
    } else {
      ExecuteFrame(step);
    }
  }
}

void ActionEngine::ExecuteOps(const Step& step) {
  for (int i = 0; i < step.count; ++i) Apply(step.device, step.ops[i]);
}

void ActionEngine::ExecuteFrame(const Step& step) {
  ExecuteOps(step);
  if (step.device == kPointer) {
    FlushPointer();
  } else if (keyboardDirty_) {
    Emit(kKeyboard, EV_SYN, SYN_REPORT, 0);
    keyboardDirty_ = false;
  }
}

void ActionEngine::Flush() {
  if (frameMotion_) FlushMotion();
  FlushPointer();
  if (after_.empty()) return;
  for (const Step& step : after_) ExecuteFrame(step);
  after_.clear();
}

void ActionEngine::RunDue(UInt64 nowUs) {
  while (!queue_.empty() && queue_.front().dueUs <= nowUs) {
    Step step = queue_.front().step;
    queue_.pop_front();
    ExecuteFrame(step);
  }
}

UInt64 ActionEngine::NextTimerUs() const {
  return queue_.empty() ? 0 : std::max<UInt64>(queue_.front().dueUs, 1);
}

void ActionEngine::HandleTimer(UInt64 nowUs) {
  nowUs_ = std::max(nowUs_, nowUs);
  Flush();
  inFrame_ = false;
  RunDue(nowUs_);
}

}  // namespace corvimus
