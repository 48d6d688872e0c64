#include "driver/SimText.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "driver/ActionEngine.h"
#include "driver/SimDriver.h"
#include "settings/CommandTable.h"
#include "settings/PrefsText.h"

namespace corvimus {

namespace {

// The application a record belongs to, for the first line of a mouse.
std::string RecordOwner(const CorvimusPrefsRec& r) {
  if (r.application == kCorvimusGlobalApplication) return "the global settings";
  return "application \"" + PascalText(r.appName, sizeof r.appName) + "\" (" +
         FourCCText(r.application) + ")";
}

}  // namespace

std::string SimKeystrokeText(UInt32 packed) {
  UInt8 ch = KeystrokeChar(packed), key = KeystrokeKeyCode(packed);
  std::string text = DescribeModifiers(KeystrokeModifiers(packed));
  if (!text.empty()) text += "+";
  std::string typed;
  if (ch == 0x1C)
    typed = "Left";
  else if (ch == 0x1D)
    typed = "Right";
  else if (ch >= 0x21 && ch < 0x7F)
    typed = std::string(1, static_cast<char>(ch));
  else
    typed = "character " + std::to_string(ch);
  text += typed;
  // The key it asks for, where that says more than the character: a key named otherwise on a US
  // keyboard (the layout's Z at the US Y), or none.
  if (key == 255) return text + " (no key)";
  std::string keyText = KeyText(key);
  auto lower = [](std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower(keyText) == lower(typed) ? text : text + " (the key " + keyText + " on a US keyboard)";
}

std::string SimDescribeControl(const CorvimusActionRec& action) {
  std::string text = DescribeAction(action);
  std::string effect = ActionEffect(action);
  if (!effect.empty() && action.command != kCmdKeystroke) text += ", " + effect;
  return text;
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
    out << "  record: " << RecordOwner(r);
    out << (r.active ? "" : ", switched off") << ", " << mouse.pushes << " received\n";
    const CorvimusDevicePrefs& d = r.device[0];
    out << "  speed: " << (d.speed == 255 ? std::string("system") : std::to_string(d.speed))
        << ", acceleration: "
        << (d.acceleration == 255 ? std::string("system") : std::to_string(d.acceleration)) << "\n";
  }
  out << "  own-application mode: " << (mouse.ownAppMode ? "on" : "off") << "\n";
  out << "  keystrokes: " << mouse.keystrokes.size();
  // What the last one typed; what the agent asked for only when that typed nothing.
  if (!mouse.lastTyped.empty() && mouse.lastTyped != "nothing")
    out << ", the last typed as " << mouse.lastTyped;
  else if (!mouse.keystrokes.empty())
    out << ", the last asked for " << SimKeystrokeText(mouse.keystrokes.back())
        << " and typed nothing";
  out << "\n";
  if (mouse.hasRecord) {
    for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
      if (!SlotControlName(slot)) continue;  // no control offers these slots
      std::string name = FindControl(slot)->name;
      name[0] = char(std::tolower(static_cast<unsigned char>(name[0])));
      out << "  " << name << ": " << SimDescribeControl(mouse.record.device[0].action[slot])
          << "\n";
    }
  }
  return out.str();
}

namespace {

bool IsHeldModifier(UInt16 code) {
  return code == KEY_LEFTCTRL || code == KEY_RIGHTCTRL || code == KEY_LEFTALT ||
         code == KEY_RIGHTALT || code == KEY_LEFTMETA || code == KEY_RIGHTMETA ||
         code == KEY_LEFTSHIFT || code == KEY_RIGHTSHIFT || code == KEY_SPACE;
}

std::string ButtonWord(UInt16 code) {
  switch (code) {
    case BTN_LEFT:
      return "left";
    case BTN_RIGHT:
      return "right";
    case BTN_MIDDLE:
      return "middle";
    default:
      // BTN_SIDE is the fourth button, and so on up to the ninth code.
      if (code >= BTN_SIDE && code <= BTN_TASK + 1)
        return "button " + std::to_string(code - BTN_LEFT + 1);
      return "button code " + std::to_string(code);
  }
}

std::string Lines(SInt64 lo, SInt64 hi) {
  if (lo) return std::to_string(std::llabs(lo)) + (std::llabs(lo) == 1 ? " line" : " lines");
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g of a line", std::abs(double(hi)) / 120);
  return buf;
}

// Reads the engine's output in order, gathering runs of motion and wheel into one phrase each and
// repeated clicks of one button into a double or triple click.
class OutputReader {
 public:
  std::string Read(const std::vector<EngineEvent>& events) {
    for (const EngineEvent& e : events) {
      switch (e.kind) {
        case EngineEvent::kAgent: {
          FlushMovement();
          // The agent answers later: with the keys to type (they follow as a phrase of their
          // own), or by opening the item.
          const CommandInfo* info = FindCommand(e.command);
          std::string name = info ? info->name : "command " + std::to_string(e.command);
          name[0] = char(std::tolower(static_cast<unsigned char>(name[0])));
          phrases_.push_back(name + ", through the agent");
          break;
        }
        case EngineEvent::kReport:
          ++reports_;
          break;
        case EngineEvent::kKeyboard:
          if (e.type == EV_KEY) Key(e.code, e.value);
          break;
        case EngineEvent::kPointer:
          if (e.type == EV_KEY) Button(e.code, e.value);
          if (e.type == EV_REL) Relative(e.code, e.value);
          break;
      }
    }
    FlushMovement();
    if (reports_)
      phrases_.push_back(std::to_string(reports_) + (reports_ == 1 ? " report" : " reports") +
                         " to the own application");
    std::string out;
    for (const std::string& p : phrases_) out += (out.empty() ? "" : ", ") + p;
    return out.empty() ? "nothing" : out;
  }

 private:
  struct Click {
    UInt16 button = 0;
    int count = 0;
    size_t phrase = 0;
    bool down = false;
    std::string held;
  };

  std::string Held() const {
    std::string out;
    for (UInt16 code : modifiers_) out += (out.empty() ? "" : "+") + EvdevKeyName(code);
    return out;
  }

  void Key(UInt16 code, SInt32 value) {
    FlushMovement();
    if (IsHeldModifier(code)) {
      auto at = std::find(modifiers_.begin(), modifiers_.end(), code);
      if (value == 1 && at == modifiers_.end()) {
        modifiers_.push_back(code);
        used_.push_back(false);
      } else if (value == 0 && at != modifiers_.end()) {
        size_t i = size_t(at - modifiers_.begin());
        if (!used_[i]) phrases_.push_back(Held());  // a modifier tapped alone, GNOME's Super
        modifiers_.erase(at);
        used_.erase(used_.begin() + SInt64(i));
      }
      return;
    }
    if (value != 1) return;
    std::string held = Held();
    phrases_.push_back(held.empty() ? EvdevKeyName(code) : held + "+" + EvdevKeyName(code));
    std::fill(used_.begin(), used_.end(), true);
  }

  std::string ClickText(const Click& c) const {
    std::string name = ButtonWord(c.button);
    std::string text;
    if (c.count == 1)
      text = c.down ? name + " button pressed and held" : name + " click";
    else
      text = name + (c.count == 2 ? " double click" : " triple click") +
             (c.down ? ", the last press held" : "");
    return text + (c.held.empty() ? "" : " with " + c.held + " held");
  }

  void Button(UInt16 code, SInt32 value) {
    FlushMovement();
    if (value == 1) {
      std::fill(used_.begin(), used_.end(), true);
      std::string held = Held();
      if (last_.button == code && !last_.down && last_.phrase + 1 == phrases_.size() &&
          last_.held == held) {
        ++last_.count;
      } else {
        last_ = {code, 1, phrases_.size(), true, held};
        phrases_.emplace_back();
      }
      last_.down = true;
      phrases_[last_.phrase] = ClickText(last_);
    } else if (value == 0) {
      if (last_.button == code && last_.down && last_.phrase < phrases_.size()) {
        last_.down = false;
        phrases_[last_.phrase] = ClickText(last_);
      } else {
        phrases_.push_back(ButtonWord(code) + " button released");
      }
    }
  }

  void Relative(UInt16 code, SInt32 value) {
    switch (code) {
      case REL_X:
        dx_ += value;
        break;
      case REL_Y:
        dy_ += value;
        break;
      case REL_WHEEL:
        wheel_ += value;
        break;
      case REL_WHEEL_HI_RES:
        wheelHi_ += value;
        break;
      case REL_HWHEEL:
        hwheel_ += value;
        break;
      case REL_HWHEEL_HI_RES:
        hwheelHi_ += value;
        break;
      default:
        break;
    }
    moved_ = true;
  }

  void FlushMovement() {
    if (!moved_) return;
    moved_ = false;
    if (dx_ || dy_)
      phrases_.push_back("pointer moved by (" + std::to_string(dx_) + ", " + std::to_string(dy_) +
                         ")");
    if (wheel_ || wheelHi_)
      phrases_.push_back(std::string("scroll ") + (wheel_ + wheelHi_ > 0 ? "up " : "down ") +
                         Lines(wheel_, wheelHi_));
    if (hwheel_ || hwheelHi_)
      phrases_.push_back(std::string("scroll ") + (hwheel_ + hwheelHi_ > 0 ? "right " : "left ") +
                         Lines(hwheel_, hwheelHi_));
    dx_ = dy_ = wheel_ = wheelHi_ = hwheel_ = hwheelHi_ = 0;
  }

  std::vector<std::string> phrases_;
  std::vector<UInt16> modifiers_;
  std::vector<bool> used_;
  Click last_;
  size_t reports_ = 0;
  bool moved_ = false;
  SInt64 dx_ = 0, dy_ = 0, wheel_ = 0, wheelHi_ = 0, hwheel_ = 0, hwheelHi_ = 0;
};

}  // namespace

std::string DescribeEngineOutput(const std::vector<EngineEvent>& events) {
  return OutputReader().Read(events);
}

}  // namespace corvimus
