// A driver message that reaches the client in the same read as the reply to a call must still wake
// the notification port: its bytes are already off the socket, so the socket will not.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/DriverProtocol.h"
#include "platform/IOKit.h"
#include "testing/TempDir.h"

namespace {

using corvimus::DriverFrame;
using corvimus::DriverFrameReader;

bool SendAll(int fd, const std::vector<UInt8>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// A driver with one service that answers every call and, in the same write, sends a message.
[[noreturn]] void RunDriver(int listener) {
  int fd = accept(listener, nullptr, nullptr);
  DriverFrameReader reader;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 10000);
    if (!reader.ReadFrom(fd)) _exit(0);
    DriverFrame in;
    while (reader.Next(&in) == corvimus::kDriverDecodeOK) {
      std::vector<UInt8> out;
      DriverFrame reply;
      reply.requestId = in.requestId;
      switch (in.type) {
        case corvimus::kDriverFrameHello:
          reply.type = corvimus::kDriverFrameHelloReply;
          break;
        case corvimus::kDriverFramePing: {
          DriverFrame publish;
          publish.type = corvimus::kDriverFramePublish;
          publish.serviceId = 1;
          publish.className = "Corvimus";
          corvimus::EncodeDriverFrame(publish, &out);
          reply.type = corvimus::kDriverFramePong;
          break;
        }
        case corvimus::kDriverFrameOpen:
          reply.type = corvimus::kDriverFrameOpenReply;
          reply.connectionId = 7;
          break;
        case corvimus::kDriverFrameCall:
          reply.type = corvimus::kDriverFrameCallReply;
          reply.scalarCount = in.scalarOutWanted;
          break;
        case corvimus::kDriverFrameClose:
          reply.type = corvimus::kDriverFrameCloseReply;
          break;
        default:
          _exit(1);
      }
      corvimus::EncodeDriverFrame(reply, &out);
      if (in.type == corvimus::kDriverFrameCall) {
        DriverFrame message;
        message.type = corvimus::kDriverFrameInterest;
        message.serviceId = 1;
        message.messageType = FourCC("CVda");
        message.data.assign(56, 0x4B);
        corvimus::EncodeDriverFrame(message, &out);
      }
      if (!SendAll(fd, out)) _exit(0);
    }
  }
}

struct Received {
  int count = 0;
  natural_t type = 0;
  UInt8 firstByte = 0;
};

void OnMessage(void* refcon, io_service_t, natural_t type, void* argument) {
  auto* received = static_cast<Received*>(refcon);
  ++received->count;
  received->type = type;
  if (argument) received->firstByte = *static_cast<UInt8*>(argument);
}

TEST(IOKitBufferedFrames, AMessageReadWithAReplyStillWakesThePort) {
  corvimus::testing::TempDir dir;
  std::string path = dir / "driver.sock";
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ASSERT_EQ(0, listen(listener, 1));
  pid_t driver = fork();
  if (driver == 0) RunDriver(listener);
  close(listener);

  IOKitSetDriverPlacesForTesting("", path.c_str());
  mach_port_t master = 0;
  ASSERT_EQ(KERN_SUCCESS, IOMasterPort(MACH_PORT_NULL, &master));
  IONotificationPortRef port = IONotificationPortCreate(master);
  io_iterator_t added = 0;
  ASSERT_EQ(KERN_SUCCESS, IOServiceAddMatchingNotification(
                              port, kIOFirstMatchNotification, IOServiceMatching("Corvimus"),
                              [](void*, io_iterator_t) {}, nullptr, &added));
  io_service_t service = IOIteratorNext(added);
  ASSERT_NE(0u, service);
  io_connect_t connection = 0;
  ASSERT_EQ(KERN_SUCCESS, IOServiceOpen(service, mach_task_self(), 0, &connection));
  Received received;
  io_object_t interest = 0;
  ASSERT_EQ(KERN_SUCCESS, IOServiceAddInterestNotification(port, service, kIOGeneralInterest,
                                                           OnMessage, &received, &interest));
  // Everything so far taken in: the port is quiet.
  IONotificationPortDispatch(port);
  pollfd quiet{IONotificationPortGetFileDescriptor(port), POLLIN, 0};
  ASSERT_EQ(0, poll(&quiet, 1, 0));
  ASSERT_EQ(0, received.count);

  int out = 0;
  ASSERT_EQ(KERN_SUCCESS, IOConnectMethodScalarIScalarO(connection, 1, 3, 1, int(connection),
                                                        int(FourCC("CVtk")), 0, &out));

  // The message is in hand already, so the port is readable at once, not at some later wake-up.
  pollfd p{IONotificationPortGetFileDescriptor(port), POLLIN, 0};
  EXPECT_EQ(1, poll(&p, 1, 0)) << "the port did not wake for the buffered message";
  IONotificationPortDispatch(port);
  EXPECT_EQ(1, received.count);
  EXPECT_EQ(FourCC("CVda"), received.type);
  EXPECT_EQ(0x4B, received.firstByte);

  IOServiceClose(connection);
  IOObjectRelease(interest);
  IOObjectRelease(service);
  IOObjectRelease(added);
  IONotificationPortDestroy(port);
  IOKitShutdownForTesting();
  int status = 0;
  waitpid(driver, &status, 0);
}

}  // namespace
