#include "agent/AgentSelection.h"

#include <cstring>

#include "settings/MouseSettings.h"

Boolean IsApplicationSignature(OSType signature) {
  return signature != 0 && signature != kUnknownSignature && signature != FourCC("    ");
}

namespace {

// Length of a name once a trailing lower-case ".app" is dropped.
int BareNameLength(ConstStringPtr name, int length) {
  if (length > 4 && std::memcmp(name + 1 + length - 4, ".app", 4) == 0) return length - 4;
  return length;
}

unsigned char FoldAsciiUpper(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

Boolean AppFileNameMatches(ConstStringPtr recordFileName, ConstStringPtr processName) {
  if (!recordFileName || !processName) return false;
  int lengthA = recordFileName[0];
  if (lengthA > static_cast<int>(sizeof(Str63)) - 1) lengthA = sizeof(Str63) - 1;
  lengthA = BareNameLength(recordFileName, lengthA);
  int lengthB = BareNameLength(processName, processName[0]);
  int common = lengthA < lengthB ? lengthA : lengthB;
  for (int i = 1; i <= common; ++i)
    if (FoldAsciiUpper(recordFileName[i]) != FoldAsciiUpper(processName[i])) return false;
  return lengthA == lengthB;
}

void FillActionsFromGlobal(CorvimusPrefsRec* prefs, const CorvimusPrefsRec* global) {
  if (!prefs || !global) return;
  for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
    if (prefs->device[0].action[slot].command == kCmdAsGlobal)
      std::memcpy(&prefs->device[0].action[slot], &global->device[0].action[slot],
                  sizeof(CorvimusActionRec));
  }
}

namespace {

// Copies the record at `position` when it has the settings record's size.
Boolean CopySettingsRecord(QBaseHandle base, SInt32 position, CorvimusPrefsRec* out) {
  SInt32 size = 0;
  const void* data = QBaseGetRecord(base, position, &size);
  if (!data || size != kCorvimusPrefsRecSize) return false;
  std::memcpy(out, data, sizeof *out);
  return true;
}

// QBaseFindLongHeader gives the record but not its size; the index position that holds the same
// data pointer does.
SInt32 PositionOfRecordData(QBaseHandle base, const void* data) {
  SInt32 count = QBaseCountRecords(base);
  for (SInt32 position = 0; position < count; ++position)
    if (QBaseGetRecord(base, position, nullptr) == data) return position;
  return -1;
}

}  // namespace

SettingsChoice ChooseSettingsRecord(QBaseHandle base, OSType signature, ConstStringPtr processName,
                                    CorvimusPrefsRec* out) {
  if (!base || !out) return kNoSettingsRecord;
  // Records inside the base are only 2-aligned, so every record is copied out before its fields
  // are read.
  CorvimusPrefsRec found;
  Boolean haveFound = false;
  if (IsApplicationSignature(signature)) {
    if (const void* data = QBaseFindLongHeader(base, signature)) {
      SInt32 position = PositionOfRecordData(base, data);
      haveFound = position >= 0 && CopySettingsRecord(base, position, &found);
    }
  } else if (processName) {
    SInt32 count = QBaseCountRecords(base);
    for (SInt32 position = 0; position < count && !haveFound; ++position) {
      if (CopySettingsRecord(base, position, &found) &&
          AppFileNameMatches(found.appFileName, processName))
        haveFound = true;
    }
  }

  CorvimusPrefsRec global;
  Boolean haveGlobal = CopySettingsRecord(base, 0, &global);
  if (haveFound) {
    if (haveGlobal) FillActionsFromGlobal(&found, &global);
    std::memcpy(out, &found, sizeof found);
    return kApplicationRecord;
  }
  if (haveGlobal) {
    std::memcpy(out, &global, sizeof global);
    return kGlobalRecord;
  }
  return kNoSettingsRecord;
}

void PrepareRecordForDrivers(QBaseHandle base, SettingsChoice choice, CorvimusPrefsRec* record) {
  if (!record || choice == kNoSettingsRecord) return;
  if (choice == kGlobalRecord) {
    MakeRecordDefinedForDriver(record, kCorvimusDefaultPrefs, true);
    return;
  }
  CorvimusPrefsRec global;
  if (!base || !CopySettingsRecord(base, 0, &global)) global = kCorvimusDefaultPrefs;
  MakeRecordDefinedForDriver(&global, kCorvimusDefaultPrefs, true);
  MakeRecordDefinedForDriver(record, global, false);
  // A slot still deferring to the global record took a global action that was itself undefined.
  FillActionsFromGlobal(record, &global);
}
