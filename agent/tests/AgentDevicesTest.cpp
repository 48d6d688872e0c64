// Mice arriving and leaving, the device list the pane sees, and pushes that fail.
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "AgentWorld.h"
#include "agent/AgentConnections.h"
#include "agent/AgentEvents.h"
#include "driver/SimDriver.h"
#include "settings/Version.h"

namespace agenttest {
namespace {

using AgentDevicesTest = AgentWorld;

TEST_F(AgentDevicesTest, LaterMiceGetTheCurrentRecordThenTheMode) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  StartDriver(1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(1));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* own = Launch("Own", "Own", "CvMP");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(1, 20));

  ASSERT_EQ("ok mouse 2", Sim("add"));
  ASSERT_TRUE(WaitForCount(2, "CVsd", 1));
  std::vector<std::string> order;
  for (const auto& call : Calls())
    if (call.mouse == 2) order.push_back(call.code);
  ASSERT_EQ((std::vector<std::string>{"MCDV", "CvSe", "CVsd"}), order);
  CorvimusPrefsRec got;
  ASSERT_TRUE(LastRecord(2, &got));
  EXPECT_EQ(20, got.device[0].speed);
  EXPECT_EQ(0, CallsOf(2, "CVsd")[0].scalars.at(2));

  // With the product's own application in front a new mouse gets the global record and mode 1.
  Front(own);
  ASSERT_TRUE(WaitForSpeed(2, 10));
  ASSERT_EQ("ok mouse 3", Sim("add bluetooth"));
  ASSERT_TRUE(WaitForCount(3, "CVsd", 1));
  ASSERT_TRUE(LastRecord(3, &got));
  EXPECT_EQ(10, got.device[0].speed);
  EXPECT_EQ(1, CallsOf(3, "CVsd")[0].scalars.at(2));

  CorvimusDeviceList list{};
  ASSERT_EQ(noErr, Devices(&list));
  ASSERT_EQ(3, list.count);
  EXPECT_EQ(kCorvimusTransportOther, list.device[0].transport);
  EXPECT_EQ(kCorvimusTransportBluetooth, list.device[2].transport);
}

// What the pane's Info tab shows: the front application, the record in force, the drivers that
// answer and where each mouse's driver runs, with the link the driver names.
TEST_F(AgentDevicesTest, TheStatusFollowsTheFrontApplicationAndNamesEachMousesDriver) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20)});
  StartDriver(2, 1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* other = Launch("Other", "Other", "OthR");
  auto statusWhen = [](const std::function<bool(const CorvimusAgentStatus&)>& done) {
    CorvimusAgentStatus status{};
    for (int i = 0; i < 150; ++i) {
      if (GetAgentStatus(&status) == noErr && done(status)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return status;
  };
  auto name = [](const unsigned char* p) {
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
  };

  Front(editor);
  CorvimusAgentStatus status =
      statusWhen([&](const CorvimusAgentStatus& s) { return name(s.frontName) == "Editor"; });
  EXPECT_EQ(name(status.frontName), "Editor");
  EXPECT_EQ(status.frontSignature, FourCC("ttxt"));
  EXPECT_EQ(status.recordKind, kRecordKindApplication);
  EXPECT_EQ(name(status.recordName), "Editor");
  EXPECT_STREQ(status.agentVersion, CorvimusVersionString());
  EXPECT_EQ(status.driversLinked, kDriverLinkedUser);
  ASSERT_EQ(status.count, 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(status.mouse[i].driverPlace, kDriverPlaceUser);
  EXPECT_STREQ(status.mouse[0].link, "Bluetooth");
  EXPECT_STREQ(status.mouse[1].link, "USB");

  Front(other);
  status = statusWhen([&](const CorvimusAgentStatus& s) { return name(s.frontName) == "Other"; });
  EXPECT_EQ(status.recordKind, kRecordKindGlobal);
  EXPECT_EQ(name(status.recordName), "") << "the global record is named by its kind";

  // The driver goes away: no driver answers and no mouse is left.
  ASSERT_EQ(0u, Sim("quit").rfind("ok", 0));
  status = statusWhen([](const CorvimusAgentStatus& s) { return s.driversLinked == 0; });
  EXPECT_EQ(status.driversLinked, 0);
  EXPECT_EQ(status.count, 0);
}

TEST_F(AgentDevicesTest, EndedConnectionsLeaveTheList) {
  StartDriver(3, 1);
  ASSERT_NO_FATAL_FAILURE(StartAgent(3));
  ASSERT_EQ(0u, Sim("remove 1").rfind("ok", 0));
  ASSERT_TRUE(WaitForDeviceCount(2));
  CorvimusDeviceList list{};
  ASSERT_EQ(noErr, Devices(&list));
  CorvimusDeviceInfo second = corvimus::SimDeviceInfo(2, false);
  CorvimusDeviceInfo third = corvimus::SimDeviceInfo(3, false);
  EXPECT_EQ(0, std::memcmp(&second, &list.device[0], sizeof second));
  EXPECT_EQ(0, std::memcmp(&third, &list.device[1], sizeof third));

  // The driver closing the connection ends it as well.
  ASSERT_EQ(0u, Sim("close 3").rfind("ok closed 1", 0));
  ASSERT_TRUE(WaitForDeviceCount(1));
  ASSERT_EQ(noErr, Devices(&list));
  EXPECT_EQ(0, std::memcmp(&second, &list.device[0], sizeof second));
  CorvimusDeviceInfo zero{};
  EXPECT_EQ(0, std::memcmp(&zero, &list.device[1], sizeof zero));
}

TEST_F(AgentDevicesTest, DeviceListHoldsTheFirstTenInOrderOfArrival) {
  StartDriver(11);
  ASSERT_NO_FATAL_FAILURE(StartAgent(11));
  CorvimusDeviceList list{};
  ASSERT_EQ(noErr, Devices(&list));
  ASSERT_EQ(10, list.count);
  for (UInt32 i = 0; i < 10; ++i) {
    CorvimusDeviceInfo expected = corvimus::SimDeviceInfo(i + 1, false);
    EXPECT_EQ(0, std::memcmp(&expected, &list.device[i], sizeof expected)) << i;
  }
}

TEST_F(AgentDevicesTest, AFailedPushStopsThePass) {
  WriteSettings({MakeRecord(0, "", 10), MakeRecord(FourCC("ttxt"), "Editor", 20),
                 MakeRecord(FourCC("emal"), "Mail", 30)});
  StartDriver(2);
  ASSERT_NO_FATAL_FAILURE(StartAgent(2));
  TestApp* editor = Launch("Editor", "Editor", "ttxt");
  TestApp* mail = Launch("Mail", "Mail", "emal");
  TestApp* own = Launch("Own", "Own", "CvMP");
  Front(editor);
  ASSERT_TRUE(WaitForSpeed(2, 20));

  ASSERT_EQ(0u, Sim("refuse 1 on").rfind("ok", 0));
  size_t secondPushes = CallsOf(2, "CvSe").size();
  Front(mail);
  ASSERT_TRUE(WaitForCalls([](const std::vector<DriverCall>& calls) {
    for (const auto& call : calls)
      if (call.mouse == 1 && call.code == "CvSe" && call.result != 0) return true;
    return false;
  }));
  // The mode switch that follows proves the pass is over: mouse 2 was not given the record.
  Front(own);
  ASSERT_TRUE(WaitForCount(2, "CVsd", 2));
  EXPECT_EQ(secondPushes, CallsOf(2, "CvSe").size());
  CorvimusPrefsRec got;
  ASSERT_TRUE(LastRecord(2, &got));
  EXPECT_EQ(20, got.device[0].speed);

  ASSERT_EQ(0u, Sim("refuse 1 off").rfind("ok", 0));
  Front(mail);
  ASSERT_TRUE(WaitForSpeed(2, 30));
}

// The list itself, without a driver: a connection reported twice is kept once, and one that is
// not in the list closes nothing.
TEST(DriverConnectionList, KeepsOneNodePerConnectionInOrder) {
  CorvimusDeviceInfo info{};
  for (io_connect_t c : {101u, 102u, 101u, 103u}) {
    info.productID = UInt16(c);
    ASSERT_TRUE(RememberDriverConnection(c, &info));
  }
  ASSERT_EQ(3, CountDriverConnections());
  EXPECT_EQ(101u, gConnections->connection);
  EXPECT_EQ(101, gConnections->info.productID);  // the first description stays
  EXPECT_EQ(103u, gConnections->next->next->connection);

  DropDriverConnection(999);
  EXPECT_EQ(3, CountDriverConnections());
  DropDriverConnection(101);  // the head moves
  ASSERT_EQ(2, CountDriverConnections());
  EXPECT_EQ(102u, gConnections->connection);
  DropDriverConnection(103);  // the tail
  ASSERT_EQ(1, CountDriverConnections());
  EXPECT_EQ(nullptr, gConnections->next);
  ASSERT_TRUE(RememberDriverConnection(104, nullptr));
  EXPECT_EQ(0, FindDriverConnection(104)->info.transport);
  DropDriverConnection(102);
  DropDriverConnection(104);
  EXPECT_EQ(nullptr, gConnections);
}

TEST(DriverConnectionList, DeviceListTakesTheFirstTen) {
  for (io_connect_t c = 1; c <= 12; ++c) {
    CorvimusDeviceInfo info{};
    info.productID = UInt16(c);
    info.transport = c % 2 ? kCorvimusTransportBluetooth : kCorvimusTransportOther;
    ASSERT_TRUE(RememberDriverConnection(c, &info));
  }
  CorvimusDeviceList list;
  std::memset(&list, 0xAB, sizeof list);
  FillDeviceList(&list);
  EXPECT_EQ(10, list.count);
  EXPECT_EQ(0, list.filler1);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(i + 1, list.device[i].productID);
  for (io_connect_t c = 1; c <= 12; ++c) DropDriverConnection(c);
  FillDeviceList(&list);
  EXPECT_EQ(0, list.count);
  CorvimusDeviceList zero{};
  EXPECT_EQ(0, std::memcmp(&zero, &list, sizeof list));
}

}  // namespace
}  // namespace agenttest
