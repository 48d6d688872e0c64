// The agent's copy of the settings file.
#pragma once

#include "platform/MacTypes.h"

// Reads the settings file into gSettingsBase and re-applies the record for the front process.
// ioErr without a base; the Folder Manager's error; fnfErr (base untouched) without a file; the
// read's error (the base is then empty); resNotFound when the file holds no record; else 0.
OSErr ReloadSettings();
