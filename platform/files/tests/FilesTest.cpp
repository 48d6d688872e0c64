#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Files.h"
#include "testing/FifoWatch.h"
#include "testing/TempDir.h"

using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

class Files : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { FSResetTestSeams(); }
};

std::string Contents(const std::string& path) {
  std::string s;
  EXPECT_TRUE(ReadFile(path, &s));
  return s;
}

}  // namespace

TEST_F(Files, OpenMissingOrDirectoryFails) {
  SInt16 ref = 77;
  EXPECT_EQ(FSOpenPath((dir / "missing").c_str(), fsRdPerm, &ref), fnfErr);
  EXPECT_EQ(ref, 0);
  EXPECT_EQ(FSOpenPath((dir / "missing/below").c_str(), fsRdPerm, &ref), fnfErr);
  EXPECT_EQ(FSOpenPath(dir.path().c_str(), fsRdPerm, &ref), permErr);
  EXPECT_EQ(FSClose(0), rfNumErr);
  SInt32 count = 4;
  char buf[4];
  EXPECT_EQ(FSRead(0, &count, buf), rfNumErr);
  EXPECT_EQ(count, 0);
}

TEST_F(Files, ReadWritePositionAndEndOfFile) {
  std::string path = dir / "f";
  SInt16 ref = 0;
  ASSERT_EQ(FSCreateOpenPath(path.c_str(), &ref), noErr);
  ASSERT_NE(ref, 0);
  SInt32 count = 10;
  ASSERT_EQ(FSWrite(ref, &count, "0123456789"), noErr);
  EXPECT_EQ(count, 10);
  SInt32 pos = -1, eof = -1;
  EXPECT_EQ(GetFPos(ref, &pos), noErr);
  EXPECT_EQ(pos, 10);
  EXPECT_EQ(GetEOF(ref, &eof), noErr);
  EXPECT_EQ(eof, 10);
  ASSERT_EQ(SetFPos(ref, fsFromStart, 3), noErr);
  char buf[16] = {};
  count = 4;
  EXPECT_EQ(FSRead(ref, &count, buf), noErr);
  EXPECT_EQ(std::string(buf, 4), "3456");
  count = 10;
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(SetFPos(ref, fsFromLEOF, -2), noErr);
  EXPECT_EQ(GetFPos(ref, &pos), noErr);
  EXPECT_EQ(pos, 8);
  EXPECT_EQ(SetFPos(ref, fsFromMark, -1), noErr);
  GetFPos(ref, &pos);
  EXPECT_EQ(pos, 7);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 11), eofErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, -1), posErr);
  EXPECT_EQ(SetEOF(ref, 4), noErr);
  GetFPos(ref, &pos);
  EXPECT_LE(pos, 4);
  EXPECT_EQ(SetEOF(ref, 6), noErr);
  EXPECT_EQ(FSFlushFork(ref), noErr);
  EXPECT_EQ(Contents(path), std::string("0123\0\0", 6));
  UInt32 actual = 0;
  EXPECT_EQ(FSWriteFork(ref, fsFromStart | noCacheMask, 1, 2, "XY", &actual), noErr);
  EXPECT_EQ(actual, 2u);
  EXPECT_EQ(FSReadFork(ref, fsFromStart, 0, 4, buf, &actual), noErr);
  EXPECT_EQ(std::string(buf, 4), "0XY3");
  SInt64 size = 0;
  EXPECT_EQ(FSGetForkSize(ref, &size), noErr);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(FSClose(ref), rfNumErr) << "a closed reference number is no longer valid";
}

TEST_F(Files, ReadOnlyForkRefusesWrites) {
  std::string path = dir / "ro";
  WriteFile(path, "data");
  SInt16 ref = 0;
  ASSERT_EQ(FSOpenPath(path.c_str(), fsRdPerm, &ref), noErr);
  SInt32 count = 2;
  EXPECT_EQ(FSWrite(ref, &count, "zz"), wrPermErr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(SetEOF(ref, 0), wrPermErr);
  FSClose(ref);
  EXPECT_EQ(Contents(path), "data");
}

TEST_F(Files, PermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root is not refused by file modes";
  std::string path = dir / "locked";
  WriteFile(path, "x");
  chmod(path.c_str(), 0400);
  SInt16 ref = 0;
  EXPECT_EQ(FSOpenPath(path.c_str(), fsRdWrPerm, &ref), permErr);
}

// A data fork is a regular file. A FIFO would hold the open (or the first read) until a writer
// came, and a device reads as an endless or an empty file: both are refused before any transfer.
TEST_F(Files, FifosDevicesAndSocketsAreNoFiles) {
  corvimus::testing::FifoWatch fifo(dir / "fifo");
  SInt16 ref = 77;
  EXPECT_EQ(FSOpenPath(fifo.path().c_str(), fsRdPerm, &ref), notAFileErr);
  EXPECT_EQ(ref, 0);
  EXPECT_EQ(FSOpenPath(fifo.path().c_str(), fsRdWrPerm, &ref), notAFileErr);
  EXPECT_EQ(FSCreateOpenPath(fifo.path().c_str(), &ref), notAFileErr);
  EXPECT_FALSE(fifo.ReaderSeen());
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    EXPECT_EQ(FSOpenPath(device, fsRdPerm, &ref), notAFileErr) << device;
    EXPECT_EQ(FSCreateOpenPath(device, &ref), notAFileErr) << device;
  }
  // A link leads to what it names.
  ASSERT_EQ(symlink("/dev/zero", (dir / "zero").c_str()), 0);
  EXPECT_EQ(FSOpenPath((dir / "zero").c_str(), fsRdPerm, &ref), notAFileErr);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir / "socket";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(FSOpenPath(socketPath.c_str(), fsRdPerm, &ref), notAFileErr);
  close(sock);
}

TEST_F(Files, ReferenceNumbersAreReusedAndDistinct) {
  std::string a = dir / "a", b = dir / "b";
  SInt16 ra = 0, rb = 0;
  ASSERT_EQ(FSCreateOpenPath(a.c_str(), &ra), noErr);
  ASSERT_EQ(FSCreateOpenPath(b.c_str(), &rb), noErr);
  EXPECT_NE(ra, rb);
  SInt32 count = 1;
  FSWrite(rb, &count, "b");
  FSClose(ra);
  SInt16 rc = 0;
  ASSERT_EQ(FSCreateOpenPath(a.c_str(), &rc), noErr);
  EXPECT_EQ(rc, ra);
  count = 1;
  FSWrite(rc, &count, "a");
  FSClose(rb);
  FSClose(rc);
  EXPECT_EQ(Contents(a), "a");
  EXPECT_EQ(Contents(b), "b");
}

TEST_F(Files, DescriptorsCanBeRegistered) {
  std::string path = dir / "fd";
  int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  SInt16 ref = 0;
  ASSERT_EQ(FSOpenDescriptor(fd, fsRdWrPerm, &ref), noErr);
  EXPECT_EQ(FSGetDescriptor(ref), fd);
  SInt32 count = 3;
  EXPECT_EQ(FSWrite(ref, &count, "abc"), noErr);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(FSGetDescriptor(ref), -1);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the descriptor was closed with the fork";
  EXPECT_EQ(Contents(path), "abc");
}

TEST_F(Files, SeamsInjectShortTransfersDiskFullAndIoErrors) {
  std::string path = dir / "seam";
  SInt16 ref = 0;
  ASSERT_EQ(FSCreateOpenPath(path.c_str(), &ref), noErr);
  std::string data(1000, 'd');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
  // Short transfers are completed by looping.
  FSLimitTransfer(7);
  SInt32 count = 1000;
  ASSERT_EQ(FSWrite(ref, &count, data.data()), noErr);
  EXPECT_EQ(count, 1000);
  std::string back(1000, '\0');
  SetFPos(ref, fsFromStart, 0);
  count = 1000;
  ASSERT_EQ(FSRead(ref, &count, back.data()), noErr);
  EXPECT_EQ(back, data);
  FSLimitTransfer(0);
  // A full disk after 300 bytes: the write stops there and says so.
  SetFPos(ref, fsFromStart, 0);
  FSFailWritesAfter(300);
  count = 1000;
  EXPECT_EQ(FSWrite(ref, &count, std::string(1000, 'Z').data()), dskFulErr);
  EXPECT_EQ(count, 300);
  SInt32 pos = 0;
  GetFPos(ref, &pos);
  EXPECT_EQ(pos, 300);
  count = 1;
  EXPECT_EQ(FSWrite(ref, &count, "Z"), dskFulErr);
  FSFailWritesAfter(-1);
  // Reads failing after 10 bytes.
  SetFPos(ref, fsFromStart, 0);
  FSFailReadsAfter(10);
  count = 50;
  EXPECT_EQ(FSRead(ref, &count, back.data()), ioErr);
  EXPECT_EQ(count, 10);
  FSResetTestSeams();
  FSFailNextFlush();
  EXPECT_EQ(FSFlushFork(ref), ioErr);
  EXPECT_EQ(FSFlushFork(ref), noErr);
  FSClose(ref);
  std::string s = Contents(path);
  EXPECT_EQ(s.substr(0, 300), std::string(300, 'Z'));
  EXPECT_EQ(s.substr(300), data.substr(300));
}

TEST(FilesErrno, PosixErrorsMapToMacResultCodes) {
  EXPECT_EQ(MacErrorFromErrno(ENOENT), fnfErr);
  EXPECT_EQ(MacErrorFromErrno(EIO), ioErr);
  EXPECT_EQ(MacErrorFromErrno(EACCES), permErr);
  EXPECT_EQ(MacErrorFromErrno(EPERM), permErr);
  EXPECT_EQ(MacErrorFromErrno(ENOSPC), dskFulErr);
  EXPECT_EQ(MacErrorFromErrno(EDQUOT), dskFulErr);
  EXPECT_EQ(MacErrorFromErrno(EMFILE), tmfoErr);
  EXPECT_EQ(MacErrorFromErrno(ENFILE), tmfoErr);
  EXPECT_EQ(MacErrorFromErrno(0), noErr);
}
