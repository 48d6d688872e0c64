#include "FileErrors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace corvimus {

OSErr WriteAllAndSync(int fd, const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::size_t done = 0;
  while (done < length) {
    ssize_t w = write(fd, p + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return MacErrorFromErrno(errno);
    if (w == 0) return ioErr;
    done += static_cast<std::size_t>(w);
  }
  if (fsync(fd) != 0) return MacErrorFromErrno(errno);
  return noErr;
}

OSErr SyncFolder(const char* folderPath) {
  int fd = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return MacErrorFromErrno(errno);
  int r = fsync(fd);
  int e = errno;
  close(fd);
  // Some file systems cannot sync a folder; the rename itself has still happened.
  if (r != 0 && e != EINVAL && e != EROFS) return MacErrorFromErrno(e);
  return noErr;
}

}  // namespace corvimus
