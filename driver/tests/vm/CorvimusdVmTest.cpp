// corvimusd on a real kernel: run inside the test virtual machine (corvimus-vm.sh), where the test
// plays the hardware by making mice through uinput and reads what corvimusd's virtual pointers say.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../DriverTestClient.h"
#include "platform/IOKit.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
#include "settings/PrefsText.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::ChildProcess;
using corvimus::testing::DriverTestClient;

namespace {

constexpr char kSocket[] = "/run/corvimus/driver.sock";
constexpr char kSeatFile[] = "/run/corvimus-test-seat";
constexpr char kPhysPrefix[] = "corvimusd/";

struct Event {
  UInt16 type, code;
  SInt32 value;
  bool operator==(const Event& o) const {
    return type == o.type && code == o.code && value == o.value;
  }
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  const char* type = libevdev_event_type_get_name(e.type);
  const char* code = libevdev_event_code_get_name(e.type, e.code);
  return out << (type ? type : "?") << " " << (code ? code : "?") << " " << e.value;
}

std::string Describe(const std::vector<Event>& events) {
  std::string text;
  for (const Event& e : events) {
    std::ostringstream line;
    line << e;
    text += line.str() + "\n";
  }
  return text;
}

// A mouse made through uinput: what the hardware would be.
struct SourceModel {
  std::string name = "Kelvane Test Mouse";
  UInt16 bustype = BUS_USB, vendor = 0x4b56, product = 0x1234, version = 0x0111;
  bool hiRes = true;
};

class SourceMouse {
 public:
  explicit SourceMouse(const SourceModel& model) : model_(model) {
    libevdev* dev = libevdev_new();
    libevdev_set_name(dev, model.name.c_str());
    libevdev_set_phys(dev, "usb-0000:00:14.0-2/input0");
    libevdev_set_id_bustype(dev, model.bustype);
    libevdev_set_id_vendor(dev, model.vendor);
    libevdev_set_id_product(dev, model.product);
    libevdev_set_id_version(dev, model.version);
    libevdev_enable_property(dev, INPUT_PROP_POINTER);
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA})
      libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
    for (unsigned code : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL})
      libevdev_enable_event_code(dev, EV_REL, code, nullptr);
    if (model.hiRes) {
      libevdev_enable_event_code(dev, EV_REL, REL_WHEEL_HI_RES, nullptr);
      libevdev_enable_event_code(dev, EV_REL, REL_HWHEEL_HI_RES, nullptr);
    }
    libevdev_enable_event_code(dev, EV_MSC, MSC_SCAN, nullptr);
    int err = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uidev_);
    libevdev_free(dev);
    if (err != 0) uidev_ = nullptr;
  }
  ~SourceMouse() {
    if (uidev_) libevdev_uinput_destroy(uidev_);
  }
  bool made() const { return uidev_ != nullptr; }
  std::string DevNode() const { return libevdev_uinput_get_devnode(uidev_); }
  void Write(const std::vector<Event>& events) {
    for (const Event& e : events) libevdev_uinput_write_event(uidev_, e.type, e.code, e.value);
  }
  void Unplug() {
    libevdev_uinput_destroy(uidev_);
    uidev_ = nullptr;
  }
  const SourceModel& model() const { return model_; }

 private:
  SourceModel model_;
  libevdev_uinput* uidev_ = nullptr;
};

// An open event device, read with libevdev.
class Reader {
 public:
  explicit Reader(const std::string& node) {
    fd_ = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0 && libevdev_new_from_fd(fd_, &dev_) != 0) dev_ = nullptr;
  }
  ~Reader() {
    if (dev_) libevdev_free(dev_);
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return dev_ != nullptr; }
  libevdev* dev() const { return dev_; }
  // Events up to and including the frames-th SYN_REPORT, or what came within timeoutMs.
  std::vector<Event> Frames(int frames, int timeoutMs = 5000) {
    std::vector<Event> events;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (frames > 0 && std::chrono::steady_clock::now() < end) {
      input_event ev;
      int rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev);
      if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
        events.push_back({ev.type, ev.code, ev.value});
        if (ev.type == EV_SYN && ev.code == SYN_REPORT) --frames;
      } else if (rc == -EAGAIN) {
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, 20);
      } else {
        gone_ = rc == -ENODEV;
        break;
      }
    }
    return events;
  }
  // Whatever arrives within timeoutMs; stops early when the device goes away.
  std::vector<Event> Drain(int timeoutMs) { return Frames(1 << 30, timeoutMs); }
  bool gone() const { return gone_; }

 private:
  int fd_ = -1;
  libevdev* dev_ = nullptr;
  bool gone_ = false;
};

// The event devices corvimusd made whose name passes the test.
std::vector<std::string> CorvimusDevicesWhere(const std::function<bool(const char*)>& wanted) {
  std::vector<std::string> nodes;
  DIR* dir = opendir("/dev/input");
  if (!dir) return nodes;
  while (dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, "event", 5) != 0) continue;
    std::string node = std::string("/dev/input/") + entry->d_name;
    Reader reader(node);
    if (!reader.ok()) continue;
    const char* phys = libevdev_get_phys(reader.dev());
    if (phys && std::strncmp(phys, kPhysPrefix, std::strlen(kPhysPrefix)) == 0 &&
        wanted(libevdev_get_name(reader.dev())))
      nodes.push_back(node);
  }
  closedir(dir);
  return nodes;
}

std::vector<std::string> VirtualPointersNamed(const std::string& name) {
  return CorvimusDevicesWhere([&](const char* n) { return name == n; });
}

std::vector<std::string> CorvimusDevices() {
  return CorvimusDevicesWhere([](const char*) { return true; });
}

// Waits for exactly one virtual pointer of that name; "" when none came in time. Under TCG udev
// can take many seconds to tell corvimusd about a new device.
std::string WaitForVirtualPointer(const std::string& name, int timeoutMs = 60000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    std::vector<std::string> nodes = VirtualPointersNamed(name);
    if (nodes.size() == 1) return nodes[0];
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < end);
  return "";
}

void WriteSeat(const std::string& text) {
  std::string temp = std::string(kSeatFile) + ".new";
  std::ofstream(temp) << text << "\n";
  rename(temp.c_str(), kSeatFile);
}

// Opens a connection to the only mouse the driver has; 0 when there is not exactly one.
UInt32 OpenOnlyMouse(DriverTestClient& client) {
  std::set<UInt32> services = client.Services();
  UInt32 connection = 0;
  if (services.size() != 1 || client.Open(*services.begin(), &connection) != kIOReturnSuccess)
    return 0;
  return connection;
}

// Waits until done() holds (the driver takes in a change of seat in its own time); done()'s
// last answer.
bool Eventually(const std::function<bool()>& done, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return done();
}

// A stretch of ordinary use: motion, each button, both wheels with their high-resolution events.
// thumbButtons: BTN_SIDE and BTN_EXTRA too, which pass through only while no agent is in charge
// (by default they are back and forward, carried out by the agent).
std::vector<Event> OrdinaryUse(bool hiRes, bool thumbButtons = true) {
  std::vector<Event> events;
  auto frame = [&](std::vector<Event> e) {
    events.insert(events.end(), e.begin(), e.end());
    events.push_back({EV_SYN, SYN_REPORT, 0});
  };
  frame({{EV_REL, REL_X, 5}, {EV_REL, REL_Y, -3}});
  frame({{EV_REL, REL_X, -120}});
  for (UInt16 button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA}) {
    if (!thumbButtons && (button == BTN_SIDE || button == BTN_EXTRA)) continue;
    frame({{EV_MSC, MSC_SCAN, 0x90001 + (button - BTN_LEFT)}, {EV_KEY, button, 1}});
    frame({{EV_MSC, MSC_SCAN, 0x90001 + (button - BTN_LEFT)}, {EV_KEY, button, 0}});
  }
  if (hiRes) {
    frame({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}});
    frame({{EV_REL, REL_WHEEL_HI_RES, 30}});
    frame({{EV_REL, REL_HWHEEL, -1}, {EV_REL, REL_HWHEEL_HI_RES, -120}});
  } else {
    frame({{EV_REL, REL_WHEEL, -2}});
    frame({{EV_REL, REL_HWHEEL, 1}});
  }
  frame({{EV_REL, REL_X, 1}, {EV_REL, REL_Y, 1}, {EV_KEY, BTN_LEFT, 1}});
  frame({{EV_KEY, BTN_LEFT, 0}});
  return events;
}

int CountFrames(const std::vector<Event>& events) {
  int n = 0;
  for (const Event& e : events) n += e.type == EV_SYN && e.code == SYN_REPORT;
  return n;
}

class CorvimusdVm : public ::testing::Test {
 protected:
  void SetUp() override {
    // corvimusd takes every mouse there is: on a real machine that would be the user's own.
    if (!getenv("CORVIMUS_VM")) GTEST_SKIP() << "runs only inside corvimus-vm.sh";
    WriteSeat("0 GNOME");
    source_ = std::make_unique<SourceMouse>(SourceModel{});
    ASSERT_TRUE(source_->made()) << "no uinput in this kernel";
    ASSERT_TRUE(StartDriver());
    pointer_ = WaitForVirtualPointer(source_->model().name);
    ASSERT_FALSE(pointer_.empty()) << "corvimusd made no virtual pointer for the mouse";
  }
  void TearDown() override {
    if (driver_.running()) {
      driver_.Signal(SIGTERM);
      EXPECT_EQ(driver_.Wait(10000), 0);
    }
  }
  // The seat as the fixture's tests play it; a fixture that wants logind's answer says so here.
  virtual std::vector<std::string> SeatArguments() { return {"--seat-file", kSeatFile}; }
  bool StartDriver() {
    std::vector<std::string> argv = {CORVIMUSD};
    for (const std::string& a : SeatArguments()) argv.push_back(a);
    if (!driver_.Start(argv)) return false;
    std::string line;
    return driver_.ReadLine(&line, 30000) && line == std::string("ready ") + kSocket;
  }
  // Writes the events to the source mouse and returns what the virtual pointer gives.
  std::vector<Event> RoundTrip(Reader& pointer, const std::vector<Event>& events) {
    source_->Write(events);
    return pointer.Frames(CountFrames(events));
  }

  ChildProcess driver_;
  std::unique_ptr<SourceMouse> source_;
  std::string pointer_;
};

TEST_F(CorvimusdVm, WithTheDefaultRecordWhatComesOutIsWhatWentIn) {
  Reader pointer(pointer_);
  ASSERT_TRUE(pointer.ok());
  std::vector<Event> use = OrdinaryUse(true);
  // No agent yet: the mouse passes straight through.
  EXPECT_EQ(Describe(RoundTrip(pointer, use)), Describe(use));

  // The active user's agent connects and pushes the defaults: the engine runs, and says the same,
  // but for the thumb buttons, which now ask the agent to go back and forward.
  DriverTestClient agent(kSocket);
  ASSERT_TRUE(agent.greeted());
  UInt32 connection = OpenOnlyMouse(agent);
  ASSERT_NE(connection, 0u);
  ASSERT_EQ(agent.PushRecord(connection, kCorvimusDefaultPrefs), kIOReturnSuccess);
  ASSERT_EQ(agent.SetOwnAppMode(connection, false), kIOReturnSuccess);
  use = OrdinaryUse(true, false);
  EXPECT_EQ(Describe(RoundTrip(pointer, use)), Describe(use));
  source_->Write({{EV_KEY, BTN_SIDE, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_SIDE, 0},
                  {EV_SYN, SYN_REPORT, 0}});
  EXPECT_TRUE(pointer.Drain(500).empty());
  ASSERT_EQ(agent.Interests().size(), 1u);
  const DriverFrame& request = agent.Interests()[0];
  EXPECT_EQ(request.messageType, kCorvimusMsgDoAction);
  CorvimusActionRec action{};
  ASSERT_EQ(request.data.size(), sizeof action);
  std::memcpy(&action, request.data.data(), sizeof action);
  EXPECT_EQ(action.command, kCmdBack);
}

TEST_F(CorvimusdVm, AMouseWithoutHighResolutionWheelStaysWithout) {
  SourceModel model;
  model.name = "Kelvane Classic Wheel";
  model.hiRes = false;
  SourceMouse classic(model);
  ASSERT_TRUE(classic.made());
  std::string node = WaitForVirtualPointer(model.name);
  ASSERT_FALSE(node.empty());
  Reader pointer(node);
  ASSERT_TRUE(pointer.ok());
  EXPECT_FALSE(libevdev_has_event_code(pointer.dev(), EV_REL, REL_WHEEL_HI_RES));
  EXPECT_FALSE(libevdev_has_event_code(pointer.dev(), EV_REL, REL_HWHEEL_HI_RES));
  std::vector<Event> use = OrdinaryUse(false);
  classic.Write(use);
  EXPECT_EQ(Describe(pointer.Frames(CountFrames(use))), Describe(use));
}

TEST_F(CorvimusdVm, TheVirtualPointerHasTheMousesIdentityAndTheServiceDescribesIt) {
  Reader source(source_->DevNode()), pointer(pointer_);
  ASSERT_TRUE(source.ok() && pointer.ok());
  EXPECT_STREQ(libevdev_get_name(pointer.dev()), libevdev_get_name(source.dev()));
  EXPECT_EQ(libevdev_get_id_bustype(pointer.dev()), BUS_USB);
  EXPECT_EQ(libevdev_get_id_vendor(pointer.dev()), 0x4b56);
  EXPECT_EQ(libevdev_get_id_product(pointer.dev()), 0x1234);
  EXPECT_EQ(libevdev_get_id_version(pointer.dev()), 0x0111);
  for (unsigned prop = 0; prop <= INPUT_PROP_MAX; ++prop)
    EXPECT_EQ(libevdev_has_property(pointer.dev(), prop), libevdev_has_property(source.dev(), prop))
        << "property " << prop;
  for (unsigned type : {EV_KEY, EV_REL, EV_MSC}) {
    for (int code = 0; code <= libevdev_event_type_get_max(type); ++code) {
      if (libevdev_has_event_code(source.dev(), type, code)) {
        EXPECT_TRUE(libevdev_has_event_code(pointer.dev(), type, code))
            << libevdev_event_code_get_name(type, code);
      }
    }
  }

  DriverTestClient client(kSocket);
  UInt32 connection = OpenOnlyMouse(client);
  ASSERT_NE(connection, 0u);
  CorvimusDeviceInfo info{};
  ASSERT_EQ(client.DeviceInfo(connection, &info), kIOReturnSuccess);
  EXPECT_STREQ(info.productName, "Kelvane Test Mouse");
  EXPECT_EQ(info.vendorID, 0x4b56);
  EXPECT_EQ(info.productID, 0x1234);
  EXPECT_EQ(info.productVers, 0x0111);
  EXPECT_EQ(info.numButtons, 5);
  EXPECT_EQ(info.transport, kCorvimusTransportOther);
}

TEST_F(CorvimusdVm, ASecondMouseComesAndGoesWhileTheDriverRuns) {
  DriverTestClient client(kSocket);
  ASSERT_EQ(client.Services().size(), 1u);
  SourceModel model;
  model.name = "Kelvane Travel Mouse";
  model.bustype = BUS_BLUETOOTH;
  model.product = 0x2202;
  auto second = std::make_unique<SourceMouse>(model);
  ASSERT_TRUE(second->made());
  std::string node = WaitForVirtualPointer(model.name);
  ASSERT_FALSE(node.empty()) << "the plugged-in mouse got no virtual pointer";
  ASSERT_TRUE(client.WaitForServices([](const std::set<UInt32>& s) { return s.size() == 2; }));
  UInt32 newest = *client.Services().rbegin(), connection = 0;
  ASSERT_EQ(client.Open(newest, &connection), kIOReturnSuccess);
  CorvimusDeviceInfo info{};
  ASSERT_EQ(client.DeviceInfo(connection, &info), kIOReturnSuccess);
  EXPECT_EQ(info.transport, kCorvimusTransportBluetooth);
  EXPECT_STREQ(info.productName, "Kelvane Travel Mouse");

  // Both mice work side by side.
  Reader first(pointer_), other(node);
  std::vector<Event> move = {{EV_REL, REL_X, 7}, {EV_SYN, SYN_REPORT, 0}};
  second->Write(move);
  EXPECT_EQ(Describe(other.Frames(1)), Describe(move));
  EXPECT_EQ(Describe(RoundTrip(first, move)), Describe(move));

  second->Unplug();
  EXPECT_TRUE(other.Drain(60000).empty() || other.gone());
  EXPECT_TRUE(other.gone()) << "the unplugged mouse's virtual pointer is still there";
  ASSERT_TRUE(client.WaitForServices([](const std::set<UInt32>& s) { return s.size() == 1; }));
  EXPECT_FALSE(client.Services().count(newest));
  EXPECT_TRUE(VirtualPointersNamed(model.name).empty());
  EXPECT_EQ(Describe(RoundTrip(first, move)), Describe(move));
}

TEST_F(CorvimusdVm, KillingTheDriverGivesTheMouseBackWithNothingHeldDown) {
  Reader pointer(pointer_), direct(source_->DevNode());
  ASSERT_TRUE(pointer.ok() && direct.ok());
  std::vector<Event> press = {{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}};
  EXPECT_EQ(Describe(RoundTrip(pointer, press)), Describe(press));
  // The mouse is grabbed: nobody else hears it while the driver runs.
  EXPECT_TRUE(direct.Drain(300).empty());

  driver_.Signal(SIGKILL);
  EXPECT_EQ(driver_.Wait(10000), 128 + SIGKILL);
  // Every device the driver made goes with it; the kernel releases what a vanishing device held
  // down, and a reader sees the device end rather than a button that never comes up.
  std::vector<Event> last = pointer.Drain(10000);
  EXPECT_TRUE(pointer.gone());
  for (const Event& e : last) EXPECT_FALSE(e.type == EV_KEY && e.value != 0) << e;
  EXPECT_TRUE(CorvimusDevices().empty());

  // The mouse speaks to everyone again.
  std::vector<Event> unpress = {{EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}};
  source_->Write(unpress);
  EXPECT_EQ(Describe(direct.Frames(1)), Describe(unpress));
}

// The record with one control's action replaced.
CorvimusPrefsRec WithAction(CorvimusPrefsRec record, const char* control, UInt16 command,
                            UInt16 modifiers = 0, UInt8 repeat = 0, UInt8 keyCode = 0) {
  int slot = SlotFromText(control);
  EXPECT_GE(slot, 0) << control;
  if (slot < 0) return record;
  CorvimusActionRec& a = record.device[0].action[slot];
  a.command = command;
  a.modifiers = modifiers;
  a.repeat = repeat;
  a.keyCode = keyCode;
  return record;
}

bool Contains(const std::vector<Event>& events, const Event& wanted) {
  return std::find(events.begin(), events.end(), wanted) != events.end();
}

// The shared virtual keyboard's node; "" unless there is exactly one.
std::string VirtualKeyboard() {
  std::vector<std::string> keyboards = CorvimusDevicesWhere(
      [](const char* name) { return std::strcmp(name, "Corvimus virtual keyboard") == 0; });
  return keyboards.size() == 1 ? keyboards[0] : "";
}

// What the keyboard says for a shortcut of Ctrl and one key.
std::vector<Event> CtrlAnd(UInt16 key) {
  return {{EV_KEY, KEY_LEFTCTRL, 1}, {EV_KEY, key, 1}, {EV_SYN, SYN_REPORT, 0},
          {EV_KEY, key, 0},          {EV_KEY, KEY_LEFTCTRL, 0}, {EV_SYN, SYN_REPORT, 0}};
}

std::vector<Event> Click(UInt16 button) {
  return {{EV_KEY, button, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, button, 0},
          {EV_SYN, SYN_REPORT, 0}};
}

TEST_F(CorvimusdVm, TheActionsOfARecordReachTheVirtualDevices) {
  Reader pointer(pointer_), keyboard(VirtualKeyboard());
  ASSERT_TRUE(pointer.ok() && keyboard.ok());
  DriverTestClient agent(kSocket);
  UInt32 connection = OpenOnlyMouse(agent);
  ASSERT_NE(connection, 0u);

  CorvimusPrefsRec record = kCorvimusDefaultPrefs;
  record = WithAction(record, "C2", kCmdMainClick, controlKey);  // middle: click with Ctrl held
  record = WithAction(record, "C4", 20);                          // forward: precision pointer
  record = WithAction(record, "C3", kCmdCopy);                    // back: copy
  const int wheelUp = SlotFromText("RF");
  ASSERT_GE(wheelUp, 0);
  record.device[0].action[wheelUp].repeat = 3;                    // the wheel scrolls by 3
  ASSERT_EQ(agent.PushRecord(connection, record), kIOReturnSuccess);

  // A click with Ctrl held: Ctrl goes down before the left button and up after it.
  source_->Write({{EV_KEY, BTN_MIDDLE, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_MIDDLE, 0},
                  {EV_SYN, SYN_REPORT, 0}});
  std::vector<Event> clicks = pointer.Drain(1000), keys = keyboard.Drain(300);
  EXPECT_EQ(Describe(clicks), Describe({{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0},
                                        {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}}));
  EXPECT_EQ(Describe(keys), Describe({{EV_KEY, KEY_LEFTCTRL, 1}, {EV_SYN, SYN_REPORT, 0},
                                      {EV_KEY, KEY_LEFTCTRL, 0}, {EV_SYN, SYN_REPORT, 0}}));

  // Scrolling by 3: each notch, and its high-resolution partner, three times over.
  std::vector<Event> notch = {{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120},
                              {EV_SYN, SYN_REPORT, 0}};
  std::vector<Event> scrolled = RoundTrip(pointer, notch);
  EXPECT_EQ(Describe(scrolled), Describe({{EV_REL, REL_WHEEL, 3}, {EV_REL, REL_WHEEL_HI_RES, 360},
                                          {EV_SYN, SYN_REPORT, 0}}));

  // Precision: while the control is held the pointer moves at a quarter of its speed.
  source_->Write({{EV_KEY, BTN_EXTRA, 1}, {EV_SYN, SYN_REPORT, 0}});
  std::vector<Event> slow = RoundTrip(pointer, {{EV_REL, REL_X, 40}, {EV_SYN, SYN_REPORT, 0}});
  source_->Write({{EV_KEY, BTN_EXTRA, 0}, {EV_SYN, SYN_REPORT, 0}});
  std::vector<Event> normal = RoundTrip(pointer, {{EV_REL, REL_X, 40}, {EV_SYN, SYN_REPORT, 0}});
  EXPECT_TRUE(Contains(slow, {EV_REL, REL_X, 10})) << Describe(slow);
  EXPECT_FALSE(Contains(slow, {EV_KEY, BTN_EXTRA, 1})) << Describe(slow);
  EXPECT_TRUE(Contains(normal, {EV_REL, REL_X, 40})) << Describe(normal);

  // Copy: the driver asks the agent, the agent answers with command and the key that types "c"
  // (virtual key 8 on the US layout), and Ctrl+C comes out of the keyboard.
  source_->Write({{EV_KEY, BTN_SIDE, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_SIDE, 0},
                  {EV_SYN, SYN_REPORT, 0}});
  Eventually([&] { return !agent.Interests().empty(); }, 5000);
  ASSERT_EQ(agent.Interests().size(), 1u);
  CorvimusActionRec asked{};
  ASSERT_EQ(agent.Interests()[0].data.size(), sizeof asked);
  std::memcpy(&asked, agent.Interests()[0].data.data(), sizeof asked);
  EXPECT_EQ(asked.command, kCmdCopy);
  ASSERT_EQ(agent.PostKeystroke(connection, PackKeystroke('c', 8, cmdKey)), kIOReturnSuccess);
  EXPECT_EQ(Describe(keyboard.Drain(1000)), Describe(CtrlAnd(KEY_C)));

  // The agent goes away: nothing is remapped any more, and the mouse passes straight through.
  ASSERT_EQ(agent.Close(connection), kIOReturnSuccess);
  std::vector<Event> middle = {{EV_KEY, BTN_MIDDLE, 1}, {EV_SYN, SYN_REPORT, 0},
                               {EV_KEY, BTN_MIDDLE, 0}, {EV_SYN, SYN_REPORT, 0}};
  EXPECT_EQ(Describe(RoundTrip(pointer, middle)), Describe(middle));
}

// Runs fn in a child process that has become the user uid (and group uid); fn's result, or
// kIOReturnError when the child could not become that user or did not answer.
SInt32 AsUser(uid_t uid, const std::function<SInt32()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) return kIOReturnError;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    SInt32 result = kIOReturnError;
    if (setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0) result = fn();
    (void)!write(fds[1], &result, sizeof result);
    _exit(0);
  }
  close(fds[1]);
  SInt32 result = kIOReturnError;
  if (read(fds[0], &result, sizeof result) != sizeof result) result = kIOReturnError;
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return result;
}

// Pushes a record as another user; the driver's answer.
SInt32 PushAsUser(uid_t uid) {
  return AsUser(uid, [] {
    DriverTestClient client(kSocket);
    UInt32 connection = OpenOnlyMouse(client);
    return connection ? client.PushRecord(connection, kCorvimusDefaultPrefs) : kIOReturnError;
  });
}

// A client the driver takes for uid's: the driver knows a client by the credentials its socket
// was connected with, which carry the effective user id. Root's own again afterwards.
std::unique_ptr<DriverTestClient> ClientOf(uid_t uid) {
  if (seteuid(uid) != 0) return nullptr;
  auto client = std::make_unique<DriverTestClient>(kSocket);
  if (seteuid(0) != 0) std::abort();
  return client->greeted() ? std::move(client) : nullptr;
}

TEST_F(CorvimusdVm, OnlyTheActiveSessionsUserMaySteerTheMice) {
  DriverTestClient root(kSocket);
  UInt32 connection = OpenOnlyMouse(root);
  ASSERT_NE(connection, 0u);
  EXPECT_EQ(root.PushRecord(connection, kCorvimusDefaultPrefs), kIOReturnSuccess);
  EXPECT_EQ(PushAsUser(65534), kIOReturnNotPermitted);

  // Another user's session becomes the active one.
  WriteSeat("65534 KDE");
  EXPECT_TRUE(Eventually(
      [&] { return root.PushRecord(connection, kCorvimusDefaultPrefs) == kIOReturnNotPermitted; }));
  EXPECT_EQ(root.SetOwnAppMode(connection, true), kIOReturnNotPermitted);
  EXPECT_EQ(root.PostKeystroke(connection, PackKeystroke('c', 8, 0x0100)), kIOReturnNotPermitted);
  EXPECT_EQ(PushAsUser(65534), kIOReturnSuccess);
  // Describing the mouse is for everyone.
  CorvimusDeviceInfo info{};
  EXPECT_EQ(root.DeviceInfo(connection, &info), kIOReturnSuccess);

  // The login screen: nobody steers.
  WriteSeat("");
  EXPECT_TRUE(Eventually([] { return PushAsUser(65534) == kIOReturnNotPermitted; }));
  // While nobody's agent is in charge, the mouse passes through.
  Reader pointer(pointer_);
  std::vector<Event> use = OrdinaryUse(true);
  EXPECT_EQ(Describe(RoundTrip(pointer, use)), Describe(use));
}

// logind keeps what it knows of seats and sessions in files under /run/systemd, which sd-login
// reads and watches; there is no logind in the virtual machine, so the test writes them as logind
// would (replacing each file by rename) and corvimusd goes through the real sd-login calls.
class CorvimusdVmLogind : public CorvimusdVm {
 protected:
  std::vector<std::string> SeatArguments() override {
    for (const char* dir : {"/run/systemd", "/run/systemd/seats", "/run/systemd/sessions",
                            "/run/systemd/users", "/run/systemd/machines"})
      mkdir(dir, 0755);
    Activate("c2", 65534, "KDE");
    return {};
  }
  // The session becomes the active one on seat0.
  static void Activate(const std::string& session, uid_t uid, const std::string& desktop) {
    WriteLogind("/run/systemd/sessions/" + session, "UID=" + std::to_string(uid) +
                                                        "\nACTIVE=1\nSEAT=seat0\nDESKTOP=" +
                                                        desktop + "\n");
    WriteLogind("/run/systemd/seats/seat0", "IS_SEAT0=1\nACTIVE=" + session +
                                                "\nACTIVE_UID=" + std::to_string(uid) + "\n");
  }
  // The greeter: a seat with no active session.
  static void ShowGreeter() { WriteLogind("/run/systemd/seats/seat0", "IS_SEAT0=1\n"); }
  static void WriteLogind(const std::string& path, const std::string& text) {
    std::string temp = path + ".tmp";
    std::ofstream(temp) << text;
    rename(temp.c_str(), path.c_str());
  }
};

TEST_F(CorvimusdVmLogind, TheActiveUserIsLogindsAndFollowsItsChanges) {
  DriverTestClient root(kSocket);
  UInt32 connection = OpenOnlyMouse(root);
  ASSERT_NE(connection, 0u);
  EXPECT_EQ(root.PushRecord(connection, kCorvimusDefaultPrefs), kIOReturnNotPermitted);
  EXPECT_EQ(PushAsUser(65534), kIOReturnSuccess);

  // Root's session takes the seat over.
  Activate("c3", 0, "GNOME");
  EXPECT_TRUE(Eventually(
      [&] { return root.PushRecord(connection, kCorvimusDefaultPrefs) == kIOReturnSuccess; }));
  EXPECT_EQ(PushAsUser(65534), kIOReturnNotPermitted);

  ShowGreeter();
  EXPECT_TRUE(Eventually(
      [&] { return root.PushRecord(connection, kCorvimusDefaultPrefs) == kIOReturnNotPermitted; }));
}

// How far one notch of the wheel scrolls: the REL_WHEEL the virtual pointer gives for it.
int NotchScrolls(SourceMouse& source, Reader& pointer) {
  source.Write({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}, {EV_SYN, SYN_REPORT, 0}});
  for (const Event& e : pointer.Frames(1))
    if (e.type == EV_REL && e.code == REL_WHEEL) return e.value;
  return 0;
}

// The commands the client was asked for since the last look.
std::vector<UInt16> RequestedCommands(DriverTestClient& client, size_t* seen) {
  std::vector<UInt16> commands;
  const std::vector<DriverFrame>& interests = client.Interests();
  for (; *seen < interests.size(); ++*seen) {
    CorvimusActionRec action{};
    if (interests[*seen].messageType == kCorvimusMsgDoAction &&
        interests[*seen].data.size() == sizeof action) {
      std::memcpy(&action, interests[*seen].data.data(), sizeof action);
      commands.push_back(action.command);
    }
  }
  return commands;
}

TEST_F(CorvimusdVmLogind, EachUserHasHisOwnRecordBackWhenHisSessionIsActiveAgain) {
  constexpr uid_t kA = 1000, kB = 1001;
  Reader pointer(pointer_);
  ASSERT_TRUE(pointer.ok());
  const int wheelUp = SlotFromText("RF");
  ASSERT_GE(wheelUp, 0);
  CorvimusPrefsRec ra = kCorvimusDefaultPrefs, rb = kCorvimusDefaultPrefs;
  ra.device[0].action[wheelUp].repeat = 3;
  rb.device[0].action[wheelUp].repeat = 2;

  // User A's session, A's agent pushes RA.
  Activate("c10", kA, "GNOME");
  std::unique_ptr<DriverTestClient> a = ClientOf(kA);
  ASSERT_TRUE(a);
  UInt32 ca = OpenOnlyMouse(*a);
  ASSERT_NE(ca, 0u);
  ASSERT_TRUE(Eventually([&] { return a->PushRecord(ca, ra) == kIOReturnSuccess; }));
  EXPECT_EQ(NotchScrolls(*source_, pointer), 3);

  // B's session becomes the active one; B has no agent: the plain mouse, thumb buttons and all.
  // (A refused is the sign the driver has taken the switch in; a refused push changes nothing.)
  Activate("c11", kB, "KDE");
  ASSERT_TRUE(Eventually([&] { return a->PushRecord(ca, ra) == kIOReturnNotPermitted; }));
  std::vector<Event> use = OrdinaryUse(true);
  EXPECT_EQ(Describe(RoundTrip(pointer, use)), Describe(use));

  // B's agent connects: B never pushed, so the defaults, and the requests go to B alone.
  std::unique_ptr<DriverTestClient> b = ClientOf(kB);
  ASSERT_TRUE(b);
  UInt32 cb = OpenOnlyMouse(*b);
  ASSERT_NE(cb, 0u);
  EXPECT_EQ(NotchScrolls(*source_, pointer), 1);
  size_t seenA = 0, seenB = 0;
  std::vector<Event> back = {{EV_KEY, BTN_SIDE, 1}, {EV_SYN, SYN_REPORT, 0},
                             {EV_KEY, BTN_SIDE, 0}, {EV_SYN, SYN_REPORT, 0}};
  source_->Write(back);
  EXPECT_TRUE(Eventually([&] { return b->Interests().size() > seenB; }, 5000));
  EXPECT_TRUE(pointer.Drain(300).empty());
  EXPECT_EQ(RequestedCommands(*b, &seenB), std::vector<UInt16>{kCmdBack});
  EXPECT_EQ(RequestedCommands(*a, &seenA), std::vector<UInt16>{});
  ASSERT_EQ(b->PushRecord(cb, rb), kIOReturnSuccess);
  EXPECT_EQ(NotchScrolls(*source_, pointer), 2);

  // Back to A: RA again without A pushing anything, and A is asked again.
  Activate("c10", kA, "GNOME");
  ASSERT_TRUE(Eventually([&] { return b->PushRecord(cb, rb) == kIOReturnNotPermitted; }));
  EXPECT_EQ(NotchScrolls(*source_, pointer), 3);
  source_->Write(back);
  EXPECT_TRUE(Eventually([&] { return a->Interests().size() > seenA; }, 5000));
  EXPECT_TRUE(pointer.Drain(300).empty());
  EXPECT_EQ(RequestedCommands(*a, &seenA), std::vector<UInt16>{kCmdBack});
  EXPECT_EQ(RequestedCommands(*b, &seenB), std::vector<UInt16>{});

  // And to B: B's last record, RB.
  Activate("c11", kB, "KDE");
  ASSERT_TRUE(Eventually([&] { return a->PushRecord(ca, ra) == kIOReturnNotPermitted; }));
  EXPECT_EQ(NotchScrolls(*source_, pointer), 2);
}


// The real agent, CorvimusHelper, run as the user of the active session (c2, uid 65534) with
// folders of its own and no display, so it takes its keyboard layout from the system default
// keyboard (/etc/default/keyboard, written here: the virtual machine's root is a copy in memory).
class CorvimusdVmAgent : public CorvimusdVmLogind {
 protected:
  static constexpr uid_t kUser = 65534;

  void TearDown() override {
    if (agent_.running()) {
      agent_.Signal(SIGTERM);
      agent_.Wait(10000);
    }
    if (keyboardSaved_) {
      if (hadKeyboardFile_)
        std::ofstream(kKeyboardFile) << savedKeyboard_;
      else
        unlink(kKeyboardFile);
    }
    CorvimusdVmLogind::TearDown();
  }

  // The system's keyboard becomes the XKB layout, the user's settings file holds global as its
  // global record, and the agent starts.
  void StartAgent(const std::string& layout, const CorvimusPrefsRec& global) {
    if (!keyboardSaved_) {
      hadKeyboardFile_ = corvimus::testing::ReadFile(kKeyboardFile, &savedKeyboard_);
      keyboardSaved_ = true;
    }
    std::ofstream(kKeyboardFile) << "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"" << layout
                                 << "\"\nXKBVARIANT=\"\"\nXKBOPTIONS=\"\"\n";
    std::vector<std::string> env = {"HOME=" + (home_ / "home"), "XDG_CONFIG_HOME=" + (home_ / "config"),
                                    "XDG_RUNTIME_DIR=" + (home_ / "run"),
                                    "CORVIMUS_PREFIX=" + (home_ / "prefix"), "DISPLAY="};
    for (const std::string& folder : {home_.path(), home_ / "home", home_ / "config",
                                      home_ / "run", home_ / "prefix"}) {
      mkdir(folder.c_str(), 0700);
      ASSERT_EQ(chown(folder.c_str(), kUser, kUser), 0) << folder;
    }
    // Written by the user, as the settings pane would.
    ASSERT_EQ(AsUser(kUser, [&]() -> SInt32 {
                setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
                QBaseHandle base = NewMouseSettingsBase(4);
                if (!base || QBaseAddRecord(base, &global, sizeof global) < 0) return memFullErr;
                Str255 name;
                name[0] = static_cast<unsigned char>(std::strlen(kCorvimusPrefsFileName));
                std::memcpy(name + 1, kCorvimusPrefsFileName, name[0]);
                OSErr err = SaveMouseSettings(base, name, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
                QBaseDispose(base);
                return err;
              }),
              noErr);
    const std::string id = std::to_string(kUser);
    ASSERT_TRUE(agent_.Start({"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups",
                              "--", CORVIMUS_HELPER},
                             env));
  }

  // Clicks the button until the keyboard types what is wanted (the agent connects, and gives the
  // mouse the global record, in its own time); what the last click typed.
  std::vector<Event> ClickUntilTyped(UInt16 button, Reader& keyboard,
                                     const std::vector<Event>& wanted) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<Event> typed;
    do {
      source_->Write(Click(button));
      typed = keyboard.Drain(1000);
    } while (!(typed == wanted) && std::chrono::steady_clock::now() < end);
    return typed;
  }

  static constexpr char kKeyboardFile[] = "/etc/default/keyboard";
  corvimus::testing::TempDir home_;
  ChildProcess agent_;
  bool keyboardSaved_ = false, hadKeyboardFile_ = false;
  std::string savedKeyboard_;
};

TEST_F(CorvimusdVmAgent, TheRealAgentTypesCopyAndUndoWithCtrlAtTheLayoutsKeys) {
  CorvimusPrefsRec global = kCorvimusDefaultPrefs;
  global = WithAction(global, "C3", kCmdCopy);  // back
  global = WithAction(global, "C4", kCmdUndo);  // forward
  ASSERT_NO_FATAL_FAILURE(StartAgent("us", global));
  Reader pointer(pointer_), keyboard(VirtualKeyboard());
  ASSERT_TRUE(pointer.ok() && keyboard.ok());

  EXPECT_EQ(Describe(ClickUntilTyped(BTN_SIDE, keyboard, CtrlAnd(KEY_C))), Describe(CtrlAnd(KEY_C)));
  pointer.Drain(300);
  // Once the agent is in charge, each click is exactly one shortcut and no click of its own.
  source_->Write(Click(BTN_SIDE));
  EXPECT_EQ(Describe(keyboard.Drain(1500)), Describe(CtrlAnd(KEY_C)));
  source_->Write(Click(BTN_EXTRA));
  EXPECT_EQ(Describe(keyboard.Drain(1500)), Describe(CtrlAnd(KEY_Z)));
  EXPECT_TRUE(pointer.Drain(300).empty());
}

TEST_F(CorvimusdVmAgent, OnAGermanKeyboardTheRealAgentsUndoIsCtrlAndTheKeyMarkedZ) {
  CorvimusPrefsRec global = kCorvimusDefaultPrefs;
  global = WithAction(global, "C3", kCmdUndo);
  global = WithAction(global, "C4", kCmdCopy);
  ASSERT_NO_FATAL_FAILURE(StartAgent("de", global));
  Reader pointer(pointer_), keyboard(VirtualKeyboard());
  ASSERT_TRUE(pointer.ok() && keyboard.ok());

  // German keyboards swap Y and Z: the key marked Z is the one at the US layout's Y.
  EXPECT_EQ(Describe(ClickUntilTyped(BTN_SIDE, keyboard, CtrlAnd(KEY_Y))), Describe(CtrlAnd(KEY_Y)));
  source_->Write(Click(BTN_EXTRA));
  EXPECT_EQ(Describe(keyboard.Drain(1500)), Describe(CtrlAnd(KEY_C)));
}

}  // namespace
