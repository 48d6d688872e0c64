// The settings file: one record base of type 'CvBa' (type version 0x1100) in the user's
// Preferences folder, named "com.kelvane.mouse.prefs", holding 1012-byte CorvimusPrefsRec records
// with the global record first. Written in this machine's byte order, read in either.
#pragma once

#include "platform/FileRefs.h"
#include "platform/Folders.h"
#include "platform/MacTypes.h"
#include "recordbase/QBase.h"
#include "settings/CorvimusPrefs.h"

// The default record: every field 0 except active 1, speed and acceleration 255 and the actions
// of slots 0-4 and 12-15. LoadMouseSettings writes the localized global name into the record it is
// given, so gDefaultGlobalPrefs may carry that name afterwards; kCorvimusDefaultPrefs never does.
extern CorvimusPrefsRec gDefaultGlobalPrefs;
extern const CorvimusPrefsRec kCorvimusDefaultPrefs;

// Byte-order procedure of the settings base: reverses the multi-byte fields the record holds
// (application, options, and each action's command, modifiers and delay). paramErr, record
// untouched, when size is not 1012.
OSErr FlipCorvimusPrefsRec(void* record, SInt32 size);

// A new settings base with the record flip installed; null when memory runs out.
QBaseHandle NewMouseSettingsBase(SInt16 growBy);

// Reads the settings file `fileName` (in the Preferences folder) into `base`, replacing its
// records. No file, a file that is not a settings base and a damaged file all count as no file.
// When the base ends up empty, `defaultRecord` (with the localized global name of string list 132
// written into it) is added. 0; resNotFound when the base still holds no record; memFullErr when
// the default record cannot be added; any other error of the look-up, open or read. A name longer
// than 63 characters is cut to 63 in the caller's own string.
OSErr LoadMouseSettings(QBaseHandle base, StringPtr fileName, CorvimusPrefsRec* defaultRecord);

// Writes the whole base to the settings file `fileName` in the Preferences folder, keeping the
// file's type and creator (given ones for a new file) and its permissions. The file is replaced in
// one step: the base goes to a temporary file in the same folder, is flushed, and is renamed over
// the settings file, so a failure at any point leaves the previous file as it was and returns the
// error; what earlier saves left when they were killed is swept on the way. A settings file that
// is a symbolic link is saved where the link leads. Only a regular file is replaced: notAFileErr
// for a FIFO, a device or the like, fLckdErr for a file that is read-only, and nothing is written.
// Returns 0 (without writing) when base or name is missing.
OSErr SaveMouseSettings(QBaseHandle base, StringPtr fileName, OSType fileType, OSType creator);

// The same two for a settings file anywhere, named by an FSSpec (its folder must exist).
OSErr LoadMouseSettingsFromSpec(QBaseHandle base, const FSSpec* file,
                                CorvimusPrefsRec* defaultRecord);
OSErr SaveMouseSettingsToSpec(QBaseHandle base, const FSSpec* file, OSType fileType,
                              OSType creator);

// Where the settings file `fileName` lives: fnfErr (spec still filled in) when the file does not
// exist yet, the look-up's error when the Preferences folder cannot be found (or made, with
// createFolder). Cuts the name to 63 characters as above.
OSErr FindMouseSettingsFile(StringPtr fileName, Boolean createFolder, FSSpec* spec);

// The read both the pane and the agent make: open read-only, QBaseRead(base, file, 1, 1, 1, 1),
// close. Returns the open's error (fnfErr for no file) or the read's result.
OSErr ReadMouseSettingsFile(QBaseHandle base, const FSSpec* file);
