// The action engine, command family by command family: what a control under each action writes
// on the virtual pointer and keyboard, in which frames and in which order.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/ByteOrder.h"
#include "settings/CorvimusDriver.h"

namespace enginetest {
namespace {

using corvimus::DesktopKind;

constexpr int kC5 = 5;  // BTN_FORWARD: a control the defaults leave unchanged
constexpr UInt8 kVkZ = 0x06, kVkY = 0x10, kVkV = 0x09, kVkA = 0x00, kVkLeftArrow = 0x7B;

// ---- Transparency -------------------------------------------------------------------------------

// A recorded session of a high-resolution mouse: motion, clicks with their MSC_SCAN, a drag, eight
// high-resolution steps to each wheel notch (the low-resolution event comes with the eighth), both
// wheels both ways, buttons 6-8 and a button past the eighth.
std::vector<std::vector<InputEvent>> RecordedSession(bool withThumbButtons) {
  std::vector<std::vector<InputEvent>> frames;
  for (int i = 0; i < 20; ++i) frames.push_back({{EV_REL, REL_X, i % 5 - 2}, {EV_REL, REL_Y, 1}});
  auto click = [&](UInt16 button, SInt32 scan) {
    frames.push_back({{EV_MSC, MSC_SCAN, scan}, {EV_KEY, button, 1}});
    frames.push_back({{EV_REL, REL_X, 1}});
    frames.push_back({{EV_MSC, MSC_SCAN, scan}, {EV_KEY, button, 0}});
  };
  click(BTN_LEFT, 0x90001);
  click(BTN_RIGHT, 0x90002);
  click(BTN_MIDDLE, 0x90003);
  frames.push_back({{EV_KEY, BTN_LEFT, 1}});
  for (int i = 0; i < 10; ++i) frames.push_back({{EV_REL, REL_X, 4}, {EV_REL, REL_Y, -3}});
  frames.push_back({{EV_KEY, BTN_LEFT, 0}, {EV_REL, REL_X, 1}});
  for (UInt16 code : {REL_WHEEL, REL_HWHEEL}) {
    UInt16 hiRes = code == REL_WHEEL ? REL_WHEEL_HI_RES : REL_HWHEEL_HI_RES;
    for (SInt32 sign : {1, -1}) {
      for (int step = 1; step <= 16; ++step) {
        if (step % 8)
          frames.push_back({{EV_REL, hiRes, 15 * sign}});
        else
          frames.push_back({{EV_REL, hiRes, 15 * sign}, {EV_REL, code, sign}});
      }
    }
  }
  // Both wheels and motion in one frame.
  frames.push_back({{EV_REL, REL_X, 2},
                    {EV_REL, REL_WHEEL_HI_RES, 120},
                    {EV_REL, REL_WHEEL, 1},
                    {EV_REL, REL_HWHEEL_HI_RES, -120},
                    {EV_REL, REL_HWHEEL, -1}});
  for (UInt16 button :
       {UInt16(BTN_FORWARD), UInt16(BTN_BACK), UInt16(BTN_TASK), UInt16(BTN_TASK + 1)})
    click(button, 0x90006);
  if (withThumbButtons) {
    click(BTN_SIDE, 0x90004);
    click(BTN_EXTRA, 0x90005);
  }
  return frames;
}

std::vector<InputEvent> Feed(Rig& rig, const std::vector<std::vector<InputEvent>>& frames) {
  std::vector<InputEvent> all;
  for (const auto& frame : frames) {
    rig.nowUs += 4000;
    for (const InputEvent& e : frame) {
      rig.engine.HandleEvent(e.type, e.code, e.value, rig.nowUs);
      all.push_back(e);
    }
    rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
    all.push_back({EV_SYN, SYN_REPORT, 0});
  }
  return all;
}

bool SameEvents(const std::vector<InputEvent>& a, const std::vector<InputEvent>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].type != b[i].type || a[i].code != b[i].code || a[i].value != b[i].value) return false;
  return true;
}

size_t CountOf(const Recorder& out, char device) {
  size_t n = 0;
  for (const Written& w : out.written) n += w.device == device;
  return n;
}

TEST(ActionEngineTransparency, TheDefaultRecordGivesARecordedSessionBackEventForEvent) {
  for (int variant = 0; variant < 3; ++variant) {
    Rig rig;
    CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
    if (variant == 1) rig.engine.SetRecord(nullptr);
    if (variant == 2) rig.Use(defaults);
    std::vector<InputEvent> in = Feed(rig, RecordedSession(false));
    EXPECT_TRUE(SameEvents(rig.out.PointerEvents(), in)) << "variant " << variant;
    EXPECT_EQ(CountOf(rig.out, 'K'), 0u);
    EXPECT_EQ(CountOf(rig.out, 'A'), 0u);
    EXPECT_EQ(rig.engine.NextTimerUs(), 0u);
  }
}

// A record that changes every control, speed and acceleration, and is switched off.
CorvimusPrefsRec EverythingChanged() {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    r.device[0].action[slot].command = kCmdKeystroke;
    r.device[0].action[slot].keyCode = kVkZ;
    r.device[0].action[slot].modifiers = controlKey;
  }
  r.device[0].speed = 10;
  r.device[0].acceleration = 200;
  return r;
}

TEST(ActionEngineTransparency, ARecordSwitchedOffAndOwnApplicationModePassEverythingThrough) {
  {
    Rig rig;
    CorvimusPrefsRec off = EverythingChanged();
    off.active = 0;
    rig.Use(off);
    std::vector<InputEvent> in = Feed(rig, RecordedSession(true));
    EXPECT_TRUE(SameEvents(rig.out.PointerEvents(), in));
    EXPECT_EQ(CountOf(rig.out, 'K') + CountOf(rig.out, 'A') + CountOf(rig.out, 'R'), 0u);
  }
  {
    Rig rig;
    rig.Use(EverythingChanged());
    rig.engine.SetOwnAppMode(true);
    std::vector<InputEvent> in = Feed(rig, RecordedSession(true));
    EXPECT_TRUE(SameEvents(rig.out.PointerEvents(), in));
    EXPECT_EQ(CountOf(rig.out, 'K') + CountOf(rig.out, 'A'), 0u);
    size_t buttonsAndWheels = 0;
    for (const InputEvent& e : in)
      buttonsAndWheels += (e.type == EV_KEY && e.code <= BTN_TASK) ||
                          (e.type == EV_REL && e.code != REL_X && e.code != REL_Y);
    EXPECT_EQ(CountOf(rig.out, 'R'), buttonsAndWheels);
  }
}

TEST(ActionEngineTransparency, TheDefaultThumbButtonsGoBackAndForwardThroughTheAgent) {
  Rig rig;
  rig.Click(BTN_SIDE);
  EXPECT_EQ(rig.out.Take(), "A76");
  rig.Click(BTN_EXTRA);
  EXPECT_EQ(rig.out.Take(), "A75");
  // The pointer sees no frame at all for them (a lone MSC_SCAN would pass, as it does in any).
  EXPECT_EQ(CountOf(rig.out, 'P'), 0u);
}

// ---- Clicks -------------------------------------------------------------------------------------

struct ClickCase {
  UInt16 command;
  UInt16 modifiers;
  const char* press;
  const char* release;
};

TEST(ActionEngineClicks, EachClickPressesItsButtonWithTheModifiersHeldAround) {
  const ClickCase cases[] = {
      {33, 0, "P+left P.", "P-left P."},
      {34, 0, "P+right P.", "P-right P."},
      {32, 0, "P+middle P.", "P-middle P."},
      {35, 0, "P+side P.", "P-side P."},
      {36, 0, "P+extra P.", "P-extra P."},
      {37, 0, "P+forward P.", "P-forward P."},
      {38, 0, "P+back P.", "P-back P."},
      {39, 0, "P+task P.", "P-task P."},
      {40, 0, "P+button9 P.", "P-button9 P."},
      {33, controlKey, "K+Ctrl K. P+left P.", "P-left P. K-Ctrl K."},
      {33, optionKey, "K+Alt K. P+left P.", "P-left P. K-Alt K."},
      {33, cmdKey, "K+Super K. P+left P.", "P-left P. K-Super K."},
      {34, shiftKey, "K+Shift K. P+right P.", "P-right P. K-Shift K."},
      {33, kCorvimusSpaceKey, "K+Space K. P+left P.", "P-left P. K-Space K."},
      {33, alphaLock, "K+Caps Lock K. K-Caps Lock K. P+left P.",
       "P-left P. K+Caps Lock K. K-Caps Lock K."},
      {33, UInt16(controlKey | optionKey | cmdKey | shiftKey | kCorvimusSpaceKey),
       "K+Ctrl K+Alt K+Super K+Shift K+Space K. P+left P.",
       "P-left P. K-Space K-Shift K-Super K-Alt K-Ctrl K."},
  };
  for (const ClickCase& c : cases) {
    Rig rig;
    rig.Use(RecordWith(kC5, c.command, c.modifiers));
    rig.Press(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.press) << c.command << " " << c.modifiers;
    rig.Release(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.release) << c.command << " " << c.modifiers;
    EXPECT_TRUE(WellFormed(rig.out.written));
  }
}

TEST(ActionEngineClicks, MotionAndTheClickOfOneFrameStayInOneFrame) {
  Rig rig;
  rig.Use(RecordWith(0, 34, controlKey));
  rig.Frame({{EV_REL, REL_X, 3}, {EV_KEY, BTN_LEFT, 1}, {EV_REL, REL_Y, 2}});
  EXPECT_EQ(rig.out.Take(), "P:x=3 K+Ctrl K. P+right P:y=2 P.");
  rig.Frame({{EV_KEY, BTN_LEFT, 0}, {EV_REL, REL_Y, 1}});
  EXPECT_EQ(rig.out.Take(), "P-right P:y=1 P. K-Ctrl K.");
}

TEST(ActionEngineClicks, DoubleAndTripleClicksAreSpacedAndKeepTheLastPressHeld) {
  for (UInt16 command : {43, 44}) {
    Rig rig;
    rig.Use(RecordWith(kC5, command, shiftKey));
    UInt64 pressed = rig.nowUs + 1000;
    rig.Press(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "K+Shift K. P+left P.");
    EXPECT_EQ(rig.engine.NextTimerUs(), pressed + 30000);
    int clicks = command == 43 ? 2 : 3;
    for (int i = 1; i < clicks; ++i) {
      rig.engine.HandleTimer(pressed + 30000 * (2 * i - 1));
      EXPECT_EQ(rig.out.Take(), "P-left P.");
      EXPECT_EQ(rig.engine.NextTimerUs(), pressed + 30000 * 2 * i);
      rig.engine.HandleTimer(pressed + 30000 * 2 * i);
      EXPECT_EQ(rig.out.Take(), "P+left P.");
    }
    EXPECT_EQ(rig.engine.NextTimerUs(), 0u);
    rig.nowUs = pressed + 400000;
    rig.Release(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "P-left P. K-Shift K.");
  }
}

TEST(ActionEngineClicks, AReleaseBeforeTheDoubleClickIsOutWaitsBehindIt) {
  Rig rig;
  rig.Use(RecordWith(kC5, 43));
  rig.Press(BTN_FORWARD);
  rig.Release(BTN_FORWARD, 5000);
  EXPECT_EQ(rig.out.Take(), "P+left P.");
  rig.RunTimers();
  EXPECT_EQ(rig.out.Take(), "P-left P. P+left P. P-left P.");
}

TEST(ActionEngineClicks, ClickAndHoldLocksTheMainButtonUntilTheNextPress) {
  Rig rig;
  CorvimusPrefsRec r = RecordWith(kC5, 45, controlKey);
  r.device[0].action[6].command = 45;  // C6 locks too, without modifiers
  rig.Use(r);
  rig.Click(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "K+Ctrl K. P+left P.");
  rig.Frame({{EV_REL, REL_X, 5}});
  EXPECT_EQ(rig.out.Take(), "P:x=5 P.");
  // Another control with the command lets go of the lock with the modifiers it was taken with.
  rig.Click(BTN_BACK);
  EXPECT_EQ(rig.out.Take(), "P-left P. K-Ctrl K.");
  rig.Click(BTN_BACK);
  EXPECT_EQ(rig.out.Take(), "P+left P.");
  rig.Click(BTN_BACK);
  EXPECT_EQ(rig.out.Take(), "P-left P.");
}

TEST(ActionEngineClicks, TwoControlsOnOneButtonMakeOnePressAndOneRelease) {
  Rig rig;
  rig.Use(RecordWith(kC5, kCmdMainClick));
  rig.Press(BTN_LEFT);
  rig.Press(BTN_FORWARD);
  rig.Release(BTN_LEFT);
  EXPECT_EQ(rig.out.Take(), "P+left P.");
  rig.Release(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "P-left P.");
}

// ---- Scrolling ----------------------------------------------------------------------------------

struct ScrollCase {
  UInt16 command;
  UInt8 keyCode;
  UInt8 repeat;
  const char* press;
  const char* release;
};

TEST(ActionEngineScroll, EveryScrollCommandFromAButton) {
  const ScrollCase cases[] = {
      {8, 255, 0, "P:wheel=1 P:wheel120=120 P.", ""},
      {9, 255, 3, "P:wheel=-3 P:wheel120=-360 P.", ""},
      {10, 255, 2, "P:hwheel=-2 P:hwheel120=-240 P.", ""},
      {11, 255, 1, "P:hwheel=1 P:hwheel120=120 P.", ""},
      {8, 1, 0, "P:wheel=1 P:wheel120=120 P.", ""},
      {8, 100, 0, "P:hwheel=-1 P:hwheel120=-120 P.", ""},
      {9, 100, 30, "P:hwheel=30 P:hwheel120=3600 P.", ""},
      {10, 100, 0, "P:hwheel=-1 P:hwheel120=-120 P.", ""},
      {12, 255, 0, "K+Page Up K.", "K-Page Up K."},
      {13, 255, 0, "K+Page Down K.", "K-Page Down K."},
      {14, 255, 0, "P:hwheel=-10 P:hwheel120=-1200 P.", ""},
      {15, 255, 0, "P:hwheel=10 P:hwheel120=1200 P.", ""},
      {13, 100, 0, "P:hwheel=10 P:hwheel120=1200 P.", ""},
      {16, 255, 0, "K+Ctrl K+Home K.", "K-Home K-Ctrl K."},
      {17, 255, 0, "K+Ctrl K+End K.", "K-End K-Ctrl K."},
      {18, 255, 0, "K+Home K.", "K-Home K."},
      {19, 255, 0, "K+End K.", "K-End K."},
      {16, 100, 0, "K+Home K.", "K-Home K."},
  };
  for (const ScrollCase& c : cases) {
    Rig rig;
    rig.Use(RecordWith(kC5, c.command, 0, c.keyCode, c.repeat));
    rig.Press(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.press) << c.command << " key code " << int(c.keyCode);
    rig.Release(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.release) << c.command << " key code " << int(c.keyCode);
  }
}

TEST(ActionEngineScroll, AWheelScrollsByItsOwnHighResolutionStepsScaledAndTurned) {
  Rig rig;
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.device[0].action[kSlotRF] = {9, 0, 0, 0, 0, 255, 2, 0, {}};   // up turns into 2x down
  r.device[0].action[kSlotPB] = {8, 0, 0, 0, 0, 255, 0, 0, {}};   // tilt right scrolls up
  r.device[0].action[kSlotPF] = {11, 0, 0, 0, 0, 255, 0, 0, {}};  // tilt left scrolls right
  rig.Use(r);
  rig.Frame({{EV_REL, REL_WHEEL_HI_RES, 60}});
  EXPECT_EQ(rig.out.Take(), "P:wheel120=-120 P.");
  rig.Frame({{EV_REL, REL_WHEEL_HI_RES, 60}, {EV_REL, REL_WHEEL, 1}});
  EXPECT_EQ(rig.out.Take(), "P:wheel120=-120 P:wheel=-2 P.");
  // The wheel rolled down keeps its default and passes as it comes.
  rig.Frame({{EV_REL, REL_WHEEL_HI_RES, -30}});
  EXPECT_EQ(rig.out.Take(), "P:wheel120=-30 P.");
  rig.Frame({{EV_REL, REL_HWHEEL_HI_RES, 120}, {EV_REL, REL_HWHEEL, 1}});
  EXPECT_EQ(rig.out.Take(), "P:wheel120=120 P:wheel=1 P.");
  rig.Frame({{EV_REL, REL_HWHEEL_HI_RES, -40}});
  EXPECT_EQ(rig.out.Take(), "P:hwheel120=40 P.");
}

TEST(ActionEngineScroll, PagesFromTheWheelGoOncePerNotch) {
  Rig rig;
  rig.Use(RecordWith(kSlotRB, 13));
  // High-resolution steps between notches do nothing; the notch turns the page.
  rig.Frame({{EV_REL, REL_WHEEL_HI_RES, -60}});
  EXPECT_EQ(rig.out.Take(), "");
  rig.Frame({{EV_REL, REL_WHEEL_HI_RES, -60}, {EV_REL, REL_WHEEL, -1}});
  EXPECT_EQ(rig.out.Take(), "K+Page Down K. K-Page Down K.");
  rig.Frame({{EV_REL, REL_WHEEL, -2}});
  EXPECT_EQ(rig.out.Take(), "K+Page Down K. K-Page Down K. K+Page Down K. K-Page Down K.");
}

TEST(ActionEngineScroll, ClicksFromTheWheelAreSpacedOneNotchAfterAnother) {
  Rig rig;
  rig.Use(RecordWith(kSlotRF, kCmdMainClick));
  UInt64 start = rig.nowUs + 1000;
  rig.Frame({{EV_REL, REL_WHEEL, 2}, {EV_REL, REL_WHEEL_HI_RES, 240}});
  EXPECT_EQ(rig.out.Take(), "P+left P.");
  std::vector<UInt64> times;
  for (UInt64 next; (next = rig.engine.NextTimerUs());) {
    times.push_back(next - start);
    rig.engine.HandleTimer(next);
  }
  EXPECT_EQ(times, (std::vector<UInt64>{30000, 60000, 90000}));
  EXPECT_EQ(rig.out.Take(), "P-left P. P+left P. P-left P.");
  // A physical press of the same button right after waits out the spacing too.
  rig.Use(RecordWith(kC5, kCmdMainClick));
  rig.nowUs = start + 100000;
  rig.engine.HandleEvent(EV_KEY, BTN_FORWARD, 1, rig.nowUs);
  rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
  EXPECT_EQ(rig.out.Take(), "");
  EXPECT_EQ(rig.engine.NextTimerUs(), start + 120000);
  rig.RunTimers();
  EXPECT_EQ(rig.out.Take(), "P+left P.");
}

// ---- Keystrokes and special functions -----------------------------------------------------------

struct KeystrokeCase {
  UInt8 keyCode;
  UInt16 modifiers;
  const char* press;
  const char* release;
};

TEST(ActionEngineKeys, AKeystrokeIsHeldWithItsModifiersAsLinuxNamesThem) {
  const KeystrokeCase cases[] = {
      {kVkZ, 0, "K+Z K.", "K-Z K."},
      {kVkZ, controlKey, "K+Ctrl K+Z K.", "K-Z K-Ctrl K."},
      {kVkZ, optionKey, "K+Alt K+Z K.", "K-Z K-Alt K."},
      {kVkZ, cmdKey, "K+Super K+Z K.", "K-Z K-Super K."},
      {kVkZ, shiftKey, "K+Shift K+Z K.", "K-Z K-Shift K."},
      {kVkZ, kCorvimusSpaceKey, "K+Space K+Z K.", "K-Z K-Space K."},
      {kVkZ, alphaLock, "K+Caps Lock K. K-Caps Lock K. K+Z K.",
       "K-Z K. K+Caps Lock K. K-Caps Lock K."},
      {kVkLeftArrow, UInt16(controlKey | shiftKey), "K+Ctrl K+Shift K+Left K.",
       "K-Left K-Shift K-Ctrl K."},
      {0x79, 0, "K+Page Down K.", "K-Page Down K."},
      {255, shiftKey, "K+Shift K.", "K-Shift K."},
      {0x34, 0, "", ""},  // a key code with no key at its position
  };
  for (const KeystrokeCase& c : cases) {
    Rig rig;
    rig.Use(RecordWith(kC5, kCmdKeystroke, c.modifiers, c.keyCode));
    rig.Press(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.press) << int(c.keyCode) << " " << c.modifiers;
    rig.Release(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), c.release) << int(c.keyCode) << " " << c.modifiers;
  }
}

TEST(ActionEngineKeys, AWheelNotchTypesTheKeystrokeOnce) {
  Rig rig;
  rig.Use(RecordWith(kSlotPB, kCmdKeystroke, controlKey, kVkZ));
  rig.Frame({{EV_REL, REL_HWHEEL, 1}, {EV_REL, REL_HWHEEL_HI_RES, 120}});
  EXPECT_EQ(rig.out.Take(), "K+Ctrl K+Z K. K-Z K-Ctrl K.");
}

std::vector<std::string> SplitKeys(const std::string& combination) {
  std::vector<std::string> keys;
  size_t start = 0;
  while (start < combination.size()) {
    size_t plus = combination.find('+', start);
    if (plus == std::string::npos) plus = combination.size();
    keys.push_back(combination.substr(start, plus - start));
    start = plus + 1;
  }
  return keys;
}

TEST(ActionEngineKeys, SpecialFunctionsTypeTheDesktopsShortcutsAndHoldTheirModifiers) {
  // The documented table, a few of its cells checked by name.
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Gnome, 64), "Super");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Gnome, 67), "Super+A");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Kde, 64), "Ctrl+F10");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Kde, 66), "Ctrl+F7");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Sway, 67), "Super+D");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Sway, 65), "");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Generic, 70), "Alt+Tab");
  EXPECT_EQ(corvimus::SpecialFunctionShortcut(DesktopKind::Generic, 71), "");
  for (DesktopKind kind :
       {DesktopKind::Generic, DesktopKind::Gnome, DesktopKind::Kde, DesktopKind::Sway}) {
    for (UInt16 command = kCmdSpecialFirst; command <= kCmdSpecialLast; ++command) {
      std::vector<std::string> keys = SplitKeys(corvimus::SpecialFunctionShortcut(kind, command));
      std::string press, release;
      if (!keys.empty()) {
        for (const std::string& k : keys) press += "K+" + k + " ";
        press += "K. K-" + keys.back() + " K.";
        for (size_t i = keys.size() - 1; i-- > 0;) release += "K-" + keys[i] + " ";
        if (keys.size() > 1) release += "K.";
      }
      Rig rig;
      rig.engine.SetDesktop(kind);
      rig.Use(RecordWith(kC5, command));
      rig.Press(BTN_FORWARD);
      EXPECT_EQ(rig.out.Take(), press) << corvimus::DesktopKindName(kind) << " " << command;
      rig.Release(BTN_FORWARD);
      EXPECT_EQ(rig.out.Take(), release) << corvimus::DesktopKindName(kind) << " " << command;
    }
  }
}

TEST(ActionEngineKeys, AHeldSpecialFunctionLetsGoOfItsDesktopsKeysWhenTheDesktopChanges) {
  Rig rig;
  rig.engine.SetDesktop(DesktopKind::Kde);
  rig.Use(RecordWith(kC5, 70));
  rig.Press(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "K+Alt K+Tab K. K-Tab K.");
  rig.engine.SetDesktop(DesktopKind::Sway);
  EXPECT_EQ(rig.out.Take(), "K-Alt K.");
  rig.Release(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "");
}

TEST(ActionEngineKeys, DesktopNamesFromTheSessionAndTheEnvironment) {
  const std::pair<const char*, DesktopKind> cases[] = {
      {"GNOME", DesktopKind::Gnome},        {"ubuntu:GNOME", DesktopKind::Gnome},
      {"gnome", DesktopKind::Gnome},        {"GNOME-Classic:GNOME", DesktopKind::Gnome},
      {"ubuntu", DesktopKind::Gnome},       {"KDE", DesktopKind::Kde},
      {"plasma", DesktopKind::Kde},         {"plasmawayland", DesktopKind::Kde},
      {"sway", DesktopKind::Sway},          {"XFCE", DesktopKind::Generic},
      {"X-Cinnamon", DesktopKind::Generic}, {"", DesktopKind::Generic},
      {"::", DesktopKind::Generic},         {"Budgie:GNOME", DesktopKind::Gnome},
  };
  for (const auto& [name, kind] : cases)
    EXPECT_EQ(corvimus::DesktopKindFromName(name), kind) << name;
  EXPECT_EQ(corvimus::DesktopKindFromName(nullptr), DesktopKind::Generic);
}

// ---- The agent's commands -----------------------------------------------------------------------

TEST(ActionEngineAgent, TheAgentsCommandsGoToItWithTheSlotsWholeAction) {
  Rig rig;
  CorvimusPrefsRec r = RecordWith(kC5, kCmdOpenItem);
  r.device[0].action[kC5].data[0] = 4;
  std::memcpy(r.device[0].action[kC5].data + 1, "Mail", 4);
  r.device[0].action[6].command = kCmdOpenApplication;
  rig.Use(r);
  rig.Click(BTN_FORWARD);
  rig.Click(BTN_BACK);
  EXPECT_EQ(rig.out.Take(), "A27 A26");
  ASSERT_EQ(rig.out.written.size(), 2u);
  EXPECT_EQ(
      std::memcmp(&rig.out.written[0].action, &r.device[0].action[kC5], sizeof(CorvimusActionRec)),
      0);
}

struct AnswerCase {
  UInt16 command;
  UInt32 answer;
  const char* typed;
};

TEST(ActionEngineAgent, AnswersBecomeCtrlAtTheLayoutsKeyOrAltWithAnArrow) {
  const AnswerCase cases[] = {
      {kCmdUndo, PackKeystroke('z', kVkZ, cmdKey), "K+Ctrl K+Z K. K-Z K-Ctrl K."},
      // A QWERTZ layout types z with the key where US has Y.
      {kCmdUndo, PackKeystroke('z', kVkY, cmdKey), "K+Ctrl K+Y K. K-Y K-Ctrl K."},
      // A layout with no key for z: the US position.
      {kCmdUndo, PackKeystroke('z', 255, cmdKey), "K+Ctrl K+Z K. K-Z K-Ctrl K."},
      {kCmdCut, PackKeystroke('x', 0x07, cmdKey), "K+Ctrl K+X K. K-X K-Ctrl K."},
      {kCmdCopy, PackKeystroke('c', 0x08, cmdKey), "K+Ctrl K+C K. K-C K-Ctrl K."},
      // A layout that needs option (AltGr) and shift for the character.
      {kCmdPaste, PackKeystroke('v', kVkV, cmdKey | optionKey | shiftKey),
       "K+Ctrl K+AltGr K+Shift K+V K. K-V K-Shift K-AltGr K-Ctrl K."},
      {kCmdForward, PackKeystroke(']', 0x1E, cmdKey | optionKey),
       "K+Alt K+Right K. K-Right K-Alt K."},
      {kCmdForward, PackKeystroke(0x1D, 0x7C, cmdKey), "K+Alt K+Right K. K-Right K-Alt K."},
      {kCmdBack, PackKeystroke('[', 0x21, cmdKey), "K+Alt K+Left K. K-Left K-Alt K."},
      {kCmdBack, PackKeystroke(0x1C, kVkLeftArrow, cmdKey), "K+Alt K+Left K. K-Left K-Alt K."},
  };
  for (const AnswerCase& c : cases) {
    Rig rig;
    rig.Use(RecordWith(kC5, c.command));
    rig.Click(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "A" + std::to_string(c.command));
    rig.engine.PostKeystroke(c.answer);
    EXPECT_EQ(rig.out.Take(), c.typed) << c.command << " " << std::hex << c.answer;
  }
}

TEST(ActionEngineAgent, AnAnswerIsReadByTheOldestRequestItFits) {
  Rig rig;
  CorvimusPrefsRec r = RecordWith(kC5, kCmdUndo);
  r.device[0].action[6].command = kCmdBack;
  rig.Use(r);
  // The agent skipped the undo (off the console) and answers the back.
  rig.Click(BTN_FORWARD);
  rig.Click(BTN_BACK);
  rig.out.Take();
  rig.engine.PostKeystroke(PackKeystroke(kBackArrowChar, kVkLeftArrow, cmdKey));
  EXPECT_EQ(rig.out.Take(), "K+Alt K+Left K. K-Left K-Alt K.");
  // Nothing is waiting any more: an answer for z means what its modifiers say.
  rig.engine.PostKeystroke(PackKeystroke('z', kVkZ, cmdKey));
  EXPECT_EQ(rig.out.Take(), "K+Super K+Z K. K-Z K-Super K.");
  rig.engine.PostKeystroke(PackKeystroke('a', kVkA, UInt16(controlKey | optionKey | alphaLock)));
  EXPECT_EQ(rig.out.Take(),
            "K+Caps Lock K. K-Caps Lock K. K+Ctrl K+Alt K+A K. K-A K-Alt K-Ctrl K. K+Caps Lock "
            "K. K-Caps Lock K.");
  rig.engine.PostKeystroke(PackKeystroke('?', 255, cmdKey));
  EXPECT_EQ(rig.out.Take(), "");
}

TEST(ActionEngineAgent, ARequestTheAgentLeavesUnansweredIsForgottenAfterTwoSeconds) {
  Rig rig;
  rig.Use(RecordWith(kC5, kCmdBack));
  rig.Click(BTN_FORWARD);
  rig.out.Take();
  rig.Frame({{EV_REL, REL_X, 1}}, 2500000);
  rig.out.Take();
  rig.engine.PostKeystroke(PackKeystroke(kBackArrowChar, kVkLeftArrow, cmdKey));
  EXPECT_EQ(rig.out.Take(), "K+Super K+Left K. K-Left K-Super K.");
}

// ---- Pointer speed ------------------------------------------------------------------------------

CorvimusPrefsRec WithTracking(UInt8 speed, UInt8 acceleration) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  r.device[0].speed = speed;
  r.device[0].acceleration = acceleration;
  return r;
}

SInt32 MovedX(const Recorder& out) {
  SInt32 x = 0;
  for (const Written& w : out.written)
    if (w.device == 'P' && w.type == EV_REL && w.code == REL_X) x += w.value;
  return x;
}

TEST(ActionEngineSpeed, SlowMovementKeepsItsFractions) {
  Rig rig;
  rig.Use(WithTracking(80, 255));  // half speed
  for (int i = 0; i < 1000; ++i) rig.Frame({{EV_REL, REL_X, 1}}, 10000);
  EXPECT_NEAR(MovedX(rig.out), 500, 1);
  EXPECT_TRUE(WellFormed(rig.out.written));
  for (const Written& w : rig.out.written) EXPECT_NE(w.type == EV_REL && w.value == 0, true);
  // Back the same way: no drift builds up.
  for (int i = 0; i < 1000; ++i) rig.Frame({{EV_REL, REL_X, -1}}, 10000);
  EXPECT_NEAR(MovedX(rig.out), 0, 1);
}

TEST(ActionEngineSpeed, SpeedScalesAndAccelerationGrowsOnlyWithFastMovement) {
  struct Case {
    UInt8 speed, acceleration;
    SInt32 dx;
    UInt64 intervalUs;
    SInt32 expected;
  } cases[] = {
      {20, 255, 3, 8000, 6},      // twice as fast
      {140, 255, 70, 8000, 20},   // 40/140
      {255, 100, 4, 8000, 4},     // half a count a millisecond: no acceleration
      {255, 100, 20, 1000, 60},   // 20 counts a millisecond: three times
      {255, 0, 20, 1000, 20},     // acceleration 0
      {255, 200, 20, 1000, 100},  // up to five times
      {20, 100, 20, 1000, 120},   // both
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.Use(WithTracking(c.speed, c.acceleration));
    rig.Frame({{EV_REL, REL_X, c.dx}}, c.intervalUs);
    rig.out.Take();
    rig.out.written.clear();
    rig.Frame({{EV_REL, REL_X, c.dx}}, c.intervalUs);
    EXPECT_EQ(MovedX(rig.out), c.expected) << int(c.speed) << " " << int(c.acceleration);
  }
  // Switched off, the record's speed is not in force.
  Rig rig;
  CorvimusPrefsRec off = WithTracking(20, 200);
  off.active = 0;
  rig.Use(off);
  rig.Frame({{EV_REL, REL_X, 7}});
  EXPECT_EQ(rig.out.Take(), "P:x=7 P.");
}

TEST(ActionEngineSpeed, WhateverADeviceSendsComesOutBounded) {
  Rig rig;
  rig.Use(WithTracking(8, 200));
  rig.Frame(
      {{EV_REL, REL_X, 0x7FFFFFFF}, {EV_REL, REL_X, 0x7FFFFFFF}, {EV_REL, REL_Y, -0x7FFFFFFF}});
  EXPECT_EQ(rig.out.Take(), "P:x=1000000000 P:y=-1000000000 P.");
  rig.Frame({{EV_REL, REL_X, 1}}, 100000);
  EXPECT_EQ(rig.out.Take(), "P:x=5 P.");
}

TEST(ActionEngineSpeed, PrecisionPointerQuartersTheSpeedWhileHeld) {
  Rig rig;
  CorvimusPrefsRec r = WithTracking(20, 200);
  r.device[0].action[kC5].command = 20;
  rig.Use(r);
  rig.Press(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "");
  rig.Frame({{EV_REL, REL_X, 40}, {EV_REL, REL_Y, -8}}, 1000);
  EXPECT_EQ(rig.out.Take(), "P:x=20 P:y=-4 P.");  // 2 x 0.25, no acceleration
  for (int i = 0; i < 3; ++i) rig.Frame({{EV_REL, REL_X, 1}});
  EXPECT_EQ(rig.out.Take(), "P:x=1 P.");  // 3 x 0.5: one count, half a count kept
  rig.Release(BTN_FORWARD);
  rig.out.Take();
  rig.Frame({{EV_REL, REL_X, 1}}, 8000);
  EXPECT_EQ(rig.out.Take(), "P:x=2 P.");
  // With the record's speed untouched the quarter applies to the mouse's own.
  Rig plain;
  plain.Use(RecordWith(kC5, 20));
  plain.Press(BTN_FORWARD);
  plain.Frame({{EV_REL, REL_X, 8}});
  EXPECT_EQ(plain.out.Take(), "P:x=2 P.");
  plain.Release(BTN_FORWARD);
  plain.Frame({{EV_REL, REL_X, 8}});
  EXPECT_EQ(plain.out.Take(), "P:x=8 P.");
}

// ---- Letting go ---------------------------------------------------------------------------------

TEST(ActionEngineRelease, ANewActionForAHeldControlLetsGoOfTheOldOne) {
  Rig rig;
  rig.Use(RecordWith(kC5, kCmdMainClick, controlKey));
  rig.Press(BTN_FORWARD);
  rig.out.Take();
  // The same record pushed again (the front application changed, same settings): still held.
  rig.Use(RecordWith(kC5, kCmdMainClick, controlKey));
  EXPECT_EQ(rig.out.Take(), "");
  rig.Use(RecordWith(kC5, 34));
  EXPECT_EQ(rig.out.Take(), "P-left P. K-Ctrl K.");
  rig.Release(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "");
  rig.Click(BTN_FORWARD);
  EXPECT_EQ(rig.out.Take(), "P+right P. P-right P.");
}

TEST(ActionEngineRelease, ModeAndActiveChangesLetGoAndTheLockGoesToo) {
  {
    Rig rig;
    rig.Use(RecordWith(kC5, kCmdKeystroke, shiftKey, kVkZ));
    rig.Press(BTN_FORWARD);
    rig.out.Take();
    rig.engine.SetOwnAppMode(true);
    EXPECT_EQ(rig.out.Take(), "K-Z K-Shift K.");
    rig.Release(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "R");  // in own-application mode the release is only reported
  }
  {
    Rig rig;
    CorvimusPrefsRec r = RecordWith(kC5, 45, optionKey);
    rig.Use(r);
    rig.Click(BTN_FORWARD);
    rig.out.Take();
    r.active = 0;
    rig.Use(r);
    EXPECT_EQ(rig.out.Take(), "P-left P. K-Alt K.");
    rig.Click(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "P+forward P. P-forward P.");
  }
  {
    // A control passing through is let go when the record gives it an action.
    Rig rig;
    rig.Press(BTN_FORWARD);
    EXPECT_EQ(rig.out.Take(), "P+forward P.");
    rig.Use(RecordWith(kC5, kCmdBack));
    EXPECT_EQ(rig.out.Take(), "P-forward P.");
  }
}

TEST(ActionEngineRelease, ResetLetsGoOfEverythingAndForgetsWhatWaits) {
  Rig rig;
  CorvimusPrefsRec r = RecordWith(kC5, kCmdKeystroke, UInt16(shiftKey | controlKey), kVkZ);
  r.device[0].action[6].command = 45;
  r.device[0].action[7].command = 44;
  r.device[0].action[kSlotRF].command = kCmdMainClick;
  rig.Use(r);
  rig.Press(BTN_LEFT);
  rig.Press(BTN_FORWARD);
  rig.Click(BTN_BACK);
  rig.Press(BTN_TASK);
  rig.Frame({{EV_REL, REL_WHEEL, 3}});
  EXPECT_NE(rig.engine.NextTimerUs(), 0u);
  rig.engine.Reset();
  EXPECT_EQ(rig.engine.NextTimerUs(), 0u);
  StreamCheck state;
  ASSERT_TRUE(state.Advance(rig.out.written));
  EXPECT_TRUE(state.pointerDown.empty());
  EXPECT_TRUE(state.keyboardDown.empty());
  // The controls' releases after the reset release nothing.
  size_t before = rig.out.written.size();
  rig.Release(BTN_LEFT);
  rig.Release(BTN_FORWARD);
  rig.Release(BTN_TASK);
  rig.RunTimers();
  EXPECT_EQ(rig.out.written.size(), before);
}

// ---- Reports and lost frames --------------------------------------------------------------------

TEST(ActionEngineReports, OwnApplicationModeReportsEachButtonAndWheelEvent) {
  Rig rig;
  rig.engine.SetOwnAppMode(true);
  rig.Press(BTN_RIGHT);
  rig.Frame({{EV_REL, REL_HWHEEL_HI_RES, -120}, {EV_REL, REL_HWHEEL, -1}, {EV_REL, REL_X, 2}});
  EXPECT_EQ(rig.out.Take(), "R P+right P. R P:hwheel120=-120 R P:hwheel=-1 P:x=2 P.");
  std::vector<std::array<UInt8, 32>> reports;
  for (const Written& w : rig.out.written)
    if (w.device == 'R') reports.push_back(w.report);
  ASSERT_EQ(reports.size(), 3u);
  const UInt8* b = reports[0].data();
  EXPECT_EQ(b[0], kCorvimusReportVersion);
  EXPECT_EQ(b[1], kCorvimusReportButton);
  EXPECT_EQ(b[2], 1);  // C1
  EXPECT_EQ(b[3], 0);
  EXPECT_EQ(corvimus::LoadU16LE(b + 4), EV_KEY);
  EXPECT_EQ(corvimus::LoadU16LE(b + 6), BTN_RIGHT);
  EXPECT_EQ(SInt32(corvimus::LoadU32LE(b + 8)), 1);
  EXPECT_EQ(corvimus::LoadU16LE(b + 12), 0x0002);
  EXPECT_EQ(corvimus::LoadU64LE(b + 16), 1001000u);
  EXPECT_EQ(corvimus::LoadU32LE(b + 24), 0u);
  const UInt8* hi = reports[1].data();
  EXPECT_EQ(hi[1], kCorvimusReportTilt);
  EXPECT_EQ(hi[2], kSlotPF);
  EXPECT_EQ(hi[3], kCorvimusReportHiRes);
  EXPECT_EQ(corvimus::LoadU16LE(hi + 6), REL_HWHEEL_HI_RES);
  EXPECT_EQ(SInt32(corvimus::LoadU32LE(hi + 8)), -120);
  EXPECT_EQ(corvimus::LoadU32LE(hi + 24), 1u);
  EXPECT_EQ(reports[2][3], 0);
  EXPECT_EQ(corvimus::LoadU32LE(reports[2].data() + 24), 2u);
  for (const auto& r : reports)
    for (int i : {14, 15, 28, 29, 30, 31}) EXPECT_EQ(r[size_t(i)], 0) << i;
}

TEST(ActionEngineFrames, TheRestOfAFrameWithLostEventsIsDropped) {
  Rig rig;
  rig.nowUs += 1000;
  rig.engine.HandleEvent(EV_KEY, BTN_LEFT, 1, rig.nowUs);
  rig.engine.HandleEvent(EV_SYN, SYN_DROPPED, 0, rig.nowUs);
  rig.engine.HandleEvent(EV_KEY, BTN_RIGHT, 1, rig.nowUs);
  rig.engine.HandleEvent(EV_REL, REL_X, 9, rig.nowUs);
  rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
  EXPECT_EQ(rig.out.Take(), "P+left P.");
  rig.Frame({{EV_REL, REL_X, 1}});
  EXPECT_EQ(rig.out.Take(), "P:x=1 P.");
}

TEST(ActionEngineFrames, CallsBetweenTheEventsOfAFrameEndItsOutputFrameFirst) {
  Rig rig;
  rig.Use(RecordWith(kC5, kCmdMainClick, controlKey));
  rig.engine.HandleEvent(EV_REL, REL_X, 2, rig.nowUs);
  rig.engine.HandleEvent(EV_KEY, BTN_FORWARD, 1, rig.nowUs);
  rig.Use(RecordWith(kC5, 34));
  rig.engine.HandleEvent(EV_REL, REL_Y, 2, rig.nowUs);
  rig.engine.HandleEvent(EV_SYN, SYN_REPORT, 0, rig.nowUs);
  EXPECT_EQ(rig.out.Take(), "P:x=2 K+Ctrl K. P+left P. P-left P. K-Ctrl K. P:y=2 P.");
  EXPECT_TRUE(WellFormed(rig.out.written));
}

}  // namespace
}  // namespace enginetest
