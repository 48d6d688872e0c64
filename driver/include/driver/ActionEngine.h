// The action engine: what one mouse's buttons, wheel and motion do under the settings record in
// force. It reads the mouse's Linux input events and writes events for a virtual pointer and a
// virtual keyboard, requests to the agent ('CVda') and reports ('CVrr'), and asks for timers. It
// does no I/O: corvimusd feeds it from evdev and writes its output through uinput, the simulated
// driver feeds it from control lines, and tests feed it streams. What each command means is the
// table in settings/CommandTable.h; this header adds what only the engine decides.
//
// Promises:
//   - Output comes in whole frames: every pointer and keyboard frame ends with SYN_REPORT, and no
//     frame is empty.
//   - Every key and button the engine presses it releases, once: it keeps a count per code, so
//     two controls that press the same button make one press and one release. A control released
//     after its action was taken back (below) releases nothing.
//   - Transparent by default: under the default record (or no record), the pointer gets the input
//     back event for event, high-resolution wheel events and MSC_SCAN included, except for C3 and
//     C4, whose defaults are back and forward; under a record whose `active` is 0, and in
//     own-application mode, it gets every event back.
//   - Taking back: whatever a control holds is let go when the action the control was pressed
//     under is no longer the one in force (a new record, `active` switched, own-application mode
//     on or off); a record pushed again with the same action for a held control leaves it held,
//     so dragging from one application to another that shares the setting is not cut short. The
//     click lock likewise. Reset() lets go of everything at once (the mouse went away, the driver
//     stops).
//
// Frames. The input is one physical mouse's events including their SYN_REPORT; events of one
// input frame that pass through or are mapped in place (a remapped click, a scaled wheel) go out
// in the pointer frame that mirrors it. Keys that must be down before such a button (a click's
// modifiers) go out as a keyboard frame first; keys that must come up after it go out right after
// the pointer frame's SYN_REPORT. After SYN_DROPPED the rest of that input frame is dropped; the
// caller (libevdev) is expected to resynchronise with events the engine then reads as usual.
// Calls other than HandleEvent end an unfinished pointer frame before they write anything.
//
// Timing. Clicks the engine makes up itself (a double or triple click, a click from a wheel notch)
// space each press and release 30 ms apart, since libinput drops a release and press closer than
// its 25 ms debounce time; a press of a button within 30 ms of such a release waits for it. Such
// steps wait in a queue of timed steps: NextTimerUs() says when the next one is due, and
// HandleTimer() (or the next input event) carries it out. Up to 96 steps wait; beyond that a
// wheel spun faster than its clicks can go out loses clicks rather than queueing without end.
// Times are the caller's monotonic microseconds.
//
// Speed and acceleration. Untouched values (255) leave motion exactly as it came, so the
// desktop's own pointer settings, which apply to the virtual pointer, are the only ones at work.
// Otherwise each motion frame (REL_X, REL_Y) is multiplied by
//     gain = 40 / speed × (1 + a × clamp((v − 1) / 8, 0, 2)),   a = acceleration / 100
// where v is the frame's length in counts per millisecond since the previous motion frame (the
// interval taken as 1 to 16 ms). Speed 40 is the mouse's own speed, 8 five times faster, 140 at
// 0.29; acceleration 100 doubles the gain at 9 counts/ms and triples it from 17 on, 200 gives up
// to five times. Speed 255 counts as 40, acceleration 255 as 0. While a Precision pointer control
// is held, gain = 40 / speed × 0.25, without acceleration. The fractions left over are kept per
// axis and carried into the next frame, so slow movement is never lost and no drift builds up
// (1000 counts at gain 0.5 come out as 500).
//
// Special functions per desktop (commands 64-70), the desktops' default shortcuts:
//                        GNOME           KDE Plasma        sway       other desktops
//   64 All windows       Super           Ctrl+F10          -          -
//   65 Show desktop      Super+D (1)     Meta+D            -          Super+D
//   66 Application wins  Alt+` (2)       Ctrl+F7           -          -
//   67 Launcher          Super+A         Alt+F1            Super+D    Alt+F1
//   68 Notifications     Super+V         -                 -          -
//   69 Next workspace    Ctrl+Alt+Right  Meta+Ctrl+Right   -          Ctrl+Alt+Right
//   70 Switch app        Alt+Tab         Alt+Tab           -          Alt+Tab
// (Meta is Super.) (1) Ubuntu's default; upstream GNOME leaves "Hide all normal windows" unbound.
// (2) The key above Tab: GNOME has no view of one application's windows and moves to its next one.
// sway's default configuration binds only the launcher of these. "-": the control does nothing.
// The other desktops (Xfce, Cinnamon, MATE, ...) get what most of them share.
//
// Keystroke answers ('CVtk'). The agent answers the requests for 71-74 with the command modifier
// and the key that types z, x, c or v, and those for 75/76 with command and an arrow or bracket
// character. The engine remembers which requests it sent (up to 8, each for 2 s) and reads an
// answer by the oldest unanswered request its character fits: 71-74 type Ctrl with the key at the
// answer's position (the US position when the layout has none), the layout's own modifiers
// (shift, option) as Shift and AltGr; 75/76 type Alt+Right / Alt+Left. An answer that fits no
// request is typed with the general meaning of its modifiers: control Ctrl, option Alt, command
// Super.
//
// Own-application mode ('CVsd' 1): nothing is remapped, and each button or wheel event (high
// resolution too) also goes out as a 'CVrr' report, laid out in settings/CorvimusDriver.h.
//
// Not thread-safe; one engine per physical mouse.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "platform/MacTypes.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus {

// Whose shortcuts commands 64-70 type.
enum class DesktopKind { Generic, Gnome, Kde, Sway };

// The desktop of a name as XDG_CURRENT_DESKTOP gives it (a colon-separated list: "ubuntu:GNOME",
// "KDE", "sway") or as logind's session desktop ("gnome", "plasma", "ubuntu"); Generic for any
// other name and for null.
DesktopKind DesktopKindFromName(const char* name);
const char* DesktopKindName(DesktopKind kind);  // "GNOME", "KDE Plasma", "sway", "other desktop"

// What the engine writes. corvimusd writes the events through uinput; tests record them.
class EngineOutput {
 public:
  virtual ~EngineOutput() = default;
  virtual void PointerEvent(UInt16 type, UInt16 code, SInt32 value) = 0;   // virtual pointer
  virtual void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) = 0;  // virtual keyboard
  virtual void AgentRequest(const CorvimusActionRec& action) = 0;          // 'CVda'
  virtual void Report(const UInt8 (&bytes)[32]) = 0;                       // 'CVrr'
};

// A key combination in words, "Ctrl+Alt+Right", from evdev key codes (modifiers first).
std::string EvdevKeyName(UInt16 code);
// The shortcut special function `command` (64-70) types on `kind`, in words; "" when none.
std::string SpecialFunctionShortcut(DesktopKind kind, UInt16 command);

class ActionEngine {
 public:
  explicit ActionEngine(EngineOutput* out);
  ActionEngine(const ActionEngine&) = delete;
  ActionEngine& operator=(const ActionEngine&) = delete;

  void SetDesktop(DesktopKind kind);
  // The record in force, copied; null puts the default record in force.
  void SetRecord(const CorvimusPrefsRec* record);
  void SetOwnAppMode(bool on);
  // The agent's answer to a request ('CVtk').
  void PostKeystroke(UInt32 packed);
  // One input event of the mouse, SYN_REPORT included. Inline, so that what most events take,
  // motion that keeps its speed and the end of a frame that leaves nothing to do, costs a few
  // instructions; the rest goes to the full path.
  void HandleEvent(UInt16 type, UInt16 code, SInt32 value, UInt64 nowUs) {
    nowUs_ = nowUs;
    if (!dropping_ && queue_.empty()) {
      if ((type == kEvRel && (code == kRelX || code == kRelY) && motionUntouched_) ||
          type == kEvMsc) {
        inFrame_ = pointerDirty_ = true;
        out_->PointerEvent(type, code, value);
        return;
      }
      if (type == kEvSyn && code == kSynReport && !frameMotion_ && after_.empty()) {
        bool dirty = pointerDirty_;
        inFrame_ = pointerDirty_ = pointerButtonsInFrame_ = false;
        if (dirty) out_->PointerEvent(kEvSyn, kSynReport, 0);
        return;
      }
    }
    HandleOtherEvent(type, code, value);
  }
  // When the next timed step is due; 0 when none waits.
  UInt64 NextTimerUs() const;
  void HandleTimer(UInt64 nowUs);
  // Lets go of everything held and forgets every waiting step and request.
  void Reset();

 private:
  // The Linux event codes the inline path reads (<linux/input-event-codes.h>, not included here).
  enum : UInt16 { kEvSyn = 0, kEvRel = 2, kEvMsc = 4, kSynReport = 0, kRelX = 0, kRelY = 1 };
  enum Device : UInt8 { kPointer, kKeyboard };
  enum OpKind : UInt8 { kPress, kRelease, kRaw };
  struct Op {
    OpKind kind;
    UInt16 type;
    UInt16 code;
    SInt32 value;
  };
  // One output frame's worth of work on one device. Left uninitialised until NewStep fills it:
  // a sequence is built for every press, and most of its steps stay unused.
  struct Step {
    UInt64 gapUs;  // after the step before it in its sequence
    Device device;
    bool spaced;  // a release the engine made up: the next press waits 30 ms for it
    UInt8 count;
    Op ops[8];
  };
  struct Seq {
    UInt8 count = 0;
    Step steps[16];
  };
  struct Timed {
    UInt64 dueUs;
    Step step;
  };
  // The parts of an action the engine reads.
  struct Action {
    UInt16 command = 0;
    UInt16 modifiers = 0;
    UInt8 keyCode = 0;
    UInt8 repeat = 0;
    bool operator==(const Action&) const = default;
  };
  struct Held {
    bool down = false;  // the control is down and its action was carried out
    Action action;
    UInt16 inputCode = 0;
  };
  struct Pending {
    UInt16 command;
    UInt64 sentUs;
  };

  bool RecordInForce() const;
  Action Effective(int slot) const { return effective_[size_t(slot)]; }
  // Works out again what each control does and whether motion passes untouched.
  void Recompute();
  void TakeBackChanged();

  // Input
  void HandleOtherEvent(UInt16 type, UInt16 code, SInt32 value);
  void HandleEventInFull(UInt16 type, UInt16 code, SInt32 value);
  void Button(UInt16 code, SInt32 value);
  void Wheel(bool vertical, bool hiRes, UInt16 code, SInt32 value);
  void Motion(UInt16 code, SInt32 value);
  void FlushMotion();
  void EndInputFrame();
  void SendReport(int slot, UInt16 type, UInt16 code, SInt32 value, bool hiRes);
  void RememberRequest(UInt16 command);
  void ForgetOldRequests();

  // Actions as steps
  void BuildPress(int slot, const Action& a, UInt16 inputCode, Seq* seq);
  void BuildRelease(int slot, const Action& a, UInt16 inputCode, Seq* seq);
  void TypeAnswer(UInt32 packed);
  static Step* NewStep(Seq* seq, Device device, UInt64 gapUs = 0, bool spaced = false);
  static void AddOp(Step* step, OpKind kind, UInt16 type, UInt16 code, SInt32 value);
  static void AddCapsTap(Seq* seq);
  static void AddModifierKeys(Step* step, UInt16 modifiers, bool down);
  static void AddClick(Seq* seq, UInt16 modifiers, UInt16 button, bool down);
  static void AddTap(Seq* seq, const UInt16* keys, int count, bool capsLock);

  // Output
  void Run(const Seq& seq);
  UInt64 SpacingFor(const Step& step) const;
  void NoteSpacing(const Step& step, UInt64 atUs);
  void ExecuteOps(const Step& step);
  void ExecuteFrame(const Step& step);
  void Apply(Device device, const Op& op);
  void Emit(Device device, UInt16 type, UInt16 code, SInt32 value);
  void FlushPointer();
  void Flush();
  void RunDue(UInt64 nowUs);
  void ReleaseEverything();

  EngineOutput* out_;
  DesktopKind desktop_ = DesktopKind::Generic;
  CorvimusPrefsRec record_;
  bool ownAppMode_ = false;
  UInt64 nowUs_ = 0;

  std::array<Action, kCorvimusActionCount> effective_{};  // what each control does now
  // The button a control clicks when its action is that and nothing more (0 otherwise).
  std::array<UInt16, kCorvimusActionCount> directButton_{};
  bool motionUntouched_ = true;

  // The frame being read
  bool inFrame_ = false;
  bool dropping_ = false;  // after SYN_DROPPED, until the next SYN_REPORT
  bool frameMotion_ = false;
  SInt64 frameDx_ = 0, frameDy_ = 0;  // wide: a device may send any value

  // The frames being written
  bool pointerDirty_ = false;
  bool pointerButtonsInFrame_ = false;
  bool keyboardDirty_ = false;
  std::vector<Step> after_;  // steps that follow the pointer frame's SYN_REPORT, in order
  std::deque<Timed> queue_;  // timed steps, in order of their due times

  std::array<Held, kCorvimusActionCount> held_{};
  UInt16 heldMask_ = 0;  // C0-C7 physically down, for reports
  bool lockDown_ = false;
  int lockSlot_ = -1;
  Action lockAction_;
  int precision_ = 0;  // Precision pointer controls held
  double remainderX_ = 0, remainderY_ = 0;
  UInt64 lastMotionUs_ = 0;
  std::vector<Pending> pending_;  // requests for 71-76 the agent has not answered
  UInt32 reportSequence_ = 0;

  // What is down on each device, counted per code; when each button may next be pressed.
  std::array<UInt8, 0x300> pointerDown_{};
  std::array<UInt8, 0x300> keyboardDown_{};
  std::array<UInt64, 16> spacedUntilUs_{};
};

}  // namespace corvimus
