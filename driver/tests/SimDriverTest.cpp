// corvimus-simdriver as a real child process, talked to through the IOKit client the agent uses and
// through its control lines.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "SimControl.h"
#include "platform/ByteOrder.h"
#include "platform/IOKit.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"
#include "settings/PrefsJson.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::ChildProcess;
using corvimus::testing::Command;
using corvimus::testing::ExitCode;
using corvimus::testing::TempDir;

namespace {

struct Message {
  void* refcon;
  natural_t type;
  std::vector<UInt8> argument;
};

struct Client {
  IONotificationPortRef port = nullptr;
  io_iterator_t added = 0, gone = 0;
  std::vector<io_service_t> matched, terminated;
  std::vector<Message> messages;
};
Client* gClient = nullptr;

void OnAdded(void*, io_iterator_t it) {
  while (io_object_t s = IOIteratorNext(it)) gClient->matched.push_back(s);
}
void OnGone(void*, io_iterator_t it) {
  while (io_object_t s = IOIteratorNext(it)) gClient->terminated.push_back(s);
}
void OnMessage(void* refcon, io_service_t, natural_t type, void* argument) {
  size_t size = type == kCorvimusMsgDoAction    ? sizeof(CorvimusActionRec)
                : type == kCorvimusMsgRawReport ? size_t(kCorvimusReportSize)
                                                : size_t(0);
  std::vector<UInt8> bytes;
  if (argument && size)
    bytes.assign(static_cast<UInt8*>(argument), static_cast<UInt8*>(argument) + size);
  gClient->messages.push_back({refcon, type, bytes});
}

// Starts the IOKit layer the way the agent does and takes in the mice present.
void StartIOKit(Client* client, const std::string& socket) {
  gClient = client;
  IOKitSetDriverPlacesForTesting("", socket.c_str());
  mach_port_t master = 0;
  ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &master), kIOReturnSuccess);
  client->port = IONotificationPortCreate(master);
  ASSERT_NE(client->port, nullptr);
  CFMutableDictionaryRef matching = IOServiceMatching(kCorvimusServiceClass);
  CFRetain(matching);
  ASSERT_EQ(IOServiceAddMatchingNotification(client->port, kIOFirstMatchNotification, matching,
                                             OnAdded, nullptr, &client->added),
            kIOReturnSuccess);
  OnAdded(nullptr, client->added);
  ASSERT_EQ(IOServiceAddMatchingNotification(client->port, kIOTerminatedNotification, matching,
                                             OnGone, nullptr, &client->gone),
            kIOReturnSuccess);
  OnGone(nullptr, client->gone);
  mach_port_deallocate(mach_task_self(), master);
}

bool DispatchUntil(Client* client, const std::function<bool()>& done) {
  int fd = IONotificationPortGetFileDescriptor(client->port);
  for (int i = 0; i < 1000 && !done(); ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) > 0) IONotificationPortDispatch(client->port);
  }
  return done();
}

// Opens a connection and registers for the service's messages with the connection as refcon, as
// the agent does.
io_connect_t OpenWithInterest(Client* client, io_service_t service) {
  io_connect_t c = 0;
  EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &c), kIOReturnSuccess);
  io_object_t n = 0;
  EXPECT_EQ(IOServiceAddInterestNotification(client->port, service, kIOGeneralInterest, OnMessage,
                                             reinterpret_cast<void*>(uintptr_t(c)), &n),
            kIOReturnSuccess);
  return c;
}

void* Refcon(io_connect_t c) {
  return reinterpret_cast<void*>(uintptr_t(c));
}

CorvimusDeviceInfo DeviceInfo(io_connect_t c, kern_return_t* err) {
  CorvimusDeviceInfo info{};
  IOByteCount size = sizeof info;
  *err = IOConnectMethodScalarIStructureO(c, kCorvimusSelectorDeviceInfo, 3, &size, int(c),
                                          int(kCorvimusDeviceInfoCode),
                                          int(kCorvimusDeviceInfoSelector), &info);
  return info;
}

kern_return_t Push(io_connect_t c, const void* record, IOByteCount size) {
  return IOConnectMethodScalarIStructureI(c, kCorvimusSelectorSetPrefs, 4, size, int(c),
                                          int(kCorvimusSetPrefsCode), int(kCorvimusSetPrefsVersion),
                                          0, record);
}

kern_return_t Scalar(io_connect_t c, OSType code, UInt32 value) {
  int ignored = -1;
  return IOConnectMethodScalarIScalarO(c, kCorvimusSelectorScalar, 3, 1, int(c), int(code),
                                       int(value), &ignored);
}

CorvimusPrefsRec SafariRecord() {
  CorvimusPrefsRec r{};
  r.application = FourCC("sfri");
  r.active = 1;
  std::memcpy(r.appName, "\x06Safari", 7);
  std::memcpy(r.appFileName, "\x06Safari", 7);
  r.device[0].speed = 40;
  r.device[0].acceleration = 255;
  r.device[0].action[0].command = kCmdMainClick;
  r.device[0].action[1].command = kCmdKeystroke;
  r.device[0].action[1].keyCode = 12;
  r.device[0].action[1].modifiers = cmdKey;
  r.device[0].action[3].command = kCmdBack;
  r.device[0].action[4].command = kCmdForward;
  r.device[0].action[5].command = kCmdOpenApplication;
  OSType creator = FourCC("ttxt");
  std::memcpy(r.device[0].action[5].data, &creator, 4);
  r.device[0].action[12].command = kCmdScrollFirst;
  r.device[0].action[12].repeat = 3;
  return r;
}

class SimDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { mkdir(folder_.c_str(), 0700); }
  void TearDown() override {
    IOKitShutdownForTesting();
    gClient = nullptr;
  }
  void StartSim(ChildProcess* sim, std::vector<std::string> args = {},
                const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {CORVIMUS_SIMDRIVER, "--socket", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_TRUE(sim->Start(argv, env));
    std::string line;
    ASSERT_TRUE(sim->ReadLine(&line));
    ASSERT_EQ(line, "ready " + socket_);
  }

  TempDir dir_;
  std::string folder_ = dir_ / "run";
  std::string socket_ = dir_ / "run/driver.sock";
  Client client_;
};

}  // namespace

TEST_F(SimDriverTest, MicePresentArriveAsFirstMatchesWithPlausibleDescriptions) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "3", "--bluetooth", "1"});
  StartIOKit(&client_, socket_);
  ASSERT_EQ(client_.matched.size(), 3u);
  int bluetooth = 0;
  for (io_service_t s : client_.matched) {
    io_name_t name;
    ASSERT_EQ(IOObjectGetClass(s, name), kIOReturnSuccess);
    EXPECT_STREQ(name, "Corvimus");
    io_connect_t c = OpenWithInterest(&client_, s);
    kern_return_t err;
    CorvimusDeviceInfo info = DeviceInfo(c, &err);
    ASSERT_EQ(err, kIOReturnSuccess);
    EXPECT_TRUE(info.transport == kCorvimusTransportBluetooth ||
                info.transport == kCorvimusTransportOther);
    bluetooth += info.transport == kCorvimusTransportBluetooth;
    EXPECT_GE(info.numButtons, 3);
    EXPECT_NE(info.vendorID, 0);
    EXPECT_GT(info.resolution, 0);
    EXPECT_GT(std::strlen(info.vendorName), 0u);
    EXPECT_LT(std::strlen(info.vendorName), sizeof info.vendorName);
    EXPECT_GT(std::strlen(info.productName), 0u);
  }
  EXPECT_EQ(bluetooth, 1);
}

TEST_F(SimDriverTest, AMouseAddedLaterArrivesAndARemovedOneIsTerminated) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"});
  StartIOKit(&client_, socket_);
  ASSERT_EQ(client_.matched.size(), 1u);
  EXPECT_EQ(Command(sim, "add bluetooth"), "ok mouse 2");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.matched.size() == 2; }));
  io_connect_t first = OpenWithInterest(&client_, client_.matched[0]);
  io_connect_t added = OpenWithInterest(&client_, client_.matched[1]);
  kern_return_t err;
  EXPECT_EQ(DeviceInfo(added, &err).transport, kCorvimusTransportBluetooth);

  EXPECT_EQ(Command(sim, "remove 2"), "ok removed mouse 2");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return !client_.messages.empty(); }));
  EXPECT_EQ(client_.messages[0].type, kIOMessageServiceIsTerminated);
  EXPECT_EQ(client_.messages[0].refcon, Refcon(added));
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.terminated.size() == 1; }));
  EXPECT_EQ(client_.terminated[0], client_.matched[1]);
  EXPECT_EQ(Scalar(added, kCorvimusOwnAppModeCode, 1), kIOReturnNotAttached);
  EXPECT_EQ(IOServiceClose(added), kIOReturnSuccess);
  // The mouse that stayed is untouched.
  EXPECT_EQ(Scalar(first, kCorvimusOwnAppModeCode, 1), kIOReturnSuccess);
  EXPECT_EQ(Command(sim, "remove 2"), "error: no mouse 2");
}

TEST_F(SimDriverTest, QuittingTerminatesEveryMouseAndARestartIsPickedUp) {
  StartIOKit(&client_, socket_);  // the agent first, no driver yet
  EXPECT_TRUE(client_.matched.empty());
  {
    ChildProcess sim;
    StartSim(&sim, {"--mice", "2"});
    ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.matched.size() == 2; }));
    io_connect_t a = OpenWithInterest(&client_, client_.matched[0]);
    io_connect_t b = OpenWithInterest(&client_, client_.matched[1]);
    EXPECT_EQ(Command(sim, "quit"), "ok bye");
    EXPECT_EQ(ExitCode(sim), 0);
    ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.messages.size() == 2; }));
    EXPECT_EQ(client_.messages[0].type, kIOMessageServiceIsTerminated);
    EXPECT_EQ(client_.messages[1].type, kIOMessageServiceIsTerminated);
    EXPECT_NE(client_.messages[0].refcon, client_.messages[1].refcon);
    ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.terminated.size() == 2; }));
    IOServiceClose(a);
    IOServiceClose(b);
    struct stat st {};
    EXPECT_NE(lstat(socket_.c_str(), &st), 0);  // the socket went with it
  }
  {
    ChildProcess sim;
    StartSim(&sim, {"--mice", "1"});
    ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.matched.size() == 3; }));
    // A driver that dies without a word leaves its socket behind; the next one replaces it.
    sim.Signal(SIGKILL);
    EXPECT_EQ(ExitCode(sim), 128 + SIGKILL);
    ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.terminated.size() == 3; }));
  }
  ChildProcess sim;
  StartSim(&sim, {"--mice", "2"});
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.matched.size() == 5; }));
}

TEST_F(SimDriverTest, PushesModesAndKeystrokesAreKeptPerMouseRecordedAndShown) {
  std::string recordPath = dir_ / "calls.jsonl";
  ChildProcess sim;
  StartSim(&sim, {"--mice", "2", "--record", recordPath});
  StartIOKit(&client_, socket_);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  CorvimusPrefsRec record = SafariRecord();
  EXPECT_EQ(Push(c, &record, sizeof record), kIOReturnSuccess);
  EXPECT_EQ(Scalar(c, kCorvimusOwnAppModeCode, 1), kIOReturnSuccess);
  EXPECT_EQ(Scalar(c, kCorvimusKeystrokeCode, PackKeystroke('[', 33, cmdKey)), kIOReturnSuccess);
  EXPECT_EQ(Scalar(c, FourCC("XXXX"), 1), kIOReturnUnsupported);

  std::string show = Command(sim, "show");
  EXPECT_NE(show.find("mouse 1:"), std::string::npos) << show;
  EXPECT_NE(show.find("record: application \"Safari\" ('sfri')"), std::string::npos) << show;
  EXPECT_NE(show.find("own-application mode: on"), std::string::npos) << show;
  // No request waits for the keystroke, so the engine types it with its modifiers' own meaning.
  EXPECT_NE(show.find("keystrokes: 1, the last typed as Super+["), std::string::npos)
      << show;
  EXPECT_NE(show.find("button 4 (thumb, back): back, Alt+Left"), std::string::npos) << show;
  EXPECT_NE(show.find("button 6: open application 'ttxt'"), std::string::npos) << show;
  EXPECT_NE(show.find("wheel rolled up: scroll up by 3"), std::string::npos) << show;
  EXPECT_NE(show.find("speed: 40"), std::string::npos) << show;
  // Mouse 2 was told nothing, and says so.
  size_t second = show.find("mouse 2:");
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(show.find("record: none received", second), std::string::npos) << show;
  EXPECT_NE(show.find("keystrokes: 0", second), std::string::npos) << show;
  EXPECT_EQ(show.substr(show.size() - 2), "ok");

  std::string log;
  ASSERT_TRUE(corvimus::testing::ReadFile(recordPath, &log));
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("\"mouse\": 1, \"selector\": 0, \"code\": \"CvSe\", \"scalars\": [" +
                          std::to_string(c) + ", 1131828069, 4352, 0], \"result\": 0"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("\"appName\": \"Safari\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"application\": \"sfri\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("{\"slot\": \"back\", \"command\": \"back\","), std::string::npos) << lines[0];
  // The record in the log is the record pushed, byte for byte, in the settings tool's JSON.
  size_t at = lines[0].find("\"record\": ");
  ASSERT_NE(at, std::string::npos);
  std::string json = lines[0].substr(at + 10, lines[0].size() - at - 11);
  CorvimusPrefsRec logged{};
  std::string error;
  ASSERT_TRUE(PrefsRecordFromJson(json, &logged, &error)) << error << "\n" << json;
  EXPECT_EQ(std::memcmp(&logged, &record, sizeof record), 0);
  EXPECT_NE(lines[1].find("\"selector\": 1, \"code\": \"CVsd\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"code\": \"CVtk\""), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find(std::to_string(PackKeystroke('[', 33, cmdKey))), std::string::npos);
  EXPECT_NE(lines[3].find("\"result\": " + std::to_string(kIOReturnUnsupported)), std::string::npos)
      << lines[3];
}

TEST_F(SimDriverTest, AStructureOfTheWrongSizeIsRefusedNotCut) {
  std::string recordPath = dir_ / "calls.jsonl";
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1", "--record", recordPath});
  StartIOKit(&client_, socket_);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  std::vector<UInt8> shortRecord(1000, 0x11), longRecord(1013, 0x22);
  EXPECT_EQ(Push(c, shortRecord.data(), IOByteCount(shortRecord.size())), kIOReturnBadArgument);
  EXPECT_EQ(Push(c, longRecord.data(), IOByteCount(longRecord.size())), kIOReturnBadArgument);
  EXPECT_NE(Command(sim, "show").find("record: none received"), std::string::npos);

  // A description buffer of another size than 180 is refused and left as it was.
  UInt8 small[100];
  std::memset(small, 0xEE, sizeof small);
  IOByteCount size = sizeof small;
  EXPECT_EQ(IOConnectMethodScalarIStructureO(c, kCorvimusSelectorDeviceInfo, 3, &size, int(c),
                                             int(kCorvimusDeviceInfoCode), 11, small),
            kIOReturnBadArgument);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(small[0], 0xEE);
  EXPECT_EQ(small[99], 0xEE);

  std::string log;
  ASSERT_TRUE(corvimus::testing::ReadFile(recordPath, &log));
  EXPECT_NE(log.find("\"structureSize\": 1000"), std::string::npos) << log;
  EXPECT_NE(log.find("\"structureSize\": 1013"), std::string::npos) << log;
  EXPECT_EQ(log.find("\"record\""), std::string::npos) << log;
}

TEST_F(SimDriverTest, PressSendsTheActionOnlyForCommandsTheAgentCarriesOut) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"});
  StartIOKit(&client_, socket_);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  // Before any record the mouse runs on the defaults, whose C3 is back.
  EXPECT_EQ(Command(sim, "press 1 C3"),
            "ok button 4 (thumb, back): back, through the agent");
  EXPECT_EQ(Command(sim, "press 1 C0"), "ok left button: left click");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.messages.size() == 1; }));
  CorvimusPrefsRec record = SafariRecord();
  ASSERT_EQ(Push(c, &record, sizeof record), kIOReturnSuccess);

  EXPECT_EQ(Command(sim, "press 1 C0"), "ok left button: left click");
  EXPECT_EQ(Command(sim, "press 1 C1"), "ok right button: Super+Q");
  EXPECT_EQ(Command(sim, "press 1 C3"),
            "ok button 4 (thumb, back): back, through the agent");
  EXPECT_EQ(Command(sim, "press 1 5"), "ok button 6: open application, through the agent");
  EXPECT_EQ(Command(sim, "press 1 wheel-up"), "ok wheel rolled up: scroll up 3 lines");
  // Left unchanged, the tilt passes as it came.
  EXPECT_EQ(Command(sim, "press 1 PB"), "ok wheel tilted right: scroll right 1 line");
  EXPECT_EQ(Command(sim, "report 1 0102ff"), "ok the report went to the agent");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.messages.size() == 4; }));
  CorvimusActionRec action;
  for (int i : {0, 1}) {
    ASSERT_EQ(client_.messages[size_t(i)].argument.size(), sizeof action);
    std::memcpy(&action, client_.messages[size_t(i)].argument.data(), sizeof action);
    EXPECT_EQ(client_.messages[size_t(i)].type, kCorvimusMsgDoAction);
    EXPECT_EQ(client_.messages[size_t(i)].refcon, Refcon(c));
    EXPECT_EQ(action.command, kCmdBack);
  }
  std::memcpy(&action, client_.messages[2].argument.data(), sizeof action);
  EXPECT_EQ(action.command, kCmdOpenApplication);
  EXPECT_EQ(LoadNative<UInt32>(action.data), FourCC("ttxt"));
  EXPECT_EQ(client_.messages[3].type, kCorvimusMsgRawReport);
  std::vector<UInt8> report(32, 0);
  report[0] = 1;
  report[1] = 2;
  report[2] = 0xFF;
  EXPECT_EQ(client_.messages[3].argument, report);

  EXPECT_EQ(Command(sim, "press 1 C8").rfind("error", 0), 0u);
  EXPECT_EQ(Command(sim, "press 1 9").rfind("error: no control 9", 0), 0u);  // slot 9: no control
  EXPECT_EQ(Command(sim, "press 9 C3"), "error: no mouse 9");
  EXPECT_EQ(Command(sim, "report 1 0g").rfind("error", 0), 0u);
  EXPECT_EQ(Command(sim, "report 1 " + std::string(66, 'a')).rfind("error", 0), 0u);
  EXPECT_EQ(Command(sim, "fly away").rfind("error: unknown command", 0), 0u);
}

TEST_F(SimDriverTest, TheAgentsKeystrokesAreTypedAsLinuxShortcutsOnTheDesktopsKeys) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"}, {"XDG_CURRENT_DESKTOP=ubuntu:GNOME"});
  StartIOKit(&client_, socket_);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  CorvimusPrefsRec record = SafariRecord();
  record.device[0].action[0].command = kCmdUndo;
  record.device[0].action[2].command = 67;  // launcher
  record.device[0].action[2].modifiers = 0;
  record.device[0].action[1].command = 43;
  record.device[0].action[1].modifiers = controlKey;
  ASSERT_EQ(Push(c, &record, sizeof record), kIOReturnSuccess);
  EXPECT_EQ(Command(sim, "press 1 C0"), "ok left button: undo, through the agent");
  // The agent's answer for a QWERTZ layout: z is typed by the key where US has Y.
  EXPECT_EQ(Scalar(c, kCorvimusKeystrokeCode, PackKeystroke('z', 0x10, cmdKey)), kIOReturnSuccess);
  EXPECT_NE(Command(sim, "show").find("typed as Ctrl+Y"), std::string::npos);
  EXPECT_EQ(Command(sim, "press 1 C3"),
            "ok button 4 (thumb, back): back, through the agent");
  EXPECT_EQ(Scalar(c, kCorvimusKeystrokeCode, PackKeystroke(kBackArrowChar, 0x7B, cmdKey)),
            kIOReturnSuccess);
  EXPECT_NE(Command(sim, "show").find("typed as Alt+Left"), std::string::npos);
  EXPECT_EQ(Command(sim, "press 1 C2"), "ok middle button (wheel click): Super+A");
  EXPECT_EQ(Command(sim, "press 1 C1"), "ok right button: left double click with Ctrl held");
}

TEST_F(SimDriverTest, TwoClientsEachHaveTheirOwnConnectionsAndMessages) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"});
  int toChild[2], fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  pid_t pid = fork();
  if (pid == 0) {
    // The second user's agent: its own process, its own registry.
    close(toChild[1]);
    close(fromChild[0]);
    Client other;
    StartIOKit(&other, socket_);
    auto say = [&](const std::string& s) { (void)!write(fromChild[1], s.data(), s.size()); };
    if (other.matched.size() != 1) _exit(10);
    io_connect_t c = OpenWithInterest(&other, other.matched[0]);
    CorvimusPrefsRec record = SafariRecord();
    record.device[0].action[3].command = kCmdCopy;
    if (Push(c, &record, sizeof record) != kIOReturnSuccess) _exit(11);
    say("ready\n");
    if (!DispatchUntil(&other, [&] { return !other.messages.empty(); })) _exit(12);
    CorvimusActionRec action;
    std::memcpy(&action, other.messages[0].argument.data(), sizeof action);
    say("cvda " + std::to_string(action.command) +
        (other.messages[0].refcon == Refcon(c) ? " mine\n" : " foreign\n"));
    char go;
    if (read(toChild[0], &go, 1) != 1) _exit(13);
    say("call " + std::to_string(Scalar(c, kCorvimusOwnAppModeCode, 1)) + "\n");
    if (!DispatchUntil(&other, [&] { return other.messages.size() == 2; })) _exit(14);
    say(other.messages[1].type == kIOMessageServiceIsTerminated ? "terminated\n" : "other\n");
    _exit(0);
  }
  close(toChild[0]);
  close(fromChild[1]);
  auto readLine = [&]() {
    std::string line;
    char ch;
    while (read(fromChild[0], &ch, 1) == 1 && ch != '\n') line += ch;
    return line;
  };
  ASSERT_EQ(readLine(), "ready");
  StartIOKit(&client_, socket_);
  io_connect_t mine = OpenWithInterest(&client_, client_.matched[0]);
  // The other client pushed last: the mouse holds its record, where C3 copies.
  EXPECT_EQ(Command(sim, "press 1 C3"),
            "ok button 4 (thumb, back): copy, through the agent");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.messages.size() == 1; }));
  EXPECT_EQ(client_.messages[0].refcon, Refcon(mine));
  EXPECT_EQ(readLine(), "cvda 73 mine");
  // Closing this client's connection leaves the other's open.
  EXPECT_EQ(IOServiceClose(mine), kIOReturnSuccess);
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  EXPECT_EQ(readLine(), "call 0");
  EXPECT_EQ(Command(sim, "remove 1"), "ok removed mouse 1");
  EXPECT_EQ(readLine(), "terminated");
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(toChild[1]);
  close(fromChild[0]);
}

TEST_F(SimDriverTest, TheDriverCanCloseConnectionsItself) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"});
  StartIOKit(&client_, socket_);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  EXPECT_EQ(Command(sim, "close 1"), "ok closed 1 connections");
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.messages.size() == 1; }));
  EXPECT_EQ(client_.messages[0].type, kIOMessageServiceWasClosed);
  EXPECT_EQ(client_.messages[0].refcon, Refcon(c));
  EXPECT_EQ(Scalar(c, kCorvimusOwnAppModeCode, 1), kIOReturnNotOpen);
  EXPECT_EQ(IOServiceClose(c), kIOReturnSuccess);
  io_connect_t again = OpenWithInterest(&client_, client_.matched[0]);
  EXPECT_EQ(Scalar(again, kCorvimusOwnAppModeCode, 1), kIOReturnSuccess);
}

TEST_F(SimDriverTest, RunsOnWithItsInputClosedAndEndsCleanlyOnSigterm) {
  ChildProcess sim;
  StartSim(&sim, {"--mice", "1"});
  sim.CloseInput();
  StartIOKit(&client_, socket_);
  ASSERT_EQ(client_.matched.size(), 1u);
  io_connect_t c = OpenWithInterest(&client_, client_.matched[0]);
  EXPECT_EQ(Scalar(c, kCorvimusOwnAppModeCode, 0), kIOReturnSuccess);
  sim.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(sim), 0);
  ASSERT_TRUE(DispatchUntil(&client_, [&] { return client_.terminated.size() == 1; }));
  struct stat st {};
  EXPECT_NE(lstat(socket_.c_str(), &st), 0);
}

TEST_F(SimDriverTest, BadCommandLinesAndABusySocketAreRefused) {
  using corvimus::testing::RunProgram;
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), CORVIMUS_SIMDRIVER);
    return RunProgram(args, "", {}, 10000);
  };
  EXPECT_EQ(run({"--mice", "x", "--socket", socket_}).exitCode, 2);
  EXPECT_EQ(run({"--mice", "-1", "--socket", socket_}).exitCode, 2);
  EXPECT_EQ(run({"--mice", "2", "--bluetooth", "3", "--socket", socket_}).exitCode, 2);
  EXPECT_EQ(run({"--frobnicate"}).exitCode, 2);
  EXPECT_EQ(run({"--socket"}).exitCode, 2);
  corvimus::testing::WriteFile(dir_ / "run/file", "not a socket");
  auto notSocket = run({"--socket", dir_ / "run/file"});
  EXPECT_EQ(notSocket.exitCode, 1);
  std::string kept;
  ASSERT_TRUE(corvimus::testing::ReadFile(dir_ / "run/file", &kept));
  EXPECT_EQ(kept, "not a socket");

  ChildProcess first;
  StartSim(&first, {"--mice", "1"});
  auto second = run({"--socket", socket_});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
  EXPECT_EQ(Command(first, "show").substr(0, 8), "mouse 1:");  // the first carries on
}
