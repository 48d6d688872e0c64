// The per-user folder for the sockets of the system's processes.
#pragma once

#include <string>

#include "platform/MacTypes.h"

// $XDG_RUNTIME_DIR/corvimus, or /tmp/corvimus-<uid> when the variable is unset or not an absolute
// path. Created mode 0700 when missing. Refused (permErr) when it is a symbolic link, not a folder,
// or owned by another user; a folder of ours that others may enter is made private again.
OSErr GetCorvimusRuntimeFolder(std::string* path);
