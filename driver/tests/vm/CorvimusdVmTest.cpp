// corvimusd on a real kernel: run inside the test virtual machine (corvimus-vm.sh), where the test
// plays the hardware by making mice through uinput and reads what corvimusd's virtual pointers say.
#include <dirent.h>
#include <fcntl.h>
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
#include "settings/MouseSettings.h"
#include "settings/PrefsText.h"
#include "testing/ChildProcess.h"

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
struct MouseSpec {
  std::string name = "Kelvane Test Mouse";
  UInt16 bustype = BUS_USB, vendor = 0x4b56, product = 0x1234, version = 0x0111;
  bool hiRes = true;
};

class SourceMouse {
 public:
  explicit SourceMouse(const MouseSpec& spec) : spec_(spec) {
    libevdev* dev = libevdev_new();
    libevdev_set_name(dev, spec.name.c_str());
    libevdev_set_phys(dev, "usb-0000:00:14.0-2/input0");
    libevdev_set_id_bustype(dev, spec.bustype);
    libevdev_set_id_vendor(dev, spec.vendor);
    libevdev_set_id_product(dev, spec.product);
    libevdev_set_id_version(dev, spec.version);
    libevdev_enable_property(dev, INPUT_PROP_POINTER);
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA})
      libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
    for (unsigned code : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL})
      libevdev_enable_event_code(dev, EV_REL, code, nullptr);
    if (spec.hiRes) {
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
  const MouseSpec& spec() const { return spec_; }

 private:
  MouseSpec spec_;
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
    source_ = std::make_unique<SourceMouse>(MouseSpec{});
    ASSERT_TRUE(source_->made()) << "no uinput in this kernel";
    ASSERT_TRUE(StartDriver());
    pointer_ = WaitForVirtualPointer(source_->spec().name);
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
  MouseSpec spec;
  spec.name = "Kelvane Classic Wheel";
  spec.hiRes = false;
  SourceMouse classic(spec);
  ASSERT_TRUE(classic.made());
  std::string node = WaitForVirtualPointer(spec.name);
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
  MouseSpec spec;
  spec.name = "Kelvane Travel Mouse";
  spec.bustype = BUS_BLUETOOTH;
  spec.product = 0x2202;
  auto second = std::make_unique<SourceMouse>(spec);
  ASSERT_TRUE(second->made());
  std::string node = WaitForVirtualPointer(spec.name);
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
  EXPECT_TRUE(VirtualPointersNamed(spec.name).empty());
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

TEST_F(CorvimusdVm, TheActionsOfARecordReachTheVirtualDevices) {
  std::vector<std::string> keyboards = CorvimusDevicesWhere(
      [](const char* name) { return std::strcmp(name, "Corvimus virtual keyboard") == 0; });
  ASSERT_EQ(keyboards.size(), 1u);
  Reader pointer(pointer_), keyboard(keyboards[0]);
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
  std::vector<Event> typed = keyboard.Drain(1000);
  EXPECT_EQ(Describe(typed), Describe({{EV_KEY, KEY_LEFTCTRL, 1}, {EV_KEY, KEY_C, 1},
                                       {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_C, 0},
                                       {EV_KEY, KEY_LEFTCTRL, 0}, {EV_SYN, SYN_REPORT, 0}}));

  // The agent goes away: nothing is remapped any more, and the mouse passes straight through.
  ASSERT_EQ(agent.Close(connection), kIOReturnSuccess);
  std::vector<Event> middle = {{EV_KEY, BTN_MIDDLE, 1}, {EV_SYN, SYN_REPORT, 0},
                               {EV_KEY, BTN_MIDDLE, 0}, {EV_SYN, SYN_REPORT, 0}};
  EXPECT_EQ(Describe(RoundTrip(pointer, middle)), Describe(middle));
}

// Pushes a record as another user, from a child process that has become that user; the result.
SInt32 PushAsUser(uid_t uid) {
  int fds[2];
  if (pipe(fds) != 0) return kIOReturnError;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    SInt32 result = kIOReturnError;
    if (setgid(uid) == 0 && setuid(uid) == 0) {
      DriverTestClient client(kSocket);
      std::set<UInt32> services = client.Services();
      UInt32 connection = 0;
      if (!services.empty() && client.Open(*services.begin(), &connection) == kIOReturnSuccess)
        result = client.PushRecord(connection, kCorvimusDefaultPrefs);
    }
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
    WriteLogind("/run/systemd/sessions/c2", "UID=65534\nACTIVE=1\nSEAT=seat0\nDESKTOP=KDE\n");
    WriteLogind("/run/systemd/seats/seat0", "IS_SEAT0=1\nACTIVE=c2\nACTIVE_UID=65534\n");
    return {};
  }
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
  WriteLogind("/run/systemd/sessions/c3", "UID=0\nACTIVE=1\nSEAT=seat0\nDESKTOP=GNOME\n");
  WriteLogind("/run/systemd/seats/seat0", "IS_SEAT0=1\nACTIVE=c3\nACTIVE_UID=0\n");
  EXPECT_TRUE(Eventually(
      [&] { return root.PushRecord(connection, kCorvimusDefaultPrefs) == kIOReturnSuccess; }));
  EXPECT_EQ(PushAsUser(65534), kIOReturnNotPermitted);

  // The greeter: a seat with no active session.
  WriteLogind("/run/systemd/seats/seat0", "IS_SEAT0=1\n");
  EXPECT_TRUE(Eventually(
      [&] { return root.PushRecord(connection, kCorvimusDefaultPrefs) == kIOReturnNotPermitted; }));
}

}  // namespace
