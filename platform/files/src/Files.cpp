#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace {

struct OpenFork {
  int fd = -1;
  bool canRead = false;
  bool canWrite = false;
  SInt64 mark = 0;
};

// Index = reference number; entry 0 is never used.
std::vector<OpenFork> gForks(1);

SInt64 gWriteBudget = -1;  // bytes that may still be written; negative = unlimited
SInt64 gReadBudget = -1;
SInt32 gTransferLimit = 0;
bool gFailNextFlush = false;

OpenFork* ForkOf(SInt16 refNum) {
  if (refNum <= 0 || size_t(refNum) >= gForks.size() || gForks[refNum].fd < 0) return nullptr;
  return &gForks[refNum];
}

OSErr Register(int fd, bool canRead, bool canWrite, SInt16* refNum) {
  size_t slot = 1;
  while (slot < gForks.size() && gForks[slot].fd >= 0) ++slot;
  if (slot > size_t(SHRT_MAX)) {
    close(fd);
    return tmfoErr;
  }
  if (slot == gForks.size()) gForks.emplace_back();
  gForks[slot] = OpenFork{fd, canRead, canWrite, 0};
  *refNum = SInt16(slot);
  return noErr;
}

// pread/pwrite wrappers: the place where the test seams inject short transfers and failures.
ssize_t SeamRead(int fd, void* buf, size_t n, off_t at) {
  if (gTransferLimit > 0 && n > size_t(gTransferLimit)) n = size_t(gTransferLimit);
  if (gReadBudget >= 0) {
    if (gReadBudget == 0) {
      errno = EIO;
      return -1;
    }
    if (n > size_t(gReadBudget)) n = size_t(gReadBudget);
  }
  ssize_t r = pread(fd, buf, n, at);
  if (r > 0 && gReadBudget >= 0) gReadBudget -= r;
  return r;
}

ssize_t SeamWrite(int fd, const void* buf, size_t n, off_t at) {
  if (gTransferLimit > 0 && n > size_t(gTransferLimit)) n = size_t(gTransferLimit);
  if (gWriteBudget >= 0) {
    if (gWriteBudget == 0) {
      errno = ENOSPC;
      return -1;
    }
    if (n > size_t(gWriteBudget)) n = size_t(gWriteBudget);
  }
  ssize_t r = pwrite(fd, buf, n, at);
  if (r > 0 && gWriteBudget >= 0) gWriteBudget -= r;
  return r;
}

OSErr ResolvePosition(OpenFork* f, UInt16 mode, SInt64 offset, SInt64* result) {
  SInt64 base = 0;
  switch (mode & 0x3) {
    case fsAtMark:
      *result = f->mark;
      return noErr;
    case fsFromStart:
      base = 0;
      break;
    case fsFromLEOF: {
      struct stat st;
      if (fstat(f->fd, &st) != 0) return MacErrorFromErrno(errno);
      base = st.st_size;
      break;
    }
    case fsFromMark:
      base = f->mark;
      break;
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return posErr;
  *result = base + offset;
  return noErr;
}

// Moves count bytes at a position, retrying short transfers and EINTR. A call that moves nothing
// ends with `atEnd`: the end of file for a read, a device that takes nothing for a write.
template <typename Transfer>
OSErr TransferAt(OpenFork* f, SInt64 at, UInt32 count, UInt32* actual, OSErr atEnd,
                 Transfer transfer) {
  *actual = 0;
  OSErr err = noErr;
  while (*actual < count) {
    ssize_t r = transfer(*actual, count - *actual, off_t(at + *actual));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      err = r < 0 ? MacErrorFromErrno(errno) : atEnd;
      break;
    }
    *actual += UInt32(r);
  }
  f->mark = at + *actual;
  return err;
}

OSErr ReadAt(OpenFork* f, SInt64 at, UInt32 count, void* buffer, UInt32* actual) {
  *actual = 0;
  if (!f->canRead) return permErr;
  auto* p = static_cast<char*>(buffer);
  return TransferAt(f, at, count, actual, eofErr, [&](UInt32 done, UInt32 left, off_t pos) {
    return SeamRead(f->fd, p + done, left, pos);
  });
}

OSErr WriteAt(OpenFork* f, SInt64 at, UInt32 count, const void* buffer, UInt32* actual) {
  *actual = 0;
  if (!f->canWrite) return wrPermErr;
  const auto* p = static_cast<const char*>(buffer);
  return TransferAt(f, at, count, actual, ioErr, [&](UInt32 done, UInt32 left, off_t pos) {
    return SeamWrite(f->fd, p + done, left, pos);
  });
}

}  // namespace

OSErr MacErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return noErr;
    case ENOENT:
      return fnfErr;
    case ENOTDIR:
      return dirNFErr;
    case EACCES:
    case EPERM:
    case EISDIR:
      return permErr;
    case EROFS:
      return wPrErr;
    case EBADF:
      return rfNumErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return dskFulErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENAMETOOLONG:
      return bdNamErr;
    case EEXIST:
      return dupFNErr;
    case ENOMEM:
      return memFullErr;
    case EINVAL:
      return paramErr;
    case EBUSY:
    case ETXTBSY:
    case ENOTEMPTY:
      return fBsyErr;
    case ELOOP:
      return fnfErr;
    case EXDEV:
      return paramErr;
    default:
      return ioErr;
  }
}

namespace {

// A data fork is a regular file. Anything else named by a path (a FIFO, which would hold the open
// or the first read until some writer came, a device, a socket) is refused before it is opened,
// and again after, for the item that may have been put there in between; the open itself never
// waits and never makes a terminal the controlling one.
OSErr OpenRegularFile(const char* path, int flags, SInt16* refNum, bool canRead, bool canWrite) {
  *refNum = 0;
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode))
    return S_ISDIR(st.st_mode) ? OSErr(permErr) : OSErr(notAFileErr);
  int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  if (fd < 0) return MacErrorFromErrno(errno);
  if (fstat(fd, &st) != 0) {
    OSErr e = MacErrorFromErrno(errno);
    close(fd);
    return e;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? OSErr(permErr) : OSErr(notAFileErr);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return Register(fd, canRead, canWrite, refNum);
}

}  // namespace

const char* DescribeFileError(OSErr err) {
  switch (err) {
    case fnfErr:
      return "no such file";
    case dirNFErr:
      return "no such folder";
    case permErr:
    case afpAccessDenied:
      return "permission denied";
    case wPrErr:
    case wrPermErr:
      return "not writable";
    case fLckdErr:
      return "the file is read-only";
    case notAFileErr:
      return "not a regular file";
    case dskFulErr:
      return "disk full";
    case ioErr:
      return "input/output error";
    case eofErr:
      return "unexpected end of file";
    case bdNamErr:
      return "bad file name";
    case memFullErr:
      return "out of memory";
    case tmfoErr:
      return "too many files open";
    default:
      return nullptr;
  }
}

OSErr FSOpenPath(const char* path, SInt8 permission, SInt16* refNum) {
  if (!path || !refNum) return paramErr;
  bool readOnly = permission == fsRdPerm;
  return OpenRegularFile(path, readOnly ? O_RDONLY : O_RDWR, refNum, true, !readOnly);
}

OSErr FSCreateOpenPath(const char* path, SInt16* refNum) {
  if (!path || !refNum) return paramErr;
  return OpenRegularFile(path, O_RDWR | O_CREAT, refNum, true, true);
}

OSErr FSOpenDescriptor(int fd, SInt8 permission, SInt16* refNum) {
  if (fd < 0 || !refNum) return paramErr;
  *refNum = 0;
  return Register(fd, permission != fsWrPerm, permission != fsRdPerm, refNum);
}

int FSGetDescriptor(SInt16 refNum) {
  OpenFork* f = ForkOf(refNum);
  return f ? f->fd : -1;
}

OSErr FSClose(SInt16 refNum) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  int r = close(f->fd);
  int err = errno;
  *f = OpenFork{};
  return r == 0 ? OSErr(noErr) : MacErrorFromErrno(err);
}

OSErr FSCloseFork(SInt16 refNum) {
  return FSClose(refNum);
}

OSErr FSRead(SInt16 refNum, SInt32* count, void* buffer) {
  OpenFork* f = ForkOf(refNum);
  if (!count) return paramErr;
  if (!f) {
    *count = 0;
    return rfNumErr;
  }
  if (*count < 0) {
    *count = 0;
    return paramErr;
  }
  UInt32 actual = 0;
  OSErr err = ReadAt(f, f->mark, UInt32(*count), buffer, &actual);
  *count = SInt32(actual);
  return err;
}

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffer) {
  OpenFork* f = ForkOf(refNum);
  if (!count) return paramErr;
  if (!f) {
    *count = 0;
    return rfNumErr;
  }
  if (*count < 0) {
    *count = 0;
    return paramErr;
  }
  UInt32 actual = 0;
  OSErr err = WriteAt(f, f->mark, UInt32(*count), buffer, &actual);
  *count = SInt32(actual);
  return err;
}

OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOffset) {
  return FSSetForkPosition(refNum, UInt16(posMode), posOffset);
}

OSErr GetFPos(SInt16 refNum, SInt32* filePos) {
  SInt64 pos = 0;
  OSErr err = FSGetForkPosition(refNum, &pos);
  if (err == noErr && pos > INT32_MAX) err = posErr;
  if (filePos) *filePos = err == noErr ? SInt32(pos) : 0;
  return err;
}

OSErr GetEOF(SInt16 refNum, SInt32* logEOF) {
  SInt64 size = 0;
  OSErr err = FSGetForkSize(refNum, &size);
  if (err == noErr && size > INT32_MAX) err = posErr;
  if (logEOF) *logEOF = err == noErr ? SInt32(size) : 0;
  return err;
}

OSErr SetEOF(SInt16 refNum, SInt32 logEOF) {
  return FSSetForkSize(refNum, fsFromStart, logEOF);
}

OSErr FSReadFork(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset, UInt32 requestCount,
                 void* buffer, UInt32* actualCount) {
  UInt32 actual = 0;
  OSErr err = rfNumErr;
  if (OpenFork* f = ForkOf(refNum)) {
    SInt64 at = 0;
    err = ResolvePosition(f, positionMode, positionOffset, &at);
    if (err == noErr) err = ReadAt(f, at, requestCount, buffer, &actual);
  }
  if (actualCount) *actualCount = actual;
  return err;
}

OSErr FSWriteFork(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset, UInt32 requestCount,
                  const void* buffer, UInt32* actualCount) {
  UInt32 actual = 0;
  OSErr err = rfNumErr;
  if (OpenFork* f = ForkOf(refNum)) {
    SInt64 at = 0;
    err = ResolvePosition(f, positionMode, positionOffset, &at);
    if (err == noErr) err = WriteAt(f, at, requestCount, buffer, &actual);
  }
  if (actualCount) *actualCount = actual;
  return err;
}

OSErr FSGetForkSize(SInt16 refNum, SInt64* forkSize) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  struct stat st;
  if (fstat(f->fd, &st) != 0) return MacErrorFromErrno(errno);
  if (forkSize) *forkSize = st.st_size;
  return noErr;
}

OSErr FSSetForkSize(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  if (!f->canWrite) return wrPermErr;
  SInt64 size = 0;
  OSErr err = ResolvePosition(f, positionMode, positionOffset, &size);
  if (err != noErr) return err;
  if (ftruncate(f->fd, off_t(size)) != 0) return MacErrorFromErrno(errno);
  if (f->mark > size) f->mark = size;
  return noErr;
}

OSErr FSGetForkPosition(SInt16 refNum, SInt64* position) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  if (position) *position = f->mark;
  return noErr;
}

OSErr FSSetForkPosition(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  SInt64 at = 0;
  OSErr err = ResolvePosition(f, positionMode, positionOffset, &at);
  if (err != noErr) return err;
  // The classic File Manager refuses a mark beyond the end of file.
  SInt64 size = 0;
  err = FSGetForkSize(refNum, &size);
  if (err != noErr) return err;
  if (at > size) {
    f->mark = size;
    return eofErr;
  }
  f->mark = at;
  return noErr;
}

OSErr FSFlushFork(SInt16 refNum) {
  OpenFork* f = ForkOf(refNum);
  if (!f) return rfNumErr;
  if (gFailNextFlush) {
    gFailNextFlush = false;
    return ioErr;
  }
  if (fsync(f->fd) != 0) return MacErrorFromErrno(errno);
  return noErr;
}

void FSFailWritesAfter(SInt64 bytes) {
  gWriteBudget = bytes < 0 ? -1 : bytes;
}
void FSFailReadsAfter(SInt64 bytes) {
  gReadBudget = bytes < 0 ? -1 : bytes;
}
void FSLimitTransfer(SInt32 bytes) {
  gTransferLimit = bytes > 0 ? bytes : 0;
}
void FSFailNextFlush() {
  gFailNextFlush = true;
}
void FSResetTestSeams() {
  gWriteBudget = -1;
  gReadBudget = -1;
  gTransferLimit = 0;
  gFailNextFlush = false;
}
