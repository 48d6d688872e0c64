// Driving an action engine with input streams and reading what it wrote, as one line of words per
// run ("K+Ctrl K. P+left P." is Ctrl going down in a keyboard frame, then a pointer frame with the
// left button pressed), and a checker of the promises every output stream keeps.
#pragma once

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "driver/ActionEngine.h"
#include "settings/CommandTable.h"
#include "settings/CorvimusDriver.h"
#include "settings/MouseSettings.h"

namespace enginetest {

using corvimus::ActionEngine;
using corvimus::EngineOutput;

struct InputEvent {
  UInt16 type;
  UInt16 code;
  SInt32 value;
};

struct Written {
  char device;  // 'P' pointer, 'K' keyboard, 'A' agent request, 'R' report
  UInt16 type = 0;
  UInt16 code = 0;
  SInt32 value = 0;
  CorvimusActionRec action{};
  std::array<UInt8, 32> report{};
};

inline std::string ButtonName(UInt16 code) {
  static const char* const kNames[] = {"left",    "right", "middle", "side",   "extra",
                                       "forward", "back",  "task",   "button9"};
  if (code >= BTN_LEFT && code <= BTN_TASK + 1) return kNames[code - BTN_LEFT];
  return "key" + std::to_string(code);
}

inline std::string RelName(UInt16 code) {
  switch (code) {
    case REL_X:
      return "x";
    case REL_Y:
      return "y";
    case REL_WHEEL:
      return "wheel";
    case REL_HWHEEL:
      return "hwheel";
    case REL_WHEEL_HI_RES:
      return "wheel120";
    case REL_HWHEEL_HI_RES:
      return "hwheel120";
    default:
      return "rel" + std::to_string(code);
  }
}

class Recorder : public EngineOutput {
 public:
  void PointerEvent(UInt16 type, UInt16 code, SInt32 value) override {
    written.push_back({'P', type, code, value});
  }
  void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) override {
    written.push_back({'K', type, code, value});
  }
  void AgentRequest(const CorvimusActionRec& action) override {
    Written w{'A'};
    w.action = action;
    written.push_back(w);
  }
  void Report(const UInt8 (&bytes)[32]) override {
    Written w{'R'};
    std::memcpy(w.report.data(), bytes, 32);
    written.push_back(w);
  }

  // Everything written since the last call, in words.
  std::string Take() {
    std::string out;
    for (size_t i = taken_; i < written.size(); ++i) {
      const Written& w = written[i];
      std::string word;
      if (w.device == 'A') {
        word = "A" + std::to_string(w.action.command);
      } else if (w.device == 'R') {
        word = "R";
      } else if (w.type == EV_SYN) {
        word = std::string(1, w.device) + ".";
      } else if (w.type == EV_KEY) {
        std::string name = w.device == 'P' ? ButtonName(w.code) : corvimus::EvdevKeyName(w.code);
        word = std::string(1, w.device) + (w.value == 1 ? "+" : w.value == 0 ? "-" : "=") + name;
      } else if (w.type == EV_REL) {
        word = std::string(1, w.device) + ":" + RelName(w.code) + "=" + std::to_string(w.value);
      } else {
        word = std::string(1, w.device) + ":" + std::to_string(w.type) + "/" +
               std::to_string(w.code) + "=" + std::to_string(w.value);
      }
      out += (out.empty() ? "" : " ") + word;
    }
    taken_ = written.size();
    return out;
  }
  // The pointer's events, SYN_REPORT included, as input events.
  std::vector<InputEvent> PointerEvents() const {
    std::vector<InputEvent> out;
    for (const Written& w : written)
      if (w.device == 'P') out.push_back({w.type, w.code, w.value});
    return out;
  }

  std::vector<Written> written;

 private:
  size_t taken_ = 0;
};

// An engine with its recorder and a clock: each frame fed is one millisecond after the last.
struct Rig {
  Recorder out;
  ActionEngine engine{&out};
  UInt64 nowUs = 1000000;

  void Frame(std::initializer_list<InputEvent> events, UInt64 afterUs = 1000) {
    nowUs += afterUs;
    for (const InputEvent& e : events) engine.HandleEvent(e.type, e.code, e.value, nowUs);
    engine.HandleEvent(EV_SYN, SYN_REPORT, 0, nowUs);
  }
  void Press(UInt16 button, UInt64 afterUs = 1000) { Frame({{EV_KEY, button, 1}}, afterUs); }
  void Release(UInt16 button, UInt64 afterUs = 1000) { Frame({{EV_KEY, button, 0}}, afterUs); }
  void Click(UInt16 button) {
    Press(button);
    Release(button, 80000);
  }
  // One notch of the wheel with its high-resolution partner: up, down, left or right.
  void Notch(int direction) {
    bool vertical = direction < 2;
    SInt32 sign = direction == 0 || direction == 3 ? 1 : -1;
    Frame({{EV_REL, UInt16(vertical ? REL_WHEEL : REL_HWHEEL), sign},
           {EV_REL, UInt16(vertical ? REL_WHEEL_HI_RES : REL_HWHEEL_HI_RES), 120 * sign}});
  }
  // Runs every timed step, advancing the clock to each.
  void RunTimers() {
    for (int guard = 0; guard < 1000; ++guard) {
      UInt64 next = engine.NextTimerUs();
      if (!next) return;
      nowUs = std::max(nowUs, next);
      engine.HandleTimer(nowUs);
    }
    ADD_FAILURE() << "the timers never run out";
  }
  void Use(const CorvimusPrefsRec& record) { engine.SetRecord(&record); }
};

// A default record with one slot changed.
inline CorvimusPrefsRec RecordWith(int slot, UInt16 command, UInt16 modifiers = 0,
                                   UInt8 keyCode = 255, UInt8 repeat = 0) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  CorvimusActionRec& a = r.device[0].action[slot];
  a.command = command;
  a.modifiers = modifiers;
  a.keyCode = keyCode;
  a.repeat = repeat;
  return r;
}

// The promises of every output stream: frames end with SYN_REPORT and are never empty, a key or
// button goes down only when up and up only when down. Reads the stream as it grows and keeps
// what is down.
class StreamCheck {
 public:
  ::testing::AssertionResult Advance(const std::vector<Written>& written) {
    for (; next_ < written.size(); ++next_) {
      const Written& w = written[next_];
      if (w.device != 'P' && w.device != 'K') continue;
      bool& open = w.device == 'P' ? pointerOpen_ : keyboardOpen_;
      std::vector<UInt16>& down = w.device == 'P' ? pointerDown : keyboardDown;
      if (w.type == EV_SYN && w.code == SYN_REPORT) {
        if (!open)
          return ::testing::AssertionFailure() << "empty frame on " << w.device << " at " << next_;
        open = false;
        continue;
      }
      open = true;
      if (w.type != EV_KEY) continue;
      auto at = std::find(down.begin(), down.end(), w.code);
      if (w.value == 1) {
        if (at != down.end())
          return ::testing::AssertionFailure()
                 << w.device << " code " << w.code << " pressed twice at " << next_;
        down.push_back(w.code);
      } else if (w.value == 0) {
        if (at == down.end())
          return ::testing::AssertionFailure()
                 << w.device << " code " << w.code << " released while up at " << next_;
        down.erase(at);
      }
    }
    if (pointerOpen_ || keyboardOpen_)
      return ::testing::AssertionFailure() << "a frame was left without SYN_REPORT";
    return ::testing::AssertionSuccess();
  }

  std::vector<UInt16> pointerDown, keyboardDown;

 private:
  size_t next_ = 0;
  bool pointerOpen_ = false, keyboardOpen_ = false;
};

inline ::testing::AssertionResult WellFormed(const std::vector<Written>& written) {
  StreamCheck check;
  return check.Advance(written);
}

}  // namespace enginetest
