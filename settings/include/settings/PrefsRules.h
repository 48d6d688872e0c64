// What a settings record may hold beyond its layout: the values the settings pane can produce and
// the agent and the driver give a meaning to. corvimus-prefs check names the fields that break
// these rules, import refuses them, set keeps to them, and the agent never hands a driver a value
// that breaks them.
//
//   field                 allowed
//   active                0 (switched off) or 1
//   speed                 8 to 140, or 255 (no custom speed)
//   acceleration          0 to 200, or 255 (no custom acceleration)
//   options               0: no option bit is defined
//   actions[n].command    a command of the command table; 1 (as in the global record) not in the
//                         global record
//   actions[n].modifiers  the modifier bits of the command table only
//   actions[n].keyCode    for a keystroke (24): a virtual key code 0 to 127, or 255 for none
//   actions[n].repeat     for scrolling by a count (8-11): 0 to 30
//   actions[n].data       for opening an item (27): a name of at most 31 characters that the File
//                         Manager reads as one name (no colon, not starting with "._")
// The main click: the global record and the records of 'sprf' and 'MACS' keep command 33 on one of
// the first three buttons (C0-C2), so that the mouse always has a button that clicks.
#pragma once

#include <string>
#include <vector>

#include "settings/CorvimusPrefs.h"

// One field that breaks a rule: where (as the JSON form of a record names it: "speed",
// "actions[3].command") and what is wrong with its value, in words.
struct PrefsRuleBreak {
  std::string field;
  std::string problem;
};

// The fields of `record` that break the rules above; `global` for the global record.
std::vector<PrefsRuleBreak> FindRuleBreaks(const CorvimusPrefsRec& record, bool global);

// Whether the main-click rule applies to the record at `settingsIndex` (0 is the global record).
bool NeedsMainClick(SInt32 settingsIndex, const CorvimusPrefsRec& prefs);
// Whether one of the first three buttons holds the main click.
bool HasMainClick(const CorvimusPrefsRec& prefs);
// Why a record the rule applies to must keep the main click, for a message.
std::string MainClickRuleText(SInt32 settingsIndex);

// Readies a record for a driver: a speed or acceleration out of range becomes 255 (no custom
// value), options 0, active 1 when it is not 0, and every action that breaks a rule is replaced
// whole by the same slot of `fallback`: what the control would do had this record not changed
// it. `global` says whether the record is the global one.
void MakeRecordDefinedForDriver(CorvimusPrefsRec* record, const CorvimusPrefsRec& fallback,
                                bool global);
