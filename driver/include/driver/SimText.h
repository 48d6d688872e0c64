// What the simulated driver says about its mice in words.
#pragma once

#include <string>
#include <vector>

#include "settings/CorvimusPrefs.h"

namespace corvimus {

struct SimMouse;

// One thing a mouse's action engine wrote, as the simulator keeps it.
struct EngineEvent {
  enum Kind : UInt8 { kPointer, kKeyboard, kAgent, kReport };
  Kind kind = kPointer;
  UInt16 type = 0;
  UInt16 code = 0;
  SInt32 value = 0;
  UInt16 command = 0;  // an agent request's command
};

// A few lines: the mouse, whose record it holds, its mode and keystrokes, and what each control
// does.
std::string SimDescribeMouse(const SimMouse& mouse);
// A packed keystroke in words: "Super+[", "Ctrl+Z (the key Y on a US keyboard)", "Shift (no key)".
std::string SimKeystrokeText(UInt32 packed);
// What a control does, as the demo shows it: "back, Alt+Left", "keystroke Ctrl+C".
std::string SimDescribeControl(const CorvimusActionRec& action);
// What a real mouse would have sent, in words a Linux user reads: "left click with Ctrl held",
// "Alt+Left", "scroll down 3 lines", "sent CVda command 76 (back)"; "nothing" for nothing.
std::string DescribeEngineOutput(const std::vector<EngineEvent>& events);

}  // namespace corvimus
