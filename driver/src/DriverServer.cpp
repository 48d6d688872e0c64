#include "driver/DriverServer.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/IOKit.h"

namespace corvimus {

namespace {

constexpr UInt64 kListenTag = 0;
// A client that lets this much output pile up is not reading; it is dropped rather than let the
// driver's memory grow without bound.
constexpr size_t kMaxQueuedOutput = 1 << 20;
// Every client costs a descriptor; past this many, newcomers are hung up on at once.
constexpr size_t kMaxPeers = 256;

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

DriverServer::DriverServer(DriverServerDelegate* delegate) : delegate_(delegate) {
  epfd_ = epoll_create1(EPOLL_CLOEXEC);
}

DriverServer::~DriverServer() {
  Shutdown(0);
  if (epfd_ >= 0) close(epfd_);
}

OSErr DriverServer::Listen(const std::string& socketPath) {
  sockaddr_un addr{};
  std::string temp = socketPath + ".new-" + std::to_string(getpid());
  if (epfd_ < 0 || listenFd_ >= 0 || !FillAddress(temp, &addr)) return paramErr;

  struct stat st {};
  if (lstat(socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return dupFNErr;
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un existing{};
    FillAddress(socketPath, &existing);
    bool live =
        probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&existing), sizeof existing) == 0;
    if (probe >= 0) close(probe);
    if (live) return fBsyErr;
  }

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ioErr;
  unlink(temp.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
    close(fd);
    unlink(temp.c_str());
    return ioErr;
  }
  // Anyone who can reach the folder may connect: a system driver serves every user, and a per-user
  // driver's folder is private already.
  chmod(temp.c_str(), 0666);
  if (rename(temp.c_str(), socketPath.c_str()) != 0 || lstat(socketPath.c_str(), &st) != 0) {
    close(fd);
    unlink(temp.c_str());
    return ioErr;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kListenTag;
  epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev);
  listenFd_ = fd;
  path_ = socketPath;
  inode_ = st.st_ino;
  return noErr;
}

void DriverServer::Pump() {
  epoll_event events[32];
  for (;;) {
    int n = epoll_wait(epfd_, events, 32, 0);
    if (n <= 0) return;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kListenTag)
        Accept();
      else
        HandlePeer(events[i].data.u64, events[i].events);
    }
    if (n < 32) return;
  }
}

void DriverServer::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (peers_.size() >= kMaxPeers) {
      close(fd);
      continue;
    }
    auto peer = std::make_unique<Peer>();
    peer->id = nextPeer_++;
    peer->fd = fd;
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 && length == sizeof cred)
      peer->uid = cred.uid;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = peer->id;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
      close(fd);
      continue;
    }
    peers_[peer->id] = std::move(peer);
  }
}

void DriverServer::HandlePeer(UInt64 id, UInt32 events) {
  auto it = peers_.find(id);
  if (it == peers_.end()) return;
  Peer& peer = *it->second;
  if (events & EPOLLOUT) {
    if (!FlushPeer(peer)) return DropPeer(id);
  }
  if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR))) return;
  bool open = peer.reader.ReadFrom(peer.fd);
  DriverFrame frame;
  DriverDecodeResult r;
  while ((r = peer.reader.Next(&frame)) == kDriverDecodeOK) {
    if (!HandleFrame(peer, frame)) return DropPeer(id);
  }
  if (r == kDriverDecodeMalformed || !open) return DropPeer(id);
  if (peer.out.size() - peer.outStart > kMaxQueuedOutput) DropPeer(id);
}

bool DriverServer::HandleFrame(Peer& peer, DriverFrame& frame) {
  if (!DriverFrameFromClient(frame.type)) return false;
  if (frame.type == kDriverFrameHello) {
    if (peer.greeted) return false;
    peer.greeted = true;
    DriverFrame reply;
    reply.type = kDriverFrameHelloReply;
    reply.requestId = frame.requestId;
    Send(peer, reply);
    for (const auto& [id, service] : services_) Send(peer, PublishFrame(id, service));
    return true;
  }
  if (!peer.greeted) return false;

  DriverFrame reply;
  reply.requestId = frame.requestId;
  switch (frame.type) {
    case kDriverFramePing:
      reply.type = kDriverFramePong;
      break;
    case kDriverFrameOpen: {
      reply.type = kDriverFrameOpenReply;
      if (!services_.count(frame.serviceId)) {
        reply.result = kIOReturnNotAttached;
        break;
      }
      reply.result = delegate_->DriverOpen(frame.serviceId, frame.openType);
      if (reply.result == kIOReturnSuccess) {
        UInt32 id = nextConnection_++;
        if (nextConnection_ == 0) nextConnection_ = 1;
        connections_[id] = Connection{peer.id, frame.serviceId};
        reply.connectionId = id;
        delegate_->DriverOpened(frame.serviceId, id, peer.uid);
      }
      break;
    }
    case kDriverFrameClose: {
      reply.type = kDriverFrameCloseReply;
      auto it = connections_.find(frame.connectionId);
      if (it == connections_.end() || it->second.peer != peer.id) {
        reply.result = kIOReturnNotOpen;
        break;
      }
      UInt32 serviceId = it->second.serviceId;
      connections_.erase(it);
      delegate_->DriverClosed(serviceId, frame.connectionId);
      break;
    }
    case kDriverFrameCall: {
      reply.type = kDriverFrameCallReply;
      auto it = connections_.find(frame.connectionId);
      if (it == connections_.end() || it->second.peer != peer.id) {
        reply.result = kIOReturnNotOpen;
        break;
      }
      DriverCallRequest call;
      call.serviceId = it->second.serviceId;
      call.connectionId = frame.connectionId;
      call.selector = frame.selector;
      call.scalarCount = frame.scalarCount;
      call.scalars = frame.scalars;
      call.structIn = &frame.data;
      call.scalarOutWanted = frame.scalarOutWanted;
      call.structOutSize = frame.structOutSize;
      call.clientUid = peer.uid;
      DriverCallResult result;
      delegate_->DriverCall(call, &result);
      // The caller's buffers are the limit: more than they hold is an error, never cut to fit.
      if (result.scalarCount > frame.scalarOutWanted ||
          result.structOut.size() > frame.structOutSize) {
        reply.result = kIOReturnMessageTooLarge;
        break;
      }
      reply.result = result.result;
      reply.scalarCount = result.scalarCount;
      std::memcpy(reply.scalars, result.scalars, sizeof reply.scalars);
      reply.data = std::move(result.structOut);
      break;
    }
    default:
      return false;
  }
  Send(peer, reply);
  return true;
}

DriverFrame DriverServer::PublishFrame(UInt32 serviceId, const Service& service) const {
  DriverFrame frame;
  frame.type = kDriverFramePublish;
  frame.serviceId = serviceId;
  frame.className = service.className;
  frame.properties = service.properties;
  return frame;
}

void DriverServer::Send(Peer& peer, const DriverFrame& frame) {
  bool wasEmpty = peer.out.size() == peer.outStart;
  if (EncodeDriverFrame(frame, &peer.out) != noErr) return;
  if (wasEmpty) FlushPeer(peer);
}

bool DriverServer::FlushPeer(Peer& peer) {
  while (peer.outStart < peer.out.size()) {
    ssize_t n = send(peer.fd, peer.out.data() + peer.outStart, peer.out.size() - peer.outStart,
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      peer.outStart += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (peer.outStart == peer.out.size()) {
    peer.out.clear();
    peer.outStart = 0;
  }
  bool want = peer.outStart < peer.out.size();
  if (want != peer.watchingOutput) {
    epoll_event ev{};
    ev.events = EPOLLIN | (want ? EPOLLOUT : 0u);
    ev.data.u64 = peer.id;
    epoll_ctl(epfd_, EPOLL_CTL_MOD, peer.fd, &ev);
    peer.watchingOutput = want;
  }
  return true;
}

void DriverServer::DropPeer(UInt64 id) {
  auto it = peers_.find(id);
  if (it == peers_.end()) return;
  for (auto c = connections_.begin(); c != connections_.end();) {
    if (c->second.peer == id) {
      UInt32 serviceId = c->second.serviceId, connectionId = c->first;
      c = connections_.erase(c);
      delegate_->DriverClosed(serviceId, connectionId);
    } else {
      ++c;
    }
  }
  epoll_ctl(epfd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
  close(it->second->fd);
  peers_.erase(it);
}

void DriverServer::Publish(UInt32 serviceId, const std::string& className,
                           const std::vector<std::pair<std::string, std::string>>& properties) {
  if (serviceId == 0 || services_.count(serviceId)) return;
  Service& service = services_[serviceId];
  service.className = className;
  service.properties = properties;
  DriverFrame frame = PublishFrame(serviceId, service);
  std::vector<UInt64> ids;
  for (auto& [id, peer] : peers_)
    if (peer->greeted) Send(*peer, frame);
}

void DriverServer::Terminate(UInt32 serviceId) {
  if (!services_.erase(serviceId)) return;
  for (auto c = connections_.begin(); c != connections_.end();) {
    if (c->second.serviceId == serviceId) {
      UInt32 connectionId = c->first;
      c = connections_.erase(c);
      delegate_->DriverClosed(serviceId, connectionId);
    } else {
      ++c;
    }
  }
  DriverFrame frame;
  frame.type = kDriverFrameTerminate;
  frame.serviceId = serviceId;
  for (auto& [id, peer] : peers_)
    if (peer->greeted) Send(*peer, frame);
}

void DriverServer::SendInterest(UInt32 serviceId, UInt32 messageType, const void* argument,
                                size_t size) {
  SendInterestWhere(serviceId, messageType, argument, size, true, 0);
}

void DriverServer::SendInterestToUser(UInt32 serviceId, UInt32 uid, UInt32 messageType,
                                      const void* argument, size_t size) {
  SendInterestWhere(serviceId, messageType, argument, size, false, uid);
}

bool DriverServer::HasConnectionFrom(UInt32 serviceId, UInt32 uid) const {
  for (const auto& [id, c] : connections_) {
    if (c.serviceId != serviceId) continue;
    auto peer = peers_.find(c.peer);
    if (peer != peers_.end() && peer->second->uid == uid) return true;
  }
  return false;
}

void DriverServer::SendInterestWhere(UInt32 serviceId, UInt32 messageType, const void* argument,
                                     size_t size, bool anyUser, UInt32 uid) {
  if (!services_.count(serviceId) || size > kDriverMaxStructSize) return;
  DriverFrame frame;
  frame.type = kDriverFrameInterest;
  frame.serviceId = serviceId;
  frame.messageType = messageType;
  const auto* bytes = static_cast<const UInt8*>(argument);
  if (size) frame.data.assign(bytes, bytes + size);
  for (auto& [id, peer] : peers_)
    if (peer->greeted && (anyUser || peer->uid == uid)) Send(*peer, frame);
}

bool DriverServer::CloseConnection(UInt32 connectionId) {
  auto it = connections_.find(connectionId);
  if (it == connections_.end()) return false;
  Connection connection = it->second;
  connections_.erase(it);
  delegate_->DriverClosed(connection.serviceId, connectionId);
  auto peer = peers_.find(connection.peer);
  if (peer == peers_.end()) return true;
  DriverFrame frame;
  frame.type = kDriverFrameInterest;
  frame.serviceId = connection.serviceId;
  frame.connectionId = connectionId;
  frame.messageType = kIOMessageServiceWasClosed;
  Send(*peer->second, frame);
  return true;
}

std::vector<UInt32> DriverServer::ConnectionsOf(UInt32 serviceId) const {
  std::vector<UInt32> ids;
  for (const auto& [id, c] : connections_)
    if (c.serviceId == serviceId) ids.push_back(id);
  return ids;
}

void DriverServer::Shutdown(int timeoutMs) {
  for (auto& [id, peer] : peers_) {
    FlushPeer(*peer);
    if (peer->outStart < peer->out.size() && timeoutMs > 0) {
      pollfd p{peer->fd, POLLOUT, 0};
      while (peer->outStart < peer->out.size() && poll(&p, 1, timeoutMs) > 0 && FlushPeer(*peer)) {
      }
    }
    close(peer->fd);
  }
  peers_.clear();
  connections_.clear();
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
  }
}

}  // namespace corvimus
