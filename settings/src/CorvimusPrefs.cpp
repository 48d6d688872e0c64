#include <cstddef>

#include "platform/ByteOrder.h"
#include "settings/MouseSettings.h"

namespace {

constexpr CorvimusPrefsRec MakeDefaultPrefs() {
  CorvimusPrefsRec r{};
  r.active = 1;
  r.device[0].speed = 255;
  r.device[0].acceleration = 255;
  r.device[0].action[0].command = kCmdMainClick;
  r.device[0].action[1].command = 34;
  r.device[0].action[2].command = 32;
  r.device[0].action[3].command = kCmdBack;
  r.device[0].action[4].command = kCmdForward;
  // RF and PF scroll one way, RB and PB the other; what key codes 1 and 100 mean is the driver's.
  r.device[0].action[kSlotRF].command = 8;
  r.device[0].action[kSlotRF].keyCode = 1;
  r.device[0].action[kSlotRB].command = 9;
  r.device[0].action[kSlotRB].keyCode = 1;
  r.device[0].action[kSlotPF].command = 8;
  r.device[0].action[kSlotPF].keyCode = 100;
  r.device[0].action[kSlotPB].command = 9;
  r.device[0].action[kSlotPB].keyCode = 100;
  return r;
}

}  // namespace

const CorvimusPrefsRec kCorvimusDefaultPrefs = MakeDefaultPrefs();
CorvimusPrefsRec gDefaultGlobalPrefs = MakeDefaultPrefs();

OSErr FlipCorvimusPrefsRec(void* record, SInt32 size) {
  if (!record || size != kCorvimusPrefsRecSize) return paramErr;
  auto* bytes = static_cast<unsigned char*>(record);
  corvimus::SwapBytesInPlace(bytes + offsetof(CorvimusPrefsRec, application), 4);
  const size_t device = offsetof(CorvimusPrefsRec, device);
  corvimus::SwapBytesInPlace(bytes + device + offsetof(CorvimusDevicePrefs, options), 2);
  for (int i = 0; i < kCorvimusActionCount; ++i) {
    unsigned char* action = bytes + device + offsetof(CorvimusDevicePrefs, action) +
                            size_t(i) * sizeof(CorvimusActionRec);
    corvimus::SwapBytesInPlace(action + offsetof(CorvimusActionRec, command), 2);
    corvimus::SwapBytesInPlace(action + offsetof(CorvimusActionRec, modifiers), 2);
    corvimus::SwapBytesInPlace(action + offsetof(CorvimusActionRec, delay), 2);
  }
  return noErr;
}

QBaseHandle NewMouseSettingsBase(SInt16 growBy) {
  QBaseHandle base = QBaseNew(kCorvimusBaseType, kCorvimusBaseTypeVersion, growBy);
  if (base) QBaseSetFlipProc(base, FlipCorvimusPrefsRec, nullptr);
  return base;
}
