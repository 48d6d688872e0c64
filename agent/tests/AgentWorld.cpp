#include "AgentWorld.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Processes.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "settings/PrefsJson.h"

namespace agenttest {

namespace fs = std::filesystem;
using corvimus::testing::WriteFile;

namespace {

constexpr int kWaitMs = 15000;

long long Number(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::stoll(line.substr(at + key.size() + 4));
}

bool ParseCall(const std::string& line, DriverCall* call) {
  if (line.empty() || line.back() != '}') return false;
  call->mouse = UInt32(Number(line, "mouse"));
  call->selector = UInt32(Number(line, "selector"));
  call->result = Number(line, "result");
  size_t code = line.find("\"code\": \"");
  if (code != std::string::npos)
    call->code = line.substr(code + 9, line.find('"', code + 9) - code - 9);
  size_t scalars = line.find("\"scalars\": [");
  if (scalars != std::string::npos) {
    std::istringstream in(line.substr(scalars + 12, line.find(']', scalars) - scalars - 12));
    for (std::string item; std::getline(in, item, ',');) call->scalars.push_back(std::stoll(item));
  }
  size_t record = line.find("\"record\": ");
  if (record != std::string::npos) {
    std::string json = line.substr(record + 10, line.size() - record - 10 - 1);
    std::string error;
    call->hasRecord = PrefsRecordFromJson(json, &call->record, &error);
    EXPECT_TRUE(call->hasRecord) << error << " in " << json;
  }
  return true;
}

}  // namespace

void SetPascal(unsigned char* field, size_t fieldSize, const std::string& text) {
  size_t length = std::min(text.size(), fieldSize - 1);
  field[0] = static_cast<unsigned char>(length);
  std::memcpy(field + 1, text.data(), length);
}

CorvimusPrefsRec MakeRecord(OSType application, const std::string& fileName, UInt8 speed) {
  CorvimusPrefsRec record = kCorvimusDefaultPrefs;
  record.application = application;
  SetPascal(record.appFileName, sizeof record.appFileName, fileName);
  SetPascal(record.appName, sizeof record.appName, application ? fileName : "Global");
  record.device[0].speed = speed;
  if (application) {
    for (auto& action : record.device[0].action) action.command = kCmdAsGlobal;
  }
  return record;
}

void AgentWorld::SetUp() {
  if (!corvimus::testing::XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
  for (const char* dir : {"run", "config", "home", "prefix", "apps"})
    fs::create_directories(root_ / dir);
  chmod((root_ / "run").c_str(), 0700);
  recordPath_ = root_ / "driver-calls.jsonl";
  std::string why;
  ASSERT_TRUE(x_.Start(&why)) << why;
  agentEnv_ = {"XDG_RUNTIME_DIR=" + (root_ / "run"), "XDG_CONFIG_HOME=" + (root_ / "config"),
               "HOME=" + (root_ / "home"), "CORVIMUS_PREFIX=" + (root_ / "prefix"),
               "DISPLAY=" + x_.display()};
  // This process looks at the same folders: it writes the settings and talks to the agent.
  for (const auto& entry : agentEnv_) {
    size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
  // Only this test's own children count, not the agents of tests running beside it.
  SetProcessScopeForTesting(getpid());
}

void AgentWorld::TearDown() {
  agent_.Signal(SIGKILL);
  agent_.Wait(5000);
  if (sim_.running()) sim_.Command("quit");
  sim_.Wait(5000);
  apps_.clear();
  SetProcessScopeForTesting(0);
}

void AgentWorld::StartDriver(int mice, int bluetooth) {
  ASSERT_TRUE(sim_.Start({CORVIMUS_SIMDRIVER, "--mice", std::to_string(mice), "--bluetooth",
                          std::to_string(bluetooth), "--record", recordPath_}));
  std::string line;
  ASSERT_TRUE(sim_.ReadLine(&line));
  ASSERT_EQ(0u, line.rfind("ready", 0)) << line;
}

void AgentWorld::StartAgent(int expectedMice) {
  ASSERT_TRUE(agent_.Start({CORVIMUS_HELPER}));
  for (int mouse = 1; mouse <= expectedMice; ++mouse)
    ASSERT_TRUE(WaitForCount(UInt32(mouse), "CVsd", 1)) << "mouse " << mouse << " was not set up";
  ASSERT_TRUE(WaitForDeviceCount(SInt16(std::min(expectedMice, 10))));
}

std::string AgentWorld::Sim(const std::string& line) {
  return sim_.Command(line);
}

std::string AgentWorld::SettingsPath() const {
  return root_ / ("config/" + std::string(kCorvimusPrefsFileName));
}

void AgentWorld::WriteSettings(const std::vector<CorvimusPrefsRec>& records) {
  QBaseHandle base = NewMouseSettingsBase(4);
  ASSERT_NE(nullptr, base);
  for (const auto& record : records) ASSERT_GE(QBaseAddRecord(base, &record, sizeof record), 0);
  Str255 name;
  name[0] = static_cast<unsigned char>(std::strlen(kCorvimusPrefsFileName));
  std::memcpy(name + 1, kCorvimusPrefsFileName, name[0]);
  OSErr err = SaveMouseSettings(base, name, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  QBaseDispose(base);
  ASSERT_EQ(noErr, err);
}

void AgentWorld::MakeAppBundle(const std::string& path, const std::string& name,
                               const std::string& signature) {
  std::string bundleName = fs::path(path).stem().string();
  fs::create_directories(path + "/Contents/MacOS");
  std::string exe = path + "/Contents/MacOS/" + bundleName;
  // A copy, not a link: the Process Manager names a process after where its executable lies.
  fs::copy_file(AGENT_TEST_APP, exe, fs::copy_options::overwrite_existing);
  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>CFBundleExecutable</key><string>" +
      bundleName +
      "</string>"
      "<key>CFBundleName</key><string>" +
      name + "</string>";
  if (!signature.empty()) plist += "<key>CFBundleSignature</key><string>" + signature + "</string>";
  plist += "</dict></plist>\n";
  WriteFile(path + "/Contents/Info.plist", plist);
}

TestApp* AgentWorld::Launch(const std::string& bundleName, const std::string& name,
                            const std::string& signature, const std::vector<std::string>& env) {
  std::string path = root_ / ("apps/" + std::to_string(apps_.size()) + "/" + bundleName + ".app");
  MakeAppBundle(path, name, signature);
  auto app = std::make_unique<TestApp>();
  app->name = name;
  EXPECT_TRUE(app->process.Start({path + "/Contents/MacOS/" + bundleName}, env));
  std::string line;
  EXPECT_TRUE(app->process.ReadLine(&line)) << name << " did not start";
  EXPECT_EQ(0u, line.rfind("ready ", 0)) << line;
  apps_.push_back(std::move(app));
  return apps_.back().get();
}

void AgentWorld::Front(TestApp* app) {
  ASSERT_EQ("ok front", app->process.Command("front"));
}

std::vector<DriverCall> AgentWorld::Calls() const {
  std::vector<DriverCall> calls;
  std::ifstream in(recordPath_);
  for (std::string line; std::getline(in, line);) {
    DriverCall call;
    if (ParseCall(line, &call)) calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<DriverCall> AgentWorld::CallsOf(UInt32 mouse, const std::string& code) const {
  std::vector<DriverCall> calls;
  for (auto& call : Calls())
    if (call.mouse == mouse && call.code == code) calls.push_back(call);
  return calls;
}

bool AgentWorld::WaitForCalls(const std::function<bool(const std::vector<DriverCall>&)>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  for (;;) {
    if (done(Calls())) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool AgentWorld::WaitForCount(UInt32 mouse, const std::string& code, size_t count) {
  return WaitForCalls([&](const std::vector<DriverCall>& calls) {
    size_t n = 0;
    for (const auto& call : calls) n += call.mouse == mouse && call.code == code;
    return n >= count;
  });
}

bool AgentWorld::LastRecord(UInt32 mouse, CorvimusPrefsRec* record) const {
  bool found = false;
  for (const auto& call : Calls()) {
    if (call.mouse == mouse && call.hasRecord) {
      *record = call.record;
      found = true;
    }
  }
  return found;
}

bool AgentWorld::WaitForSpeed(int mice, UInt8 speed) {
  return WaitForCalls([&](const std::vector<DriverCall>& calls) {
    for (int mouse = 1; mouse <= mice; ++mouse) {
      const DriverCall* last = nullptr;
      for (const auto& call : calls)
        if (call.mouse == UInt32(mouse) && call.hasRecord) last = &call;
      if (!last || last->record.device[0].speed != speed) return false;
    }
    return true;
  });
}

OSErr AgentWorld::SendToAgent(AEEventClass eventClass, AEEventID eventID) {
  ProcessSerialNumber psn;
  OSErr err = GetProcessForPID(agent_.pid(), &psn);
  if (err != noErr) return err;
  AEAddressDesc target;
  if ((err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target)) != noErr) return err;
  AppleEvent event;
  err = AECreateAppleEvent(eventClass, eventID, &target, kAutoGenerateReturnID, kAnyTransactionID,
                           &event);
  AEDisposeDesc(&target);
  if (err != noErr) return err;
  err = AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  AEDisposeDesc(&event);
  return err;
}

OSErr AgentWorld::Devices(CorvimusDeviceList* list) {
  OSErr err = noErr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    err = GetConnectedDevices(list);
    if (err == noErr) return err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return err;
}

bool AgentWorld::WaitForDeviceCount(SInt16 count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  for (;;) {
    CorvimusDeviceList list{};
    if (GetConnectedDevices(&list) == noErr && list.count == count) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace agenttest
