#include "driver/SimText.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "driver/SimDriver.h"

namespace corvimus {

namespace {

std::string JsonString(const unsigned char* pascal, size_t capacity) {
  size_t length = pascal[0] < capacity ? pascal[0] : capacity - 1;
  std::string out = "\"";
  for (size_t i = 1; i <= length; ++i) {
    unsigned char c = pascal[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string SignatureText(OSType signature) {
  if (signature == 0) return "";
  std::string text;
  for (int i = 0; i < 4; ++i) text += static_cast<char>((signature >> (24 - 8 * i)) & 0xFF);
  return text;
}

std::string ModifierWords(UInt16 modifiers) {
  std::string words;
  static const struct {
    UInt16 bit;
    const char* name;
  } kNames[] = {{controlKey, "control-"}, {optionKey, "option-"}, {shiftKey, "shift-"},
                {alphaLock, "caps lock-"}, {cmdKey, "command-"}, {kCorvimusSpaceKey, "space-"}};
  for (const auto& m : kNames)
    if (modifiers & m.bit) words += m.name;
  return words;
}

const char* kScrollDirections[4] = {"up", "down", "left", "right"};

std::string CommandWords(const CorvimusActionRec& action) {
  UInt16 c = action.command;
  std::string mods = ModifierWords(action.modifiers);
  if (c == kCmdNone) return "nothing";
  if (c == kCmdAsGlobal) return "as in the global settings";
  if (c >= kCmdScrollFirst && c <= kCmdScrollLast) {
    int direction = (c - kCmdScrollFirst) % 4, kind = (c - kCmdScrollFirst) / 4;
    std::string text = std::string("scroll ") + kScrollDirections[direction];
    if (kind == 0) return text + " by " + std::to_string(action.repeat);
    return text + (kind == 1 ? " (first scroll-count choice)" : " (second scroll-count choice)");
  }
  if (c == kCmdMainMenuLast) return "the last entry of the action menu";
  if (c == kCmdKeystroke) {
    if (action.keyCode == 255) return "keystroke (no key)";
    return "keystroke " + mods + "key " + std::to_string(action.keyCode);
  }
  if (c == kCmdOpenApplication) {
    OSType creator;
    std::memcpy(&creator, action.data, sizeof creator);
    return "open the application '" + SignatureText(creator) + "'";
  }
  if (c == kCmdOpenItem) return "open the item of alias " + JsonString(action.data, 32);
  if (c >= kCmdClickFirst && c <= kCmdClickLast) {
    std::string text = c == kCmdMainClick ? "main click" : "click " + std::to_string(c);
    return mods.empty() ? text : mods + text;
  }
  if (c >= kCmdSpecialFirst && c <= kCmdSpecialLast) return "special function " + std::to_string(c);
  switch (c) {
    case kCmdUndo: return "undo (command-Z)";
    case kCmdCut: return "cut (command-X)";
    case kCmdCopy: return "copy (command-C)";
    case kCmdPaste: return "paste (command-V)";
    case kCmdForward: return "forward";
    case kCmdBack: return "back";
  }
  return "unknown command " + std::to_string(c);
}

const char* SlotName(int slot) {
  static const char* kNames[16] = {"C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7",
                                   "8",  "9",  "10", "11", "RF", "RB", "PF", "PB"};
  return kNames[slot];
}

}  // namespace

std::string SimRecordJson(const CorvimusPrefsRec& r) {
  std::ostringstream out;
  const CorvimusDevicePrefs& d = r.device[0];
  out << "{\"application\": \"" << SignatureText(r.application) << "\", \"applicationCode\": "
      << r.application << ", \"active\": " << unsigned(r.active)
      << ", \"appName\": " << JsonString(r.appName, sizeof r.appName)
      << ", \"appFileName\": " << JsonString(r.appFileName, sizeof r.appFileName)
      << ", \"options\": " << d.options << ", \"speed\": " << unsigned(d.speed)
      << ", \"acceleration\": " << unsigned(d.acceleration) << ", \"actions\": [";
  for (int i = 0; i < kCorvimusActionCount; ++i) {
    const CorvimusActionRec& a = d.action[i];
    out << (i ? ", " : "") << "{\"slot\": " << i << ", \"command\": " << a.command
        << ", \"modifiers\": " << a.modifiers << ", \"delay\": " << a.delay
        << ", \"keyCode\": " << unsigned(a.keyCode) << ", \"repeat\": " << unsigned(a.repeat)
        << ", \"data\": \"";
    char hex[3];
    for (UInt8 b : a.data) {
      std::snprintf(hex, sizeof hex, "%02x", b);
      out << hex;
    }
    out << "\"}";
  }
  out << "]}";
  return out.str();
}

std::string SimKeystrokeText(UInt32 packed) {
  UInt8 ch = KeystrokeChar(packed), key = KeystrokeKeyCode(packed);
  std::string text = ModifierWords(KeystrokeModifiers(packed));
  if (ch == 0x1C)
    text += "left arrow";
  else if (ch == 0x1D)
    text += "right arrow";
  else if (ch >= 0x21 && ch < 0x7F)
    text += static_cast<char>(ch);
  else
    text += "character " + std::to_string(ch);
  return text + (key == 255 ? " (no key)" : " (key " + std::to_string(key) + ")");
}

std::string SimDescribeMouse(const SimMouse& mouse) {
  std::ostringstream out;
  out << "mouse " << mouse.number << ": " << mouse.info.productName << " ("
      << (mouse.bluetooth ? "Bluetooth" : "USB") << ", " << unsigned(mouse.info.numButtons)
      << " buttons)\n";
  if (!mouse.hasRecord) {
    out << "  record: none received; the mouse runs on its own defaults\n";
  } else {
    const CorvimusPrefsRec& r = mouse.record;
    if (r.application == 0)
      out << "  record: the global settings";
    else
      out << "  record: application " << JsonString(r.appName, sizeof r.appName) << " ('"
          << SignatureText(r.application) << "')";
    out << (r.active ? "" : ", switched off") << ", " << mouse.pushes << " received\n";
    const CorvimusDevicePrefs& d = r.device[0];
    out << "  speed: " << (d.speed == 255 ? std::string("system") : std::to_string(d.speed))
        << ", acceleration: "
        << (d.acceleration == 255 ? std::string("system") : std::to_string(d.acceleration))
        << "\n";
  }
  out << "  own-application mode: " << (mouse.ownAppMode ? "on" : "off") << "\n";
  out << "  keystrokes: " << mouse.keystrokes.size();
  if (!mouse.keystrokes.empty()) out << ", last " << SimKeystrokeText(mouse.keystrokes.back());
  out << "\n";
  if (mouse.hasRecord) {
    for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
      if (slot >= 8 && slot <= 11) continue;  // no control offers these slots
      out << "  " << SlotName(slot) << ": " << CommandWords(mouse.record.device[0].action[slot])
          << "\n";
    }
  }
  return out.str();
}

}  // namespace corvimus
