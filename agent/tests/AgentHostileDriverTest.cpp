// The agent's passes over its mice beside a driver that answers late or breaks the protocol: the
// mice of another driver still get every record, at once. The agent's own code runs in this
// process against two scripted drivers on real sockets.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "agent/AgentConnections.h"
#include "agent/AgentGlobals.h"
#include "testing/ScriptedDriver.h"
#include "testing/TempDir.h"

namespace {

using corvimus::DriverFrame;
using corvimus::testing::ScriptedDriver;
using corvimus::testing::TempDir;

// The speeds of the settings records a driver was given, in order.
class PushLog {
 public:
  void Record(const DriverFrame& call, DriverFrame* reply) {
    reply->result = 0;
    if (call.selector != kCorvimusSelectorSetPrefs || call.data.size() != sizeof(CorvimusPrefsRec))
      return;
    CorvimusPrefsRec record;
    std::memcpy(&record, call.data.data(), sizeof record);
    std::lock_guard lock(mutex_);
    speeds_.push_back(record.device[0].speed);
  }
  std::vector<UInt8> speeds() {
    std::lock_guard lock(mutex_);
    return speeds_;
  }

 private:
  std::mutex mutex_;
  std::vector<UInt8> speeds_;
};

class AgentBesideAHostileDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((dir_ / "sys").c_str(), 0700);
    mkdir((dir_ / "user").c_str(), 0700);
    // The hostile driver sits at the system place, which the agent connects to first, so its
    // mouse comes first in every pass.
    IOKitSetDriverPlacesForTesting((dir_ / "sys/driver.sock").c_str(),
                                   (dir_ / "user/driver.sock").c_str());
    hostile_.Publish(1);
    good_.Publish(1);
    good_.OnCall([this](const DriverFrame& call, DriverFrame* reply) { log_.Record(call, reply); });
    ASSERT_TRUE(hostile_.Start());
    ASSERT_TRUE(good_.Start());
    // The agent's start-up, as far as the drivers go.
    ResetCurrentPrefs();
    mach_port_t master = 0;
    ASSERT_EQ(KERN_SUCCESS, IOMasterPort(MACH_PORT_NULL, &master));
    gNotifyPort = IONotificationPortCreate(master);
    ASSERT_NE(nullptr, gNotifyPort);
    ASSERT_EQ(KERN_SUCCESS,
              IOServiceAddMatchingNotification(gNotifyPort, kIOFirstMatchNotification,
                                               IOServiceMatching(kCorvimusServiceClass),
                                               DeviceAdded, nullptr, &gAddedIter));
    DeviceAdded(nullptr, gAddedIter);
    ASSERT_EQ(2, CountDriverConnections());
    ASSERT_TRUE(Dispatch([&] { return log_.speeds().size() == 1; }));
  }
  void TearDown() override {
    while (gConnections) DropDriverConnection(gConnections->connection);
    IOKitShutdownForTesting();
    gNotifyPort = nullptr;
    gAddedIter = 0;
  }

  // Serves the notification port as the agent's loop does until `done` holds (10 s at most).
  bool Dispatch(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
      pollfd p{IONotificationPortGetFileDescriptor(gNotifyPort), POLLIN, 0};
      if (poll(&p, 1, 10) > 0) IONotificationPortDispatch(gNotifyPort);
    }
    return done();
  }

  OSStatus Push(UInt8 speed) {
    gCurrentPrefs->device[0].speed = speed;
    return PushSettingsToDrivers();
  }

  TempDir dir_;
  ScriptedDriver hostile_{dir_ / "sys/driver.sock"};
  ScriptedDriver good_{dir_ / "user/driver.sock"};
  PushLog log_;
};

TEST_F(AgentBesideAHostileDriver, ADriverAnsweringLateDoesNotKeepTheRecordFromTheOthers) {
  hostile_.HoldAnswers();
  // The late driver's connection is passed over, not taken for a refusal that ends the pass; the
  // other driver's mouse has its record by the time the pass is over.
  EXPECT_EQ(kIOReturnTimeout, Push(40));
  EXPECT_EQ(40, log_.speeds().back());
  EXPECT_NE(OSStatus(0), Push(41));
  EXPECT_EQ(41, log_.speeds().back());
  hostile_.ReleaseAnswers();
  ASSERT_TRUE(Dispatch([&] { return Push(42) == 0; }));
  EXPECT_EQ(42, log_.speeds().back());
  EXPECT_EQ(2, CountDriverConnections());
}

TEST_F(AgentBesideAHostileDriver, ADriverBreakingTheProtocolDoesNotKeepTheRecordFromTheOthers) {
  // Half a frame, then garbage where the rest should be: read while the pass waits for its answer.
  hostile_.HoldAnswers();
  hostile_.SendRaw({0x40, 0, 0, 0, 1, 0x0D, 0, 0, 0, 0, 0, 0, 0xDE, 0xAD});
  EXPECT_NE(OSStatus(0), Push(50));
  EXPECT_EQ(50, log_.speeds().back());
  hostile_.SendRaw(std::vector<UInt8>(64, 0xFF));
  Push(51);
  EXPECT_EQ(51, log_.speeds().back());
  // Its mouse goes with it.
  ASSERT_TRUE(Dispatch([&] { return CountDriverConnections() == 1; }));
  EXPECT_EQ(0, Push(52));
  EXPECT_EQ(52, log_.speeds().back());
}

TEST_F(AgentBesideAHostileDriver, ARefusalStillEndsThePass) {
  hostile_.OnCall([](const DriverFrame&, DriverFrame* reply) { reply->result = kIOReturnBadArgument; });
  size_t before = log_.speeds().size();
  EXPECT_EQ(kIOReturnBadArgument, Push(60));
  EXPECT_EQ(before, log_.speeds().size());
}

}  // namespace
