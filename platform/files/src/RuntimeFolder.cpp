#include "platform/RuntimeFolder.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

OSErr GetCorvimusRuntimeFolder(std::string* path) {
  if (!path) return paramErr;
  try {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && runtime[0] == '/') {
      folder = std::string(runtime) + "/corvimus";
    } else {
      folder = "/tmp/corvimus-" + std::to_string(getuid());
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      return errno == ENOENT ? dirNFErr : permErr;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0) return ioErr;
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return permErr;
    if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return permErr;
    *path = std::move(folder);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}
