#include "Daemon.h"

#include <linux/input.h>

#include <cstdio>

#include "driver/DriverCalls.h"
#include "platform/IOKit.h"

namespace corvimus {

// What one engine says goes to its own mouse's virtual pointer, the shared keyboard, or the active
// user's agents.
class CorvimusDaemon::Output : public EngineOutput {
 public:
  Output(CorvimusDaemon* daemon, UInt32 serviceId) : daemon_(daemon), serviceId_(serviceId) {}
  void SetPointer(VirtualDevice* pointer) { pointer_ = pointer; }
  void PointerEvent(UInt16 type, UInt16 code, SInt32 value) override {
    if (pointer_) pointer_->Emit(type, code, value);
  }
  void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) override {
    if (daemon_->keyboard_) daemon_->keyboard_->Emit(type, code, value);
  }
  void AgentRequest(const CorvimusActionRec& action) override {
    daemon_->server_.SendInterestToUser(serviceId_, daemon_->activeUid_, kCorvimusMsgDoAction,
                                        &action, sizeof action);
  }
  void Report(const UInt8 (&bytes)[32]) override {
    daemon_->server_.SendInterestToUser(serviceId_, daemon_->activeUid_, kCorvimusMsgRawReport,
                                        bytes, sizeof bytes);
  }

 private:
  CorvimusDaemon* daemon_;
  UInt32 serviceId_;
  VirtualDevice* pointer_ = nullptr;
};

struct CorvimusDaemon::Mouse {
  UInt32 serviceId = 0;
  CorvimusDeviceInfo info{};
  std::unique_ptr<VirtualDevice> pointer;
  std::unique_ptr<Output> output;
  std::unique_ptr<ActionEngine> engine;
  bool remapping = false;
  // What each user last pushed to this mouse.
  std::map<UInt32, CorvimusPrefsRec> records;
  std::map<UInt32, bool> ownAppModes;
};

CorvimusDaemon::CorvimusDaemon(VirtualDevice* keyboard) : server_(this), keyboard_(keyboard) {}

CorvimusDaemon::~CorvimusDaemon() {
  for (auto& [id, mouse] : mice_) mouse->engine->Reset();
}

UInt32 CorvimusDaemon::AddMouse(const MouseDescription& description,
                                std::unique_ptr<VirtualDevice> pointer) {
  auto mouse = std::make_unique<Mouse>();
  mouse->serviceId = nextService_++;
  if (nextService_ == 0) nextService_ = 1;
  mouse->info = DeviceInfoFromDescription(description);
  mouse->pointer = std::move(pointer);
  mouse->output = std::make_unique<Output>(this, mouse->serviceId);
  mouse->output->SetPointer(mouse->pointer.get());
  mouse->engine = std::make_unique<ActionEngine>(mouse->output.get());
  mouse->engine->SetDesktop(desktop_);
  UInt32 id = mouse->serviceId;
  const CorvimusDeviceInfo& info = mouse->info;
  mice_[id] = std::move(mouse);
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x:%04x", description.vendor, description.product);
  server_.Publish(id, kCorvimusServiceClass,
                  {{"Product", info.productName},
                   {"Manufacturer", info.vendorName},
                   {"Transport", description.bustype == BUS_BLUETOOTH ? "Bluetooth"
                                 : description.bustype == BUS_USB     ? "USB"
                                                                      : "Other"},
                   {"IDs", ids}});
  return id;
}

void CorvimusDaemon::RemoveMouse(UInt32 serviceId) {
  auto it = mice_.find(serviceId);
  if (it == mice_.end()) return;
  it->second->engine->Reset();
  // Unlinked first: the server's close notifications must not find it half gone.
  std::unique_ptr<Mouse> mouse = std::move(it->second);
  mice_.erase(it);
  server_.Terminate(serviceId);
}

void CorvimusDaemon::MouseEvent(UInt32 serviceId, UInt16 type, UInt16 code, SInt32 value,
                                UInt64 nowUs) {
  auto it = mice_.find(serviceId);
  if (it == mice_.end()) return;
  Mouse& mouse = *it->second;
  if (mouse.remapping)
    mouse.engine->HandleEvent(type, code, value, nowUs);
  else if (mouse.pointer)
    mouse.pointer->Emit(type, code, value);
}

void CorvimusDaemon::SetActiveUser(UInt32 uid, DesktopKind desktop) {
  if (uid == activeUid_ && desktop == desktop_) return;
  bool userChanged = uid != activeUid_;
  activeUid_ = uid;
  desktop_ = desktop;
  for (auto& [id, mouse] : mice_) {
    mouse->engine->SetDesktop(desktop);
    if (!userChanged) continue;
    // What the last user's settings pressed is let go before the next user's take over.
    mouse->engine->Reset();
    ApplyUserSettings(*mouse);
    Reconsider(*mouse);
  }
}

bool CorvimusDaemon::Remapping(UInt32 serviceId) const {
  auto it = mice_.find(serviceId);
  return it != mice_.end() && it->second->remapping;
}

UInt64 CorvimusDaemon::NextTimerUs() const {
  UInt64 next = 0;
  for (const auto& [id, mouse] : mice_) {
    if (!mouse->remapping) continue;
    UInt64 t = mouse->engine->NextTimerUs();
    if (t && (!next || t < next)) next = t;
  }
  return next;
}

void CorvimusDaemon::HandleTimer(UInt64 nowUs) {
  for (auto& [id, mouse] : mice_) {
    if (!mouse->remapping) continue;
    UInt64 t = mouse->engine->NextTimerUs();
    if (t && t <= nowUs) mouse->engine->HandleTimer(nowUs);
  }
}

void CorvimusDaemon::ApplyUserSettings(Mouse& mouse) {
  auto record = mouse.records.find(activeUid_);
  mouse.engine->SetRecord(record == mouse.records.end() ? nullptr : &record->second);
  auto mode = mouse.ownAppModes.find(activeUid_);
  mouse.engine->SetOwnAppMode(mode != mouse.ownAppModes.end() && mode->second);
}

void CorvimusDaemon::Reconsider(Mouse& mouse) {
  bool remap = activeUid_ != kDriverUnknownUid &&
               server_.HasConnectionFrom(mouse.serviceId, activeUid_);
  if (remap == mouse.remapping) return;
  // Whatever the engine pressed is released before the mouse changes hands, so nothing stays down.
  mouse.engine->Reset();
  mouse.remapping = remap;
}

SInt32 CorvimusDaemon::DriverOpen(UInt32 serviceId, UInt32 type) {
  if (!mice_.count(serviceId)) return kIOReturnNotAttached;
  return type == 0 ? kIOReturnSuccess : kIOReturnBadArgument;
}

void CorvimusDaemon::DriverOpened(UInt32 serviceId, UInt32, UInt32) {
  auto it = mice_.find(serviceId);
  if (it != mice_.end()) Reconsider(*it->second);
}

void CorvimusDaemon::DriverClosed(UInt32 serviceId, UInt32) {
  auto it = mice_.find(serviceId);
  if (it != mice_.end()) Reconsider(*it->second);
}

void CorvimusDaemon::DriverCall(const DriverCallRequest& call, DriverCallResult* result) {
  auto it = mice_.find(call.serviceId);
  if (it == mice_.end()) {
    result->result = kIOReturnNotAttached;
    return;
  }
  Mouse& mouse = *it->second;
  CorvimusCall parsed;
  result->result = ParseCorvimusCall(call, &parsed);
  if (result->result != kIOReturnSuccess) return;
  // Only the active user's agent steers the mice; anyone may read what they are.
  if (parsed.kind != CorvimusCallKind::DeviceInfo &&
      (call.clientUid != activeUid_ || activeUid_ == kDriverUnknownUid)) {
    result->result = kIOReturnNotPermitted;
    return;
  }
  switch (parsed.kind) {
    case CorvimusCallKind::SetPrefs:
      mouse.records[call.clientUid] = parsed.record;
      mouse.engine->SetRecord(&mouse.records[call.clientUid]);
      break;
    case CorvimusCallKind::OwnAppMode:
      mouse.ownAppModes[call.clientUid] = parsed.value != 0;
      mouse.engine->SetOwnAppMode(parsed.value != 0);
      break;
    case CorvimusCallKind::Keystroke:
      mouse.engine->PostKeystroke(parsed.value);
      break;
    case CorvimusCallKind::DeviceInfo:
      break;
  }
  ReplyToCorvimusCall(call, parsed, mouse.info, result);
}

}  // namespace corvimus
