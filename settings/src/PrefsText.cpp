#include "settings/PrefsText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/TextUtils.h"
#include "settings/CommandTable.h"
#include "settings/KeyNames.h"

namespace {

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

}  // namespace

const char* SlotControlName(int slot) {
  const ControlInfo* control = FindControl(slot);
  return control ? control->id : nullptr;
}

std::string SlotLabel(int slot) {
  const char* name = SlotControlName(slot);
  return name ? std::string(name) : "slot " + std::to_string(slot);
}

int SlotFromText(const std::string& text) {
  if (text.empty() || text.size() > 20) return -1;
  bool digits = true;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (digits) {
    int n = text.size() <= 2 ? std::stoi(text) : kCorvimusActionCount;
    return n < kCorvimusActionCount ? n : -1;
  }
  const ControlInfo* control = FindControlByWord(text);
  return control ? control->slot : -1;
}

std::string DescribeModifiers(UInt16 modifiers) {
  std::string out;
  const UInt16 known = AllModifierBits();
  for (const ModifierInfo& m : kModifierTable) {
    if (!(modifiers & m.bit)) continue;
    if (!out.empty()) out += "+";
    out += m.name;
  }
  if (modifiers & ~known) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", unsigned(modifiers & ~known));
    if (!out.empty()) out += "+";
    out += buf;
  }
  return out;
}

std::string FourCCText(OSType code) {
  std::string out = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char c = static_cast<unsigned char>(code >> shift);
    if (c >= 0x20 && c < 0x7F && c != '\'' && c != '\\') {
      out.push_back(char(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out + "'";
}

std::string PascalText(const unsigned char* field, int capacity) {
  int n = field[0] < capacity ? field[0] : capacity - 1;
  return std::string(reinterpret_cast<const char*>(field) + 1, size_t(n));
}

namespace {

std::string Lower(const char* name) {
  std::string out = name;
  // Lower-case the first letter only: names keep their other capitals ("Ctrl+Home").
  if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z') out[0] = char(out[0] - 'A' + 'a');
  return out;
}

std::string DescribeCommand(const CorvimusActionRec& action) {
  const UInt16 c = action.command;
  const CommandInfo* info = FindCommand(c);
  if (!info) return "unknown command " + std::to_string(c);
  std::string mods = DescribeModifiers(action.modifiers);
  std::string with = mods.empty() ? "" : " with " + mods;
  switch (info->family) {
    case CommandFamily::kScroll: {
      // The direction the mouse scrolls: on an entry of the tilting wheel up and down are sideways.
      int direction = EffectiveScrollDirection(c, action.keyCode);
      const CommandInfo* named = FindCommand(UInt16(c - ScrollDirection(c) + direction));
      std::string text = Lower(named->name);
      if (ScrollKind(c) == 0 && action.repeat)
        text += " by " + std::to_string(action.repeat) + (action.repeat == 1 ? " line" : " lines");
      return text;
    }
    case CommandFamily::kKeystroke:
      return "keystroke " + ActionEffect(action);
    case CommandFamily::kOpenApplication:
      return "open application " + FourCCText(corvimus::LoadNative<UInt32>(action.data));
    case CommandFamily::kOpenItem:
      return "open item \"" + PascalText(action.data, 32) + "\"";
    case CommandFamily::kClick:
      return Lower(info->name) + with;
    default:
      return Lower(info->name);
  }
}

}  // namespace

std::string DescribeAction(const CorvimusActionRec& action) {
  std::string out = DescribeCommand(action);
  // A key code on anything but a keystroke or a scroll entry (whose direction already says what
  // its key code means) is a value for the driver; show it so that two such slots can be told
  // apart.
  const CommandInfo* info = FindCommand(action.command);
  const bool scroll = info && info->family == CommandFamily::kScroll;
  if (action.command != kCmdKeystroke && !scroll && action.keyCode != 0 && action.keyCode != 255)
    out += " (key code " + std::to_string(action.keyCode) + ")";
  return out;
}

std::string ModifierWords(UInt16 modifiers) {
  if (modifiers & ~AllModifierBits()) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", unsigned(modifiers));
    return buf;
  }
  std::string out;
  for (const ModifierInfo& m : kModifierTable)
    if (modifiers & m.bit) out += (out.empty() ? "" : "+") + std::string(m.word);
  return out;
}

std::string KeyText(UInt8 keyCode) {
  const char* label = UsKeyLabel(keyCode);
  return label ? std::string(label) : "key " + Hex2(keyCode);
}

namespace {

// The word of a key code for --key: its key's word, or the code where no key sits.
std::string KeyArgument(UInt8 keyCode) {
  const char* word = KeyWord(keyCode);
  return word ? std::string(word) : Hex2(keyCode);
}

// The scroll command a scroll entry carries out: on an entry of the tilting wheel up and down are
// sideways.
const CommandInfo* EffectiveScroll(const CorvimusActionRec& action) {
  const UInt16 c = action.command;
  return FindCommand(UInt16(c - ScrollDirection(c) + EffectiveScrollDirection(c, action.keyCode)));
}

}  // namespace

std::string ActionWords(const CorvimusActionRec& action) {
  const CommandInfo* info = FindCommand(action.command);
  if (!info) return "unknown command " + std::to_string(action.command);
  const std::string mods = ModifierWords(action.modifiers);
  const std::string withMods = mods.empty() ? "" : " --modifiers " + mods;
  switch (info->family) {
    case CommandFamily::kScroll: {
      std::string text = EffectiveScroll(action)->word;
      if (ScrollKind(action.command) == 0 && action.repeat > 1)
        text += " --repeat " + std::to_string(action.repeat);
      return text;
    }
    case CommandFamily::kKeystroke:
      return std::string(info->word) + " --key " + KeyArgument(action.keyCode) + withMods;
    case CommandFamily::kClick:
      return info->word + withMods;
    case CommandFamily::kOpenApplication:
      return std::string(info->word) + " " +
             FourCCText(corvimus::LoadNative<UInt32>(action.data));
    case CommandFamily::kOpenItem:
      return std::string(info->word) + " \"" + PascalText(action.data, 32) + "\"";
    default:
      return info->word;
  }
}

namespace {

// "z" when the key at `keyCode` types z on the layout of `layoutChars` while its US name is
// another character; "" when they agree or the key types no character.
std::string LayoutCharacter(UInt8 keyCode, const UInt8* layoutChars) {
  const char* label = layoutChars && keyCode < 128 ? UsKeyLabel(keyCode) : nullptr;
  if (!label || label[0] == 0 || label[1] != 0) return "";
  const UInt8 typed = layoutChars[keyCode];
  if (typed <= 32 || typed == 127 || (typed >= 0x80 && typed < 0xA0)) return "";
  auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  if (lower(typed) == lower(static_cast<unsigned char>(label[0]))) return "";
  std::string out;
  corvimus::AppendUtf8(char32_t(typed), &out);
  return out;
}

}  // namespace

std::string ActionEffect(const CorvimusActionRec& action, const UInt8* layoutChars) {
  const CommandInfo* info = FindCommand(action.command);
  if (!info) return "";
  switch (info->family) {
    case CommandFamily::kKeystroke: {
      std::string mods = DescribeModifiers(action.modifiers);
      if (action.keyCode == 255) return mods.empty() ? "nothing: the control is silenced" : mods;
      std::string text = (mods.empty() ? "" : mods + "+") + KeyText(action.keyCode);
      std::string typed = LayoutCharacter(action.keyCode, layoutChars);
      if (!typed.empty()) text += ": the key that types " + typed + " on this keyboard layout";
      return text;
    }
    case CommandFamily::kScroll:
      return ScrollKind(action.command) == 0 ? "" : EffectiveScroll(action)->onLinux;
    case CommandFamily::kPrecision:
    case CommandFamily::kSpecial:
    case CommandFamily::kEdit:
    case CommandFamily::kNavigation:
      return info->onLinux;
    default:
      return "";
  }
}

std::string DescribeRecord(const CorvimusPrefsRec& r, int index, const UInt8* layoutChars) {
  std::string out = "record " + std::to_string(index) + ": ";
  if (r.application == kCorvimusGlobalApplication) {
    out += "global settings, for all applications";
    if (r.appName[0]) out += " \"" + PascalText(r.appName, 32) + "\"";
  } else {
    out += "application \"" + PascalText(r.appName, 32) + "\"";
    // An application without a signature is recognised by its file name alone.
    if (r.application == kUnknownSignature)
      out += ", recognised by its file name \"" + PascalText(r.appFileName, 64) + "\"";
    else
      out += " " + FourCCText(r.application) + ", file name \"" + PascalText(r.appFileName, 64) +
             "\"";
  }
  out += "\n";
  const auto& d = r.device[0];
  out += "  active: " + std::string(r.active ? "yes" : "no (switched off)") + "\n";
  out += "  speed: " + (d.speed == 255 ? std::string("default") : std::to_string(d.speed)) + "\n";
  out += "  acceleration: " +
         (d.acceleration == 255 ? std::string("default") : std::to_string(d.acceleration)) + "\n";
  if (d.options) out += "  options: " + std::to_string(d.options) + "\n";
  auto column = [](std::string text, size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
  };
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    const CorvimusActionRec& action = d.action[slot];
    const ControlInfo* control = FindControl(slot);
    if (!control && action.command == kCmdNone) continue;
    std::string line = "  " + column(SlotLabel(slot), 6) + " " +
                       column(control ? control->word : "", 10) + " " +
                       column(control ? Lower(control->name) : "(no control)", 27) + " " +
                       ActionWords(action);
    std::string effect = ActionEffect(action, layoutChars);
    if (!effect.empty()) line += " (" + effect + ")";
    out += line + "\n";
  }
  return out;
}
