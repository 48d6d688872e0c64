#include "agent/AgentKeystrokes.h"

Boolean GetActionKeystroke(UInt16 command, OSType frontSignature, UInt8* charCode,
                           UInt16* modifiers) {
  UInt8 ch = 0;
  switch (command) {
    case kCmdUndo:
      ch = 'z';
      break;
    case kCmdCut:
      ch = 'x';
      break;
    case kCmdCopy:
      ch = 'c';
      break;
    case kCmdPaste:
      ch = 'v';
      break;
    case kCmdForward:
    case kCmdBack: {
      Boolean brackets = false;
      for (OSType signature : kBracketNavigationSignatures)
        if (signature == frontSignature) brackets = true;
      if (command == kCmdForward)
        ch = brackets ? UInt8(']') : kRightArrowCharCode;
      else
        ch = brackets ? UInt8('[') : kLeftArrowCharCode;
      break;
    }
    default:
      return false;
  }
  if (charCode) *charCode = ch;
  if (modifiers) *modifiers = cmdKey;
  return true;
}

UInt32 MakeLayoutKeystroke(UInt8 charCode, UInt16 modifiers, const UInt8* charKeyCodes,
                           const UInt8* charModifiers) {
  UInt32 layoutModifiers = UInt32(charModifiers[charCode]) << 8;
  return ((UInt32(modifiers) | layoutModifiers) << 16) | (UInt32(charKeyCodes[charCode]) << 8) |
         charCode;
}
