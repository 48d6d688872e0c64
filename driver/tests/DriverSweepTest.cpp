// Garbage, cut-off frames and lying lengths sent to a running corvimus-simdriver: each bad peer is
// dropped, and the driver goes on serving everyone else.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "platform/ByteOrder.h"
#include "platform/DriverProtocol.h"
#include "platform/IOKit.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::ChildProcess;
using corvimus::testing::TempDir;

namespace {

class RawPeer {
 public:
  explicit RawPeer(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawPeer() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::vector<UInt8>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;  // the driver may hang up on us mid-way: that is the point
      done += size_t(n);
    }
  }
  // True when the driver closes the stream within the time (whatever it sent before).
  bool ClosedByDriver(int timeoutMs = 5000) {
    UInt8 buf[65536];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return false;
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return true;
    }
  }
  // The next frame from the driver, or false.
  bool Receive(DriverFrame* frame, int timeoutMs = 5000) {
    for (;;) {
      if (reader_.Next(frame) == kDriverDecodeOK) return true;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0 || !reader_.ReadFrom(fd_)) return false;
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  DriverFrameReader reader_;
};

std::vector<UInt8> Frame(UInt8 type, UInt32 requestId = 1) {
  DriverFrame f;
  f.type = type;
  f.requestId = requestId;
  std::vector<UInt8> bytes;
  EncodeDriverFrame(f, &bytes);
  return bytes;
}

std::vector<UInt8> Hello() {
  return Frame(kDriverFrameHello);
}

std::vector<UInt8> Join(std::vector<std::vector<UInt8>> parts) {
  std::vector<UInt8> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A greeting, an open of mouse 1 and a settings push: what an agent sends first.
std::vector<UInt8> AgentOpening() {
  DriverFrame open;
  open.type = kDriverFrameOpen;
  open.requestId = 2;
  open.serviceId = 1;
  DriverFrame call;
  call.type = kDriverFrameCall;
  call.requestId = 3;
  call.connectionId = 1;
  call.selector = 0;
  call.scalarCount = 4;
  call.scalars[1] = kCorvimusSetPrefsCode;
  call.scalars[2] = kCorvimusSetPrefsVersion;
  call.data.assign(sizeof(CorvimusPrefsRec), 0);
  std::vector<UInt8> bytes = Hello();
  EncodeDriverFrame(open, &bytes);
  EncodeDriverFrame(call, &bytes);
  return bytes;
}

class DriverSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((dir_ / "run").c_str(), 0700);
    ASSERT_TRUE(sim_.Start({CORVIMUS_SIMDRIVER, "--mice", "1", "--socket", socket_}));
    std::string line;
    ASSERT_TRUE(sim_.ReadLine(&line));
    ASSERT_EQ(line, "ready " + socket_);
  }
  void TearDown() override { IOKitShutdownForTesting(); }

  // The driver still answers its control lines and serves a well-behaved client.
  void ExpectDriverServing() {
    EXPECT_EQ(sim_.Command("show").substr(0, 8), "mouse 1:");
    RawPeer good(socket_);
    ASSERT_TRUE(good.connected());
    good.Send(Join({Hello(), Frame(kDriverFramePing, 2)}));
    DriverFrame f;
    ASSERT_TRUE(good.Receive(&f));
    EXPECT_EQ(f.type, kDriverFrameHelloReply);
    ASSERT_TRUE(good.Receive(&f));
    EXPECT_EQ(f.type, kDriverFramePublish);
    ASSERT_TRUE(good.Receive(&f));
    EXPECT_EQ(f.type, kDriverFramePong);
  }

  TempDir dir_;
  std::string socket_ = dir_ / "run/driver.sock";
  ChildProcess sim_;
};

}  // namespace

TEST_F(DriverSweep, EachKindOfBadFrameHangsUpOnThatPeer) {
  std::vector<UInt8> reservedSet = Frame(kDriverFramePing);
  reservedSet[6] = 1;
  std::vector<UInt8> trailing = Frame(kDriverFramePing, 2);
  trailing.push_back(0);
  StoreU32LE(trailing.data(), UInt32(trailing.size()));
  DriverFrame call;
  call.type = kDriverFrameCall;
  std::vector<UInt8> callBytes;
  EncodeDriverFrame(call, &callBytes);
  callBytes[20] = 17;
  DriverFrame publish;
  publish.type = kDriverFramePublish;
  publish.serviceId = 5;
  publish.className = "Corvimus";
  std::vector<UInt8> publishBytes;
  EncodeDriverFrame(publish, &publishBytes);
  std::mt19937 random(5);
  std::vector<UInt8> noise(1000);
  for (UInt8& b : noise) b = UInt8(random());

  struct Case {
    const char* what;
    std::vector<UInt8> bytes;
  };
  std::vector<Case> cases = {
      {"a 4 GB length", {0xFF, 0xFF, 0xFF, 0xFF}},
      {"a length just over the limit", {0x01, 0x40, 0x00, 0x00, 1, 1}},
      {"a length shorter than a header", {0x0B, 0, 0, 0}},
      {"another version", {12, 0, 0, 0, 9, 1, 0, 0, 0, 0, 0, 0}},
      {"an unknown type", {12, 0, 0, 0, 1, 99, 0, 0, 0, 0, 0, 0}},
      {"reserved bits set", reservedSet},
      {"a ping before the greeting", Frame(kDriverFramePing)},
      {"two greetings", Join({Hello(), Hello()})},
      {"a driver's frame from a client", Join({Hello(), publishBytes})},
      {"a reply from a client", Join({Hello(), Frame(kDriverFramePong)})},
      {"seventeen scalars", Join({Hello(), callBytes})},
      {"bytes after the body", Join({Hello(), trailing})},
      {"noise", noise},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawPeer peer(socket_);
    ASSERT_TRUE(peer.connected());
    peer.Send(c.bytes);
    EXPECT_TRUE(peer.ClosedByDriver());
  }
  ExpectDriverServing();
}

TEST_F(DriverSweep, CutOffAndFlippedOpeningsNeverHurtTheDriver) {
  std::vector<UInt8> opening = AgentOpening();
  // Every cut inside the greeting and the open, and a spread of cuts through the record.
  for (size_t n = 1; n < opening.size(); n += (n < 64 ? 1 : 97)) {
    RawPeer peer(socket_);
    ASSERT_TRUE(peer.connected());
    peer.Send(std::vector<UInt8>(opening.begin(), opening.begin() + long(n)));
  }
  // Every byte of greeting, open and call header flipped: dropped or answered, never a crash.
  for (size_t i = 0; i < 64; ++i) {
    std::vector<UInt8> bytes = opening;
    bytes[i] ^= 0xFF;
    RawPeer peer(socket_);
    ASSERT_TRUE(peer.connected());
    peer.Send(bytes);
  }
  ExpectDriverServing();
  // The driver did not keep the connections of peers that went away.
  EXPECT_EQ(sim_.Command("close 1"), "ok closed 0 connections");
}

TEST_F(DriverSweep, RequestsForThingsThatDoNotExistAreAnsweredNotFatal) {
  RawPeer peer(socket_);
  DriverFrame open;
  open.type = kDriverFrameOpen;
  open.requestId = 2;
  open.serviceId = 77;
  DriverFrame call;
  call.type = kDriverFrameCall;
  call.requestId = 3;
  call.connectionId = 12345;
  DriverFrame close;
  close.type = kDriverFrameClose;
  close.requestId = 4;
  close.connectionId = 12345;
  std::vector<UInt8> bytes = Hello();
  EncodeDriverFrame(open, &bytes);
  EncodeDriverFrame(call, &bytes);
  EncodeDriverFrame(close, &bytes);
  peer.Send(bytes);
  DriverFrame f;
  ASSERT_TRUE(peer.Receive(&f));
  ASSERT_TRUE(peer.Receive(&f));  // mouse 1 published
  ASSERT_TRUE(peer.Receive(&f));
  EXPECT_EQ(f.type, kDriverFrameOpenReply);
  EXPECT_EQ(f.result, kIOReturnNotAttached);
  EXPECT_EQ(f.connectionId, 0u);
  ASSERT_TRUE(peer.Receive(&f));
  EXPECT_EQ(f.type, kDriverFrameCallReply);
  EXPECT_EQ(f.result, kIOReturnNotOpen);
  ASSERT_TRUE(peer.Receive(&f));
  EXPECT_EQ(f.type, kDriverFrameCloseReply);
  EXPECT_EQ(f.result, kIOReturnNotOpen);
  // Another client's connection is not this client's to use.
  RawPeer owner(socket_);
  DriverFrame ownOpen = open;
  ownOpen.serviceId = 1;
  std::vector<UInt8> ownerBytes = Hello();
  EncodeDriverFrame(ownOpen, &ownerBytes);
  owner.Send(ownerBytes);
  ASSERT_TRUE(owner.Receive(&f));
  ASSERT_TRUE(owner.Receive(&f));
  ASSERT_TRUE(owner.Receive(&f));
  ASSERT_EQ(f.result, kIOReturnSuccess);
  call.connectionId = f.connectionId;
  bytes.clear();
  EncodeDriverFrame(call, &bytes);
  peer.Send(bytes);
  ASSERT_TRUE(peer.Receive(&f));
  EXPECT_EQ(f.result, kIOReturnNotOpen);
}

TEST_F(DriverSweep, APeerThatNeverReadsIsDroppedBeforeItsRepliesPileUp) {
  RawPeer peer(socket_);
  std::vector<UInt8> pings = Hello();
  for (int i = 0; i < 200000; ++i) {
    std::vector<UInt8> ping = Frame(kDriverFramePing, UInt32(i + 2));
    pings.insert(pings.end(), ping.begin(), ping.end());
  }
  peer.Send(pings);
  EXPECT_TRUE(peer.ClosedByDriver(20000));
  ExpectDriverServing();
}
