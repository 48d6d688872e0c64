// A plug-in the settings tests copy into a bundle folder and load, so that string lists are read
// the way the pane reads them: from the bundle its own code lies in.
#include <cstring>

#include "platform/Resources.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"

extern "C" __attribute__((visibility("default"))) void ProbeGetIndString(SInt16 list, SInt16 index,
                                                                         unsigned char* out) {
  GetIndString(out, list, index);
}

// Loads settings from a file that does not exist and hands back the default record it was given.
extern "C" __attribute__((visibility("default"))) OSErr ProbeLoadDefaults(CorvimusPrefsRec* out) {
  QBaseHandle base = NewMouseSettingsBase(4);
  if (!base) return memFullErr;
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  Str255 name = "\x0bno-such-file";
  OSErr e = LoadMouseSettings(base, name, &defaults);
  SInt32 size = 0;
  const void* first = QBaseGetRecord(base, 0, &size);
  if (e == noErr && first && size == kCorvimusPrefsRecSize) std::memcpy(out, first, sizeof *out);
  QBaseDispose(base);
  return e;
}
