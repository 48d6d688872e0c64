// The IOKit client against a scripted driver on a real socket (a thread of the test), so every
// reply and every fault the client must survive can be produced on purpose.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DriverProtocol.h"
#include "platform/IOKit.h"
#include "testing/ScriptedDriver.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::ScriptedDriver;
using corvimus::testing::TempDir;

namespace {

struct Seen {
  std::vector<io_service_t> matched, terminated;
  struct Message {
    void* refcon;
    io_service_t service;
    natural_t type;
    std::vector<UInt8> argument;
  };
  std::vector<Message> messages;
  int matchCallbacks = 0;
};

void Drain(io_iterator_t it, std::vector<io_service_t>* into) {
  while (io_object_t o = IOIteratorNext(it)) into->push_back(o);
}

void OnMatch(void* refcon, io_iterator_t it) {
  auto* seen = static_cast<Seen*>(refcon);
  ++seen->matchCallbacks;
  Drain(it, &seen->matched);
}
void OnTerminate(void* refcon, io_iterator_t it) {
  Drain(it, &static_cast<Seen*>(refcon)->terminated);
}
Seen* gInterestSeen = nullptr;
void OnInterest(void* refcon, io_service_t service, natural_t type, void* argument) {
  std::vector<UInt8> bytes;
  if (type == 0x43566461 && argument)
    bytes.assign(static_cast<UInt8*>(argument), static_cast<UInt8*>(argument) + 4);
  gInterestSeen->messages.push_back({refcon, service, type, bytes});
}

class IOKitClient : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((dir_ / "sys").c_str(), 0700);
    mkdir((dir_ / "user").c_str(), 0700);
    system_ = dir_ / "sys/driver.sock";
    user_ = dir_ / "user/driver.sock";
    IOKitSetDriverPlacesForTesting(system_.c_str(), user_.c_str());
    gInterestSeen = &seen_;
  }
  void TearDown() override {
    IOKitShutdownForTesting();
    gInterestSeen = nullptr;
  }
  void StartClient() {
    ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &master_), kIOReturnSuccess);
    ASSERT_NE(master_, MACH_PORT_NULL);
    port_ = IONotificationPortCreate(master_);
    ASSERT_NE(port_, nullptr);
    CFMutableDictionaryRef matching = IOServiceMatching("Corvimus");
    CFRetain(matching);
    ASSERT_EQ(IOServiceAddMatchingNotification(port_, kIOFirstMatchNotification, matching, OnMatch,
                                               &seen_, &added_),
              kIOReturnSuccess);
    OnMatch(&seen_, added_);
    ASSERT_EQ(IOServiceAddMatchingNotification(port_, kIOTerminatedNotification, matching,
                                               OnTerminate, &seen_, &gone_),
              kIOReturnSuccess);
    OnTerminate(&seen_, gone_);
  }
  // Serves the port the way an event loop does until the condition holds (or 10 s pass: a hang).
  bool DispatchUntil(const std::function<bool()>& done) {
    int fd = IONotificationPortGetFileDescriptor(port_);
    for (int i = 0; i < 1000 && !done(); ++i) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) IONotificationPortDispatch(port_);
    }
    return done();
  }

  TempDir dir_;
  std::string system_, user_;
  mach_port_t master_ = 0;
  IONotificationPortRef port_ = nullptr;
  io_iterator_t added_ = 0, gone_ = 0;
  Seen seen_;
};

io_connect_t Open(io_service_t service) {
  io_connect_t c = 0;
  EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &c), kIOReturnSuccess);
  return c;
}

}  // namespace

TEST_F(IOKitClient, StartsWithoutAnyDriverAndFindsOneThatAppearsLater) {
  StartClient();
  EXPECT_TRUE(seen_.matched.empty());
  ScriptedDriver driver(user_);
  driver.Publish(1);
  driver.Publish(2);
  ASSERT_TRUE(driver.Start());
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matched.size() == 2; }));
  io_name_t name;
  ASSERT_EQ(IOObjectGetClass(seen_.matched[0], name), kIOReturnSuccess);
  EXPECT_STREQ(name, "Corvimus");
  // A service published while connected arrives the same way.
  driver.Publish(3);
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matched.size() == 3; }));
}

TEST_F(IOKitClient, FindsADriverWhoseFolderIsMadeAfterStartUp) {
  std::string late = dir_ / "late/driver.sock";
  IOKitSetDriverPlacesForTesting("", late.c_str());
  StartClient();
  mkdir((dir_ / "late").c_str(), 0700);
  ScriptedDriver driver(late);
  driver.Publish(7);
  ASSERT_TRUE(driver.Start());
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matched.size() == 1; }));
}

TEST_F(IOKitClient, ServicesOfBothPlacesAreSeenAndADriverLeavingTakesOnlyItsOwn) {
  ScriptedDriver sys(system_), user(user_);
  sys.Publish(1);
  user.Publish(1);  // the same id at another driver is another service
  ASSERT_TRUE(sys.Start());
  ASSERT_TRUE(user.Start());
  StartClient();
  ASSERT_EQ(seen_.matched.size(), 2u);
  EXPECT_NE(seen_.matched[0], seen_.matched[1]);
  io_connect_t c = Open(seen_.matched[1]);
  io_object_t interest = 0;
  ASSERT_EQ(
      IOServiceAddInterestNotification(port_, seen_.matched[1], kIOGeneralInterest, OnInterest,
                                       reinterpret_cast<void*>(uintptr_t(c)), &interest),
      kIOReturnSuccess);
  user.Stop();
  ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
  EXPECT_EQ(seen_.terminated[0], seen_.matched[1]);
  ASSERT_TRUE(DispatchUntil([&] { return !seen_.messages.empty(); }));
  EXPECT_EQ(seen_.messages[0].type, kIOMessageServiceIsTerminated);
  EXPECT_EQ(seen_.messages[0].refcon, reinterpret_cast<void*>(uintptr_t(c)));
  UInt64 in = 1;
  EXPECT_EQ(IOConnectCallMethod(c, 0, &in, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnNotAttached);
  EXPECT_EQ(IOServiceClose(c), kIOReturnSuccess);
  // The other driver's service still works.
  io_connect_t other = Open(seen_.matched[0]);
  EXPECT_EQ(IOConnectCallMethod(other, 0, &in, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnSuccess);
}

TEST_F(IOKitClient, EveryCallFormRoundTripsScalarsAndStructures) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  ASSERT_EQ(seen_.matched.size(), 1u);
  io_connect_t c = Open(seen_.matched[0]);

  int out1 = 0, out2 = 0;
  EXPECT_EQ(IOConnectMethodScalarIScalarO(c, 1, 3, 2, int(c), int(0x4356746B), -1, &out1, &out2),
            kIOReturnSuccess);
  EXPECT_EQ(out1, int(c));
  EXPECT_EQ(out2, 0x4356746B);

  char record[1012];
  for (size_t i = 0; i < sizeof record; ++i) record[i] = char(i * 7);
  std::vector<UInt8> seenStruct;
  std::vector<UInt64> seenScalars;
  driver.OnCall([&](const DriverFrame& f, DriverFrame* r) {
    seenStruct = f.data;
    seenScalars.assign(f.scalars, f.scalars + f.scalarCount);
    r->result = 0;
  });
  EXPECT_EQ(IOConnectMethodScalarIStructureI(c, 0, 4, sizeof record, int(c), int(0x43765365),
                                             0x1100, 0, record),
            kIOReturnSuccess);
  EXPECT_EQ(seenStruct, std::vector<UInt8>(record, record + sizeof record));
  EXPECT_EQ(seenScalars, (std::vector<UInt64>{c, 0x43765365, 0x1100, 0}));

  driver.OnCall([&](const DriverFrame& f, DriverFrame* r) {
    seenScalars.assign(f.scalars, f.scalars + f.scalarCount);
    r->data.assign(f.structOutSize, 0x5A);
  });
  UInt8 info[180] = {};
  IOByteCount size = sizeof info;
  EXPECT_EQ(IOConnectMethodScalarIStructureO(c, 2, 3, &size, int(c), int(0x4D434456), 11, info),
            kIOReturnSuccess);
  EXPECT_EQ(size, 180u);
  EXPECT_EQ(info[0], 0x5A);
  EXPECT_EQ(info[179], 0x5A);
  EXPECT_EQ(seenScalars, (std::vector<UInt64>{c, 0x4D434456, 11}));

  driver.OnCall(nullptr);
  char in[5] = "abcd", back[8] = {};
  IOByteCount backSize = sizeof back;
  EXPECT_EQ(IOConnectMethodStructureIStructureO(c, 3, 4, &backSize, in, back), kIOReturnSuccess);
  EXPECT_EQ(backSize, 4u);
  EXPECT_STREQ(back, "abcd");

  // Sixteen scalars of full width each way.
  UInt64 many[16], echoed[16] = {};
  for (int i = 0; i < 16; ++i) many[i] = ~0ull - UInt64(i);
  UInt32 count = 16;
  EXPECT_EQ(IOConnectCallMethod(c, 9, many, 16, nullptr, 0, echoed, &count, nullptr, nullptr),
            kIOReturnSuccess);
  EXPECT_EQ(count, 16u);
  EXPECT_EQ(std::memcmp(many, echoed, sizeof many), 0);
}

TEST_F(IOKitClient, AReplyWrittenJustBeforeTheDriverLeftStillCounts) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  driver.OnCall([](const DriverFrame&, DriverFrame* r) {
    r->scalarCount = 1;
    r->scalars[0] = 77;
  });
  driver.HangUpAfterNextReply();
  UInt64 in = 0, out = 0;
  UInt32 count = 1;
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnSuccess);
  EXPECT_EQ(out, 77u);
  ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnNotAttached);
}

TEST_F(IOKitClient, TheDriversResultAndRefusalsComeBackUnchanged) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  driver.OnCall([](const DriverFrame&, DriverFrame* r) { r->result = kIOReturnBadArgument; });
  char small[10] = {};
  EXPECT_EQ(IOConnectMethodScalarIStructureI(c, 0, 1, sizeof small, int(c), small),
            kIOReturnBadArgument);
  // Arguments past the protocol's limits are refused before anything is sent.
  std::vector<char> big(kDriverMaxStructSize + 1);
  EXPECT_EQ(IOConnectMethodScalarIStructureI(c, 0, 1, IOByteCount(big.size()), int(c), big.data()),
            kIOReturnBadArgument);
  UInt64 scalars[17] = {};
  EXPECT_EQ(IOConnectCallMethod(c, 0, scalars, 17, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnBadArgument);
  EXPECT_EQ(
      IOConnectCallMethod(0x7777, 0, scalars, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
      kIOReturnBadArgument);
  io_connect_t other = 0;
  EXPECT_EQ(IOServiceOpen(seen_.matched[0], 0x4444, 0, &other), kIOReturnNotPermitted);
  EXPECT_EQ(other, 0u);
}

TEST_F(IOKitClient, ADriverAnsweringWithMoreThanTheBufferHoldsIsDropped) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  driver.OnCall([](const DriverFrame&, DriverFrame* r) { r->data.assign(200, 1); });
  UInt8 info[180];
  std::memset(info, 0xEE, sizeof info);
  IOByteCount size = sizeof info;
  EXPECT_EQ(IOConnectMethodScalarIStructureO(c, 2, 1, &size, int(c), info), kIOReturnIPCError);
  EXPECT_EQ(info[0], 0xEE);  // nothing was copied, not even the first 180 bytes
  ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
}

TEST_F(IOKitClient, InterestMessagesReachEveryRegistrationOfTheirServiceOnly) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  driver.Publish(2);
  ASSERT_TRUE(driver.Start());
  StartClient();
  ASSERT_EQ(seen_.matched.size(), 2u);
  io_object_t n1 = 0, n2 = 0;
  ASSERT_EQ(IOServiceAddInterestNotification(port_, seen_.matched[0], kIOGeneralInterest,
                                             OnInterest, reinterpret_cast<void*>(11), &n1),
            kIOReturnSuccess);
  ASSERT_EQ(IOServiceAddInterestNotification(port_, seen_.matched[1], kIOGeneralInterest,
                                             OnInterest, reinterpret_cast<void*>(22), &n2),
            kIOReturnSuccess);
  EXPECT_EQ(IOServiceAddInterestNotification(port_, seen_.matched[1], "IOBusyInterest", OnInterest,
                                             nullptr, &n2),
            kIOReturnUnsupported);
  driver.Interest(2, 0, 0x43566461, {9, 8, 7, 6});
  ASSERT_TRUE(DispatchUntil([&] { return seen_.messages.size() == 1; }));
  EXPECT_EQ(seen_.messages[0].refcon, reinterpret_cast<void*>(22));
  EXPECT_EQ(seen_.messages[0].service, seen_.matched[1]);
  EXPECT_EQ(seen_.messages[0].argument, (std::vector<UInt8>{9, 8, 7, 6}));

  // A released registration hears nothing more.
  IOObjectRelease(n2);
  driver.Interest(2, 0, 0x43566461, {1, 1, 1, 1});
  driver.Interest(1, 0, 0x43566461, {2, 2, 2, 2});
  ASSERT_TRUE(DispatchUntil([&] { return seen_.messages.size() == 2; }));
  EXPECT_EQ(seen_.messages[1].refcon, reinterpret_cast<void*>(11));
}

TEST_F(IOKitClient, AConnectionTheDriverClosedIsNotClosedAgain) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  io_object_t n = 0;
  IOServiceAddInterestNotification(port_, seen_.matched[0], kIOGeneralInterest, OnInterest,
                                   reinterpret_cast<void*>(uintptr_t(c)), &n);
  driver.Interest(1, 101, kIOMessageServiceWasClosed, {});
  ASSERT_TRUE(DispatchUntil([&] { return seen_.messages.size() == 1; }));
  EXPECT_EQ(seen_.messages[0].type, kIOMessageServiceWasClosed);
  UInt64 in = 0;
  EXPECT_EQ(IOConnectCallMethod(c, 0, &in, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnNotOpen);
  EXPECT_EQ(IOServiceClose(c), kIOReturnSuccess);
  io_connect_t again = Open(seen_.matched[0]);
  EXPECT_EQ(IOServiceClose(again), kIOReturnSuccess);
  EXPECT_EQ(driver.closes(), 1);  // only the second connection was closed by the client
}

TEST_F(IOKitClient, GarbageFromADriverDropsThatDriverAndNothingElse) {
  struct Fault {
    const char* what;
    std::vector<UInt8> bytes;
  };
  DriverFrame reply;
  reply.type = kDriverFrameCloseReply;
  reply.requestId = 999;
  std::vector<UInt8> strayReply;
  EncodeDriverFrame(reply, &strayReply);
  DriverFrame dup;
  dup.type = kDriverFramePublish;
  dup.serviceId = 1;
  dup.className = "Corvimus";
  std::vector<UInt8> duplicate;
  EncodeDriverFrame(dup, &duplicate);
  DriverFrame clientFrame;
  clientFrame.type = kDriverFrameOpen;
  std::vector<UInt8> wrongWay;
  EncodeDriverFrame(clientFrame, &wrongWay);
  std::vector<Fault> faults = {
      {"huge length", {0xFF, 0xFF, 0xFF, 0xFF, 1, 5, 0, 0}},
      {"interest body too short",
       {0x13, 0, 0, 0, 0x01, 0x0D, 0, 0, 0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3}},
      {"a frame of another version", {0x0C, 0, 0, 0, 0x02, 0x03, 0, 0, 0, 0, 0, 0}},
      {"reply without a request", strayReply},
      {"service published twice", duplicate},
      {"a client's frame", wrongWay},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    ScriptedDriver good(system_), bad(user_);
    good.Publish(1);
    bad.Publish(1);
    ASSERT_TRUE(good.Start());
    ASSERT_TRUE(bad.Start());
    StartClient();
    ASSERT_EQ(seen_.matched.size(), 2u);
    bad.SendRaw(fault.bytes);
    ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
    EXPECT_EQ(seen_.terminated[0], seen_.matched[1]);
    io_connect_t c = Open(seen_.matched[0]);
    EXPECT_NE(c, 0u);
    IOKitShutdownForTesting();
    IOKitSetDriverPlacesForTesting(system_.c_str(), user_.c_str());
    seen_ = Seen();
  }
}

TEST_F(IOKitClient, ANotificationStaysQuietUntilItsIteratorIsDrained) {
  ScriptedDriver driver(user_);
  ASSERT_TRUE(driver.Start());
  ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &master_), kIOReturnSuccess);
  port_ = IONotificationPortCreate(master_);
  ASSERT_EQ(
      IOServiceAddMatchingNotification(
          port_, kIOFirstMatchNotification, IOServiceMatching("Corvimus"),
          [](void* r, io_iterator_t) { ++static_cast<Seen*>(r)->matchCallbacks; }, &seen_, &added_),
      kIOReturnSuccess);
  EXPECT_EQ(IOIteratorNext(added_), 0u);  // drained: armed
  driver.Publish(1);
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matchCallbacks == 1; }));
  driver.Publish(2);  // the callback above did not drain: no second callback
  driver.Interest(2, 0, 1, {});
  int fd = IONotificationPortGetFileDescriptor(port_);
  for (int i = 0; i < 20; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) IONotificationPortDispatch(port_);
  }
  EXPECT_EQ(seen_.matchCallbacks, 1);
  std::vector<io_service_t> got;
  Drain(added_, &got);
  EXPECT_EQ(got.size(), 2u);
  driver.Publish(3);
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matchCallbacks == 2; }));
}

TEST_F(IOKitClient, MatchingDictionariesAndObjectsCountTheirReferences) {
  ScriptedDriver driver(user_);
  driver.Publish(1, {{"Transport", "Bluetooth"}});
  driver.Publish(2, {{"Transport", "USB"}});
  ASSERT_TRUE(driver.Start());
  ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &master_), kIOReturnSuccess);
  port_ = IONotificationPortCreate(master_);
  CFMutableDictionaryRef matching = IOServiceMatching("Corvimus");
  EXPECT_EQ(CFGetRetainCount(matching), 1);
  CFRetain(matching);
  CFRetain(matching);
  EXPECT_EQ(CFGetRetainCount(matching), 3);
  ASSERT_EQ(IOServiceAddMatchingNotification(port_, kIOFirstMatchNotification, matching, OnMatch,
                                             &seen_, &added_),
            kIOReturnSuccess);
  EXPECT_EQ(CFGetRetainCount(matching), 2);  // one reference went to the notification
  EXPECT_EQ(IOServiceAddMatchingNotification(port_, "IOServicePublish", matching, OnMatch, &seen_,
                                             &gone_),
            kIOReturnUnsupported);
  EXPECT_EQ(CFGetRetainCount(matching), 1);  // consumed even on failure
  CFDictionarySetCString(matching, "Transport", "Bluetooth");
  io_iterator_t bluetooth = 0;
  ASSERT_EQ(IOServiceAddMatchingNotification(port_, kIOFirstMatchNotification, matching, OnMatch,
                                             &seen_, &bluetooth),
            kIOReturnSuccess);
  std::vector<io_service_t> all, onlyBluetooth;
  Drain(added_, &all);
  Drain(bluetooth, &onlyBluetooth);
  ASSERT_EQ(all.size(), 2u);
  ASSERT_EQ(onlyBluetooth.size(), 1u);
  EXPECT_EQ(onlyBluetooth[0], all[0]);
  // Registry + two handed out references.
  EXPECT_EQ(IOObjectGetRetainCount(all[0]), 3u);
  IOObjectRelease(onlyBluetooth[0]);
  IOObjectRelease(all[0]);
  EXPECT_EQ(IOObjectGetRetainCount(all[0]), 1u);
  driver.Terminate(1);
  ASSERT_TRUE(DispatchUntil([&] { return IOObjectGetRetainCount(all[0]) == 0; }));
  EXPECT_EQ(IOObjectRelease(all[0]), kIOReturnBadArgument);
  EXPECT_EQ(IOObjectRelease(added_), kIOReturnSuccess);
  EXPECT_EQ(IOIteratorNext(added_), 0u);
  EXPECT_EQ(CFRetain(nullptr), nullptr);
  EXPECT_EQ(IOServiceMatching(nullptr), nullptr);
}

TEST_F(IOKitClient, TheRunLoopSourceServesThePort) {
  ScriptedDriver driver(user_);
  ASSERT_TRUE(driver.Start());
  StartClient();
  IORunLoopSourceRef source = IONotificationPortGetRunLoopSource(port_);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->fd, IONotificationPortGetFileDescriptor(port_));
  driver.Publish(5);
  for (int i = 0; i < 1000 && seen_.matched.empty(); ++i) {
    pollfd p{source->fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) source->perform(source->info);
  }
  EXPECT_EQ(seen_.matched.size(), 1u);
  EXPECT_EQ(mach_port_deallocate(mach_task_self(), master_), KERN_SUCCESS);
  IONotificationPortDestroy(port_);
  port_ = nullptr;
}

TEST_F(IOKitClient, AServicesPropertiesSayWhereItsDriverRunsAndWhichDriversAnswer) {
  StartClient();
  EXPECT_EQ(IOKitGetLinkedDriverPlaces(), 0u) << "no driver yet";
  ScriptedDriver sys(system_), user(user_);
  sys.Publish(1, {{"Transport", "USB"}, {"Product", "Wired"}});
  user.Publish(5, {{"Transport", "Bluetooth"}});
  ASSERT_TRUE(sys.Start());
  // A driver answers once it has listed its services: its first service may come a moment before.
  ASSERT_TRUE(DispatchUntil([&] {
    return seen_.matched.size() == 1 && IOKitGetLinkedDriverPlaces() != 0;
  }));
  EXPECT_EQ(IOKitGetLinkedDriverPlaces(), UInt32(kIODriverLinkedSystem));
  ASSERT_TRUE(user.Start());
  ASSERT_TRUE(DispatchUntil([&] {
    return seen_.matched.size() == 2 && IOKitGetLinkedDriverPlaces() != kIODriverLinkedSystem;
  }));
  EXPECT_EQ(IOKitGetLinkedDriverPlaces(), UInt32(kIODriverLinkedSystem | kIODriverLinkedUser));

  CFMutableDictionaryRef first = nullptr, second = nullptr;
  ASSERT_EQ(IORegistryEntryCreateCFProperties(seen_.matched[0], &first, nullptr, 0),
            kIOReturnSuccess);
  ASSERT_EQ(IORegistryEntryCreateCFProperties(seen_.matched[1], &second, nullptr, 0),
            kIOReturnSuccess);
  EXPECT_STREQ(CFDictionaryGetCString(first, "Transport"), "USB");
  EXPECT_STREQ(CFDictionaryGetCString(first, "Product"), "Wired");
  EXPECT_STREQ(CFDictionaryGetCString(first, kIODriverPlaceKey), kIODriverPlaceSystem);
  EXPECT_STREQ(CFDictionaryGetCString(second, "Transport"), "Bluetooth");
  EXPECT_STREQ(CFDictionaryGetCString(second, kIODriverPlaceKey), kIODriverPlaceUser);
  EXPECT_EQ(CFGetRetainCount(first), 1);
  CFRelease(first);
  CFRelease(second);

  // Only services have properties.
  CFMutableDictionaryRef none = reinterpret_cast<CFMutableDictionaryRef>(1);
  EXPECT_EQ(IORegistryEntryCreateCFProperties(added_, &none, nullptr, 0), kIOReturnBadArgument);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(IORegistryEntryCreateCFProperties(seen_.matched[0], nullptr, nullptr, 0),
            kIOReturnBadArgument);

  // A driver that leaves no longer answers; the other still does.
  sys.Stop();
  ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
  EXPECT_EQ(IOKitGetLinkedDriverPlaces(), UInt32(kIODriverLinkedUser));
}

// A driver that answers late holds up its caller for a moment only, and the callers of another
// driver not at all; its late answers are passed over, not taken for those of later calls, and it
// is not dropped for being late.
TEST_F(IOKitClient, ALateDriverIsWaitedForBrieflyAndItsLateAnswersArePassedOver) {
  ScriptedDriver good(system_), late(user_);
  good.Publish(1);
  late.Publish(1);
  ASSERT_TRUE(good.Start());
  ASSERT_TRUE(late.Start());
  StartClient();
  ASSERT_EQ(seen_.matched.size(), 2u);
  io_connect_t fast = Open(seen_.matched[0]);
  io_connect_t slow = Open(seen_.matched[1]);
  auto call = [](io_connect_t c, UInt64 value, UInt64* out) {
    UInt32 count = 1;
    return IOConnectCallMethod(c, 1, &value, 1, nullptr, 0, out, &count, nullptr, nullptr);
  };
  UInt64 out = 0;
  late.HoldAnswers();
  EXPECT_EQ(call(slow, 11, &out), kIOReturnTimeout);
  EXPECT_EQ(call(fast, 12, &out), kIOReturnSuccess);
  EXPECT_EQ(out, 12u);
  // While its answer is overdue, a call to the late driver does not wait at all, but it is made.
  EXPECT_EQ(call(slow, 13, &out), kIOReturnTimeout);
  ASSERT_TRUE(DispatchUntil([&] { return late.calls() == 2; }));
  late.ReleaseAnswers();
  // Once the late answers are in, calls are answered again, each with its own answer.
  EXPECT_TRUE(DispatchUntil([&] { return call(slow, 14, &out) == kIOReturnSuccess; }));
  EXPECT_EQ(out, 14u);
  EXPECT_EQ(call(slow, 15, &out), kIOReturnSuccess);
  EXPECT_EQ(out, 15u);
  EXPECT_TRUE(seen_.terminated.empty());
}

// A driver that never answers is dropped once a request has waited five seconds.
TEST_F(IOKitClient, ADriverThatStopsAnsweringIsDropped) {
  ScriptedDriver silent(user_);
  silent.Publish(1);
  ASSERT_TRUE(silent.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  silent.HoldAnswers();
  UInt64 in = 1;
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnTimeout);
  ASSERT_TRUE(DispatchUntil([&] { return seen_.terminated.size() == 1; }));
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            kIOReturnNotAttached);
}

// A driver that leaves its greeting halfway holds nothing up: the other driver's calls go on, and
// once it finishes, that same connection carries on.
TEST_F(IOKitClient, AGreetingLeftHalfwayHoldsNothingUp) {
  ScriptedDriver good(system_), halting(user_);
  good.Publish(1);
  ASSERT_TRUE(good.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  halting.Publish(7);
  halting.HalveGreetings();
  ASSERT_TRUE(halting.Start());
  ASSERT_TRUE(DispatchUntil([&] { return halting.clients() == 1; }));
  UInt64 in = 5, out = 0;
  UInt32 count = 1;
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnSuccess);
  EXPECT_EQ(out, 5u);
  halting.FinishGreeting();
  ASSERT_TRUE(DispatchUntil([&] { return seen_.matched.size() == 2; }));
  EXPECT_EQ(halting.clients(), 1) << "the first connection should have been kept";
}

// An open the driver answers late still gives a connection: calls made without waiting are kept
// and sent once the answer comes, and a refusal arrives as the connection's closing.
TEST_F(IOKitClient, AnOpenAnsweredLateCompletesItsConnection) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  driver.Publish(2);
  driver.Publish(3);
  ASSERT_TRUE(driver.Start());
  StartClient();
  ASSERT_EQ(seen_.matched.size(), 3u);
  io_object_t interest = 0;
  ASSERT_EQ(IOServiceAddInterestNotification(port_, seen_.matched[1], kIOGeneralInterest,
                                             OnInterest, reinterpret_cast<void*>(22), &interest),
            kIOReturnSuccess);

  driver.HoldAnswers();
  io_connect_t accepted = Open(seen_.matched[0]);
  ASSERT_NE(accepted, 0u);
  UInt64 in[2] = {41, 42};
  EXPECT_EQ(IOConnectCallAsyncMethod(accepted, 1, MACH_PORT_NULL, nullptr, 0, in, 2, nullptr, 0,
                                     nullptr, nullptr, nullptr, nullptr),
            kIOReturnSuccess);
  UInt64 out = 0;
  UInt32 count = 1;
  EXPECT_EQ(IOConnectCallMethod(accepted, 1, in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnNotResponding);
  EXPECT_EQ(driver.calls(), 0) << "nothing can be sent before the open is answered";
  ASSERT_TRUE(DispatchUntil([&] { return driver.opens() == 1; }));
  driver.SetOpenResult(kIOReturnNotPermitted);
  io_connect_t refused = Open(seen_.matched[1]);
  ASSERT_TRUE(DispatchUntil([&] { return driver.opens() == 2; }));
  driver.SetOpenResult(kIOReturnSuccess);
  io_connect_t forgotten = Open(seen_.matched[2]);
  EXPECT_EQ(IOServiceClose(forgotten), kIOReturnSuccess);

  driver.ReleaseAnswers();
  ASSERT_TRUE(DispatchUntil([&] { return driver.calls() == 1 && !seen_.messages.empty(); }));
  EXPECT_EQ(seen_.messages[0].type, kIOMessageServiceWasClosed);
  EXPECT_EQ(seen_.messages[0].refcon, reinterpret_cast<void*>(22));
  EXPECT_EQ(IOConnectCallMethod(refused, 1, in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnNotOpen);
  count = 1;
  EXPECT_EQ(IOConnectCallMethod(accepted, 1, in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnSuccess);
  EXPECT_EQ(out, 41u);
  // The connection closed before its open was answered is closed at the driver in its turn.
  ASSERT_TRUE(DispatchUntil([&] { return driver.closes() == 1; }));
}

TEST_F(IOKitClient, CallsThatWaitForNothingAreSentInOrder) {
  ScriptedDriver driver(user_);
  driver.Publish(1);
  ASSERT_TRUE(driver.Start());
  StartClient();
  io_connect_t c = Open(seen_.matched[0]);
  std::vector<UInt64> received;
  std::mutex mutex;
  driver.OnCall([&](const DriverFrame& f, DriverFrame* r) {
    std::lock_guard lock(mutex);
    received.push_back(f.scalars[0]);
    r->result = kIOReturnBadArgument;  // refusals of calls nobody waits for are passed over
  });
  for (UInt64 v = 1; v <= 5; ++v)
    EXPECT_EQ(IOConnectCallAsyncMethod(c, 1, MACH_PORT_NULL, nullptr, 0, &v, 1, nullptr, 0,
                                       nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);
  EXPECT_EQ(IOConnectCallAsyncMethod(c, 1, 0x55, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                     nullptr, nullptr, nullptr),
            kIOReturnUnsupported);
  ASSERT_TRUE(DispatchUntil([&] { return driver.calls() == 5; }));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, (std::vector<UInt64>{1, 2, 3, 4, 5}));
  }
  driver.OnCall(nullptr);
  UInt64 in = 6, out = 0;
  UInt32 count = 1;
  EXPECT_EQ(IOConnectCallMethod(c, 1, &in, 1, nullptr, 0, &out, &count, nullptr, nullptr),
            kIOReturnSuccess);
  EXPECT_EQ(out, 6u);
  EXPECT_TRUE(seen_.terminated.empty());
}
