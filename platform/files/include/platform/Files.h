// File Manager for open data forks, addressed by 16-bit reference numbers (0 is never valid).
//
// Each reference number wraps one POSIX file descriptor and keeps its own file mark; transfers use
// pread/pwrite at the mark and loop over short transfers. POSIX errors come back as Mac OS result
// codes (MacErrorFromErrno). Other layers open files by FSRef/FSSpec and register the descriptor
// here with FSOpenDescriptor.
#pragma once

#include "platform/MacTypes.h"

enum : SInt8 {
  fsCurPerm = 0,
  fsRdPerm = 1,
  fsWrPerm = 2,
  fsRdWrPerm = 3,
};

// Position modes; noCacheMask may be or-ed in and is advisory only.
enum : UInt16 {
  fsAtMark = 0,
  fsFromStart = 1,
  fsFromLEOF = 2,
  fsFromMark = 3,
  noCacheMask = 0x0020,
};

// The Mac OS result code for a POSIX errno value.
OSErr MacErrorFromErrno(int err);
// A few words for a result code of file handling ("no such file", "the file is read-only"), as a
// message to the user puts them; null for a code that has none.
const char* DescribeFileError(OSErr err);

// Opens an existing file. fsRdPerm opens it read-only, anything else read-write. Only a regular
// file opens: a folder gives permErr, anything else (a FIFO, a device, a socket) notAFileErr, at
// once and without opening it.
OSErr FSOpenPath(const char* path, SInt8 permission, SInt16* refNum);
// Creates the file when missing (mode 0644 less the umask), then opens it read-write; the same
// refusals as FSOpenPath.
OSErr FSCreateOpenPath(const char* path, SInt16* refNum);
// Takes ownership of an open descriptor; `permission` says which transfers it allows.
OSErr FSOpenDescriptor(int fd, SInt8 permission, SInt16* refNum);
// The descriptor behind a reference number, or -1.
int FSGetDescriptor(SInt16 refNum);
OSErr FSClose(SInt16 refNum);
OSErr FSCloseFork(SInt16 refNum);

// Reads *count bytes at the mark; on return *count holds the bytes read. eofErr when the end of
// file came first.
OSErr FSRead(SInt16 refNum, SInt32* count, void* buffer);
// Writes *count bytes at the mark; on return *count holds the bytes written.
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffer);
OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOffset);
OSErr GetFPos(SInt16 refNum, SInt32* filePos);
OSErr GetEOF(SInt16 refNum, SInt32* logEOF);
OSErr SetEOF(SInt16 refNum, SInt32 logEOF);

// 64-bit fork forms.
OSErr FSReadFork(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset, UInt32 requestCount,
                 void* buffer, UInt32* actualCount);
OSErr FSWriteFork(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset, UInt32 requestCount,
                  const void* buffer, UInt32* actualCount);
OSErr FSGetForkSize(SInt16 refNum, SInt64* forkSize);
OSErr FSSetForkSize(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkPosition(SInt16 refNum, SInt64* position);
OSErr FSSetForkPosition(SInt16 refNum, UInt16 positionMode, SInt64 positionOffset);
// Forces the fork's data to the disk (fsync).
OSErr FSFlushFork(SInt16 refNum);

// ---- Test seams (process-wide; FSResetTestSeams switches them all off) -----------------------
// After `bytes` more bytes were written through any reference number, writes fail as if the disk
// were full (ENOSPC, so dskFulErr); a write that crosses the limit writes the bytes up to it.
// A negative value switches it off.
void FSFailWritesAfter(SInt64 bytes);
// After `bytes` more bytes were read, reads fail with EIO (ioErr). Negative switches it off.
void FSFailReadsAfter(SInt64 bytes);
// Each underlying read and write call moves at most `bytes` bytes (short transfers); 0 = no limit.
void FSLimitTransfer(SInt32 bytes);
// The next fsync fails with EIO.
void FSFailNextFlush();
void FSResetTestSeams();
