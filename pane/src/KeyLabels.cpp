#include "KeyLabels.h"

#include <QCoreApplication>
#include <QStringList>

#include "settings/CommandTable.h"
#include "settings/KeyNames.h"

namespace {

struct KeyLabelEntry {
  UInt8 keyCode;
  const char* label;
};

// What the keys without a character of their own are called on PC keyboards, where the Mac key
// sits: Mac help is Insert, keypad clear is Num Lock, forward delete is Delete.
const KeyLabelEntry kKeyLabels[] = {
    {0x35, QT_TRANSLATE_NOOP("KeyLabels", "Esc")},
    {0x30, QT_TRANSLATE_NOOP("KeyLabels", "Tab")},
    {0x24, QT_TRANSLATE_NOOP("KeyLabels", "Return")},
    {0x33, QT_TRANSLATE_NOOP("KeyLabels", "Backspace")},
    {0x47, QT_TRANSLATE_NOOP("KeyLabels", "Num Lock")},
    {0x4C, QT_TRANSLATE_NOOP("KeyLabels", "Keypad Enter")},
    {0x72, QT_TRANSLATE_NOOP("KeyLabels", "Insert")},
    {0x75, QT_TRANSLATE_NOOP("KeyLabels", "Delete")},
    {0x73, QT_TRANSLATE_NOOP("KeyLabels", "Home")},
    {0x77, QT_TRANSLATE_NOOP("KeyLabels", "End")},
    {0x74, QT_TRANSLATE_NOOP("KeyLabels", "Page Up")},
    {0x79, QT_TRANSLATE_NOOP("KeyLabels", "Page Down")},
    {0x7B, QT_TRANSLATE_NOOP("KeyLabels", "Left")},
    {0x7C, QT_TRANSLATE_NOOP("KeyLabels", "Right")},
    {0x7D, QT_TRANSLATE_NOOP("KeyLabels", "Down")},
    {0x7E, QT_TRANSLATE_NOOP("KeyLabels", "Up")},
    {0x31, QT_TRANSLATE_NOOP("KeyLabels", "Space")},
};

// F1-F15 by key code.
const UInt8 kFunctionKeys[] = {0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64,
                               0x65, 0x6D, 0x67, 0x6F, 0x69, 0x6B, 0x71};

bool IsKeypadKey(UInt8 keyCode) {
  return keyCode >= 0x41 && keyCode <= 0x5C;
}

}  // namespace

QString KeyLabel(UInt8 keyCode) {
  for (const KeyLabelEntry& e : kKeyLabels)
    if (e.keyCode == keyCode) return QCoreApplication::translate("KeyLabels", e.label);
  for (int f = 0; f < int(sizeof kFunctionKeys); ++f)
    if (kFunctionKeys[f] == keyCode) return QStringLiteral("F%1").arg(f + 1);
  // The character the key types on the layout; letters as the keycaps print them.
  UInt8 ch = keyCode < 128 ? GetKeyChar(keyCode) : 0;
  QString typed = ch > 32 && ch != 127 ? QString(QChar(ch)).toUpper() : QString();
  if (typed.isEmpty()) return QCoreApplication::translate("KeyLabels", "Key %1").arg(keyCode);
  if (IsKeypadKey(keyCode)) return QCoreApplication::translate("KeyLabels", "Keypad %1").arg(typed);
  return typed;
}

QString ModifierLabel(UInt16 bit) {
  for (const ModifierInfo& m : kModifierTable)
    if (m.bit == bit) return CommandTableText(m.name);
  return QString();
}

QString KeystrokeLabel(UInt8 keyCode, UInt16 modifiers) {
  QStringList parts;
  for (const ModifierInfo& m : kModifierTable)
    if (modifiers & m.bit) parts << CommandTableText(m.name);
  if (keyCode != 255) parts << KeyLabel(keyCode);
  if (parts.isEmpty()) return QCoreApplication::translate("KeyLabels", "(none)");
  return parts.join(QLatin1Char('+'));
}

QString CommandTableText(const char* name) {
  return name ? QCoreApplication::translate("CommandTable", name) : QString();
}
