// Small POSIX helpers shared by the file and folder code of the platform layer.
#pragma once

#include <cstddef>

#include "platform/Files.h"  // MacErrorFromErrno
#include "platform/MacTypes.h"

namespace corvimus {

// Writes every byte (retrying short writes and EINTR) and syncs the file.
OSErr WriteAllAndSync(int fd, const void* bytes, std::size_t length);
// Syncs a folder so that a rename or creation in it reaches the disk.
OSErr SyncFolder(const char* folderPath);

}  // namespace corvimus
