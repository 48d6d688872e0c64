// The settings record of an application the user adds, made the same way by the pane's Add… and
// by corvimus-prefs add-app, so that both store the same identity for the same choice.
#pragma once

#include "platform/ApplicationNames.h"
#include "settings/CorvimusPrefs.h"

// A copy of `global` (when given; otherwise the defaults with speed and acceleration 255) that
// belongs to `app`: application = its signature, appFileName = its file name cut to 63 bytes,
// appName = its display name cut to 31 bytes (never inside a UTF-8 character), active = 1.
void MakeApplicationRecord(const corvimus::ApplicationChoice& app, const CorvimusPrefsRec* global,
                           CorvimusPrefsRec* out);
