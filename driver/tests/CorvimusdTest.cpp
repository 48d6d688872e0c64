// corvimusd's logic without a kernel: which devices it takes, what it tells the agents about them,
// whose agent may steer the mice, and where the events go while nobody may. The devices here record
// what they are sent; the driver socket and its clients are real.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Daemon.h"
#include "DaemonDevices.h"
#include "DriverTestClient.h"
#include "EvdevDevices.h"
#include "Seat.h"
#include "platform/IOKit.h"
#include "settings/MouseSettings.h"
#include "settings/PrefsText.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::DriverTestClient;
using corvimus::testing::TempDir;

namespace {

struct Sent {
  UInt16 type, code;
  SInt32 value;
  bool operator==(const Sent& o) const {
    return type == o.type && code == o.code && value == o.value;
  }
};

class RecordingDevice : public VirtualDevice {
 public:
  explicit RecordingDevice(std::vector<Sent>* log) : log_(log) {}
  void Emit(UInt16 type, UInt16 code, SInt32 value) override { log_->push_back({type, code, value}); }

 private:
  std::vector<Sent>* log_;
};

TEST(MouseDpi, TheDefaultResolutionIsTheMarkedOneOrTheOnlyOne) {
  EXPECT_EQ(ParseMouseDpi("800@125"), 800);
  EXPECT_EQ(ParseMouseDpi("400@125 *800@125 1600@125"), 800);
  EXPECT_EQ(ParseMouseDpi("400@125 800@125"), 400);
  EXPECT_EQ(ParseMouseDpi("  *1000@500\t2000@500 "), 1000);
  EXPECT_EQ(ParseMouseDpi("1200"), 1200);
  EXPECT_EQ(ParseMouseDpi(nullptr), 0);
  EXPECT_EQ(ParseMouseDpi(""), 0);
  EXPECT_EQ(ParseMouseDpi("fast"), 0);
  EXPECT_EQ(ParseMouseDpi("-800@125"), 0);
  EXPECT_EQ(ParseMouseDpi("800@125 *junk"), 800);
}

InputDeviceFacts PlainMouse() {
  InputDeviceFacts facts;
  facts.phys = "usb-0000:00:14.0-2/input0";
  facts.relXY = true;
  facts.buttonLeft = true;
  return facts;
}

TEST(MouseClassification, MiceAreTakenTouchpadsTabletsAndOurOwnDevicesAreNot) {
  InputDeviceFacts f = PlainMouse();
  EXPECT_TRUE(IsMouseToTake(f)) << "udev has not looked yet: the capabilities decide";
  f.udevKnown = f.udevMouse = true;
  EXPECT_TRUE(IsMouseToTake(f));

  f = PlainMouse();
  f.udevKnown = true;  // udev looked and did not call it a mouse
  EXPECT_FALSE(IsMouseToTake(f));
  f.udevMouse = f.udevTouchpad = true;
  EXPECT_FALSE(IsMouseToTake(f));
  f.udevTouchpad = false;
  f.udevTablet = true;
  EXPECT_FALSE(IsMouseToTake(f));

  // Before udev: touchpads, tablets and touch screens give themselves away.
  for (bool InputDeviceFacts::*giveaway :
       {&InputDeviceFacts::absolute, &InputDeviceFacts::toolButtons, &InputDeviceFacts::propDirect}) {
    f = PlainMouse();
    f.*giveaway = true;
    EXPECT_FALSE(IsMouseToTake(f));
  }
  f = PlainMouse();
  f.buttonLeft = false;
  EXPECT_FALSE(IsMouseToTake(f)) << "a device without a left button is no mouse";
  f = PlainMouse();
  f.relXY = false;
  f.udevKnown = f.udevMouse = true;
  EXPECT_FALSE(IsMouseToTake(f));

  // Our own virtual pointers copy the mouse's name and IDs; the phys string tells them apart.
  f = PlainMouse();
  f.udevKnown = f.udevMouse = true;
  f.phys = std::string(kCorvimusPhysPrefix) + "event4";
  EXPECT_FALSE(IsMouseToTake(f));
  f.phys = "usb-corvimusd/event4";
  EXPECT_TRUE(IsMouseToTake(f));
}

TEST(MouseDescriptionInfo, BluetoothIsTransportTwoAndLongNamesAreCutToFit) {
  MouseDescription d;
  d.name = std::string(100, 'N');
  d.vendorName = "Kelvane";
  d.bustype = BUS_BLUETOOTH;
  d.vendor = 0x4b56;
  d.product = 0x2202;
  d.version = 0x0110;
  d.buttons = 7;
  d.resolution = 1600;
  CorvimusDeviceInfo info = DeviceInfoFromDescription(d);
  EXPECT_EQ(info.transport, kCorvimusTransportBluetooth);
  EXPECT_EQ(info.numButtons, 7);
  EXPECT_EQ(info.vendorID, 0x4b56);
  EXPECT_EQ(info.productID, 0x2202);
  EXPECT_EQ(info.productVers, 0x0110);
  EXPECT_EQ(info.resolution, 1600);
  EXPECT_STREQ(info.vendorName, "Kelvane");
  EXPECT_EQ(std::string(info.productName), std::string(79, 'N'));
  for (UInt16 bus : {BUS_USB, BUS_I8042, BUS_VIRTUAL}) {
    d.bustype = bus;
    EXPECT_EQ(DeviceInfoFromDescription(d).transport, kCorvimusTransportOther) << bus;
  }
}

void Collect(void* context, const input_event& e) {
  static_cast<std::vector<Sent>*>(context)->push_back({e.type, e.code, e.value});
}

TEST(DroppedEvents, OnlyTheButtonsThatChangedAreReportedInOneFrame) {
  UInt8 passed[KEY_CNT / 8 + 1] = {}, now[KEY_CNT / 8 + 1] = {};
  SetBit(passed, BTN_LEFT, true);
  SetBit(passed, BTN_SIDE, true);
  SetBit(now, BTN_SIDE, true);
  SetBit(now, BTN_RIGHT, true);
  SetBit(now, KEY_MAX, true);
  std::vector<Sent> sent;
  ResyncButtons(passed, now, sizeof now, Collect, &sent);
  EXPECT_EQ(sent, (std::vector<Sent>{{EV_KEY, BTN_LEFT, 0},
                                     {EV_KEY, BTN_RIGHT, 1},
                                     {EV_KEY, KEY_MAX, 1},
                                     {EV_SYN, SYN_REPORT, 0}}));
  EXPECT_EQ(std::memcmp(passed, now, sizeof now), 0) << "the state passed on is not brought up to date";
  sent.clear();
  ResyncButtons(passed, now, sizeof now, Collect, &sent);
  EXPECT_TRUE(sent.empty()) << "nothing changed, and still a frame went out";
}

TEST(SeatFile, TheFileSaysWhoIsActiveAndAnythingElseMeansNobody) {
  EXPECT_EQ(ParseSeatFile("1000 GNOME\n").uid, 1000u);
  EXPECT_EQ(ParseSeatFile("1000 GNOME\n").desktop, "GNOME");
  EXPECT_EQ(ParseSeatFile("0").uid, 0u);
  EXPECT_EQ(ParseSeatFile("0").desktop, "");
  // Any whitespace separates, before, between and after.
  EXPECT_EQ(ParseSeatFile("  1001\tKDE \r\n").uid, 1001u);
  EXPECT_EQ(ParseSeatFile("  1001\tKDE \r\n").desktop, "KDE");
  EXPECT_EQ(ParseSeatFile("4294967294").uid, 4294967294u);
  for (const char* nobody : {"", "\n", "alice", "-1", "10x", "4294967295", "99999999999",
                             "1000 GNOME extra", "1000\nGNOME\nextra\n", "+5"})
    EXPECT_EQ(ParseSeatFile(nobody).uid, kDriverUnknownUid) << nobody;
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

TEST(SeatFile, AChangeOfTheFileWakesTheWatcher) {
  TempDir dir;
  std::unique_ptr<SeatWatcher> seat = WatchSeatFile(dir / "seat");
  ASSERT_TRUE(seat);
  EXPECT_EQ(seat->Current().uid, kDriverUnknownUid);
  EXPECT_FALSE(Readable(seat->Descriptor(), 0));

  corvimus::testing::WriteFile(dir / "seat.new", "1000 KDE\n");
  ASSERT_EQ(rename((dir / "seat.new").c_str(), (dir / "seat").c_str()), 0);
  ASSERT_TRUE(Readable(seat->Descriptor(), 2000));
  SeatUser user = seat->Current();
  EXPECT_EQ(user.uid, 1000u);
  EXPECT_EQ(user.desktop, "KDE");
  EXPECT_FALSE(Readable(seat->Descriptor(), 0)) << "reading the answer takes the wake-up";

  unlink((dir / "seat").c_str());
  ASSERT_TRUE(Readable(seat->Descriptor(), 2000));
  EXPECT_EQ(seat->Current().uid, kDriverUnknownUid);
  EXPECT_FALSE(WatchSeatFile(dir / "missing-folder/seat"));
}

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    socket_ = dir_ / "driver.sock";
    ASSERT_EQ(daemon_.Server().Listen(socket_), noErr);
    MouseDescription d;
    d.name = "Kelvane Test Mouse";
    d.bustype = BUS_USB;
    d.vendor = 0x4b56;
    d.product = 0x1234;
    d.buttons = 5;
    mouse_ = daemon_.AddMouse(d, std::make_unique<RecordingDevice>(&pointer_));
  }
  std::unique_ptr<DriverTestClient> Connect() {
    return std::make_unique<DriverTestClient>(socket_, [this] { daemon_.Server().Pump(); });
  }
  UInt32 OpenMouse(DriverTestClient& client) {
    UInt32 connection = 0;
    EXPECT_EQ(client.Open(mouse_, &connection), kIOReturnSuccess);
    return connection;
  }
  // A click of the left button as evdev frames it.
  std::vector<Sent> Click() {
    return {{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0},
            {EV_SYN, SYN_REPORT, 0}};
  }
  void Feed(const std::vector<Sent>& events) {
    for (const Sent& e : events) daemon_.MouseEvent(mouse_, e.type, e.code, e.value, 1000);
  }

  TempDir dir_;
  std::string socket_;
  std::vector<Sent> pointer_, keyboardLog_;
  RecordingDevice keyboard_{&keyboardLog_};
  CorvimusDaemon daemon_{&keyboard_};
  UInt32 mouse_ = 0;
};

TEST_F(DaemonTest, EachMouseIsOneServiceDescribedToAnyone) {
  auto client = Connect();
  ASSERT_TRUE(client->greeted());
  EXPECT_EQ(client->Services(), std::set<UInt32>{mouse_});
  UInt32 connection = OpenMouse(*client);
  CorvimusDeviceInfo info{};
  // Nobody is active, and the description is still everyone's to read.
  ASSERT_EQ(client->DeviceInfo(connection, &info), kIOReturnSuccess);
  EXPECT_STREQ(info.productName, "Kelvane Test Mouse");
  EXPECT_EQ(info.numButtons, 5);
  EXPECT_EQ(info.transport, kCorvimusTransportOther);
  UInt32 bad = 0;
  EXPECT_EQ(client->Open(mouse_ + 100, &bad), kIOReturnNotAttached);

  daemon_.RemoveMouse(mouse_);
  EXPECT_TRUE(client->Services().empty());
  EXPECT_EQ(client->DeviceInfo(connection, &info), kIOReturnNotOpen);
}

TEST_F(DaemonTest, OnlyTheActiveUsersClientsMaySteerAndNobodyWhileNoOneIsActive) {
  auto client = Connect();
  UInt32 connection = OpenMouse(*client);
  const UInt32 me = getuid(), other = me + 1000;
  auto refusedAll = [&] {
    EXPECT_EQ(client->PushRecord(connection, kCorvimusDefaultPrefs), kIOReturnNotPermitted);
    EXPECT_EQ(client->SetOwnAppMode(connection, true), kIOReturnNotPermitted);
    EXPECT_EQ(client->PostKeystroke(connection, PackKeystroke('c', 8, 0x0100)),
              kIOReturnNotPermitted);
  };
  refusedAll();  // the login screen
  daemon_.SetActiveUser(other, DesktopKind::Generic);
  refusedAll();
  daemon_.SetActiveUser(me, DesktopKind::Gnome);
  EXPECT_EQ(client->PushRecord(connection, kCorvimusDefaultPrefs), kIOReturnSuccess);
  EXPECT_EQ(client->SetOwnAppMode(connection, true), kIOReturnSuccess);
  EXPECT_EQ(client->PostKeystroke(connection, PackKeystroke('c', 8, 0x0100)), kIOReturnSuccess);
  // A badly formed call is refused for what it is, whoever makes it.
  std::vector<UInt8> shortRecord(100);
  EXPECT_EQ(client->Call(connection, kCorvimusSelectorSetPrefs,
                         {connection, kCorvimusSetPrefsCode, kCorvimusSetPrefsVersion, 0},
                         shortRecord.data(), shortRecord.size(), 0),
            kIOReturnBadArgument);
}

TEST_F(DaemonTest, TheMousePassesThroughWhileTheActiveUserHasNoAgentConnected) {
  Feed(Click());
  EXPECT_EQ(pointer_, Click());
  EXPECT_FALSE(daemon_.Remapping(mouse_));

  const UInt32 me = getuid();
  auto agent = Connect();
  UInt32 connection = OpenMouse(*agent);
  EXPECT_FALSE(daemon_.Remapping(mouse_)) << "connected, but nobody is active";
  daemon_.SetActiveUser(me + 1, DesktopKind::Generic);
  EXPECT_FALSE(daemon_.Remapping(mouse_)) << "the agent is not the active user's";
  daemon_.SetActiveUser(me, DesktopKind::Generic);
  EXPECT_TRUE(daemon_.Remapping(mouse_));

  // The agent closes its connection, then a new one goes away with its process.
  ASSERT_EQ(agent->Close(connection), kIOReturnSuccess);
  EXPECT_FALSE(daemon_.Remapping(mouse_));
  OpenMouse(*agent);
  EXPECT_TRUE(daemon_.Remapping(mouse_));
  agent.reset();
  for (int i = 0; i < 100 && daemon_.Remapping(mouse_); ++i) {
    usleep(1000);
    daemon_.Server().Pump();
  }
  EXPECT_FALSE(daemon_.Remapping(mouse_)) << "a crashed agent leaves the mouse remapped";
  pointer_.clear();
  Feed(Click());
  EXPECT_EQ(pointer_, Click());
}

TEST_F(DaemonTest, AMouseAddedLaterPassesThroughUntilTheAgentOpensIt) {
  daemon_.SetActiveUser(getuid(), DesktopKind::Generic);
  auto agent = Connect();
  OpenMouse(*agent);
  std::vector<Sent> second;
  MouseDescription d;
  d.name = "Kelvane Travel Mouse";
  d.bustype = BUS_BLUETOOTH;
  UInt32 id = daemon_.AddMouse(d, std::make_unique<RecordingDevice>(&second));
  EXPECT_NE(id, mouse_);
  EXPECT_EQ(agent->Services().size(), 2u);
  EXPECT_TRUE(daemon_.Remapping(mouse_));
  EXPECT_FALSE(daemon_.Remapping(id));
  daemon_.MouseEvent(id, EV_REL, REL_X, 3, 0);
  daemon_.MouseEvent(id, EV_SYN, SYN_REPORT, 0, 0);
  EXPECT_EQ(second, (std::vector<Sent>{{EV_REL, REL_X, 3}, {EV_SYN, SYN_REPORT, 0}}));
  EXPECT_TRUE(pointer_.empty()) << "one mouse's events went to the other's pointer";
  UInt32 connection = 0;
  ASSERT_EQ(agent->Open(id, &connection), kIOReturnSuccess);
  EXPECT_TRUE(daemon_.Remapping(id));
  CorvimusDeviceInfo info{};
  ASSERT_EQ(agent->DeviceInfo(connection, &info), kIOReturnSuccess);
  EXPECT_EQ(info.transport, kCorvimusTransportBluetooth);
}

TEST_F(DaemonTest, EachUserGetsBackTheRecordHePushedWhenHisSessionReturns) {
  const UInt32 me = getuid();
  daemon_.SetActiveUser(me, DesktopKind::Generic);
  auto agent = Connect();
  UInt32 connection = OpenMouse(*agent);
  CorvimusPrefsRec record = kCorvimusDefaultPrefs;
  CorvimusActionRec& middle = record.device[0].action[SlotFromText("C2")];
  middle.command = kCmdMainClick;
  middle.modifiers = controlKey;
  ASSERT_EQ(agent->PushRecord(connection, record), kIOReturnSuccess);
  std::vector<Sent> middleClick = {{EV_KEY, BTN_MIDDLE, 1}, {EV_SYN, SYN_REPORT, 0},
                                   {EV_KEY, BTN_MIDDLE, 0}, {EV_SYN, SYN_REPORT, 0}};
  auto clicked = [&](UInt16 button) {
    pointer_.clear();
    keyboardLog_.clear();
    Feed(middleClick);
    for (const Sent& e : pointer_)
      if (e.type == EV_KEY && e.value == 1) return e.code == button;
    return false;
  };
  EXPECT_TRUE(clicked(BTN_LEFT));
  EXPECT_FALSE(keyboardLog_.empty()) << "no Ctrl around the click";

  // Another user's session: his agent is not connected, so the mouse is the plain mouse.
  daemon_.SetActiveUser(me + 1, DesktopKind::Generic);
  EXPECT_TRUE(clicked(BTN_MIDDLE));
  EXPECT_TRUE(keyboardLog_.empty());
  // Back to this user: his record, not the defaults, without pushing it again.
  daemon_.SetActiveUser(me, DesktopKind::Generic);
  EXPECT_TRUE(clicked(BTN_LEFT));
}

TEST(DriverServerUsers, EachClientIsKnownByItsUserAndMessagesCanBeForOneUser) {
  struct Recorder : DriverServerDelegate {
    SInt32 DriverOpen(UInt32, UInt32) override { return kIOReturnSuccess; }
    void DriverOpened(UInt32, UInt32, UInt32 uid) override { openedBy.push_back(uid); }
    void DriverCall(const DriverCallRequest& call, DriverCallResult* result) override {
      callers.push_back(call.clientUid);
      result->result = kIOReturnSuccess;
    }
    std::vector<UInt32> openedBy, callers;
  } recorder;
  TempDir dir;
  DriverServer server(&recorder);
  ASSERT_EQ(server.Listen(dir / "driver.sock"), noErr);
  server.Publish(7, kCorvimusServiceClass, {});
  DriverTestClient client(dir / "driver.sock", [&] { server.Pump(); });
  UInt32 connection = 0;
  ASSERT_EQ(client.Open(7, &connection), kIOReturnSuccess);
  EXPECT_EQ(recorder.openedBy, std::vector<UInt32>{getuid()});
  EXPECT_EQ(client.SetOwnAppMode(connection, true), kIOReturnSuccess);
  EXPECT_EQ(recorder.callers, std::vector<UInt32>{getuid()});
  EXPECT_TRUE(server.HasConnectionFrom(7, getuid()));
  EXPECT_FALSE(server.HasConnectionFrom(7, getuid() + 1));
  EXPECT_FALSE(server.HasConnectionFrom(8, getuid()));

  UInt8 mine[4] = {1, 2, 3, 4}, theirs[4] = {5, 6, 7, 8};
  server.SendInterestToUser(7, getuid() + 1, kCorvimusMsgRawReport, theirs, sizeof theirs);
  server.SendInterestToUser(7, getuid(), kCorvimusMsgRawReport, mine, sizeof mine);
  const auto& got = client.Interests();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, std::vector<UInt8>(mine, mine + 4));

  ASSERT_EQ(client.Close(connection), kIOReturnSuccess);
  EXPECT_FALSE(server.HasConnectionFrom(7, getuid()));
}

}  // namespace
