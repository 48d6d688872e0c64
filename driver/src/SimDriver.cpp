#include "driver/SimDriver.h"

#include <linux/input-event-codes.h>
#include <time.h>

#include <cctype>
#include <cstring>
#include <sstream>

#include "driver/DriverCalls.h"
#include "driver/SimText.h"
#include "platform/IOKit.h"
#include "settings/CommandTable.h"
#include "settings/PrefsJson.h"
#include "settings/PrefsText.h"

namespace corvimus {

namespace {

struct MouseModel {
  const char* product;
  UInt8 buttons;
  UInt16 productID;
  SInt32 resolution;
};

// A small family of made-up mice, so that several virtual mice do not all look alike.
constexpr MouseModel kWiredModels[] = {
    {"Corvimus Optical Mouse", 5, 0x0101, 800},
    {"Corvimus Trackball", 4, 0x0102, 400},
    {"Corvimus Pro 8", 8, 0x0103, 1600},
};
constexpr MouseModel kBluetoothModels[] = {
    {"Corvimus Wireless Mouse", 5, 0x0201, 1000},
    {"Corvimus Travel Mouse", 3, 0x0202, 800},
};
constexpr UInt16 kSimVendorID = 0x4B56;
constexpr char kSimVendorName[] = "Kelvane";

std::string CodeText(UInt64 scalar) {
  char text[5];
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((scalar >> (24 - 8 * i)) & 0xFF);
    if (!std::isprint(static_cast<unsigned char>(c)) || c == '"' || c == '\\') return "";
    text[i] = c;
  }
  text[4] = 0;
  return text;
}

bool ParseNumber(const std::string& word, UInt32* n) {
  if (word.empty() || word.size() > 9) return false;
  for (char c : word)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *n = static_cast<UInt32>(std::stoul(word));
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

UInt64 MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return UInt64(ts.tv_sec) * 1000000 + UInt64(ts.tv_nsec) / 1000;
}

// How long a simulated button stays down.
constexpr UInt64 kPressUs = 80000;

}  // namespace

void SimEngineOutput::PointerEvent(UInt16 type, UInt16 code, SInt32 value) {
  written.push_back({EngineEvent::kPointer, type, code, value});
}

void SimEngineOutput::KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) {
  written.push_back({EngineEvent::kKeyboard, type, code, value});
}

void SimEngineOutput::AgentRequest(const CorvimusActionRec& action) {
  server_->SendInterest(mouse_, kCorvimusMsgDoAction, &action, sizeof action);
  EngineEvent e{EngineEvent::kAgent};
  e.command = action.command;
  written.push_back(e);
}

void SimEngineOutput::Report(const UInt8 (&bytes)[32]) {
  server_->SendInterest(mouse_, kCorvimusMsgRawReport, bytes, sizeof bytes);
  written.push_back({EngineEvent::kReport});
}

CorvimusDeviceInfo SimDeviceInfo(UInt32 number, bool bluetooth) {
  CorvimusDeviceInfo info{};
  const MouseModel& model = bluetooth ? kBluetoothModels[(number - 1) % std::size(kBluetoothModels)]
                                      : kWiredModels[(number - 1) % std::size(kWiredModels)];
  info.transport = bluetooth ? kCorvimusTransportBluetooth : kCorvimusTransportOther;
  info.numButtons = model.buttons;
  info.mouseReportID = 1;
  info.vendorID = kSimVendorID;
  info.productID = model.productID;
  info.productVers = 0x0110;
  info.resolution = model.resolution;
  std::snprintf(info.vendorName, sizeof info.vendorName, "%s", kSimVendorName);
  std::snprintf(info.productName, sizeof info.productName, "%s", model.product);
  return info;
}

SimDriver::SimDriver() : server_(this) {}

SimDriver::~SimDriver() {
  Stop();
}

OSErr SimDriver::Start(const std::string& socketPath, int mice, int bluetooth,
                       const std::string& recordPath) {
  if (mice < 0 || bluetooth < 0 || bluetooth > mice) return paramErr;
  if (!recordPath.empty()) {
    record_ = std::fopen(recordPath.c_str(), "a");
    if (!record_) return ioErr;
  }
  OSErr err = server_.Listen(socketPath);
  if (err != noErr) return err;
  for (int i = 0; i < mice; ++i) AddMouse(i < bluetooth);
  return noErr;
}

void SimDriver::Stop() {
  // Tell every client that the mice are gone before the socket closes, so none has to infer it.
  for (auto& [number, mouse] : mice_) server_.Terminate(number);
  mice_.clear();
  server_.Shutdown(1000);
  if (record_) std::fclose(record_);
  record_ = nullptr;
}

UInt32 SimDriver::AddMouse(bool bluetooth) {
  SimMouse mouse;
  mouse.number = nextMouse_++;
  mouse.bluetooth = bluetooth;
  mouse.info = SimDeviceInfo(mouse.number, bluetooth);
  std::vector<std::pair<std::string, std::string>> properties = {
      {"Product", mouse.info.productName},
      {"Manufacturer", mouse.info.vendorName},
      {"Transport", bluetooth ? "Bluetooth" : "USB"},
  };
  UInt32 number = mouse.number;
  // Until a client pushes a record the engine runs on the defaults, as a real driver does.
  mouse.output = std::make_unique<SimEngineOutput>(&server_, number);
  mouse.engine = std::make_unique<ActionEngine>(mouse.output.get());
  mouse.engine->SetDesktop(desktop_);
  mice_[number] = std::move(mouse);
  server_.Publish(number, kCorvimusServiceClass, properties);
  return number;
}

void SimDriver::SetDesktop(DesktopKind kind) {
  desktop_ = kind;
  for (auto& [number, mouse] : mice_) mouse.engine->SetDesktop(kind);
}

bool SimDriver::RemoveMouse(UInt32 number) {
  auto it = mice_.find(number);
  if (it == mice_.end()) return false;
  it->second.engine->Reset();  // the mouse is gone: nothing it held stays down
  mice_.erase(it);
  server_.Terminate(number);
  return true;
}

const SimMouse* SimDriver::Mouse(UInt32 number) const {
  auto it = mice_.find(number);
  return it == mice_.end() ? nullptr : &it->second;
}

SInt32 SimDriver::DriverOpen(UInt32 serviceId, UInt32 type) {
  if (!mice_.count(serviceId)) return kIOReturnNotAttached;
  return type == 0 ? kIOReturnSuccess : kIOReturnBadArgument;
}

void SimDriver::DriverCall(const DriverCallRequest& call, DriverCallResult* result) {
  auto it = mice_.find(call.serviceId);
  if (it == mice_.end()) {
    result->result = kIOReturnNotAttached;
    return;
  }
  result->result = Call(it->second, call, result);
  if (result->result != kIOReturnSuccess) {
    result->scalarCount = 0;
    result->structOut.clear();
  }
  Record(it->second, call, result->result);
}

SInt32 SimDriver::Call(SimMouse& mouse, const DriverCallRequest& call, DriverCallResult* result) {
  CorvimusCall parsed;
  SInt32 err = ParseCorvimusCall(call, &parsed);
  if (err != kIOReturnSuccess) return err;
  switch (parsed.kind) {
    case CorvimusCallKind::SetPrefs:
      if (mouse.refusePrefs) return kIOReturnNotPermitted;
      mouse.record = parsed.record;
      mouse.hasRecord = true;
      ++mouse.pushes;
      mouse.engine->SetRecord(&mouse.record);
      Settle(mouse);
      break;
    case CorvimusCallKind::OwnAppMode:
      mouse.ownAppMode = parsed.value != 0;
      mouse.engine->SetOwnAppMode(mouse.ownAppMode);
      Settle(mouse);
      break;
    case CorvimusCallKind::Keystroke:
      mouse.keystrokes.push_back(parsed.value);
      mouse.output->written.clear();
      mouse.engine->PostKeystroke(parsed.value);
      mouse.lastTyped = Settle(mouse);
      break;
    case CorvimusCallKind::DeviceInfo:
      break;
  }
  ReplyToCorvimusCall(call, parsed, mouse.info, result);
  return kIOReturnSuccess;
}

void SimDriver::Record(const SimMouse& mouse, const DriverCallRequest& call, SInt32 result) {
  if (!record_) return;
  std::ostringstream line;
  line << "{\"mouse\": " << mouse.number << ", \"selector\": " << call.selector << ", \"code\": \""
       << (call.scalarCount >= 2 ? CodeText(call.scalars[1]) : "") << "\", \"scalars\": [";
  for (UInt32 i = 0; i < call.scalarCount; ++i) line << (i ? ", " : "") << call.scalars[i];
  line << "], \"result\": " << result;
  if (call.selector == kCorvimusSelectorSetPrefs && result == kIOReturnSuccess)
    line << ", \"record\": " << PrefsRecordToJson(mouse.record);
  else if (!call.structIn->empty())
    line << ", \"structureSize\": " << call.structIn->size();
  line << "}\n";
  std::string text = line.str();
  std::fwrite(text.data(), 1, text.size(), record_);
  std::fflush(record_);
}

std::string SimDriver::Settle(SimMouse& mouse) {
  mouse.clockUs = std::max(mouse.clockUs, MonotonicUs());
  for (UInt64 next; (next = mouse.engine->NextTimerUs());) {
    mouse.clockUs = std::max(mouse.clockUs, next);
    mouse.engine->HandleTimer(mouse.clockUs);
  }
  std::string words = DescribeEngineOutput(mouse.output->written);
  mouse.output->written.clear();
  return words;
}

namespace {

std::string ControlWordsText() {
  std::string out;
  for (const ControlInfo& c : kControlTable) out += (out.empty() ? "" : ", ") + std::string(c.word);
  return out;
}

}  // namespace

std::string SimDriver::Press(UInt32 number, const std::string& slotWord) {
  auto it = mice_.find(number);
  if (it == mice_.end()) return "error: no mouse " + std::to_string(number);
  int slot = SlotFromText(slotWord);
  const ControlInfo* control = slot < 0 ? nullptr : FindControl(slot);
  if (!control)
    return "error: no control " + slotWord + " (" + ControlWordsText() +
           ", or C0-C7, RF, RB, PF, PB)";
  SimMouse& mouse = it->second;
  Settle(mouse);
  ActionEngine& engine = *mouse.engine;
  UInt64 t = mouse.clockUs;
  if (slot <= kSlotButtonLast) {
    UInt16 code = UInt16(BTN_LEFT + slot);
    engine.HandleEvent(EV_KEY, code, 1, t);
    engine.HandleEvent(EV_SYN, SYN_REPORT, 0, t);
    mouse.clockUs = t + kPressUs;
    engine.HandleEvent(EV_KEY, code, 0, mouse.clockUs);
    engine.HandleEvent(EV_SYN, SYN_REPORT, 0, mouse.clockUs);
  } else {
    // One notch, with its high-resolution partner, the way the control's events come.
    bool vertical = slot == kSlotRF || slot == kSlotRB;
    SInt32 sign = slot == kSlotRF || slot == kSlotPB ? 1 : -1;
    engine.HandleEvent(EV_REL, vertical ? REL_WHEEL_HI_RES : REL_HWHEEL_HI_RES, 120 * sign, t);
    engine.HandleEvent(EV_REL, vertical ? REL_WHEEL : REL_HWHEEL, sign, t);
    engine.HandleEvent(EV_SYN, SYN_REPORT, 0, t);
  }
  std::string name = control->name;
  name[0] = char(std::tolower(static_cast<unsigned char>(name[0])));
  return "ok " + name + ": " + Settle(mouse);
}

std::string SimDriver::Report(UInt32 number, const std::string& hex) {
  if (!mice_.count(number)) return "error: no mouse " + std::to_string(number);
  UInt8 report[kCorvimusReportSize] = {};
  if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 2 * sizeof report)
    return "error: the report is 1 to 32 bytes in hex digits";
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return "error: not a hex digit in " + hex;
    report[i / 2] = static_cast<UInt8>(hi * 16 + lo);
  }
  server_.SendInterest(number, kCorvimusMsgRawReport, report, sizeof report);
  return "ok the report went to the agent";
}

std::string SimDriver::Show() const {
  std::ostringstream out;
  if (mice_.empty()) out << "no mice\n";
  for (const auto& [number, mouse] : mice_) out << SimDescribeMouse(mouse);
  return out.str();
}

namespace {

const char kControlHelp[] =
    "  press N CONTROL   press and release a control of mouse N: left, right, middle, back,\n"
    "                    forward, button6-8, wheel-up, wheel-down, tilt-left, tilt-right\n"
    "  add [bluetooth]   connect another mouse\n"
    "  remove N          disconnect mouse N\n"
    "  report N HEX      send a raw report of mouse N (1 to 32 bytes) to the agent\n"
    "  close N           close the connections of mouse N's clients\n"
    "  refuse N on|off   make mouse N refuse settings records, or take them again\n"
    "  show              the mice, their records and what each control does\n"
    "  help              this list\n"
    "  quit              stop the simulated driver\n";

}  // namespace

bool SimDriver::Control(const std::string& line, std::string* answer) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  answer->clear();
  if (words.empty()) return true;
  const std::string& verb = words[0];
  UInt32 number = 0;
  if (verb == "quit" && words.size() == 1) {
    *answer = "ok bye\n";
    return false;
  }
  if (verb == "add" && (words.size() == 1 || (words.size() == 2 && words[1] == "bluetooth"))) {
    *answer = "ok mouse " + std::to_string(AddMouse(words.size() == 2)) + "\n";
  } else if (verb == "remove" && words.size() == 2 && ParseNumber(words[1], &number)) {
    *answer = RemoveMouse(number) ? "ok removed mouse " + words[1] + "\n"
                                  : "error: no mouse " + words[1] + "\n";
  } else if (verb == "press" && words.size() == 3 && ParseNumber(words[1], &number)) {
    *answer = Press(number, words[2]) + "\n";
  } else if (verb == "report" && words.size() == 3 && ParseNumber(words[1], &number)) {
    *answer = Report(number, words[2]) + "\n";
  } else if (verb == "close" && words.size() == 2 && ParseNumber(words[1], &number)) {
    if (!mice_.count(number)) {
      *answer = "error: no mouse " + words[1] + "\n";
    } else {
      std::vector<UInt32> connections = server_.ConnectionsOf(number);
      for (UInt32 c : connections) server_.CloseConnection(c);
      *answer = "ok closed " + std::to_string(connections.size()) + " connections\n";
    }
  } else if (verb == "refuse" && words.size() == 3 && ParseNumber(words[1], &number) &&
             (words[2] == "on" || words[2] == "off")) {
    auto it = mice_.find(number);
    if (it == mice_.end()) {
      *answer = "error: no mouse " + words[1] + "\n";
    } else {
      it->second.refusePrefs = words[2] == "on";
      *answer = "ok mouse " + words[1] + (words[2] == "on" ? " refuses" : " accepts") +
                " settings records\n";
    }
  } else if (verb == "show" && words.size() == 1) {
    *answer = Show() + "ok\n";
  } else if (verb == "help" && words.size() == 1) {
    *answer = std::string(kControlHelp) + "ok\n";
  } else {
    *answer = "error: unknown command: " + line + " (help lists the commands)\n";
  }
  return true;
}

}  // namespace corvimus
