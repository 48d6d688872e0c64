#include "settings/PrefsRules.h"

#include <cstdio>

#include "platform/FileRefs.h"
#include "settings/CommandTable.h"

namespace {

enum : UInt8 { kMaxKeyCode = 127 };

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
  return text;
}

// The rule breaks of one action entry, with fields named from `prefix` ("actions[3]").
void FindActionBreaks(const CorvimusActionRec& a, bool global, const std::string& prefix,
                      std::vector<PrefsRuleBreak>* out) {
  if (!FindCommand(a.command)) {
    out->push_back({prefix + ".command", std::to_string(a.command) + " is not a command"});
    return;  // the other fields mean nothing without a command
  }
  if (a.command == kCmdAsGlobal && global)
    out->push_back({prefix + ".command",
                    "1 (as in the global record) has no meaning in the global record itself"});
  if (const UInt16 unknown = a.modifiers & ~AllModifierBits())
    out->push_back({prefix + ".modifiers", Hex4(a.modifiers) + " holds bits " + Hex4(unknown) +
                                               " that name no modifier key"});
  if (a.command == kCmdKeystroke && a.keyCode > kMaxKeyCode && a.keyCode != kCorvimusNoValue)
    out->push_back({prefix + ".keyCode",
                    std::to_string(a.keyCode) + " is no key code (0 to 127, or 255 for none)"});
  if (a.command >= kCmdScrollFirst && a.command < kCmdScrollFirst + 4 &&
      a.repeat > kCorvimusMaxScrollRepeat)
    out->push_back({prefix + ".repeat", std::to_string(a.repeat) + " is not a count of 0 to 30"});
  if (a.command == kCmdOpenItem) {
    if (a.data[0] > 31) {
      out->push_back({prefix + ".data", "an item name of " + std::to_string(a.data[0]) +
                                            " characters; an alias file name has at most 31"});
    } else {
      std::string name(reinterpret_cast<const char*>(a.data + 1), a.data[0]);
      if (name.find_first_of(std::string(":/\0", 3)) != std::string::npos ||
          corvimus::IsSidecarName(name) || name == "." || name == "..")
        out->push_back({prefix + ".data", "\"" + name +
                                              "\" cannot name an alias file: a colon, a slash, a "
                                              "leading \"._\" or a dot name are read otherwise"});
    }
  }
}

}  // namespace

std::vector<PrefsRuleBreak> FindRuleBreaks(const CorvimusPrefsRec& record, bool global) {
  std::vector<PrefsRuleBreak> out;
  const auto& d = record.device[0];
  if (record.active > 1)
    out.push_back({"active", std::to_string(record.active) + " is neither 0 (off) nor 1 (on)"});
  if (d.speed != kCorvimusNoValue && (d.speed < kCorvimusMinSpeed || d.speed > kCorvimusMaxSpeed))
    out.push_back({"speed", std::to_string(d.speed) +
                                " is neither 8 to 140 nor 255 (no custom speed)"});
  if (d.acceleration != kCorvimusNoValue && d.acceleration > kCorvimusMaxAcceleration)
    out.push_back({"acceleration", std::to_string(d.acceleration) +
                                       " is neither 0 to 200 nor 255 (no custom acceleration)"});
  if (d.options != 0)
    out.push_back({"options", std::to_string(d.options) + " is not 0: no option bit is defined"});
  for (int slot = 0; slot < kCorvimusActionCount; ++slot)
    FindActionBreaks(d.action[slot], global, "actions[" + std::to_string(slot) + "]", &out);
  return out;
}

bool NeedsMainClick(SInt32 settingsIndex, const CorvimusPrefsRec& prefs) {
  return settingsIndex == 0 || prefs.application == kMainClickGuardApp1 ||
         prefs.application == kMainClickGuardApp2;
}

bool HasMainClick(const CorvimusPrefsRec& prefs) {
  for (int slot = 0; slot < 3; ++slot)
    if (prefs.device[0].action[slot].command == kCmdMainClick) return true;
  return false;
}

std::string MainClickRuleText(SInt32 settingsIndex) {
  return std::string("the main click (command 33) must stay on C0, C1 or C2 in ") +
         (settingsIndex == 0 ? "the global record" : "the settings of 'sprf' and 'MACS'") +
         ", so that the mouse always has a button that clicks; the settings pane keeps it there "
         "as well";
}

void MakeRecordDefinedForDriver(CorvimusPrefsRec* record, const CorvimusPrefsRec& fallback,
                                bool global) {
  auto& d = record->device[0];
  if (record->active > 1) record->active = 1;
  if (d.speed != kCorvimusNoValue && (d.speed < kCorvimusMinSpeed || d.speed > kCorvimusMaxSpeed))
    d.speed = kCorvimusNoValue;
  if (d.acceleration > kCorvimusMaxAcceleration) d.acceleration = kCorvimusNoValue;
  d.options = 0;
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    std::vector<PrefsRuleBreak> breaks;
    FindActionBreaks(d.action[slot], global, std::string(), &breaks);
    if (!breaks.empty()) d.action[slot] = fallback.device[0].action[slot];
  }
}
