#include "platform/AppleEvents.h"
#include "platform/SystemProcess.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "EventLoopInternal.h"
#include "platform/AppleEventFrames.h"
#include "platform/EventLoop.h"
#include "platform/RuntimeFolder.h"

using corvimus::ae::DecodeFrame;
using corvimus::ae::EncodeFrame;
using corvimus::ae::FrameMessage;
using corvimus::ae::FrameParam;
using corvimus::ae::FrameStatus;

// A plain descriptor keeps its bytes; an Apple event keeps its frame message and its target.
struct OpaqueAEDataStorageType {
  std::vector<UInt8> bytes;
  FrameMessage event;
  ProcessSerialNumber target{0, kNoProcess};
};

namespace {

constexpr int kDefaultTimeoutMs = 60 * 1000;
// A reply the peer has not taken by then closes its connection.
constexpr int kReplyWriteTimeoutMs = 1000;
// A connection that brings no complete event for this long is closed; its client connects again
// on its next send. The pane asks every second, so its own connection never gets that old.
constexpr int kIdleTimeoutMs = 10 * 1000;
constexpr size_t kMaxIncomingConnections = 64;
// One client (process) holds at most this many connections: a further one takes the place of its
// oldest, and when every place is taken the client holding the most gives up its oldest, so that
// nobody can lock the others out by holding connections open.
constexpr size_t kMaxConnectionsPerPeer = 4;
// Events handled from one connection before the others have their turn.
constexpr int kEventsPerTurn = 8;
constexpr size_t kMaxCachedConnections = 8;
constexpr int kConnectRetryMs = 1000;
// An event sent without reply is handed over within this long or not at all: a receiver whose
// socket is full (it does not read, or has not accepted for a while) must not hold the sender.
constexpr int kNoReplyHandoverMs = 100;
constexpr int kListenBacklog = 64;

struct Handler {
  AEEventClass eventClass;
  AEEventID eventID;
  AEEventHandlerUPP proc;
  SRefCon refcon;
};

struct Connection {
  int fd = -1;
  std::vector<UInt8> in;
  // Incoming connections only.
  pid_t peer = 0;
  std::vector<UInt8> out;  // a reply the peer has not taken yet, from outDone on
  size_t outDone = 0;
  std::int64_t idleSinceMs = 0;     // accepted, or the last complete event
  std::int64_t writeDeadlineMs = 0;  // while a reply waits
  bool peerClosed = false;           // hung up after sending: what it sent still counts
};

struct Listener {
  pid_t ownerPid = 0;
  int epollFd = -1;
  int listenFd = -1;
  int timerFd = -1;  // the earliest idle or write deadline of the connections
  int wakeFd = -1;   // events are waiting in a connection's buffer: serve it again
  std::string path;
  std::map<int, std::unique_ptr<Connection>> connections;
  std::vector<int> again;  // connections with events left over from their turn
  int idleTimeoutMs = kIdleTimeoutMs;
  EventLoopSourceRef source = nullptr;
  bool dispatching = false;
};

std::vector<Handler> gHandlers;
Listener gListener;
// Outgoing connections by target serial number, kept so repeated sends skip the connect.
std::map<std::pair<UInt32, UInt32>, std::unique_ptr<Connection>> gOutgoing;
SInt16 gLastReturnID = 0;

bool IsAppleEvent(const AEDesc* d) {
  return d && d->descriptorType == typeAppleEvent && d->dataHandle;
}

std::int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Milliseconds left until `deadline` (-1: no deadline), for poll.
int LeftMs(std::int64_t deadline) {
  if (deadline < 0) return -1;
  std::int64_t left = deadline - NowMs();
  return left <= 0 ? 0 : left > 0x7fffffff ? 0x7fffffff : int(left);
}

std::string SocketName(const ProcessSerialNumber& psn) {
  char name[64];
  snprintf(name, sizeof name, "ae-%u-%u.sock", unsigned(psn.lowLongOfPSN),
           unsigned(psn.highLongOfPSN));
  return name;
}

bool PeerIsSameUser(int fd, pid_t expectedPid) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  if (cred.uid != getuid()) return false;
  return expectedPid == 0 || cred.pid == expectedPid;
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Writes everything by the deadline; false on error, hang-up or time-out.
bool WriteAll(int fd, const UInt8* data, size_t size, std::int64_t deadline) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p{fd, POLLOUT, 0};
    int left = LeftMs(deadline);
    if (left == 0) return false;
    if (poll(&p, 1, left) < 0 && errno != EINTR) return false;
  }
  return true;
}

// Reads what is available without blocking. Returns false when the peer hung up or failed.
bool ReadAvailable(Connection* c) {
  UInt8 buf[16384];
  for (;;) {
    ssize_t n = recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      c->in.insert(c->in.end(), buf, buf + n);
      // More than a few frames can hold means the peer is not speaking the protocol.
      if (c->in.size() > 4 * (corvimus::ae::kFrameHeaderSize + corvimus::ae::kMaxFrameBody))
        return false;
      // A short read drained the socket; what comes later wakes the caller's poll again.
      if (size_t(n) < sizeof buf) return true;
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

FrameStatus TakeFrame(Connection* c, FrameMessage* message) {
  size_t consumed = 0;
  FrameStatus status = DecodeFrame(c->in.data(), c->in.size(), message, &consumed);
  if (status == FrameStatus::kComplete) c->in.erase(c->in.begin(), c->in.begin() + consumed);
  return status;
}

AEDesc MakeEventDesc(FrameMessage message) {
  auto* storage = new OpaqueAEDataStorageType;
  storage->event = std::move(message);
  return AEDesc{typeAppleEvent, storage};
}

const Handler* FindHandler(AEEventClass eventClass, AEEventID eventID) {
  const Handler* best = nullptr;
  for (const auto& h : gHandlers) {
    bool classOK = h.eventClass == eventClass || h.eventClass == typeWildCard;
    bool idOK = h.eventID == eventID || h.eventID == typeWildCard;
    if (!classOK || !idOK) continue;
    if (h.eventClass == eventClass && h.eventID == eventID) return &h;
    if (!best) best = &h;
  }
  return best;
}

// Runs the handler for an event; fills `replyMessage` when the sender waits for one.
void Dispatch(const FrameMessage& eventMessage, bool wantsReply, FrameMessage* replyMessage) {
  AppleEvent event = MakeEventDesc(eventMessage);
  AppleEvent reply{typeNull, nullptr};
  if (wantsReply) {
    FrameMessage r;
    r.kind = corvimus::ae::kFrameReply;
    r.eventClass = kCoreEventClass;
    r.eventID = kAEAnswer;
    r.returnID = eventMessage.returnID;
    r.transactionID = eventMessage.transactionID;
    reply = MakeEventDesc(std::move(r));
  }
  OSErr err;
  const Handler* h = FindHandler(eventMessage.eventClass, eventMessage.eventID);
  if (h) {
    err = h->proc(&event, &reply, h->refcon);  // a null reply when none is wanted
  } else if (eventMessage.eventClass == kCoreEventClass &&
             eventMessage.eventID == kAEQuitApplication) {
    QuitApplicationEventLoop();
    err = noErr;
  } else {
    err = errAEEventNotHandled;
  }
  if (wantsReply) {
    if (err != noErr) {
      SInt32 number = err;
      AEPutParamPtr(&reply, keyErrorNumber, typeSInt32, &number, sizeof number);
    }
    if (IsAppleEvent(&reply)) *replyMessage = reply.dataHandle->event;
    replyMessage->kind = corvimus::ae::kFrameReply;
    replyMessage->flags = 0;
  }
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
}

void CloseIncoming(int fd) {
  epoll_ctl(gListener.epollFd, EPOLL_CTL_DEL, fd, nullptr);
  close(fd);
  gListener.connections.erase(fd);
}

bool ReplyWaiting(const Connection& c) {
  return c.outDone < c.out.size();
}

std::int64_t DeadlineOf(const Connection& c) {
  return ReplyWaiting(c) ? c.writeDeadlineMs : c.idleSinceMs + gListener.idleTimeoutMs;
}

// Arms the timer for the earliest deadline, or disarms it: an idle listener is never woken.
void ArmListenerTimer() {
  std::int64_t earliest = -1;
  for (const auto& [fd, c] : gListener.connections) {
    std::int64_t deadline = DeadlineOf(*c);
    if (earliest < 0 || deadline < earliest) earliest = deadline;
  }
  itimerspec timer{};
  if (earliest >= 0) {
    if (earliest < 1) earliest = 1;  // zero would disarm
    timer.it_value.tv_sec = earliest / 1000;
    timer.it_value.tv_nsec = long(earliest % 1000) * 1000000;
  }
  timerfd_settime(gListener.timerFd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

void CloseExpiredConnections() {
  std::uint64_t expirations;
  while (read(gListener.timerFd, &expirations, sizeof expirations) > 0) {
  }
  std::int64_t now = NowMs();
  std::vector<int> expired;
  for (const auto& [fd, c] : gListener.connections)
    if (DeadlineOf(*c) <= now) expired.push_back(fd);
  for (int fd : expired) CloseIncoming(fd);
}

// Reading while a reply waits for its reader would only pile up more replies: the connection is
// watched for writing alone until the reply is gone.
void WatchConnection(const Connection& c) {
  epoll_event ev{};
  ev.events = ReplyWaiting(c) ? EPOLLOUT : EPOLLIN;
  ev.data.fd = c.fd;
  epoll_ctl(gListener.epollFd, EPOLL_CTL_MOD, c.fd, &ev);
}

// Writes what the socket takes now; false when the peer is gone.
bool FlushReply(Connection* c) {
  while (ReplyWaiting(*c)) {
    ssize_t n = send(c->fd, c->out.data() + c->outDone, c->out.size() - c->outDone,
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c->outDone += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  c->out.clear();
  c->outDone = 0;
  return true;
}

void ServeAgainLater(int fd) {
  if (std::find(gListener.again.begin(), gListener.again.end(), fd) == gListener.again.end())
    gListener.again.push_back(fd);
  std::uint64_t one = 1;
  ssize_t ignored = write(gListener.wakeFd, &one, sizeof one);
  (void)ignored;
}

void AcceptConnections() {
  for (;;) {
    int fd = accept4(gListener.listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;
    }
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || cred.uid != getuid()) {
      close(fd);
      continue;
    }
    // Room for the newcomer: first its own client's oldest connection beyond the client's share;
    // then, when every place is taken, the oldest of the client holding the most, so that a
    // client with a single connection (the pane's) keeps it.
    std::map<pid_t, size_t> perPeer;
    for (const auto& [other, c] : gListener.connections) ++perPeer[c->peer];
    size_t most = 0;
    for (const auto& [peer, count] : perPeer) most = std::max(most, count);
    auto oldestOf = [&](auto&& eligible) {
      const Connection* found = nullptr;
      for (const auto& [other, c] : gListener.connections)
        if (eligible(*c) && (!found || c->idleSinceMs < found->idleSinceMs)) found = c.get();
      return found ? found->fd : -1;
    };
    if (perPeer[cred.pid] >= kMaxConnectionsPerPeer) {
      CloseIncoming(oldestOf([&](const Connection& c) { return c.peer == cred.pid; }));
    } else if (gListener.connections.size() >= kMaxIncomingConnections) {
      CloseIncoming(oldestOf([&](const Connection& c) { return perPeer[c.peer] == most; }));
    }
    try {
      auto c = std::make_unique<Connection>();
      c->fd = fd;
      c->peer = cred.pid;
      c->idleSinceMs = NowMs();
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.fd = fd;
      if (epoll_ctl(gListener.epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        close(fd);
        continue;
      }
      gListener.connections[fd] = std::move(c);
    } catch (const std::bad_alloc&) {
      close(fd);
    }
  }
}

// Serves one connection: sends what is left of its reply, reads, and handles the events that came
// complete, up to its turn's share. Never waits for the peer.
void ServeConnection(int fd) {
  auto it = gListener.connections.find(fd);
  if (it == gListener.connections.end()) return;
  Connection* c = it->second.get();
  if (ReplyWaiting(*c)) {
    if (!FlushReply(c)) return CloseIncoming(fd);
    if (ReplyWaiting(*c)) return;
    WatchConnection(*c);
  }
  if (!c->peerClosed && !ReadAvailable(c)) {
    // More than a few frames can hold means the peer is not speaking the protocol.
    if (c->in.size() > 4 * (corvimus::ae::kFrameHeaderSize + corvimus::ae::kMaxFrameBody))
      return CloseIncoming(fd);
    c->peerClosed = true;
  }
  // Handle the frames that arrived complete, even from a peer that hung up after sending.
  for (int handled = 0;; ++handled) {
    if (handled == kEventsPerTurn) return ServeAgainLater(fd);
    FrameMessage message;
    FrameStatus status = TakeFrame(c, &message);
    if (status == FrameStatus::kIncomplete) break;
    if (status == FrameStatus::kMalformed || message.kind != corvimus::ae::kFrameEvent)
      return CloseIncoming(fd);
    c->idleSinceMs = NowMs();
    bool wantsReply = (message.flags & corvimus::ae::kFrameFlagWantsReply) != 0;
    FrameMessage reply;
    Dispatch(message, wantsReply, &reply);
    if (!wantsReply) continue;
    if (!EncodeFrame(reply, &c->out) || !FlushReply(c)) return CloseIncoming(fd);
    if (ReplyWaiting(*c)) {
      // The rest goes when the peer reads; its further events wait until then.
      c->writeDeadlineMs = NowMs() + kReplyWriteTimeoutMs;
      return WatchConnection(*c);
    }
  }
  if (c->peerClosed) CloseIncoming(fd);
}

void RemoveOwnSocket() {
  if (gListener.ownerPid == getpid() && !gListener.path.empty()) unlink(gListener.path.c_str());
}

// Removes sockets left by processes that ended.
void CleanUpFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    unsigned pid = 0, start = 0;
    char tail[8] = {};
    if (sscanf(e->d_name, "ae-%u-%u%7s", &pid, &start, tail) != 3 || strcmp(tail, ".sock") != 0)
      continue;
    ProcessSerialNumber psn{start, pid};
    pid_t live;
    if (GetProcessPID(&psn, &live) != noErr) unlinkat(dirfd(dir), e->d_name, 0);
  }
  closedir(dir);
}

void ListenerReadable(EventLoopSourceRef, int, void*) {
  AEProcessPendingEvents();
}

OSErr StartListener() {
  if (gListener.listenFd >= 0 && gListener.ownerPid == getpid()) return noErr;
  std::string folder;
  OSErr err = GetCorvimusRuntimeFolder(&folder);
  if (err != noErr) return err;
  ProcessSerialNumber self;
  if ((err = GetCurrentProcess(&self)) != noErr) return err;
  CleanUpFolder(folder);
  std::string path = folder + "/" + SocketName(self);
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return bdNamErr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ioErr;
  unlink(path.c_str());  // a socket of this serial number can only be a leftover
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, kListenBacklog) != 0) {
    close(fd);
    unlink(path.c_str());
    return ioErr;
  }
  int ep = epoll_create1(EPOLL_CLOEXEC);
  int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  bool added = ep >= 0 && timer >= 0 && wake >= 0;
  for (int watched : {fd, timer, wake}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = watched;
    added = added && epoll_ctl(ep, EPOLL_CTL_ADD, watched, &ev) == 0;
  }
  if (!added) {
    for (int opened : {ep, timer, wake})
      if (opened >= 0) close(opened);
    close(fd);
    unlink(path.c_str());
    return ioErr;
  }
  static bool exitHookInstalled = false;
  if (!exitHookInstalled) exitHookInstalled = atexit(RemoveOwnSocket) == 0;
  gListener.ownerPid = getpid();
  gListener.listenFd = fd;
  gListener.epollFd = ep;
  gListener.timerFd = timer;
  gListener.wakeFd = wake;
  gListener.path = path;
  InstallEventLoopSource(GetMainEventLoop(), ep, ListenerReadable, nullptr, &gListener.source);
  return noErr;
}

// `deadline` (-1: none) bounds the wait for a listener whose backlog is full.
OSErr ConnectTo(const ProcessSerialNumber& target, std::int64_t deadline, Connection** out) {
  // A forked child shares the parent's sockets: replies could reach either. It makes its own.
  static pid_t outgoingOwner = 0;
  if (outgoingOwner != getpid()) {
    for (auto& entry : gOutgoing) close(entry.second->fd);
    gOutgoing.clear();
    outgoingOwner = getpid();
  }
  auto key = std::make_pair(target.highLongOfPSN, target.lowLongOfPSN);
  auto cached = gOutgoing.find(key);
  if (cached != gOutgoing.end()) {
    // Still open? Late replies to timed-out events may be waiting; they stay in the buffer.
    pollfd p{cached->second->fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || ReadAvailable(cached->second.get())) {
      *out = cached->second.get();
      return noErr;
    }
    close(cached->second->fd);
    gOutgoing.erase(cached);
  }
  std::string folder;
  OSErr err = GetCorvimusRuntimeFolder(&folder);
  if (err != noErr) return err;
  std::string path = folder + "/" + SocketName(target);
  pid_t pid;
  if (GetProcessPID(&target, &pid) != noErr) {
    unlink(path.c_str());  // the process ended: whatever it left is stale
    return procNotFound;
  }
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return bdNamErr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ioErr;
  // A full backlog (the listener is busy, or others flood it with connections) refuses a
  // non-blocking connect at once rather than queueing it: try again for a moment while the
  // listener accepts.
  int rc;
  std::int64_t giveUp = NowMs() + kConnectRetryMs;
  if (deadline >= 0 && deadline < giveUp) giveUp = deadline;
  for (;;) {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN || NowMs() >= giveUp) break;
    poll(nullptr, 0, 2);
  }
  if (rc != 0 || !PeerIsSameUser(fd, pid)) {
    close(fd);
    return connectionInvalid;
  }
  try {
    if (gOutgoing.size() >= kMaxCachedConnections) {
      close(gOutgoing.begin()->second->fd);
      gOutgoing.erase(gOutgoing.begin());
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    *out = c.get();
    gOutgoing[key] = std::move(c);
  } catch (const std::bad_alloc&) {
    close(fd);
    return memFullErr;
  }
  return noErr;
}

void DropOutgoing(const ProcessSerialNumber& target) {
  auto it = gOutgoing.find(std::make_pair(target.highLongOfPSN, target.lowLongOfPSN));
  if (it == gOutgoing.end()) return;
  close(it->second->fd);
  gOutgoing.erase(it);
}

OSErr SendToOtherProcess(const ProcessSerialNumber& target, const FrameMessage& event,
                         bool wantsReply, std::int64_t deadline, FrameMessage* replyMessage) {
  std::vector<UInt8> bytes;
  FrameMessage outgoing = event;
  outgoing.kind = corvimus::ae::kFrameEvent;
  outgoing.flags = wantsReply ? corvimus::ae::kFrameFlagWantsReply : 0;
  if (!EncodeFrame(outgoing, &bytes)) return memFullErr;
  Connection* c = nullptr;
  OSErr err = ConnectTo(target, deadline, &c);
  if (err != noErr) return err;
  if (!WriteAll(c->fd, bytes.data(), bytes.size(), deadline)) {
    // A cached connection the other side has closed since: try once with a new one.
    DropOutgoing(target);
    if ((err = ConnectTo(target, deadline, &c)) != noErr) return err;
    if (!WriteAll(c->fd, bytes.data(), bytes.size(), deadline)) {
      DropOutgoing(target);
      return NowMs() >= deadline && deadline >= 0 ? OSErr(errAETimeout) : OSErr(connectionInvalid);
    }
  }
  if (!wantsReply) return noErr;
  for (;;) {
    FrameMessage message;
    FrameStatus status = TakeFrame(c, &message);
    if (status == FrameStatus::kMalformed ||
        (status == FrameStatus::kComplete && message.kind != corvimus::ae::kFrameReply)) {
      DropOutgoing(target);
      return connectionInvalid;
    }
    if (status == FrameStatus::kComplete) {
      if (message.returnID != event.returnID) continue;  // the late answer to an earlier event
      *replyMessage = std::move(message);
      return noErr;
    }
    pollfd p{c->fd, POLLIN, 0};
    int left = LeftMs(deadline);
    if (left == 0) return errAETimeout;
    int ready = poll(&p, 1, left);
    if (ready < 0 && errno != EINTR) return connectionInvalid;
    if (ready > 0 && !ReadAvailable(c)) {
      // Frames that arrived before the hang-up still count.
      if (TakeFrame(c, &message) == FrameStatus::kComplete &&
          message.kind == corvimus::ae::kFrameReply && message.returnID == event.returnID) {
        *replyMessage = std::move(message);
        DropOutgoing(target);
        return noErr;
      }
      DropOutgoing(target);
      return connectionInvalid;
    }
  }
}

}  // namespace

void CorvimusStartAppleEventListener() {
  StartListener();
}

void AEInitializeDesc(AEDesc* desc) {
  if (desc) *desc = AEDesc{typeNull, nullptr};
}

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) {
  if (!result) return paramErr;
  AEInitializeDesc(result);
  if (dataSize < 0 || (dataSize > 0 && !dataPtr)) return paramErr;
  if (typeCode == typeNull && dataSize == 0) return noErr;
  if (typeCode == typeAppleEvent) return paramErr;  // events are made with AECreateAppleEvent
  try {
    auto* storage = new OpaqueAEDataStorageType;
    const auto* bytes = static_cast<const UInt8*>(dataPtr);
    storage->bytes.assign(bytes, bytes + dataSize);
    *result = AEDesc{typeCode, storage};
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSErr AEDisposeDesc(AEDesc* theAEDesc) {
  if (!theAEDesc) return paramErr;
  delete theAEDesc->dataHandle;
  AEInitializeDesc(theAEDesc);
  return noErr;
}

Size AEGetDescDataSize(const AEDesc* theAEDesc) {
  if (!theAEDesc || !theAEDesc->dataHandle || theAEDesc->descriptorType == typeAppleEvent) return 0;
  return Size(theAEDesc->dataHandle->bytes.size());
}

OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize) {
  if (!theAEDesc || maximumSize < 0 || (maximumSize > 0 && !dataPtr)) return paramErr;
  if (theAEDesc->descriptorType == typeAppleEvent) return errAENotAEDesc;
  if (!theAEDesc->dataHandle) return noErr;
  const auto& bytes = theAEDesc->dataHandle->bytes;
  size_t n = std::min(bytes.size(), size_t(maximumSize));
  if (n) std::memcpy(dataPtr, bytes.data(), n);
  return noErr;
}

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result) {
  if (!result) return paramErr;
  AEInitializeDesc(result);
  if (!target || target->descriptorType != typeProcessSerialNumber || !target->dataHandle ||
      target->dataHandle->bytes.size() != sizeof(ProcessSerialNumber))
    return paramErr;
  try {
    auto* storage = new OpaqueAEDataStorageType;
    std::memcpy(&storage->target, target->dataHandle->bytes.data(), sizeof storage->target);
    storage->event.eventClass = theAEEventClass;
    storage->event.eventID = theAEEventID;
    if (returnID == kAutoGenerateReturnID) {
      gLastReturnID = gLastReturnID >= 0x7fff || gLastReturnID < 0 ? 1 : SInt16(gLastReturnID + 1);
      returnID = gLastReturnID;
    }
    storage->event.returnID = returnID;
    storage->event.transactionID = transactionID;
    *result = AEDesc{typeAppleEvent, storage};
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void* dataPtr, Size dataSize) {
  if (!IsAppleEvent(theAppleEvent)) return errAENotAppleEvent;
  if (dataSize < 0 || (dataSize > 0 && !dataPtr) || size_t(dataSize) > corvimus::ae::kMaxFrameBody)
    return paramErr;
  auto& params = theAppleEvent->dataHandle->event.params;
  try {
    const auto* bytes = static_cast<const UInt8*>(dataPtr);
    for (auto& p : params) {
      if (p.keyword == theAEKeyword) {
        p.type = typeCode;
        p.data.assign(bytes, bytes + dataSize);
        return noErr;
      }
    }
    if (params.size() >= corvimus::ae::kMaxFrameParams) return paramErr;
    FrameParam p;
    p.keyword = theAEKeyword;
    p.type = typeCode;
    p.data.assign(bytes, bytes + dataSize);
    params.push_back(std::move(p));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* actualType, void* dataPtr, Size maximumSize, Size* actualSize) {
  if (!IsAppleEvent(theAppleEvent)) return errAENotAppleEvent;
  if (maximumSize < 0 || (maximumSize > 0 && !dataPtr)) return paramErr;
  for (const auto& p : theAppleEvent->dataHandle->event.params) {
    if (p.keyword != theAEKeyword) continue;
    if (desiredType != typeWildCard && desiredType != p.type) return errAECoercionFail;
    size_t n = std::min(p.data.size(), size_t(maximumSize));
    if (n) std::memcpy(dataPtr, p.data.data(), n);
    if (actualType) *actualType = p.type;
    if (actualSize) *actualSize = Size(p.data.size());
    return noErr;
  }
  return errAEDescNotFound;
}

OSErr AEGetEventClassAndID(const AppleEvent* theAppleEvent, AEEventClass* eventClass,
                           AEEventID* eventID) {
  if (!IsAppleEvent(theAppleEvent)) return errAENotAppleEvent;
  if (eventClass) *eventClass = theAppleEvent->dataHandle->event.eventClass;
  if (eventID) *eventID = theAppleEvent->dataHandle->event.eventID;
  return noErr;
}

OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode,
             AESendPriority, SInt32 timeOutInTicks, AEIdleUPP idleProc, AEFilterUPP filterProc) {
  AEInitializeDesc(reply);
  if (!IsAppleEvent(theAppleEvent)) return errAENotAppleEvent;
  if (idleProc || filterProc) return paramErr;
  AESendMode replyMode = sendMode & 3;
  if (replyMode != kAENoReply && replyMode != kAEWaitReply) return errAEUnknownSendMode;
  bool wantsReply = replyMode == kAEWaitReply;
  if (wantsReply && !reply) return paramErr;
  std::int64_t deadline;
  if (timeOutInTicks == kNoTimeOut) {
    deadline = -1;
  } else if (timeOutInTicks == kAEDefaultTimeout || timeOutInTicks < 0) {
    deadline = NowMs() + kDefaultTimeoutMs;
  } else {
    deadline = NowMs() + (std::int64_t(timeOutInTicks) * 1000 + 59) / 60;
  }
  if (!wantsReply && (deadline < 0 || deadline > NowMs() + kNoReplyHandoverMs))
    deadline = NowMs() + kNoReplyHandoverMs;

  const OpaqueAEDataStorageType& storage = *theAppleEvent->dataHandle;
  if (storage.target.highLongOfPSN == 0 && storage.target.lowLongOfPSN == kSystemProcess) {
    OSErr err = corvimus::SendToSystemProcess(storage.event.eventClass, storage.event.eventID,
                                              sendMode);
    if (err != noErr) return err;
    if (wantsReply) {
      try {
        FrameMessage answer;
        answer.kind = corvimus::ae::kFrameReply;
        answer.eventClass = kCoreEventClass;
        answer.eventID = kAEAnswer;
        answer.returnID = storage.event.returnID;
        answer.transactionID = storage.event.transactionID;
        *reply = MakeEventDesc(std::move(answer));
      } catch (const std::bad_alloc&) {
        return memFullErr;
      }
    }
    return noErr;
  }
  ProcessSerialNumber self;
  Boolean same = false;
  if (GetCurrentProcess(&self) == noErr) SameProcess(&storage.target, &self, &same);
  FrameMessage replyMessage;
  if (same) {
    // To oneself: the handler runs at once, as the Apple Event Manager does.
    Dispatch(storage.event, wantsReply, &replyMessage);
  } else {
    OSErr err;
    try {
      err = SendToOtherProcess(storage.target, storage.event, wantsReply, deadline, &replyMessage);
    } catch (const std::bad_alloc&) {
      err = memFullErr;
    }
    if (err != noErr) return err;
  }
  if (wantsReply) {
    try {
      *reply = MakeEventDesc(std::move(replyMessage));
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
  }
  return noErr;
}

OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon, Boolean) {
  if (!handler) return paramErr;
  try {
    bool replaced = false;
    for (auto& h : gHandlers) {
      if (h.eventClass == theAEEventClass && h.eventID == theAEEventID) {
        h.proc = handler;
        h.refcon = handlerRefcon;
        replaced = true;
      }
    }
    if (!replaced) gHandlers.push_back({theAEEventClass, theAEEventID, handler, handlerRefcon});
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return StartListener();
}

OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                           AEEventHandlerUPP handler, Boolean) {
  for (auto it = gHandlers.begin(); it != gHandlers.end(); ++it) {
    if (it->eventClass == theAEEventClass && it->eventID == theAEEventID &&
        (!handler || it->proc == handler)) {
      gHandlers.erase(it);
      return noErr;
    }
  }
  return errAEHandlerNotFound;
}

int AEGetEventDescriptor() {
  return StartListener() == noErr ? gListener.epollFd : -1;
}

OSErr AEProcessPendingEvents() {
  if (gListener.epollFd < 0 || gListener.dispatching) return noErr;
  gListener.dispatching = true;
  // One pass: level-triggered descriptors wake the caller again for whatever is left, and a quit
  // event must not wait behind more work.
  epoll_event events[16];
  int n = epoll_wait(gListener.epollFd, events, 16, 0);
  for (int i = 0; i < n; ++i) {
    int fd = events[i].data.fd;
    try {
      if (fd == gListener.listenFd) {
        AcceptConnections();
      } else if (fd == gListener.timerFd) {
        CloseExpiredConnections();
      } else if (fd == gListener.wakeFd) {
        std::uint64_t count;
        while (read(gListener.wakeFd, &count, sizeof count) > 0) {
        }
        std::vector<int> again;
        again.swap(gListener.again);
        for (int waiting : again) ServeConnection(waiting);
      } else {
        ServeConnection(fd);
      }
    } catch (const std::bad_alloc&) {
      // Out of memory for this frame: drop the connection, keep serving the others.
      if (gListener.connections.count(fd)) CloseIncoming(fd);
    }
  }
  ArmListenerTimer();
  gListener.dispatching = false;
  return noErr;
}

void AESetIdleTimeoutForTesting(int milliseconds) {
  gListener.idleTimeoutMs = milliseconds > 0 ? milliseconds : kIdleTimeoutMs;
}
