// Settings records as JSON, in the shape corvimus-prefs show --json prints and import reads:
//
//   {"byteOrder": "little"|"big",
//    "records": [{"application": "<4 chars, or \"\" for 0>", "applicationCode": <u32>,
//                 "active": <u8>, "appName": "<text>", "appFileName": "<text>",
//                 "options": <u16>, "speed": <u8>, "acceleration": <u8>,
//                 "actions": [{"slot": "left", "command": "main-click", "modifiers": "ctrl+alt",
//                              "delay": <u16>, "keyCode": <u8>, "repeat": <u8>,
//                              "data": "<80 hex digits>"},
//                             ... 16 entries]}]}
//
// Values are written in the words of corvimus-prefs where there is one: "slot" the control's word
// (a number for the slots no control offers), "command" the command's word, "modifiers" the
// modifier words joined by '+' ("" for none), and the "keyCode" of a keystroke the key's word
// ("c", "page-up", "none"). Where no word holds the value (a command no table row names, a
// modifier bit no modifier has, the key code of a scroll entry) it is a number. Reading takes
// either form for each of these, so documents of earlier versions, all numbers, still read.
// Numbers are decimal. Text is the field's bytes: UTF-8 as it stands, and each byte that is not
// part of valid UTF-8 as the escape \udcXX (XX the byte), so that any field comes back byte for
// byte. The four characters of "application" are the code's bytes, high byte first, each a
// character U+0000..U+00FF. The bytes the shape does not carry (filler and reserved fields, the
// unused bytes behind a name's length) are written as zeros when records are made from JSON.
#pragma once

#include <string>
#include <vector>

#include "settings/CorvimusPrefs.h"

// One record object (no surrounding document), on one line.
std::string PrefsRecordToJson(const CorvimusPrefsRec& record);
// The whole document; one record per line.
std::string PrefsDocumentToJson(bool bigEndian, const std::vector<CorvimusPrefsRec>& records);

// Reads a document. Every field is checked (presence, no unknown or repeated keys, ranges, string
// lengths, 16 actions with slots 0-15 in order, 80 hex digits of data, record 0 global and no other
// record global). On failure returns false and says what and where in `error`, e.g.
// "records[1].actions[3].keyCode: 300 is not between 0 and 255".
bool PrefsDocumentFromJson(const std::string& text, std::vector<CorvimusPrefsRec>* records,
                           bool* bigEndian, std::string* error);
// Reads one record object (as PrefsRecordToJson writes it), with the same checks.
bool PrefsRecordFromJson(const std::string& text, CorvimusPrefsRec* record, std::string* error);
