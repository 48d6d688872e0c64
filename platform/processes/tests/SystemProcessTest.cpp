// Events addressed to the system process: the restart request, with logind replaced by a recorder
// (the machine must not restart under a test).
#include <gtest/gtest.h>

#include <vector>

#include "platform/SystemProcess.h"

namespace {

class SystemProcessEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    corvimus::SetRestartRequestForTesting([this](bool interactive) {
      requests_.push_back(interactive);
      return answer_;
    });
  }
  void TearDown() override { corvimus::SetRestartRequestForTesting({}); }

  OSErr Send(AEEventID id, AESendMode mode, AppleEvent* reply = nullptr) {
    const ProcessSerialNumber system{0, kSystemProcess};
    AEAddressDesc target;
    EXPECT_EQ(AECreateDesc(typeProcessSerialNumber, &system, sizeof system, &target), noErr);
    AppleEvent event;
    EXPECT_EQ(AECreateAppleEvent(kCoreEventClass, id, &target, kAutoGenerateReturnID,
                                 kAnyTransactionID, &event),
              noErr);
    OSErr err = AESend(&event, reply, mode, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
    return err;
  }

  std::vector<bool> requests_;
  OSErr answer_ = noErr;
};

TEST_F(SystemProcessEvents, RestartIsAskedOfTheSystemWithTheUserAskedWhenTheModeAllows) {
  EXPECT_EQ(Send(kAERestart, kAENoReply | kAEAlwaysInteract | kAECanSwitchLayer), noErr);
  EXPECT_EQ(Send(kAERestart, kAENoReply | kAECanInteract), noErr);
  EXPECT_EQ(Send(kAERestart, kAENoReply | kAENeverInteract), noErr);
  EXPECT_EQ(Send(kAERestart, kAENoReply), noErr);
  EXPECT_EQ(requests_, (std::vector<bool>{true, true, false, false}));
}

TEST_F(SystemProcessEvents, FailureOfTheRequestIsTheSendingStatus) {
  answer_ = connectionInvalid;
  EXPECT_EQ(Send(kAERestart, kAENoReply | kAEAlwaysInteract), connectionInvalid);
  EXPECT_EQ(requests_.size(), 1u);
}

TEST_F(SystemProcessEvents, OtherEventsAreNotHandledAndRestartNothing) {
  EXPECT_EQ(Send(kAEQuitApplication, kAENoReply), errAEEventNotHandled);
  AppleEvent reply;
  EXPECT_EQ(Send(kAEOpenApplication, kAEWaitReply, &reply), errAEEventNotHandled);
  AEDisposeDesc(&reply);
  EXPECT_TRUE(requests_.empty());
}

TEST_F(SystemProcessEvents, WaitingForAReplyGetsAnAnswer) {
  AppleEvent reply;
  ASSERT_EQ(Send(kAERestart, kAEWaitReply, &reply), noErr);
  AEEventClass eventClass = 0;
  AEEventID eventID = 0;
  EXPECT_EQ(AEGetEventClassAndID(&reply, &eventClass, &eventID), noErr);
  EXPECT_EQ(eventClass, kCoreEventClass);
  EXPECT_EQ(eventID, kAEAnswer);
  AEDisposeDesc(&reply);
}

}  // namespace
