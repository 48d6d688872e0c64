#include "agent/AgentSelection.h"

#include <cstring>

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
