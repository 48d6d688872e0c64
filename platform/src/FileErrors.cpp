#include "FileErrors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace corvimus {

OSErr ErrnoToOSErr(int err) {
  switch (err) {
    case 0:
      return noErr;
    case ENOENT:
      return fnfErr;
    case ENOTDIR:
      return dirNFErr;
    case EEXIST:
      return dupFNErr;
    case ENOTEMPTY:
      return fBsyErr;
    case EBUSY:
      return fBsyErr;
    case EACCES:
    case EPERM:
      return permErr;
    case EROFS:
      return wPrErr;
    case ENOSPC:
    case EDQUOT:
      return dskFulErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENAMETOOLONG:
    case EINVAL:
    case EISDIR:
      return bdNamErr;
    case ELOOP:
      return fnfErr;
    case ENOMEM:
      return memFullErr;
    case EXDEV:
      return paramErr;
    default:
      return ioErr;
  }
}

OSErr WriteAllAndSync(int fd, const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::size_t done = 0;
  while (done < length) {
    ssize_t w = write(fd, p + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return ErrnoToOSErr(errno);
    if (w == 0) return ioErr;
    done += static_cast<std::size_t>(w);
  }
  if (fsync(fd) != 0) return ErrnoToOSErr(errno);
  return noErr;
}

OSErr SyncFolder(const char* folderPath) {
  int fd = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoToOSErr(errno);
  int r = fsync(fd);
  int e = errno;
  close(fd);
  // Some file systems cannot sync a folder; the rename itself has still happened.
  if (r != 0 && e != EINVAL && e != EROFS) return ErrnoToOSErr(e);
  return noErr;
}

}  // namespace corvimus
