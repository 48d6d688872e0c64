#include "agent/AgentSettings.h"

#include <cstring>

#include "agent/AgentFrontProcess.h"
#include "agent/AgentGlobals.h"
#include "platform/Folders.h"
#include "settings/MouseSettings.h"

OSErr ReloadSettings() {
  if (!gSettingsBase) return ioErr;
  Str255 fileName;
  fileName[0] = static_cast<unsigned char>(sizeof kCorvimusPrefsFileName - 1);
  std::memcpy(fileName + 1, kCorvimusPrefsFileName, fileName[0]);
  // The same look-up and read as the pane's: the Preferences folder is not created here, and a
  // missing file (fnfErr) leaves the base as it was.
  FSSpec file;
  OSErr err = FindMouseSettingsFile(fileName, kDontCreateFolder, &file);
  if (err != noErr) return err;
  err = ReadMouseSettingsFile(gSettingsBase, &file);
  if (err != noErr) return err;
  if (QBaseCountRecords(gSettingsBase) < 1) return resNotFound;
  ReapplyFrontProcess();
  return noErr;
}
