// What the simulated driver says about its mice in words.
#pragma once

#include <string>

#include "settings/CorvimusPrefs.h"

namespace corvimus {

struct SimMouse;

// A few lines: the mouse, whose record it holds, its mode and keystrokes, and what each control
// does.
std::string SimDescribeMouse(const SimMouse& mouse);
// A packed keystroke in words, e.g. "command-[ (key 33)".
std::string SimKeystrokeText(UInt32 packed);

}  // namespace corvimus
