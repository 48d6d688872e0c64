// Keys, modifiers and commands as a Linux user reads them, in the user's language: "Ctrl+Shift+F5",
// "Super+C", "Page Up". Keys are Mac virtual key codes (the record's keyCode); a key whose label
// the table below does not give is named by the character it types on the current layout.
#pragma once

#include <QString>

#include "platform/MacTypes.h"

// The label of a key on a PC keyboard: "Esc", "Backspace", "Delete", "Page Up", "F5", "Left",
// "Keypad 3", or the character the key types ("C" for the key that types c).
QString KeyLabel(UInt8 keyCode);

// The modifiers of a record's `modifiers` bits in the order of the table of modifiers, then the
// key, joined by "+": "Ctrl+Alt+Delete". Key code 255 is no key: the modifiers alone, or "(none)"
// when there are none either.
QString KeystrokeLabel(UInt8 keyCode, UInt16 modifiers);

// The check box title of one modifier bit ("Super" for the command bit), translated.
QString ModifierLabel(UInt16 bit);

// A name from the table of commands, modifiers and controls, in the user's language.
QString CommandTableText(const char* name);
