// The per-user folder for the system's sockets: $XDG_RUNTIME_DIR/corvimus, or /tmp/corvimus-<uid>
// when the session has no runtime folder. Other users must not be able to plant a socket or a link
// there, so the folder is made 0700 and refused when it is a link or belongs to someone else.
#pragma once

#include <string>

#include "platform/MacTypes.h"

namespace corvimus {

// Sets *path to the folder, creating it (mode 0700) when it is missing. Returns noErr, or
// permErr when the folder exists but is a symbolic link, not a folder, or not owned by the caller;
// ioErr when it cannot be made.
OSErr GetCorvimusRuntimeFolder(std::string* path);

}  // namespace corvimus
