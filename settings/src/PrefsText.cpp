#include "settings/PrefsText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"
#include "settings/CommandTable.h"

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

std::string DescribeKeyCode(UInt8 keyCode) {
  static const struct {
    UInt8 code;
    const char* name;
  } kKeys[] = {
      {0x35, "esc"},        {0x30, "tab"},         {0x24, "return"},     {0x33, "delete"},
      {0x47, "clear"},      {0x4C, "enter"},       {0x72, "help"},       {0x75, "forward delete"},
      {0x73, "home"},       {0x77, "end"},         {0x74, "page up"},    {0x79, "page down"},
      {0x7A, "F1"},         {0x78, "F2"},          {0x63, "F3"},         {0x76, "F4"},
      {0x60, "F5"},         {0x61, "F6"},          {0x62, "F7"},         {0x64, "F8"},
      {0x65, "F9"},         {0x6D, "F10"},         {0x67, "F11"},        {0x6F, "F12"},
      {0x69, "F13"},        {0x6B, "F14"},         {0x71, "F15"},        {0x31, "space"},
      {0x7B, "left arrow"}, {0x7C, "right arrow"}, {0x7D, "down arrow"}, {0x7E, "up arrow"}};
  if (keyCode == 255) return "no key";
  for (const auto& k : kKeys)
    if (k.code == keyCode) return k.name;
  return "key " + Hex2(keyCode);
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
      return "keystroke " + DescribeKeyCode(action.keyCode) + with;
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
  // A key code on anything but a keystroke is a value for the driver (the default scroll
  // controls carry 1 and 100); show it so that two such slots can be told apart.
  if (action.command != kCmdKeystroke && action.keyCode != 0 && action.keyCode != 255)
    out += " (key code " + std::to_string(action.keyCode) + ")";
  return out;
}

std::string DescribeRecord(const CorvimusPrefsRec& r, int index) {
  std::string out = "record " + std::to_string(index) + ": ";
  if (r.application == kCorvimusGlobalApplication) {
    out += "global settings";
    if (r.appName[0]) out += " \"" + PascalText(r.appName, 32) + "\"";
  } else {
    out += "application \"" + PascalText(r.appName, 32) + "\" " + FourCCText(r.application) +
           ", file name \"" + PascalText(r.appFileName, 64) + "\"";
  }
  out += "\n";
  const auto& d = r.device[0];
  out += "  active: " + std::string(r.active ? "yes" : "no (switched off)") + "\n";
  out += "  speed: " + (d.speed == 255 ? std::string("default") : std::to_string(d.speed)) + "\n";
  out += "  acceleration: " +
         (d.acceleration == 255 ? std::string("default") : std::to_string(d.acceleration)) + "\n";
  if (d.options) out += "  options: " + std::to_string(d.options) + "\n";
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    std::string label = SlotLabel(slot);
    label.resize(std::max<size_t>(label.size(), 7), ' ');
    const ControlInfo* control = FindControl(slot);
    std::string name = control ? Lower(control->name) : "(no control)";
    name.resize(std::max<size_t>(name.size(), 28), ' ');
    out += "  " + label + " " + name + " " + DescribeAction(d.action[slot]) + "\n";
  }
  return out;
}
