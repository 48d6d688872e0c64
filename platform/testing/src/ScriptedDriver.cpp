#include "testing/ScriptedDriver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvimus::testing {

bool ScriptedDriver::Start() {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string temp = path_ + ".new";
  if (temp.size() >= sizeof addr.sun_path) return false;
  std::strcpy(addr.sun_path, temp.c_str());
  if (bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_, 8) != 0 ||
      std::rename(temp.c_str(), path_.c_str()) != 0)
    return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ScriptedDriver::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  Wake();
  thread_.join();
  close(listen_);
  close(wake_);
  unlink(path_.c_str());
}

void ScriptedDriver::Publish(UInt32 id, std::vector<std::pair<std::string, std::string>> properties) {
  DriverFrame f;
  f.type = kDriverFramePublish;
  f.serviceId = id;
  f.className = "Corvimus";
  f.properties = std::move(properties);
  std::lock_guard lock(mutex_);
  services_.push_back(f);
  Queue(f);
}

void ScriptedDriver::Terminate(UInt32 id) {
  DriverFrame f;
  f.type = kDriverFrameTerminate;
  f.serviceId = id;
  std::lock_guard lock(mutex_);
  std::erase_if(services_, [&](const DriverFrame& s) { return s.serviceId == id; });
  Queue(f);
}

void ScriptedDriver::Interest(UInt32 service, UInt32 connection, UInt32 type,
                              std::vector<UInt8> argument) {
  DriverFrame f;
  f.type = kDriverFrameInterest;
  f.serviceId = service;
  f.connectionId = connection;
  f.messageType = type;
  f.data = std::move(argument);
  std::lock_guard lock(mutex_);
  Queue(f);
}

void ScriptedDriver::SendRaw(std::vector<UInt8> bytes) {
  std::lock_guard lock(mutex_);
  outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
  Wake();
}

void ScriptedDriver::OnCall(std::function<void(const DriverFrame&, DriverFrame*)> handler) {
  std::lock_guard lock(mutex_);
  onCall_ = std::move(handler);
}

void ScriptedDriver::SetOpenResult(SInt32 result) {
  std::lock_guard lock(mutex_);
  openResult_ = result;
}

void ScriptedDriver::HoldAnswers() {
  std::lock_guard lock(mutex_);
  holding_ = true;
}

void ScriptedDriver::ReleaseAnswers() {
  std::lock_guard lock(mutex_);
  holding_ = false;
  outgoing_.insert(outgoing_.end(), held_.begin(), held_.end());
  held_.clear();
  Wake();
}

void ScriptedDriver::HalveGreetings() {
  std::lock_guard lock(mutex_);
  halving_ = true;
}

void ScriptedDriver::FinishGreeting() {
  std::lock_guard lock(mutex_);
  halving_ = false;
  outgoing_.insert(outgoing_.end(), greetingRest_.begin(), greetingRest_.end());
  greetingRest_.clear();
  Wake();
}

void ScriptedDriver::Queue(const DriverFrame& f) {
  if (client_ < 0 || !greeted_) return;
  EncodeDriverFrame(f, greetingRest_.empty() ? &outgoing_ : &greetingRest_);
  Wake();
}

void ScriptedDriver::Wake() {
  UInt64 one = 1;
  (void)!write(wake_, &one, sizeof one);
}

void ScriptedDriver::Run() {
  DriverFrameReader reader;
  while (!stop_) {
    pollfd fds[3] = {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}, {client_, POLLIN, 0}};
    poll(fds, client_ >= 0 ? 3 : 2, 1000);
    if (fds[1].revents) {
      UInt64 v;
      (void)!read(wake_, &v, sizeof v);
    }
    if (fds[0].revents & POLLIN) {
      int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      std::lock_guard lock(mutex_);
      if (client_ >= 0) close(client_);
      client_ = fd;
      greeted_ = false;
      greetingRest_.clear();
      reader = DriverFrameReader();
      ++clients_;
    }
    if (client_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
      if (!reader.ReadFrom(client_)) {
        std::lock_guard lock(mutex_);
        close(client_);
        client_ = -1;
        continue;
      }
      DriverFrame f;
      while (reader.Next(&f) == kDriverDecodeOK) Answer(f);
    }
    std::vector<UInt8> out;
    {
      std::lock_guard lock(mutex_);
      out.swap(outgoing_);
    }
    if (client_ >= 0 && !out.empty()) {
      (void)!send(client_, out.data(), out.size(), MSG_NOSIGNAL);
      if (hangUp_ && answered_) {
        std::lock_guard lock(mutex_);
        close(client_);
        client_ = -1;
        hangUp_ = false;
      }
    }
  }
  if (client_ >= 0) close(client_);
}

void ScriptedDriver::Answer(const DriverFrame& f) {
  std::lock_guard lock(mutex_);
  DriverFrame r;
  r.requestId = f.requestId;
  switch (f.type) {
    case kDriverFrameHello: {
      r.type = kDriverFrameHelloReply;
      std::vector<UInt8> greeting;
      EncodeDriverFrame(r, &greeting);
      for (const DriverFrame& s : services_) EncodeDriverFrame(s, &greeting);
      greeted_ = true;
      if (halving_) {
        // Half of the answer now, the rest (and all that follows) when the test says so.
        size_t half = kDriverHeaderSize / 2;
        outgoing_.insert(outgoing_.end(), greeting.begin(), greeting.begin() + half);
        greetingRest_.assign(greeting.begin() + half, greeting.end());
      } else {
        outgoing_.insert(outgoing_.end(), greeting.begin(), greeting.end());
      }
      return;
    }
    case kDriverFramePing:
      r.type = kDriverFramePong;
      EncodeDriverFrame(r, greetingRest_.empty() ? &outgoing_ : &greetingRest_);
      return;
    case kDriverFrameOpen:
      r.type = kDriverFrameOpenReply;
      ++opens_;
      r.result = openResult_;
      r.connectionId = openResult_ == 0 ? 100 + f.serviceId : 0;
      break;
    case kDriverFrameClose:
      r.type = kDriverFrameCloseReply;
      ++closes_;
      break;
    case kDriverFrameCall:
      answered_ = true;
      ++calls_;
      r.type = kDriverFrameCallReply;
      if (onCall_) {
        onCall_(f, &r);
      } else {
        r.scalarCount = std::min(f.scalarCount, f.scalarOutWanted);
        std::memcpy(r.scalars, f.scalars, sizeof r.scalars);
        r.data = f.data;
        if (r.data.size() > f.structOutSize) r.data.resize(f.structOutSize);
      }
      break;
    default:
      return;
  }
  EncodeDriverFrame(r, holding_ ? &held_ : &outgoing_);
}

}  // namespace corvimus::testing
