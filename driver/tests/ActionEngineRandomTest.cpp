// Long random input streams under random records, with records, modes, answers, timers and resets
// coming in between: the output always keeps the engine's promises.
#include <gtest/gtest.h>

#include <random>

#include "EngineTestSupport.h"

namespace enginetest {
namespace {

using corvimus::DesktopKind;

CorvimusPrefsRec RandomRecord(std::mt19937& rng) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.active = rng() % 10 != 0;
  r.device[0].speed = rng() % 3 ? 255 : UInt8(8 + rng() % 133);
  r.device[0].acceleration = rng() % 3 ? 255 : UInt8(rng() % 201);
  const UInt16 bits[] = {cmdKey, shiftKey, alphaLock, optionKey, controlKey, kCorvimusSpaceKey};
  const UInt8 keyCodes[] = {0, 1, 6, 100, 0x24, 0x34, 0x7B, 0x79, 255};
  for (CorvimusActionRec& a : r.device[0].action) {
    a.command = rng() % 20 ? kCommandTable[rng() % kCommandTableSize].code : UInt16(rng() % 300);
    a.modifiers = 0;
    for (UInt16 bit : bits)
      if (rng() % 4 == 0) a.modifiers |= bit;
    a.keyCode = keyCodes[rng() % std::size(keyCodes)];
    a.repeat = UInt8(rng() % 4 ? rng() % 4 : rng() % 256);
  }
  return r;
}

UInt32 RandomAnswer(std::mt19937& rng) {
  const UInt32 answers[] = {PackKeystroke('z', 0x06, cmdKey),
                            PackKeystroke('z', 0x10, cmdKey),
                            PackKeystroke('v', 0x09, cmdKey | optionKey),
                            PackKeystroke(0x1C, 0x7B, cmdKey),
                            PackKeystroke(']', 0x1E, cmdKey | optionKey | alphaLock),
                            PackKeystroke('q', 255, cmdKey),
                            PackKeystroke('a', 0x00, controlKey | kCorvimusSpaceKey)};
  return answers[rng() % std::size(answers)];
}

// One random input frame of a mouse whose buttons are `down`; the buttons' state follows.
std::vector<InputEvent> RandomFrame(std::mt19937& rng, bool (&down)[9], bool thumbButtons,
                                    bool lostFrames) {
  std::vector<InputEvent> events;
  int n = 1 + int(rng() % 4);
  for (int i = 0; i < n; ++i) {
    switch (rng() % 8) {
      case 0:
      case 1:
        events.push_back({EV_REL, REL_X, SInt32(rng() % 41) - 20});
        events.push_back({EV_REL, REL_Y, SInt32(rng() % 41) - 20});
        break;
      case 2:
      case 3: {
        int b = int(rng() % 9);  // C0-C7 and the ninth button code
        if (!thumbButtons && (b == 3 || b == 4)) b = 0;
        down[b] = !down[b];
        events.push_back({EV_MSC, MSC_SCAN, 0x90001 + b});
        events.push_back({EV_KEY, UInt16(BTN_LEFT + b), down[b] ? 1 : 0});
        break;
      }
      case 4: {
        SInt32 notches = SInt32(rng() % 5) - 2;
        events.push_back({EV_REL, REL_WHEEL_HI_RES, notches * 120});
        if (notches) events.push_back({EV_REL, REL_WHEEL, notches});
        break;
      }
      case 5: {
        SInt32 notches = SInt32(rng() % 3) - 1;
        events.push_back({EV_REL, REL_HWHEEL_HI_RES, notches * 120});
        if (notches) events.push_back({EV_REL, REL_HWHEEL, notches});
        break;
      }
      case 6:
        events.push_back({EV_REL, REL_WHEEL_HI_RES, SInt32(rng() % 61) - 30});
        break;
      default:
        if (lostFrames && rng() % 20 == 0) {
          // The rest of the frame is lost: nothing after it may change what is down.
          events.push_back({EV_SYN, SYN_DROPPED, 0});
          return events;
        }
        break;
    }
  }
  return events;
}

TEST(ActionEngineRandom, RandomStreamsUnderRandomRecordsStayWellFormedAndResetLeavesNothingDown) {
  for (unsigned seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    Rig rig;
    rig.engine.SetDesktop(DesktopKind(rng() % 4));
    bool down[9] = {};
    StreamCheck state;
    for (int step = 0; step < 400; ++step) {
      unsigned r = rng() % 100;
      if (r < 5) {
        CorvimusPrefsRec record = RandomRecord(rng);
        rig.Use(record);
      } else if (r < 7) {
        rig.engine.SetOwnAppMode(rng() % 2);
      } else if (r < 11) {
        rig.engine.PostKeystroke(RandomAnswer(rng));
      } else if (r < 15) {
        rig.nowUs += rng() % 50000;
        rig.engine.HandleTimer(rig.nowUs);
      } else if (r < 16) {
        rig.engine.SetDesktop(DesktopKind(rng() % 4));
      } else if (r < 17) {
        rig.engine.Reset();  // the buttons held stay down on the mouse and come up later
      } else {
        rig.nowUs += rng() % 40000;
        std::vector<InputEvent> events = RandomFrame(rng, down, true, true);
        for (size_t i = 0; i < events.size(); ++i) {
          rig.engine.HandleEvent(events[i].type, events[i].code, events[i].value, rig.nowUs);
          // Now and then a call arrives between two events of a frame.
          if (rng() % 30 == 0) rig.engine.PostKeystroke(RandomAnswer(rng));
          if (rng() % 60 == 0) rig.Use(RandomRecord(rng));
        }
        rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
      }
      ASSERT_TRUE(state.Advance(rig.out.written)) << "seed " << seed << " step " << step;
      // With every control up and nothing waiting, only a click lock may hold anything: the main
      // button and the modifiers it was taken with.
      bool anyDown = false;
      for (bool d : down) anyDown = anyDown || d;
      if (!anyDown && !rig.engine.NextTimerUs()) {
        for (UInt16 code : state.pointerDown)
          ASSERT_EQ(code, BTN_LEFT) << "seed " << seed << " step " << step;
        for (UInt16 code : state.keyboardDown) {
          ASSERT_TRUE(code == KEY_LEFTCTRL || code == KEY_LEFTALT || code == KEY_LEFTMETA ||
                      code == KEY_LEFTSHIFT || code == KEY_SPACE)
              << corvimus::EvdevKeyName(code) << " seed " << seed << " step " << step;
          ASSERT_FALSE(state.pointerDown.empty()) << "seed " << seed << " step " << step;
        }
      }
    }
    rig.engine.Reset();
    ASSERT_TRUE(state.Advance(rig.out.written)) << "seed " << seed;
    EXPECT_TRUE(state.pointerDown.empty()) << "seed " << seed;
    EXPECT_TRUE(state.keyboardDown.empty()) << "seed " << seed;
    EXPECT_EQ(rig.engine.NextTimerUs(), 0u) << "seed " << seed;
    // The mouse lets go of its buttons: nothing more comes out.
    size_t before = rig.out.written.size();
    for (int b = 0; b < 9; ++b)
      if (down[b]) rig.Release(UInt16(BTN_LEFT + b));
    rig.RunTimers();
    bool pointerKeys = false;
    for (size_t i = before; i < rig.out.written.size(); ++i)
      pointerKeys = pointerKeys || rig.out.written[i].type == EV_KEY;
    EXPECT_FALSE(pointerKeys) << "seed " << seed;
  }
}

TEST(ActionEngineRandom, RandomStreamsThroughTheDefaultRecordComeOutAsTheyWentIn) {
  for (unsigned seed = 1; seed <= 50; ++seed) {
    std::mt19937 rng(seed);
    Rig rig;
    bool down[9] = {};
    std::vector<InputEvent> in;
    for (int frame = 0; frame < 300; ++frame) {
      rig.nowUs += 1000 + rng() % 20000;
      std::vector<InputEvent> events = RandomFrame(rng, down, false, false);
      if (events.empty()) continue;  // the kernel sends no empty frames
      for (const InputEvent& e : events) {
        rig.engine.HandleEvent(e.type, e.code, e.value, rig.nowUs);
        in.push_back(e);
      }
      rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
      in.push_back({EV_SYN, SYN_REPORT, 0});
    }
    std::vector<InputEvent> out = rig.out.PointerEvents();
    ASSERT_EQ(out.size(), in.size()) << "seed " << seed;
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(out[i].type, in[i].type) << "seed " << seed << " event " << i;
      ASSERT_EQ(out[i].code, in[i].code) << "seed " << seed << " event " << i;
      ASSERT_EQ(out[i].value, in[i].value) << "seed " << seed << " event " << i;
    }
  }
}

}  // namespace
}  // namespace enginetest
