#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppleEventFrames.h"
#include "platform/AppleEvents.h"
#include "platform/EventLoop.h"
#include "platform/Processes.h"
#include "platform/RuntimeFolder.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using corvimus::testing::ChildProcess;
using corvimus::testing::TempDir;

namespace {

constexpr AEEventClass kTestClass = FourCC("Cvts");

class AppleEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    SetProcessScopeForTesting(getpid());
  }
  void TearDown() override { SetProcessScopeForTesting(0); }

  // Starts the peer program and waits until it is reachable.
  void StartPeer(ChildProcess* peer, ProcessSerialNumber* psn) {
    ASSERT_TRUE(peer->Start({TEST_PEER_PATH}));
    std::string line;
    ASSERT_TRUE(peer->ReadLine(&line));
    ASSERT_EQ(line, "ready");
    ASSERT_EQ(GetProcessForPID(peer->pid(), psn), noErr);
  }

  std::string SocketPath(const ProcessSerialNumber& psn) {
    return runtime_.path() + "/corvimus/ae-" + std::to_string(psn.lowLongOfPSN) + "-" +
           std::to_string(psn.highLongOfPSN) + ".sock";
  }

  TempDir runtime_;
};

OSErr Send(const ProcessSerialNumber& psn, AEEventClass cls, AEEventID id, DescType type,
           const void* data, Size size, AESendMode mode, SInt32 ticks, AppleEvent* reply) {
  AEAddressDesc target;
  OSErr err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  if (err != noErr) return err;
  AppleEvent event;
  err = AECreateAppleEvent(cls, id, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  AEDisposeDesc(&target);
  if (err != noErr) return err;
  if (data) err = AEPutParamPtr(&event, keyDirectObject, type, data, size);
  if (err == noErr) err = AESend(&event, reply, mode, kAENormalPriority, ticks, nullptr, nullptr);
  AEDisposeDesc(&event);
  return err;
}

TEST_F(AppleEventsTest, ReplyCarriesTheDirectObjectBackWhole) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  std::vector<UInt8> payload(1804);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = UInt8(i * 7);
  for (int round = 0; round < 3; ++round) {  // the second and third reuse the connection
    AppleEvent reply;
    ASSERT_EQ(Send(psn, kTestClass, FourCC("echo"), FourCC("CVct"), payload.data(),
                   Size(payload.size()), kAEWaitReply, 15, &reply),
              noErr);
    std::vector<UInt8> back(2000, 0xEE);
    DescType type = 0;
    Size size = 0;
    ASSERT_EQ(
        AEGetParamPtr(&reply, keyDirectObject, FourCC("CVct"), &type, back.data(), 1804, &size),
        noErr);
    EXPECT_EQ(type, FourCC("CVct"));
    EXPECT_EQ(size, 1804);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), back.begin()));
    EXPECT_EQ(back[1804], 0xEE);  // nothing past the bound
    // A smaller bound copies less but reports the full size.
    std::vector<UInt8> small(10, 0xEE);
    ASSERT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeWildCard, &type, small.data(), 4, &size),
              noErr);
    EXPECT_EQ(size, 1804);
    EXPECT_EQ(small[4], 0xEE);
    EXPECT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeChar, &type, small.data(), 4, &size),
              errAECoercionFail);
    EXPECT_EQ(AEGetParamPtr(&reply, keyErrorNumber, typeWildCard, &type, small.data(), 4, &size),
              errAEDescNotFound);
    AEDisposeDesc(&reply);
  }
}

TEST_F(AppleEventsTest, SlowHandlerTimesOutAndItsLateAnswerIsNotTakenForTheNext) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  SInt32 delayMs = 600;
  AppleEvent reply;
  EXPECT_EQ(Send(psn, kTestClass, FourCC("slow"), typeSInt32, &delayMs, sizeof delayMs,
                 kAEWaitReply, 15, &reply),
            errAETimeout);
  EXPECT_EQ(reply.descriptorType, typeNull);
  // The next event waits behind the slow one and must get its own reply, not the late one.
  SInt32 marker = 4242;
  ASSERT_EQ(Send(psn, kTestClass, FourCC("echo"), typeSInt32, &marker, sizeof marker, kAEWaitReply,
                 kAEDefaultTimeout, &reply),
            noErr);
  SInt32 got = 0;
  ASSERT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeSInt32, nullptr, &got, sizeof got, nullptr),
            noErr);
  EXPECT_EQ(got, 4242);
  AEDisposeDesc(&reply);
}

TEST_F(AppleEventsTest, HandlerErrorsAndUnhandledEventsComeBackInTheReply) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  SInt32 error = -5123;
  AppleEvent reply;
  ASSERT_EQ(Send(psn, kTestClass, FourCC("fail"), typeSInt32, &error, sizeof error, kAEWaitReply,
                 60, &reply),
            noErr);
  SInt32 number = 0;
  ASSERT_EQ(
      AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, &number, sizeof number, nullptr),
      noErr);
  EXPECT_EQ(number, -5123);
  AEDisposeDesc(&reply);
  ASSERT_EQ(Send(psn, kTestClass, FourCC("none"), 0, nullptr, 0, kAEWaitReply, 60, &reply), noErr);
  ASSERT_EQ(
      AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, &number, sizeof number, nullptr),
      noErr);
  EXPECT_EQ(number, errAEEventNotHandled);
  AEDisposeDesc(&reply);
}

TEST_F(AppleEventsTest, QuitEventEndsTheOtherProgramsLoop) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  std::string socket = SocketPath(psn);
  ASSERT_TRUE(std::filesystem::exists(socket));
  EXPECT_EQ(Send(psn, kCoreEventClass, kAEQuitApplication, 0, nullptr, 0, kAENoReply,
                 kAEDefaultTimeout, nullptr),
            noErr);
  int status = -1;
  ASSERT_TRUE(peer.Wait(&status));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(std::filesystem::exists(socket));  // removed on the way out
  // Gone: no such process any more.
  EXPECT_EQ(Send(psn, kCoreEventClass, kAEQuitApplication, 0, nullptr, 0, kAENoReply,
                 kAEDefaultTimeout, nullptr),
            procNotFound);
}

TEST_F(AppleEventsTest, NoReplyEventsArriveInOrder) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  for (const char* text : {"one", "two", "three"})
    ASSERT_EQ(Send(psn, kTestClass, FourCC("note"), typeChar, text, Size(strlen(text)), kAENoReply,
                   kAEDefaultTimeout, nullptr),
              noErr);
  std::string line;
  for (const char* text : {"one", "two", "three"}) {
    ASSERT_TRUE(peer.ReadLine(&line));
    EXPECT_EQ(line, std::string("note ") + text);
  }
}

TEST_F(AppleEventsTest, GarbageOnTheSocketClosesOnlyThatConnection) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  std::string path = SocketPath(psn);
  auto connectRaw = [&]() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  };
  std::vector<std::string> garbage = {
      "GET / HTTP/1.0\r\n\r\n",
      std::string("CvAE\x01\x00\x01\x00\xFF\xFF\xFF\x7F\x00\x00\x00\x00", 16),  // oversized
      std::string("CvAE\x01\x00\x01\x00\x20\x00\x00\x00\x00\x00\x00\x00", 16),  // then nothing
      std::string(70000, '\0'),
  };
  int quiet = connectRaw();  // stays open and silent through it all
  for (const auto& g : garbage) {
    int fd = connectRaw();
    send(fd, g.data(), g.size(), MSG_NOSIGNAL);
    if (g.size() != 16 || g[8] != 0x20) {
      char c;
      EXPECT_EQ(recv(fd, &c, 1, 0), 0) << "the peer should hang up on garbage";
    }
    close(fd);
  }
  SInt32 marker = 77;
  AppleEvent reply;
  ASSERT_EQ(Send(psn, kTestClass, FourCC("echo"), typeSInt32, &marker, sizeof marker, kAEWaitReply,
                 120, &reply),
            noErr);
  SInt32 got = 0;
  EXPECT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeSInt32, nullptr, &got, sizeof got, nullptr),
            noErr);
  EXPECT_EQ(got, 77);
  AEDisposeDesc(&reply);
  close(quiet);
}

// A process of the same user that holds connections to the peer's socket until told to let go.
// With `requests` each connection also asks that many times for a reply of 60000 bytes, and never
// reads the replies.
class Holder {
 public:
  Holder(const std::string& path, int connections, int requests = 0) {
    int release[2], ready[2];
    if (pipe(release) != 0 || pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Nothing of the test's but the two pipe ends: a copy of another holder's release end (or
      // of the peer's input) kept here would keep that one from ever ending.
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != release[0] && fd != ready[1]) close(fd);
      std::vector<UInt8> frame;
      if (requests > 0) {
        corvimus::ae::FrameMessage fill;
        fill.flags = corvimus::ae::kFrameFlagWantsReply;
        fill.eventClass = kTestClass;
        fill.eventID = FourCC("fill");
        SInt32 size = 60000;
        std::vector<UInt8> bytes(sizeof size);
        std::memcpy(bytes.data(), &size, sizeof size);
        fill.params.push_back({keyDirectObject, typeSInt32, bytes});
        corvimus::ae::EncodeFrame(fill, &frame);
      }
      for (int i = 0; i < connections; ++i) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(2);
        for (int r = 0; r < requests; ++r)
          if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) break;
      }
      char c = 'r';
      if (write(ready[1], &c, 1) != 1) _exit(3);
      while (read(release[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(release[0]);
    close(ready[1]);
    release_ = release[1];
    char c;
    ready_ = read(ready[0], &c, 1) == 1;
    close(ready[0]);
  }
  ~Holder() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool ready_ = false;
};

OSErr Echo(const ProcessSerialNumber& psn, SInt32 marker, SInt32 ticks) {
  AppleEvent reply;
  OSErr err = Send(psn, kTestClass, FourCC("echo"), typeSInt32, &marker, sizeof marker,
                   kAEWaitReply, ticks, &reply);
  SInt32 got = 0;
  if (err == noErr)
    err = AEGetParamPtr(&reply, keyDirectObject, typeSInt32, nullptr, &got, sizeof got, nullptr);
  AEDisposeDesc(&reply);
  return err == noErr && got != marker ? OSErr(errAECorruptData) : err;
}

TEST_F(AppleEventsTest, ConnectionsHeldOpenDoNotLockOthersOut) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  {
    // One program holding every place there is.
    Holder greedy(SocketPath(psn), 64);
    ASSERT_TRUE(greedy.ready());
    EXPECT_EQ(Echo(psn, 1, 600), noErr);
  }
  {
    // Sixteen programs holding four each, every place again.
    std::vector<std::unique_ptr<Holder>> many;
    for (int i = 0; i < 16; ++i) {
      many.push_back(std::make_unique<Holder>(SocketPath(psn), 4));
      ASSERT_TRUE(many.back()->ready());
    }
    EXPECT_EQ(Echo(psn, 2, 600), noErr);
  }
}

TEST_F(AppleEventsTest, ClientsThatNeverReadTheirRepliesDoNotHoldUpOthers) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  // Sixteen connections that ask for far more than a socket holds: a server that waited for each
  // reader in turn would keep the next client waiting for many seconds.
  std::vector<std::unique_ptr<Holder>> sleepers;
  for (int i = 0; i < 4; ++i) {
    sleepers.push_back(std::make_unique<Holder>(SocketPath(psn), 4, 16));
    ASSERT_TRUE(sleepers.back()->ready());
  }
  EXPECT_EQ(Echo(psn, 3, 300), noErr);
  EXPECT_EQ(Echo(psn, 4, 300), noErr);
}

TEST_F(AppleEventsTest, AConnectionThatBringsNoEventIsClosed) {
  ChildProcess peer;
  ASSERT_TRUE(peer.Start({TEST_PEER_PATH, "--idle-ms", "200"}));
  std::string line;
  ASSERT_TRUE(peer.ReadLine(&line));
  ASSERT_EQ(line, "ready");
  ProcessSerialNumber psn;
  ASSERT_EQ(GetProcessForPID(peer.pid(), &psn), noErr);
  for (const std::string& start : {std::string(), std::string("CvAE\x01\x00", 6)}) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, SocketPath(psn).c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Silence, or the start of a frame that never ends.
    if (!start.empty()) send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 20000), 1) << "the connection was never closed";
    char c;
    EXPECT_EQ(recv(fd, &c, 1, 0), 0);
    close(fd);
  }
  // A sender whose cached connection was closed simply connects again.
  EXPECT_EQ(Echo(psn, 5, 120), noErr);
  usleep(400 * 1000);
  EXPECT_EQ(Echo(psn, 6, 120), noErr);
}

// An event sent without reply to a process that hangs and so reads nothing: the sender is held up
// a moment at most each time a socket is full, never for the time-out's minute.
TEST_F(AppleEventsTest, AReceiverThatReadsNothingDoesNotHoldUpANoReplySender) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  SInt32 hangMs = 60000;
  ASSERT_EQ(Send(psn, kTestClass, FourCC("slow"), typeSInt32, &hangMs, sizeof hangMs, kAENoReply,
                 kAEDefaultTimeout, nullptr),
            noErr);

  // The sends run in a child, so that a sender held for the minute can be told apart and ended.
  pid_t sender = fork();
  if (sender == 0) {
    std::vector<char> big(60000, 'b');
    for (int i = 0; i < 24; ++i) {
      OSErr err = Send(psn, kTestClass, FourCC("note"), typeChar, big.data(), Size(big.size()),
                       kAENoReply, kAEDefaultTimeout, nullptr);
      if (err != noErr && err != errAETimeout) _exit(2);
    }
    _exit(0);
  }
  int status = -1;
  for (int i = 0; i < 200 && waitpid(sender, &status, WNOHANG) == 0; ++i) usleep(100 * 1000);
  if (waitpid(sender, &status, WNOHANG) == 0) {
    kill(sender, SIGKILL);
    waitpid(sender, &status, 0);
    ADD_FAILURE() << "a receiver that does not read held the sender up";
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

TEST_F(AppleEventsTest, ReusedPidIsNotTheOldProcess) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  // The serial number an earlier process with the same pid would have had, with the socket it left.
  ProcessSerialNumber old = psn;
  old.highLongOfPSN -= 1;
  std::string stale = SocketPath(old);
  {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, stale.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
  }
  Boolean same = true;
  ASSERT_EQ(SameProcess(&old, &psn, &same), noErr);
  EXPECT_FALSE(same);
  ProcessInfoRec info{};
  EXPECT_EQ(GetProcessInformation(&old, &info), procNotFound);
  pid_t pid;
  EXPECT_EQ(GetProcessPID(&old, &pid), procNotFound);
  const char* text = "for the old one";
  EXPECT_EQ(Send(old, kTestClass, FourCC("note"), typeChar, text, Size(strlen(text)), kAENoReply,
                 kAEDefaultTimeout, nullptr),
            procNotFound);
  EXPECT_FALSE(std::filesystem::exists(stale));  // cleaned up
  // The new process got nothing: the next thing it prints is the answer to this.
  text = "for the new one";
  ASSERT_EQ(Send(psn, kTestClass, FourCC("note"), typeChar, text, Size(strlen(text)), kAENoReply,
                 kAEDefaultTimeout, nullptr),
            noErr);
  std::string line;
  ASSERT_TRUE(peer.ReadLine(&line));
  EXPECT_EQ(line, "note for the new one");
}

TEST_F(AppleEventsTest, SocketsOfEndedProcessesAreRemovedWhenAProcessStartsListening) {
  ChildProcess first;
  ProcessSerialNumber gone;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&first, &gone));
  std::string socket = SocketPath(gone);
  first.Signal(SIGKILL);  // no chance to clean up
  int status;
  ASSERT_TRUE(first.Wait(&status));
  ASSERT_TRUE(std::filesystem::exists(socket));
  ChildProcess second;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&second, &psn));
  EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(AppleEventsTest, InterruptRunsTheInstalledHandler) {
  ChildProcess peer;
  ProcessSerialNumber psn;
  ASSERT_NO_FATAL_FAILURE(StartPeer(&peer, &psn));
  peer.Signal(SIGINT);
  std::string line;
  ASSERT_TRUE(peer.ReadLine(&line));
  EXPECT_EQ(line, "interrupt");
  int status = -1;
  ASSERT_TRUE(peer.Wait(&status));
  EXPECT_EQ(status, 0);
}

OSErr Doubler(const AppleEvent* event, AppleEvent* reply, SRefCon refcon) {
  ++*static_cast<int*>(refcon);
  SInt32 v = 0;
  OSErr err = AEGetParamPtr(event, keyDirectObject, typeSInt32, nullptr, &v, sizeof v, nullptr);
  if (err != noErr) return err;
  if (reply->descriptorType == typeNull) return noErr;  // sent without reply
  v *= 2;
  return AEPutParamPtr(reply, keyDirectObject, typeSInt32, &v, sizeof v);
}

TEST_F(AppleEventsTest, EventsToOneselfRunTheHandlerDirectly) {
  int calls = 0;
  ASSERT_EQ(AEInstallEventHandler(kTestClass, FourCC("dbl "), Doubler, &calls, 0), noErr);
  ProcessSerialNumber self{0, kCurrentProcess};
  SInt32 v = 21;
  AppleEvent reply;
  ASSERT_EQ(
      Send(self, kTestClass, FourCC("dbl "), typeSInt32, &v, sizeof v, kAEWaitReply, 15, &reply),
      noErr);
  SInt32 got = 0;
  EXPECT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeSInt32, nullptr, &got, sizeof got, nullptr),
            noErr);
  EXPECT_EQ(got, 42);
  AEDisposeDesc(&reply);
  EXPECT_EQ(
      Send(self, kTestClass, FourCC("dbl "), typeSInt32, &v, sizeof v, kAENoReply, 15, nullptr),
      noErr);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(AERemoveEventHandler(kTestClass, FourCC("dbl "), Doubler, 0), noErr);
  EXPECT_EQ(AERemoveEventHandler(kTestClass, FourCC("dbl "), Doubler, 0), errAEHandlerNotFound);
}

TEST_F(AppleEventsTest, ProcessWithItsOwnLoopHandlesEventsThroughTheDescriptor) {
  int calls = 0;
  ASSERT_EQ(AEInstallEventHandler(kTestClass, FourCC("dbl "), Doubler, &calls, 0), noErr);
  int fd = AEGetEventDescriptor();
  ASSERT_GE(fd, 0);
  ProcessSerialNumber self;
  ASSERT_EQ(GetCurrentProcess(&self), noErr);
  // A child process sends to this one; this one only watches the descriptor.
  pid_t child = fork();
  if (child == 0) {
    SInt32 v = 5;
    OSErr err = Send(self, kTestClass, FourCC("dbl "), typeSInt32, &v, sizeof v, kAENoReply,
                     kAEDefaultTimeout, nullptr);
    _exit(err == noErr ? 0 : 1);
  }
  pollfd p{fd, POLLIN, 0};
  for (int i = 0; i < 600 && calls == 0; ++i) {
    if (poll(&p, 1, 50) > 0) {
      EXPECT_EQ(AEProcessPendingEvents(), noErr);
    }
  }
  int status;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(AppleEventsTest, BadArgumentsAreRefused) {
  AEDesc desc;
  EXPECT_EQ(AECreateDesc(typeChar, nullptr, 4, &desc), paramErr);
  EXPECT_EQ(AECreateDesc(typeChar, "ab", -1, &desc), paramErr);
  ASSERT_EQ(AECreateDesc(typeChar, "abcd", 4, &desc), noErr);
  EXPECT_EQ(AEGetDescDataSize(&desc), 4);
  char text[4];
  EXPECT_EQ(AEGetDescData(&desc, text, 4), noErr);
  EXPECT_EQ(std::string(text, 4), "abcd");
  AppleEvent event;
  // Not a process serial number.
  EXPECT_EQ(AECreateAppleEvent(kTestClass, FourCC("echo"), &desc, kAutoGenerateReturnID,
                               kAnyTransactionID, &event),
            paramErr);
  EXPECT_EQ(AEPutParamPtr(&desc, keyDirectObject, typeChar, "x", 1), errAENotAppleEvent);
  EXPECT_EQ(AESend(&desc, nullptr, kAENoReply, kAENormalPriority, 1, nullptr, nullptr),
            errAENotAppleEvent);
  AEDisposeDesc(&desc);
  EXPECT_EQ(desc.descriptorType, typeNull);
  ProcessSerialNumber psn{0, kCurrentProcess};
  ASSERT_EQ(AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &desc), noErr);
  ASSERT_EQ(AECreateAppleEvent(kTestClass, FourCC("echo"), &desc, kAutoGenerateReturnID,
                               kAnyTransactionID, &event),
            noErr);
  AEDisposeDesc(&desc);
  EXPECT_EQ(AESend(&event, nullptr, kAEQueueReply, kAENormalPriority, 1, nullptr, nullptr),
            errAEUnknownSendMode);
  EXPECT_EQ(AESend(&event, nullptr, kAEWaitReply, kAENormalPriority, 1, nullptr, nullptr),
            paramErr);
  std::vector<char> huge(70000);
  EXPECT_EQ(AEPutParamPtr(&event, keyDirectObject, typeChar, huge.data(), Size(huge.size())),
            paramErr);
  char out[4];
  EXPECT_EQ(AEGetParamPtr(&event, keyDirectObject, typeChar, nullptr, out, -1, nullptr), paramErr);
  AEDisposeDesc(&event);
}

TEST(RuntimeFolder, IsPrivateAndRefusesASymbolicLink) {
  TempDir dir;
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  std::string folder;
  ASSERT_EQ(GetCorvimusRuntimeFolder(&folder), noErr);
  EXPECT_EQ(folder, dir.path() + "/corvimus");
  struct stat st;
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  chmod(folder.c_str(), 0755);
  ASSERT_EQ(GetCorvimusRuntimeFolder(&folder), noErr);
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  TempDir other;
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  ASSERT_EQ(symlink(other.path().c_str(), folder.c_str()), 0);
  EXPECT_EQ(GetCorvimusRuntimeFolder(&folder), permErr);

  // Without the variable (or with a relative one): a folder of this user's own in /tmp.
  for (const char* value : {static_cast<const char*>(nullptr), "relative/dir"}) {
    if (value)
      setenv("XDG_RUNTIME_DIR", value, 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(GetCorvimusRuntimeFolder(&folder), noErr);
    EXPECT_EQ(folder, "/tmp/corvimus-" + std::to_string(getuid()));
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
