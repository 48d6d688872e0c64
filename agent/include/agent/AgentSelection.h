// Choosing the settings record for the front application.
//
// A record belongs to an application by its signature; an application without a usable signature
// ('????', four spaces or 0) is matched by its file name instead. Actions whose command is "as in
// the global record" are filled from the global record before the record reaches the driver.
#pragma once

#include "platform/MacTypes.h"
#include "recordbase/QBase.h"
#include "settings/CorvimusPrefs.h"
#include "settings/PrefsRules.h"

// True for a signature that names an application; '????', '    ' and 0 do not.
Boolean IsApplicationSignature(OSType signature);

// Compares a record's appFileName with a process name. A name longer than 4 characters that ends in
// ".app" (lower case only) loses those 4 characters; the rest is compared with only 'A'-'Z' folded,
// and the names match only when they are then equally long. A stored length above the field's 63
// characters is taken as 63 so that a damaged record cannot read past its name.
Boolean AppFileNameMatches(ConstStringPtr recordFileName, ConstStringPtr processName);

// Replaces every action of `prefs` whose command is 1 by the global record's action of the same
// slot (all 56 bytes).
void FillActionsFromGlobal(CorvimusPrefsRec* prefs, const CorvimusPrefsRec* global);

// What ChooseSettingsRecord found.
enum SettingsChoice : SInt16 {
  kNoSettingsRecord = 0,   // neither the application's record nor a global record
  kApplicationRecord = 1,  // the application's own record, deferred actions filled in
  kGlobalRecord = 2,       // the global record (record 0)
};

// Picks the record for a front application from `base`: by signature when it is one (the first
// record in storage order with that `application`; names are then not compared), else by file
// name (the first record in index order whose appFileName matches `processName`); otherwise the
// global record. A record whose stored size is not that of CorvimusPrefsRec is not a settings
// record and is passed over. `out` is written only when something was found.
SettingsChoice ChooseSettingsRecord(QBaseHandle base, OSType signature, ConstStringPtr processName,
                                    CorvimusPrefsRec* out);

// Readies a chosen record for the drivers, so that none is handed a value the system does not
// define (MakeRecordDefinedForDriver). An action of the global record that breaks a rule gives way
// to the built-in default of its slot; one of an application's record to the global record's
// action of its slot (itself readied first), as an action "as in the global record" would: the
// control does what it does everywhere else. Without a global record, the defaults stand in.
void PrepareRecordForDrivers(QBaseHandle base, SettingsChoice choice, CorvimusPrefsRec* record);

// The front-process change procedure: records the signature, switches the drivers' own-application
// mode on or off, chooses the record, readies it, puts it in gCurrentPrefs and pushes it to every
// connection. Nothing is pushed when the base has neither the application's record nor a global
// record. A null `name` (no front application known) chooses the global record.
void SelectSettingsForProcess(OSType signature, ConstStringPtr name, UInt32 refcon);
