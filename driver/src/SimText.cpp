#include "driver/SimText.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "driver/SimDriver.h"
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
  if (!text.empty()) text += "-";
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
    out << "  record: " << RecordOwner(r);
    out << (r.active ? "" : ", switched off") << ", " << mouse.pushes << " received\n";
    const CorvimusDevicePrefs& d = r.device[0];
    out << "  speed: " << (d.speed == 255 ? std::string("system") : std::to_string(d.speed))
        << ", acceleration: "
        << (d.acceleration == 255 ? std::string("system") : std::to_string(d.acceleration)) << "\n";
  }
  out << "  own-application mode: " << (mouse.ownAppMode ? "on" : "off") << "\n";
  out << "  keystrokes: " << mouse.keystrokes.size();
  if (!mouse.keystrokes.empty()) out << ", last " << SimKeystrokeText(mouse.keystrokes.back());
  out << "\n";
  if (mouse.hasRecord) {
    for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
      if (!SlotControlName(slot)) continue;  // no control offers these slots
      out << "  " << SlotLabel(slot) << ": " << DescribeAction(mouse.record.device[0].action[slot])
          << "\n";
    }
  }
  return out.str();
}

}  // namespace corvimus
