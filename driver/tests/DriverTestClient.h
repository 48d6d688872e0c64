// A small synchronous client of the driver socket for tests: greets, follows the services, opens
// connections, makes the agent's calls and keeps the interest messages it receives. For a driver
// in the same process, `pump` is called while waiting, so the driver gets its turn.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/DriverProtocol.h"
#include "platform/IOKit.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace corvimus::testing {

class DriverTestClient {
 public:
  explicit DriverTestClient(const std::string& path, std::function<void()> pump = {})
      : pump_(std::move(pump)) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    DriverFrame hello;
    hello.type = kDriverFrameHello;
    DriverFrame reply;
    greeted_ = Request(hello, &reply) && reply.type == kDriverFrameHelloReply;
  }
  ~DriverTestClient() {
    if (fd_ >= 0) close(fd_);
  }
  DriverTestClient(const DriverTestClient&) = delete;
  DriverTestClient& operator=(const DriverTestClient&) = delete;

  bool greeted() const { return greeted_; }

  // The services published and not terminated, as of everything the driver sent before now.
  std::set<UInt32> Services() {
    Sync();
    return services_;
  }
  // Waits until the set of services satisfies done, or the time runs out.
  bool WaitForServices(const std::function<bool(const std::set<UInt32>&)>& done,
                       int timeoutMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(services_)) {
      if (std::chrono::steady_clock::now() > end) return false;
      Receive(50);
    }
    return true;
  }
  const std::vector<DriverFrame>& Interests() {
    Sync();
    return interests_;
  }
  bool Sync() {
    DriverFrame ping;
    ping.type = kDriverFramePing;
    DriverFrame reply;
    return Request(ping, &reply) && reply.type == kDriverFramePong;
  }

  SInt32 Open(UInt32 serviceId, UInt32* connectionId) {
    DriverFrame open;
    open.type = kDriverFrameOpen;
    open.serviceId = serviceId;
    DriverFrame reply;
    if (!Request(open, &reply)) return kIOReturnIPCError;
    *connectionId = reply.connectionId;
    return reply.result;
  }
  SInt32 Close(UInt32 connectionId) {
    DriverFrame close;
    close.type = kDriverFrameClose;
    close.connectionId = connectionId;
    DriverFrame reply;
    return Request(close, &reply) ? reply.result : kIOReturnIPCError;
  }
  SInt32 Call(UInt32 connectionId, UInt32 selector, std::vector<UInt64> scalars, const void* in,
              size_t inSize, UInt32 structOutSize, std::vector<UInt8>* out = nullptr) {
    DriverFrame call;
    call.type = kDriverFrameCall;
    call.connectionId = connectionId;
    call.selector = selector;
    call.scalarCount = static_cast<UInt32>(scalars.size());
    for (size_t i = 0; i < scalars.size() && i < kDriverMaxScalars; ++i)
      call.scalars[i] = scalars[i];
    call.scalarOutWanted = selector == kCorvimusSelectorScalar ? 1 : 0;
    call.structOutSize = structOutSize;
    if (inSize) call.data.assign(static_cast<const UInt8*>(in), static_cast<const UInt8*>(in) + inSize);
    DriverFrame reply;
    if (!Request(call, &reply)) return kIOReturnIPCError;
    if (out) *out = reply.data;
    return reply.result;
  }
  SInt32 PushRecord(UInt32 connectionId, const CorvimusPrefsRec& record) {
    return Call(connectionId, kCorvimusSelectorSetPrefs,
                {connectionId, kCorvimusSetPrefsCode, kCorvimusSetPrefsVersion, 0}, &record,
                sizeof record, 0);
  }
  SInt32 SetOwnAppMode(UInt32 connectionId, bool on) {
    return Call(connectionId, kCorvimusSelectorScalar, {connectionId, kCorvimusOwnAppModeCode, on},
                nullptr, 0, 0);
  }
  SInt32 PostKeystroke(UInt32 connectionId, UInt32 packed) {
    return Call(connectionId, kCorvimusSelectorScalar, {connectionId, kCorvimusKeystrokeCode, packed},
                nullptr, 0, 0);
  }
  SInt32 DeviceInfo(UInt32 connectionId, CorvimusDeviceInfo* info) {
    std::vector<UInt8> out;
    SInt32 result = Call(connectionId, kCorvimusSelectorDeviceInfo,
                         {connectionId, kCorvimusDeviceInfoCode, kCorvimusDeviceInfoSelector},
                         nullptr, 0, sizeof *info, &out);
    std::memset(info, 0, sizeof *info);
    if (result == kIOReturnSuccess && out.size() == sizeof *info)
      std::memcpy(info, out.data(), sizeof *info);
    return result;
  }

 private:
  bool Request(DriverFrame frame, DriverFrame* reply) {
    frame.requestId = nextRequest_++;
    std::vector<UInt8> bytes;
    if (fd_ < 0 || EncodeDriverFrame(frame, &bytes) != noErr) return false;
    if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) return false;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    waiting_ = frame.requestId;
    replied_ = false;
    while (!replied_) {
      if (std::chrono::steady_clock::now() > end || !Receive(20)) return false;
    }
    *reply = reply_;
    return true;
  }
  // Takes in what arrives within timeoutMs; false when the driver hung up.
  bool Receive(int timeoutMs) {
    if (pump_) pump_();
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, pump_ ? 0 : timeoutMs) > 0 && !reader_.ReadFrom(fd_)) return false;
    if (pump_ && !p.revents) usleep(1000);
    DriverFrame frame;
    while (reader_.Next(&frame) == kDriverDecodeOK) {
      if (frame.type == kDriverFramePublish) {
        services_.insert(frame.serviceId);
      } else if (frame.type == kDriverFrameTerminate) {
        services_.erase(frame.serviceId);
      } else if (frame.type == kDriverFrameInterest) {
        interests_.push_back(frame);
      } else if (frame.requestId == waiting_) {
        reply_ = frame;
        replied_ = true;
      }
    }
    return true;
  }

  int fd_ = -1;
  bool greeted_ = false;
  std::function<void()> pump_;
  DriverFrameReader reader_;
  UInt32 nextRequest_ = 1;
  UInt32 waiting_ = 0;
  bool replied_ = false;
  DriverFrame reply_;
  std::set<UInt32> services_;
  std::vector<DriverFrame> interests_;
};

}  // namespace corvimus::testing
