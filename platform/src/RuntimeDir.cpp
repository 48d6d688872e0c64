#include "platform/RuntimeDir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace corvimus {

namespace {

// The folder must be ours alone: a real folder (lstat, so a planted link is seen as a link), owned
// by us, with no access for anyone else. A folder of ours that is too open is tightened.
OSErr MakePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return ioErr;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return ioErr;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return permErr;
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) return permErr;
  return noErr;
}

}  // namespace

OSErr GetCorvimusRuntimeFolder(std::string* path) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder;
  if (runtime && runtime[0] == '/')
    folder = std::string(runtime) + "/corvimus";
  else
    folder = "/tmp/corvimus-" + std::to_string(geteuid());
  OSErr err = MakePrivateFolder(folder);
  if (err == noErr) *path = folder;
  return err;
}

}  // namespace corvimus
