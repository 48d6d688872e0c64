#include "platform/IOKit.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/DriverProtocol.h"
#include "platform/RuntimeFolder.h"

using namespace corvimus;

namespace {

constexpr mach_port_t kMasterPort = 0x0B07;
constexpr mach_port_t kOwnTask = 0x0103;
// A driver that has not finished its greeting by then is dropped.
constexpr int kHandshakeTimeoutMs = 2000;
// The longest a call waits for its reply. A driver that answers later is not dropped: the caller
// goes on, the late reply is passed over when it comes, and while a reply is overdue further calls
// to that driver do not wait at all. So one slow or hostile driver can hold the caller up by this
// much at a time, never the callers of another driver. A healthy driver answers within a
// millisecond; the rest is room for a machine under load.
constexpr int kReplyWaitMs = 40;
// A driver that leaves a request unanswered, or its socket unread, this long is dropped.
constexpr int kCallTimeoutMs = 5000;
// Requests not yet taken by a driver's socket; beyond this it is not reading and is dropped.
constexpr size_t kMaxUnsentBytes = 256 * 1024;
// Frames from a driver held back while a call waits; beyond this it is flooding and is dropped.
constexpr size_t kMaxHeldBackFrames = 4096;
// Calls made without waiting on a connection whose open is not answered yet.
constexpr size_t kMaxQueuedCalls = 64;
constexpr int kUnwatchedRetryMs = 2000;
constexpr int kQuickRetryMs = 250;
constexpr size_t kMaxServicesPerDriver = 4096;
constexpr int kPlaceCount = 2;

enum ObjectKind { kObjService, kObjIterator, kObjConnection, kObjInterest };

// One handle of the registry. Only the fields of its kind are used.
struct Object {
  ObjectKind kind = kObjService;
  UInt32 refs = 1;
  // service
  int place = -1;
  UInt32 remoteId = 0;
  std::string className;
  std::vector<std::pair<std::string, std::string>> properties;
  bool terminated = false;
  // iterator and interest registration
  IONotificationPortRef port = nullptr;
  bool firstMatch = false;
  CFDictionaryRef matching = nullptr;
  IOServiceMatchingCallback matchCallback = nullptr;
  IOServiceInterestCallback interestCallback = nullptr;
  void* refcon = nullptr;
  std::deque<io_object_t> items;
  bool armed = false;
  // connection and interest registration
  io_service_t service = 0;
  UInt32 remoteConnection = 0;
  bool closedByDriver = false;
  // connection whose open the driver has not answered yet; calls made without waiting meanwhile
  bool openPending = false;
  std::vector<DriverFrame> queued;
};

// A request the driver has not answered. Replies come in the order of the requests.
struct Outstanding {
  UInt32 requestId = 0;
  UInt8 replyType = 0;
  SInt64 sentMs = 0;
  bool abandoned = false;     // nobody waits for the reply: it is passed over when it comes
  io_connect_t openFor = 0;  // an abandoned open: the connection its reply completes
};

// One driver socket place and, while a driver listens there, the link to it.
struct Place {
  std::string socketPath;  // empty: not watched
  std::string folder, folderName, parent, socketName;
  int folderWatch = -1, parentWatch = -1;
  int fd = -1;
  bool greeted = false;  // the driver answered the greeting
  bool ready = false;    // ... and has listed its services
  SInt64 handshakeDeadlineMs = 0;
  DriverFrameReader reader;
  std::deque<DriverFrame> pending;  // taken in while waiting for a reply; processed on dispatch
  std::deque<Outstanding> outstanding;
  std::vector<UInt8> unsent;  // requests the socket has not taken yet, from unsentDone on
  size_t unsentDone = 0;
  SInt64 unsentSinceMs = 0;  // when the socket last took something while requests waited
  bool watchingOutput = false;
  std::map<UInt32, io_service_t> services;
  UInt32 nextRequestId = 1;
};

struct Notification {
  io_object_t target = 0;  // iterator or interest registration
  natural_t messageType = 0;
  std::vector<UInt8> argument;
};

}  // namespace

struct IONotificationPort {
  int epfd = -1;
  int eventFd = -1;
  std::deque<Notification> queue;
  IORunLoopSource source{};
  bool dispatching = false;
  bool destroyed = false;
};

namespace {

struct Registry {
  bool started = false;
  // timerFd: retries of places that cannot be watched; deadlineFd: the drivers' deadlines.
  int epfd = -1, wakeFd = -1, inotifyFd = -1, timerFd = -1, deadlineFd = -1;
  Place places[kPlaceCount];
  std::unordered_map<io_object_t, Object> objects;
  io_object_t nextHandle = 0x1001;
  std::vector<IONotificationPortRef> ports;
  bool quickRetry = false;
  int quickRetriesLeft = 0;
};

Registry gRegistry;
bool gPlacesOverridden = false;
std::string gPlaceOverride[kPlaceCount];

Object* Find(io_object_t handle, ObjectKind kind) {
  auto it = gRegistry.objects.find(handle);
  if (it == gRegistry.objects.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

io_object_t NewObject(Object object) {
  io_object_t handle = gRegistry.nextHandle++;
  if (gRegistry.nextHandle == 0) gRegistry.nextHandle = 0x1001;
  gRegistry.objects.emplace(handle, std::move(object));
  return handle;
}

void Signal(int fd) {
  UInt64 one = 1;
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
}

void Drain(int fd) {
  UInt64 value;
  while (read(fd, &value, sizeof value) > 0) {
  }
}

void Enqueue(IONotificationPortRef port, Notification n) {
  if (!port || port->destroyed) return;
  port->queue.push_back(std::move(n));
  Signal(port->eventFd);
}

void ReleaseObject(io_object_t handle);
IOReturn CloseRemoteConnection(Object& connection);

void DestroyObject(io_object_t handle) {
  auto it = gRegistry.objects.find(handle);
  if (it == gRegistry.objects.end()) return;
  Object object = std::move(it->second);
  gRegistry.objects.erase(it);
  switch (object.kind) {
    case kObjIterator:
      for (io_object_t item : object.items) ReleaseObject(item);
      CFRelease(object.matching);
      break;
    case kObjConnection:
      CloseRemoteConnection(object);
      ReleaseObject(object.service);
      break;
    case kObjInterest:
      ReleaseObject(object.service);
      break;
    case kObjService:
      break;
  }
}

void ReleaseObject(io_object_t handle) {
  auto it = gRegistry.objects.find(handle);
  if (it == gRegistry.objects.end()) return;
  if (--it->second.refs == 0) DestroyObject(handle);
}

bool Matches(CFDictionaryRef matching, const Object& service) {
  const char* wanted = CFDictionaryGetCString(matching, kIOProviderClassKey);
  if (!wanted || service.className != wanted) return false;
  CFIndex extra = CFDictionaryGetCount(matching) - 1;
  for (const auto& [key, value] : service.properties) {
    const char* v = CFDictionaryGetCString(matching, key.c_str());
    if (!v) continue;
    if (value != v) return false;
    --extra;
  }
  return extra == 0;  // every other key of the dictionary must be a property of the service
}

// Offers a service to every matching notification of one kind; a notification whose iterator was
// emptied since its last callback gets a new one.
void OfferToIterators(io_service_t handle, bool firstMatch) {
  std::vector<io_object_t> iterators;
  for (auto& [h, o] : gRegistry.objects)
    if (o.kind == kObjIterator && o.firstMatch == firstMatch) iterators.push_back(h);
  for (io_object_t h : iterators) {
    Object* it = Find(h, kObjIterator);
    Object* service = Find(handle, kObjService);
    if (!it || !service || !Matches(it->matching, *service)) continue;
    ++service->refs;
    it->items.push_back(handle);
    if (it->armed) {
      it->armed = false;
      Enqueue(it->port, Notification{h, 0, {}});
    }
  }
}

void DeliverInterest(io_service_t service, natural_t type, const std::vector<UInt8>& argument) {
  for (auto& [h, o] : gRegistry.objects)
    if (o.kind == kObjInterest && o.service == service)
      Enqueue(o.port, Notification{h, type, argument});
}

void TerminateService(io_service_t handle) {
  Object* service = Find(handle, kObjService);
  if (!service || service->terminated) return;
  service->terminated = true;
  gRegistry.places[service->place].services.erase(service->remoteId);
  OfferToIterators(handle, false);
  DeliverInterest(handle, kIOMessageServiceIsTerminated, {});
  ReleaseObject(handle);  // the registry's own reference
}

void ProcessPending(int index);
constexpr int kQuickRetries = 4;

SInt64 NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return SInt64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool IsReply(UInt8 type) {
  return type == kDriverFrameHelloReply || type == kDriverFramePong ||
         type == kDriverFrameOpenReply || type == kDriverFrameCloseReply ||
         type == kDriverFrameCallReply;
}

void WatchLink(int index) {
  Place& place = gRegistry.places[index];
  bool wantOutput = place.unsentDone < place.unsent.size();
  if (place.fd < 0 || wantOutput == place.watchingOutput) return;
  epoll_event ev{};
  ev.events = EPOLLIN | (wantOutput ? EPOLLOUT : 0u);
  ev.data.u32 = static_cast<UInt32>(index);
  epoll_ctl(gRegistry.epfd, EPOLL_CTL_MOD, place.fd, &ev);
  place.watchingOutput = wantOutput;
}

void CloseLink(int index) {
  Place& place = gRegistry.places[index];
  if (place.fd < 0) return;
  epoll_ctl(gRegistry.epfd, EPOLL_CTL_DEL, place.fd, nullptr);
  close(place.fd);
  place.fd = -1;
  place.greeted = place.ready = place.watchingOutput = false;
  place.reader = DriverFrameReader();
  place.pending.clear();
  place.outstanding.clear();
  place.unsent.clear();
  place.unsentDone = 0;
  for (auto& [h, o] : gRegistry.objects)
    if (o.kind == kObjConnection && o.place == index && o.openPending) {
      o.openPending = false;
      o.queued.clear();
    }
  std::vector<io_service_t> gone;
  for (auto& [remote, handle] : place.services) gone.push_back(handle);
  for (io_service_t handle : gone) TerminateService(handle);
  place.services.clear();
  // A driver that restarts at once is found even if its socket appeared before we saw it leave.
  gRegistry.quickRetriesLeft = kQuickRetries;
  gRegistry.quickRetry = true;
}

// Writes what the driver's socket takes now. False when the driver is gone or not reading.
bool FlushLink(int index) {
  Place& place = gRegistry.places[index];
  while (place.unsentDone < place.unsent.size()) {
    ssize_t n = send(place.fd, place.unsent.data() + place.unsentDone,
                     place.unsent.size() - place.unsentDone, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      place.unsentDone += static_cast<size_t>(n);
      place.unsentSinceMs = NowMs();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (place.unsentDone == place.unsent.size()) {
    place.unsent.clear();
    place.unsentDone = 0;
  } else if (place.unsent.size() - place.unsentDone > kMaxUnsentBytes) {
    return false;
  }
  WatchLink(index);
  return true;
}

// Queues a request, hands the driver what its socket takes and returns its id (0 when the link
// broke and was closed). Nothing waits here.
UInt32 SendRequest(int index, DriverFrame& request, UInt8 replyType, bool abandoned) {
  Place& place = gRegistry.places[index];
  if (place.fd < 0) return 0;
  request.requestId = place.nextRequestId++;
  if (place.nextRequestId == 0) place.nextRequestId = 1;
  bool wasEmpty = place.unsentDone == place.unsent.size();
  if (EncodeDriverFrame(request, &place.unsent) != noErr) return 0;
  if (wasEmpty) place.unsentSinceMs = NowMs();
  Outstanding entry;
  entry.requestId = request.requestId;
  entry.replyType = replyType;
  entry.sentMs = NowMs();
  entry.abandoned = abandoned;
  place.outstanding.push_back(entry);
  if (!FlushLink(index)) {
    CloseLink(index);
    return 0;
  }
  return request.requestId;
}

// A reply is overdue: the driver is behind, and calls to it do not wait until it catches up.
bool Lagging(const Place& place) {
  return !place.outstanding.empty() &&
         NowMs() - place.outstanding.front().sentMs > kReplyWaitMs;
}

void SendQueuedCalls(int index, Object& connection) {
  std::vector<DriverFrame> queued;
  queued.swap(connection.queued);
  for (DriverFrame& call : queued) {
    call.connectionId = connection.remoteConnection;
    if (!SendRequest(index, call, kDriverFrameCallReply, true)) return;
  }
}

// The reply to a request nobody waited for. An open completes its connection (or, when that
// connection was closed meanwhile, is closed in its turn); anything else is passed over. False
// when the reply breaks the protocol.
bool TakeLateReply(int index, const Outstanding& entry, const DriverFrame& reply) {
  if (reply.type != kDriverFrameOpenReply || !entry.openFor) return true;
  bool opened = reply.result == kIOReturnSuccess;
  if (opened && reply.connectionId == 0) return false;
  Object* connection = Find(entry.openFor, kObjConnection);
  if (!connection || !connection->openPending) {
    if (opened) {
      DriverFrame close;
      close.type = kDriverFrameClose;
      close.connectionId = reply.connectionId;
      SendRequest(index, close, kDriverFrameCloseReply, true);
    }
    return true;
  }
  connection->openPending = false;
  if (opened) {
    connection->remoteConnection = reply.connectionId;
    SendQueuedCalls(index, *connection);
  } else {
    // As if the driver had closed it: the owner hears so and lets it go.
    connection->closedByDriver = true;
    connection->queued.clear();
    DeliverInterest(connection->service, kIOMessageServiceWasClosed, {});
  }
  return true;
}

bool ProcessFrame(int index, const DriverFrame& frame) {
  Place& place = gRegistry.places[index];
  switch (frame.type) {
    case kDriverFramePublish: {
      if (place.services.count(frame.serviceId) || place.services.size() >= kMaxServicesPerDriver)
        return false;
      Object service;
      service.kind = kObjService;
      service.place = index;
      service.remoteId = frame.serviceId;
      service.className = frame.className;
      service.properties = frame.properties;
      io_service_t handle = NewObject(std::move(service));
      place.services[frame.serviceId] = handle;
      OfferToIterators(handle, true);
      return true;
    }
    case kDriverFrameTerminate: {
      auto it = place.services.find(frame.serviceId);
      if (it == place.services.end()) return false;
      TerminateService(it->second);
      return true;
    }
    case kDriverFrameInterest: {
      auto it = place.services.find(frame.serviceId);
      if (it == place.services.end()) return false;
      if (frame.connectionId != 0 && frame.messageType == kIOMessageServiceWasClosed) {
        // The driver let go of that connection: closing it later must not ask the driver again.
        for (auto& [h, o] : gRegistry.objects)
          if (o.kind == kObjConnection && o.place == index &&
              o.remoteConnection == frame.connectionId)
            o.closedByDriver = true;
      }
      DeliverInterest(it->second, frame.messageType, frame.data);
      return true;
    }
    default:
      return false;  // replies without a request, client frames: out of order
  }
}

enum FrameUse { kFrameTaken, kFrameAwaited, kFrameBroken };

// One frame from a driver. A reply must answer the oldest request; the one with id `awaited`
// goes back to the caller in *reply. Unsolicited frames are acted on at once, or held back for
// the next dispatch when `holdBack` (a caller waits inside a call and must not see the registry
// change under it).
FrameUse TakeFrame(int index, DriverFrame& frame, UInt32 awaited, DriverFrame* reply,
                   bool holdBack) {
  Place& place = gRegistry.places[index];
  if (DriverFrameFromClient(frame.type)) return kFrameBroken;
  if (IsReply(frame.type)) {
    if (place.outstanding.empty()) return kFrameBroken;
    Outstanding entry = place.outstanding.front();
    if (frame.type != entry.replyType || frame.requestId != entry.requestId) return kFrameBroken;
    place.outstanding.pop_front();
    if (frame.type == kDriverFrameHelloReply) {
      place.greeted = true;
      return kFrameTaken;
    }
    if (frame.type == kDriverFramePong) {
      place.ready = true;
      return kFrameTaken;
    }
    if (awaited && entry.requestId == awaited && !entry.abandoned) {
      *reply = std::move(frame);
      return kFrameAwaited;
    }
    return TakeLateReply(index, entry, frame) ? kFrameTaken : kFrameBroken;
  }
  if (!place.greeted) return kFrameBroken;  // nothing comes before the greeting's answer
  if (holdBack) {
    if (place.pending.size() >= kMaxHeldBackFrames) return kFrameBroken;
    place.pending.push_back(std::move(frame));
    return kFrameTaken;
  }
  return ProcessFrame(index, frame) ? kFrameTaken : kFrameBroken;
}

// Waits, until `deadline` at the latest, for the reply to request `awaited`, taking in what the
// driver sends meanwhile (what it sent already is always looked at, even with no time left).
// kIOReturnTimeout when the reply did not come: the request is then abandoned. A driver that
// breaks the protocol or goes away is dropped (its services terminate).
IOReturn AwaitReply(int index, UInt32 awaited, DriverFrame* reply, SInt64 deadline) {
  Place& place = gRegistry.places[index];
  bool ended = false;
  bool looked = false;
  for (;;) {
    DriverFrame frame;
    DriverDecodeResult r;
    while ((r = place.reader.Next(&frame)) == kDriverDecodeOK) {
      FrameUse use = TakeFrame(index, frame, awaited, reply, true);
      if (use == kFrameBroken) {
        CloseLink(index);
        return kIOReturnIPCError;
      }
      if (place.fd < 0) return kIOReturnNotResponding;
      if (use == kFrameAwaited) {
        // Frames that came in the same read as the reply are already off the socket, so its
        // descriptor will not wake the loop for them: the wake descriptor must.
        if (!place.pending.empty() || place.reader.Buffered() > 0) Signal(gRegistry.wakeFd);
        return kIOReturnSuccess;
      }
    }
    if (r == kDriverDecodeMalformed) {
      CloseLink(index);
      return kIOReturnIPCError;
    }
    if (ended) {
      // What the driver said before it went away still counts: act on it, then drop the link.
      ProcessPending(index);
      CloseLink(index);
      return kIOReturnNotResponding;
    }
    SInt64 left = std::max<SInt64>(deadline - NowMs(), 0);
    if (left == 0 && looked) break;
    looked = left == 0;
    bool output = place.unsentDone < place.unsent.size();
    pollfd p{place.fd, static_cast<short>(POLLIN | (output ? POLLOUT : 0)), 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      CloseLink(index);
      return kIOReturnIPCError;
    }
    if ((p.revents & POLLOUT) && !FlushLink(index)) {
      CloseLink(index);
      return kIOReturnNotResponding;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) ended = !place.reader.ReadFrom(place.fd);
  }
  for (Outstanding& entry : place.outstanding)
    if (entry.requestId == awaited) entry.abandoned = true;
  if (!place.pending.empty() || place.reader.Buffered() > 0) Signal(gRegistry.wakeFd);
  return kIOReturnTimeout;
}

void ArmDeadlines();

// Sends a request and waits a short while for its reply (not at all while the driver is behind).
// Afterwards request.requestId names the request.
IOReturn Transact(int index, DriverFrame& request, UInt8 replyType, DriverFrame* reply) {
  Place& place = gRegistry.places[index];
  if (place.fd < 0) return kIOReturnNotAttached;
  // Answers already on the socket are taken in first: only a driver really behind counts as late.
  if (Lagging(place)) {
    DriverFrame unused;
    AwaitReply(index, 0, &unused, NowMs());
    if (place.fd < 0) return kIOReturnNotAttached;
  }
  bool lagging = Lagging(place);
  UInt32 id = SendRequest(index, request, replyType, false);
  if (!id) return kIOReturnNotResponding;
  IOReturn err = AwaitReply(index, id, reply, lagging ? NowMs() : NowMs() + kReplyWaitMs);
  ArmDeadlines();
  return err;
}

void ProcessPending(int index) {
  Place& place = gRegistry.places[index];
  while (!place.pending.empty()) {
    DriverFrame frame = std::move(place.pending.front());
    place.pending.pop_front();
    if (!ProcessFrame(index, frame)) {
      CloseLink(index);
      return;
    }
  }
}

void PumpLink(int index) {
  Place& place = gRegistry.places[index];
  if (place.fd < 0) return;
  ProcessPending(index);
  if (place.fd < 0) return;
  if (!FlushLink(index)) return CloseLink(index);
  bool open = place.reader.ReadFrom(place.fd);
  DriverFrame frame, unused;
  DriverDecodeResult r;
  while ((r = place.reader.Next(&frame)) == kDriverDecodeOK) {
    if (TakeFrame(index, frame, 0, &unused, false) == kFrameBroken) return CloseLink(index);
    if (place.fd < 0) return;
  }
  if (r == kDriverDecodeMalformed || !open) CloseLink(index);
}

// Connects to a place's driver without waiting: the greeting and the question whose answer comes
// after the driver's list of services go out together, and the answers are taken in as they come.
void ConnectPlace(int index) {
  Place& place = gRegistry.places[index];
  if (place.socketPath.empty() || place.fd >= 0) return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (place.socketPath.size() >= sizeof addr.sun_path) return;
  std::memcpy(addr.sun_path, place.socketPath.c_str(), place.socketPath.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A socket file whose driver is not (yet) listening, or is not accepting: look again shortly.
    if ((errno == ECONNREFUSED || errno == EAGAIN) && gRegistry.quickRetriesLeft > 0)
      gRegistry.quickRetry = true;
    close(fd);
    return;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = static_cast<UInt32>(index);
  if (epoll_ctl(gRegistry.epfd, EPOLL_CTL_ADD, fd, &ev) != 0) {
    close(fd);
    return;
  }
  place.fd = fd;
  place.greeted = place.ready = place.watchingOutput = false;
  place.reader = DriverFrameReader();
  place.pending.clear();
  place.outstanding.clear();
  place.unsent.clear();
  place.unsentDone = 0;
  place.nextRequestId = 1;
  place.handshakeDeadlineMs = NowMs() + kHandshakeTimeoutMs;
  DriverFrame hello;
  hello.type = kDriverFrameHello;
  if (!SendRequest(index, hello, kDriverFrameHelloReply, true)) return;
  DriverFrame ping;
  ping.type = kDriverFramePing;
  SendRequest(index, ping, kDriverFramePong, true);
}

void WatchPlace(int index) {
  Place& place = gRegistry.places[index];
  if (place.socketPath.empty() || gRegistry.inotifyFd < 0) return;
  if (place.parentWatch < 0)
    place.parentWatch = inotify_add_watch(gRegistry.inotifyFd, place.parent.c_str(),
                                          IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
  if (place.folderWatch < 0)
    place.folderWatch = inotify_add_watch(gRegistry.inotifyFd, place.folder.c_str(),
                                          IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR);
}

// A place whose socket could appear without inotify telling us: its folder exists but cannot be
// watched (no read access, no inotify), or neither the folder nor its parent can be watched.
bool PlaceUnwatched(const Place& place) {
  if (place.socketPath.empty() || place.fd >= 0 || place.folderWatch >= 0) return false;
  return place.parentWatch < 0 || access(place.folder.c_str(), F_OK) == 0;
}

void SetTimer(int ms) {
  itimerspec timer{};
  timer.it_value.tv_sec = ms / 1000;
  timer.it_value.tv_nsec = (ms % 1000) * 1000000L;
  timer.it_interval = timer.it_value;
  timerfd_settime(gRegistry.timerFd, 0, &timer, nullptr);
}

void DisarmTimer() {
  itimerspec timer{};
  timerfd_settime(gRegistry.timerFd, 0, &timer, nullptr);
}

// The timer runs only while it has something to do: a place that cannot be watched is looked at
// every two seconds, and a socket that refused us once is tried again a moment later.
void RearmTimer() {
  bool unwatched = false;
  for (const Place& place : gRegistry.places) unwatched |= PlaceUnwatched(place);
  if (gRegistry.quickRetry)
    SetTimer(kQuickRetryMs);
  else if (unwatched)
    SetTimer(kUnwatchedRetryMs);
  else
    DisarmTimer();
}

void HandleInotify() {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    ssize_t n = read(gRegistry.inotifyFd, buf, sizeof buf);
    if (n <= 0) break;
    for (char* p = buf; p < buf + n;) {
      auto* ev = reinterpret_cast<inotify_event*>(p);
      p += sizeof(inotify_event) + ev->len;
      const char* name = ev->len ? ev->name : "";
      for (int i = 0; i < kPlaceCount; ++i) {
        Place& place = gRegistry.places[i];
        bool overflow = (ev->mask & IN_Q_OVERFLOW) != 0;
        if (ev->wd == place.folderWatch && (ev->mask & IN_IGNORED)) {
          place.folderWatch = -1;
        } else if (ev->wd == place.parentWatch && (ev->mask & IN_IGNORED)) {
          place.parentWatch = -1;
        } else if (overflow || (ev->wd == place.folderWatch && place.socketName == name) ||
                   (ev->wd == place.parentWatch && place.folderName == name)) {
          gRegistry.quickRetriesLeft = kQuickRetries;
          WatchPlace(i);
          ConnectPlace(i);
        }
      }
    }
  }
  for (int i = 0; i < kPlaceCount; ++i) WatchPlace(i);
}

SInt64 LinkDeadline(const Place& place) {
  SInt64 deadline = -1;
  auto consider = [&](SInt64 t) {
    if (deadline < 0 || t < deadline) deadline = t;
  };
  if (!place.ready) consider(place.handshakeDeadlineMs);
  if (!place.outstanding.empty()) consider(place.outstanding.front().sentMs + kCallTimeoutMs);
  if (place.unsentDone < place.unsent.size()) consider(place.unsentSinceMs + kCallTimeoutMs);
  return deadline;
}

// The deadline timer runs only while a driver owes something: an idle client is never woken.
void ArmDeadlines() {
  SInt64 earliest = -1;
  for (const Place& place : gRegistry.places) {
    if (place.fd < 0) continue;
    SInt64 deadline = LinkDeadline(place);
    if (deadline >= 0 && (earliest < 0 || deadline < earliest)) earliest = deadline;
  }
  itimerspec timer{};
  if (earliest >= 0) {
    if (earliest < 1) earliest = 1;  // zero would disarm
    timer.it_value.tv_sec = earliest / 1000;
    timer.it_value.tv_nsec = (earliest % 1000) * 1000000L;
  }
  timerfd_settime(gRegistry.deadlineFd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

// Drops the drivers past a deadline: a greeting not finished, a request unanswered or requests
// not taken for too long.
void EnforceDeadlines() {
  Drain(gRegistry.deadlineFd);
  SInt64 now = NowMs();
  for (int i = 0; i < kPlaceCount; ++i) {
    const Place& place = gRegistry.places[i];
    if (place.fd < 0) continue;
    SInt64 deadline = LinkDeadline(place);
    if (deadline >= 0 && deadline <= now) CloseLink(i);
  }
}

void Pump() {
  Drain(gRegistry.wakeFd);
  EnforceDeadlines();
  // Links first: a driver that went away is dropped before a new one at the same place is looked
  // for, or the new one would be missed as "already connected".
  for (int i = 0; i < kPlaceCount; ++i) PumpLink(i);
  HandleInotify();
  UInt64 expirations = 0;
  if (read(gRegistry.timerFd, &expirations, sizeof expirations) > 0) {
    gRegistry.quickRetry = false;
    if (gRegistry.quickRetriesLeft > 0) --gRegistry.quickRetriesLeft;
    for (int i = 0; i < kPlaceCount; ++i) {
      WatchPlace(i);
      ConnectPlace(i);
    }
  }
  RearmTimer();
  ArmDeadlines();
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

void SetUpPlace(int index, const std::string& socketPath) {
  Place& place = gRegistry.places[index];
  place.socketPath = socketPath;
  if (socketPath.empty()) return;
  SplitPath(socketPath, &place.folder, &place.socketName);
  SplitPath(place.folder, &place.parent, &place.folderName);
}

bool CheckStarted(mach_port_t master) {
  return gRegistry.started && master == kMasterPort;
}

void Shutdown() {
  for (int i = 0; i < kPlaceCount; ++i) {
    Place& place = gRegistry.places[i];
    if (place.fd >= 0) close(place.fd);
  }
  for (auto& [h, o] : gRegistry.objects)
    if (o.kind == kObjIterator) CFRelease(o.matching);
  for (IONotificationPortRef port : gRegistry.ports) {
    close(port->epfd);
    close(port->eventFd);
    delete port;
  }
  for (int fd : {gRegistry.epfd, gRegistry.wakeFd, gRegistry.inotifyFd, gRegistry.timerFd,
                 gRegistry.deadlineFd})
    if (fd >= 0) close(fd);
  gRegistry = Registry{};
}

// Sends the close for a connection the driver still knows; a connection whose service or driver is
// gone has nothing left to close.
IOReturn CloseRemoteConnection(Object& connection) {
  if (connection.openPending) {
    // The open's answer has not come: when it does, the connection it names is closed then.
    connection.openPending = false;
    connection.queued.clear();
    return kIOReturnSuccess;
  }
  if (connection.closedByDriver || connection.remoteConnection == 0) return kIOReturnSuccess;
  Object* service = Find(connection.service, kObjService);
  if (!service || service->terminated) return kIOReturnSuccess;
  DriverFrame request, reply;
  request.type = kDriverFrameClose;
  request.connectionId = connection.remoteConnection;
  connection.remoteConnection = 0;
  IOReturn err = Transact(connection.place, request, kDriverFrameCloseReply, &reply);
  return err != kIOReturnSuccess ? err : reply.result;
}

}  // namespace

mach_port_t mach_task_self() {
  return kOwnTask;
}

kern_return_t mach_port_deallocate(task_port_t task, mach_port_t name) {
  if (task != kOwnTask) return KERN_INVALID_ARGUMENT;
  return name == kMasterPort ? KERN_SUCCESS : KERN_INVALID_NAME;
}

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort) {
  if (!masterPort) return kIOReturnBadArgument;
  if (gRegistry.started) {
    *masterPort = kMasterPort;
    return kIOReturnSuccess;
  }
  Registry& r = gRegistry;
  r.epfd = epoll_create1(EPOLL_CLOEXEC);
  r.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  r.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  r.deadlineFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  r.inotifyFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (r.epfd < 0 || r.wakeFd < 0 || r.timerFd < 0 || r.deadlineFd < 0) {
    Shutdown();
    *masterPort = MACH_PORT_NULL;
    return kIOReturnNoResources;
  }
  // Link sockets are registered with their place index; the others with markers above it.
  for (int fd : {r.wakeFd, r.timerFd, r.deadlineFd, r.inotifyFd}) {
    if (fd < 0) continue;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = 100;
    epoll_ctl(r.epfd, EPOLL_CTL_ADD, fd, &ev);
  }
  std::string system = "/run/corvimus/driver.sock", user;
  std::string folder;
  if (GetCorvimusRuntimeFolder(&folder) == noErr) user = folder + "/driver.sock";
  if (gPlacesOverridden) {
    system = gPlaceOverride[0];
    user = gPlaceOverride[1];
  }
  SetUpPlace(0, system);
  SetUpPlace(1, user);
  r.started = true;
  for (int i = 0; i < kPlaceCount; ++i) {
    WatchPlace(i);
    ConnectPlace(i);
  }
  // The drivers running now greet us and list their services together, so that the services that
  // exist are known when this returns; one that does not finish in time goes on in the background
  // until its deadline.
  SInt64 deadline = NowMs() + kHandshakeTimeoutMs;
  for (;;) {
    pollfd fds[kPlaceCount];
    int which[kPlaceCount];
    int count = 0;
    for (int i = 0; i < kPlaceCount; ++i) {
      const Place& place = r.places[i];
      if (place.fd < 0 || place.ready) continue;
      bool output = place.unsentDone < place.unsent.size();
      fds[count] = {place.fd, static_cast<short>(POLLIN | (output ? POLLOUT : 0)), 0};
      which[count++] = i;
    }
    SInt64 left = deadline - NowMs();
    if (count == 0 || left <= 0) break;
    if (poll(fds, nfds_t(count), int(left)) < 0 && errno != EINTR) break;
    for (int k = 0; k < count; ++k)
      if (fds[k].revents) PumpLink(which[k]);
  }
  RearmTimer();
  ArmDeadlines();
  *masterPort = kMasterPort;
  return kIOReturnSuccess;
}

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (!name) return nullptr;
  CFMutableDictionaryRef dict = CFDictionaryCreateMutable();
  if (dict) CFDictionarySetCString(dict, kIOProviderClassKey, name);
  return dict;
}

IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort) {
  if (!CheckStarted(masterPort)) return nullptr;
  auto* port = new (std::nothrow) IONotificationPort;
  if (!port) return nullptr;
  port->epfd = epoll_create1(EPOLL_CLOEXEC);
  port->eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event ev{};
  ev.events = EPOLLIN;
  if (port->epfd < 0 || port->eventFd < 0 ||
      epoll_ctl(port->epfd, EPOLL_CTL_ADD, port->eventFd, &ev) != 0 ||
      epoll_ctl(port->epfd, EPOLL_CTL_ADD, gRegistry.epfd, &ev) != 0) {
    if (port->epfd >= 0) close(port->epfd);
    if (port->eventFd >= 0) close(port->eventFd);
    delete port;
    return nullptr;
  }
  port->source.fd = port->epfd;
  port->source.perform = [](void* info) {
    IONotificationPortDispatch(static_cast<IONotificationPortRef>(info));
  };
  port->source.info = port;
  gRegistry.ports.push_back(port);
  // Work may already be waiting (a link that delivered frames during a call).
  Signal(gRegistry.wakeFd);
  return port;
}

void IONotificationPortDestroy(IONotificationPortRef notify) {
  if (!notify || notify->destroyed) return;
  notify->destroyed = true;
  notify->queue.clear();
  // Notifications registered on the port die with it.
  for (auto& [h, o] : gRegistry.objects)
    if ((o.kind == kObjIterator || o.kind == kObjInterest) && o.port == notify) o.port = nullptr;
  std::erase(gRegistry.ports, notify);
  if (notify->dispatching) return;  // freed when the dispatch unwinds
  close(notify->epfd);
  close(notify->eventFd);
  delete notify;
}

IORunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify) {
  return notify && !notify->destroyed ? &notify->source : nullptr;
}

int IONotificationPortGetFileDescriptor(IONotificationPortRef notify) {
  return notify && !notify->destroyed ? notify->epfd : -1;
}

void IONotificationPortDispatch(IONotificationPortRef notify) {
  if (!notify || notify->destroyed || notify->dispatching) return;
  notify->dispatching = true;
  Drain(notify->eventFd);
  Pump();
  while (!notify->destroyed && !notify->queue.empty()) {
    Notification n = std::move(notify->queue.front());
    notify->queue.pop_front();
    if (Object* it = Find(n.target, kObjIterator)) {
      if (it->port == notify && it->matchCallback) it->matchCallback(it->refcon, n.target);
    } else if (Object* interest = Find(n.target, kObjInterest)) {
      // The callback learns no size: it reads what its message type implies, so a short
      // argument from a faulty driver is padded with zeros rather than read past its end.
      if (!n.argument.empty() && n.argument.size() < kIOInterestArgumentMinSize)
        n.argument.resize(kIOInterestArgumentMinSize, 0);
      if (interest->port == notify && interest->interestCallback)
        interest->interestCallback(interest->refcon, interest->service, n.messageType,
                                   n.argument.empty() ? nullptr : n.argument.data());
    }
  }
  notify->dispatching = false;
  if (notify->destroyed) {
    close(notify->epfd);
    close(notify->eventFd);
    delete notify;
  }
}

kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef notify,
                                               const char* notificationType,
                                               CFDictionaryRef matching,
                                               IOServiceMatchingCallback callback, void* refcon,
                                               io_iterator_t* notification) {
  if (!matching) return kIOReturnBadArgument;
  bool firstMatch =
      notificationType && std::strcmp(notificationType, kIOFirstMatchNotification) == 0;
  bool terminate =
      notificationType && std::strcmp(notificationType, kIOTerminatedNotification) == 0;
  if (!notify || notify->destroyed || !notification || !callback ||
      !CFDictionaryGetCString(matching, kIOProviderClassKey)) {
    CFRelease(matching);
    return kIOReturnBadArgument;
  }
  if (!firstMatch && !terminate) {
    CFRelease(matching);
    return kIOReturnUnsupported;
  }
  // The registration keeps its own copy, so a caller changing the dictionary later changes
  // nothing here; the caller's reference is consumed as the registration's was.
  CFMutableDictionaryRef copy = CFDictionaryCreateMutableCopy(matching);
  CFRelease(matching);
  if (!copy) return kIOReturnNoMemory;
  Object it;
  it.kind = kObjIterator;
  it.port = notify;
  it.firstMatch = firstMatch;
  it.matching = copy;
  it.matchCallback = callback;
  it.refcon = refcon;
  if (firstMatch) {
    for (const Place& place : gRegistry.places)
      for (auto& [remote, handle] : place.services) {
        Object* service = Find(handle, kObjService);
        if (service && !service->terminated && Matches(copy, *service)) {
          ++service->refs;
          it.items.push_back(handle);
        }
      }
  }
  *notification = NewObject(std::move(it));
  return kIOReturnSuccess;
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
  Object* it = Find(iterator, kObjIterator);
  if (!it) return 0;
  if (it->items.empty()) {
    it->armed = true;
    return 0;
  }
  io_object_t next = it->items.front();
  it->items.pop_front();
  return next;  // the iterator's reference passes to the caller
}

kern_return_t IOObjectRetain(io_object_t object) {
  auto it = gRegistry.objects.find(object);
  if (it == gRegistry.objects.end()) return kIOReturnBadArgument;
  ++it->second.refs;
  return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t object) {
  if (!gRegistry.objects.count(object)) return kIOReturnBadArgument;
  ReleaseObject(object);
  return kIOReturnSuccess;
}

UInt32 IOObjectGetRetainCount(io_object_t object) {
  auto it = gRegistry.objects.find(object);
  return it == gRegistry.objects.end() ? 0 : it->second.refs;
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) {
  Object* service = Find(object, kObjService);
  if (!service || !className) return kIOReturnBadArgument;
  std::snprintf(className, sizeof(io_name_t), "%s", service->className.c_str());
  return kIOReturnSuccess;
}

kern_return_t IORegistryEntryCreateCFProperties(io_service_t service,
                                                CFMutableDictionaryRef* properties, void*, UInt32) {
  if (!properties) return kIOReturnBadArgument;
  *properties = nullptr;
  Object* s = Find(service, kObjService);
  if (!s) return kIOReturnBadArgument;
  CFMutableDictionaryRef dict = CFDictionaryCreateMutable();
  if (!dict) return kIOReturnNoMemory;
  for (const auto& [key, value] : s->properties)
    CFDictionarySetCString(dict, key.c_str(), value.c_str());
  CFDictionarySetCString(dict, kIODriverPlaceKey,
                         s->place == 0 ? kIODriverPlaceSystem : kIODriverPlaceUser);
  *properties = dict;
  return kIOReturnSuccess;
}

UInt32 IOKitGetLinkedDriverPlaces() {
  UInt32 linked = 0;
  if (gRegistry.places[0].fd >= 0 && gRegistry.places[0].ready) linked |= kIODriverLinkedSystem;
  if (gRegistry.places[1].fd >= 0 && gRegistry.places[1].ready) linked |= kIODriverLinkedUser;
  return linked;
}

kern_return_t IOServiceAddInterestNotification(IONotificationPortRef notify, io_service_t service,
                                               const char* interestType,
                                               IOServiceInterestCallback callback, void* refcon,
                                               io_object_t* notification) {
  if (!notify || notify->destroyed || !callback || !notification || !interestType)
    return kIOReturnBadArgument;
  if (std::strcmp(interestType, kIOGeneralInterest) != 0) return kIOReturnUnsupported;
  Object* s = Find(service, kObjService);
  if (!s) return kIOReturnBadArgument;
  if (s->terminated) return kIOReturnNotAttached;
  ++s->refs;
  Object interest;
  interest.kind = kObjInterest;
  interest.port = notify;
  interest.service = service;
  interest.interestCallback = callback;
  interest.refcon = refcon;
  *notification = NewObject(std::move(interest));
  return kIOReturnSuccess;
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, UInt32 type,
                            io_connect_t* connect) {
  if (!connect) return kIOReturnBadArgument;
  *connect = 0;
  if (owningTask != kOwnTask) return kIOReturnNotPermitted;
  Object* s = Find(service, kObjService);
  if (!s) return kIOReturnBadArgument;
  if (s->terminated) return kIOReturnNotAttached;
  int index = s->place;
  DriverFrame request, reply;
  request.type = kDriverFrameOpen;
  request.serviceId = s->remoteId;
  request.openType = type;
  IOReturn err = Transact(index, request, kDriverFrameOpenReply, &reply);
  bool pending = err == kIOReturnTimeout;
  if (!pending && err != kIOReturnSuccess) return err;
  if (!pending && reply.result != kIOReturnSuccess) return reply.result;
  if (!pending && reply.connectionId == 0) {
    CloseLink(index);
    return kIOReturnIPCError;
  }
  s = Find(service, kObjService);  // the wait may have changed the table
  if (!s) return kIOReturnNotAttached;
  ++s->refs;
  Object connection;
  connection.kind = kObjConnection;
  connection.place = index;
  connection.service = service;
  connection.remoteConnection = reply.connectionId;
  // Not answered yet: the connection is handed out now and completed when the answer comes;
  // calls that wait for nothing are kept for it meanwhile, calls that want an answer fail.
  connection.openPending = pending;
  *connect = NewObject(std::move(connection));
  if (pending)
    for (Outstanding& entry : gRegistry.places[index].outstanding)
      if (entry.requestId == request.requestId) entry.openFor = *connect;
  return kIOReturnSuccess;
}

kern_return_t IOServiceClose(io_connect_t connect) {
  Object* c = Find(connect, kObjConnection);
  if (!c) return kIOReturnBadArgument;
  IOReturn err = CloseRemoteConnection(*c);
  ReleaseObject(connect);
  return err;
}

namespace {

// Checks a call's arguments and the connection, and makes the frame; kIOReturnSuccess when it may
// be sent. An open still waiting for its answer leaves connectionId 0.
IOReturn MakeCall(io_connect_t connect, UInt32 selector, const UInt64* input, UInt32 inputCnt,
                  const void* inputStruct, size_t inputStructCnt, UInt32 outWanted,
                  bool outputWithoutBuffer, size_t structCapacity, DriverFrame* request) {
  Object* c = Find(connect, kObjConnection);
  if (!c) return kIOReturnBadArgument;
  if (inputCnt > kDriverMaxScalars || outWanted > kDriverMaxScalars ||
      inputStructCnt > kDriverMaxStructSize || structCapacity > kDriverMaxStructSize ||
      (inputCnt && !input) || (inputStructCnt && !inputStruct) || outputWithoutBuffer)
    return kIOReturnBadArgument;
  Object* service = Find(c->service, kObjService);
  if (c->closedByDriver) return kIOReturnNotOpen;
  if (!service || service->terminated || (c->remoteConnection == 0 && !c->openPending))
    return kIOReturnNotAttached;
  request->type = kDriverFrameCall;
  request->connectionId = c->remoteConnection;
  request->selector = selector;
  request->scalarCount = inputCnt;
  for (UInt32 i = 0; i < inputCnt; ++i) request->scalars[i] = input[i];
  request->scalarOutWanted = outWanted;
  request->structOutSize = static_cast<UInt32>(structCapacity);
  if (inputStructCnt) {
    const auto* bytes = static_cast<const UInt8*>(inputStruct);
    request->data.assign(bytes, bytes + inputStructCnt);
  }
  return kIOReturnSuccess;
}

}  // namespace

kern_return_t IOConnectCallMethod(io_connect_t connect, UInt32 selector, const UInt64* input,
                                  UInt32 inputCnt, const void* inputStruct, size_t inputStructCnt,
                                  UInt64* output, UInt32* outputCnt, void* outputStruct,
                                  size_t* outputStructCnt) {
  UInt32 outWanted = outputCnt ? *outputCnt : 0;
  size_t structCapacity = outputStructCnt ? *outputStructCnt : 0;
  DriverFrame request, reply;
  IOReturn err = MakeCall(connect, selector, input, inputCnt, inputStruct, inputStructCnt,
                          outWanted, (outWanted && !output) || (structCapacity && !outputStruct),
                          structCapacity, &request);
  if (err != kIOReturnSuccess) return err;
  Object* c = Find(connect, kObjConnection);
  int index = c->place;
  if (c->openPending) {
    // The open's answer may have come in since: take in what is there.
    DriverFrame unused;
    AwaitReply(index, 0, &unused, NowMs());
    c = Find(connect, kObjConnection);
    if (!c || c->closedByDriver) return kIOReturnNotOpen;
    // Not answered yet: nothing can answer this either.
    if (c->openPending) return kIOReturnNotResponding;
    if (c->remoteConnection == 0) return kIOReturnNotAttached;
    request.connectionId = c->remoteConnection;
  }
  err = Transact(index, request, kDriverFrameCallReply, &reply);
  if (err != kIOReturnSuccess) return err;
  // A driver that answers with more than was asked for breaks the protocol.
  if (reply.scalarCount > outWanted || reply.data.size() > structCapacity) {
    CloseLink(index);
    return kIOReturnIPCError;
  }
  for (UInt32 i = 0; i < reply.scalarCount; ++i) output[i] = reply.scalars[i];
  if (outputCnt) *outputCnt = reply.scalarCount;
  if (!reply.data.empty()) std::memcpy(outputStruct, reply.data.data(), reply.data.size());
  if (outputStructCnt) *outputStructCnt = reply.data.size();
  return reply.result;
}

kern_return_t IOConnectCallAsyncMethod(io_connect_t connect, UInt32 selector, mach_port_t wakePort,
                                       UInt64* reference, UInt32 referenceCnt,
                                       const UInt64* input, UInt32 inputCnt,
                                       const void* inputStruct, size_t inputStructCnt,
                                       UInt64* output, UInt32* outputCnt, void* outputStruct,
                                       size_t* outputStructCnt) {
  (void)reference;
  (void)referenceCnt;
  (void)output;
  (void)outputStruct;
  if (wakePort != MACH_PORT_NULL) return kIOReturnUnsupported;
  // The driver is asked for the outputs as stated, as the waiting form would; nothing is kept.
  DriverFrame request;
  IOReturn err = MakeCall(connect, selector, input, inputCnt, inputStruct, inputStructCnt,
                          outputCnt ? *outputCnt : 0, false,
                          outputStructCnt ? *outputStructCnt : 0, &request);
  if (err != kIOReturnSuccess) return err;
  Object* c = Find(connect, kObjConnection);
  if (c->openPending) {
    // Sent as soon as the open is answered, in the order they were made.
    if (c->queued.size() >= kMaxQueuedCalls) return kIOReturnNoResources;
    c->queued.push_back(std::move(request));
    return kIOReturnSuccess;
  }
  UInt32 id = SendRequest(c->place, request, kDriverFrameCallReply, true);
  ArmDeadlines();
  return id ? kIOReturnSuccess : kIOReturnNotResponding;
}

kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, UInt32 index,
                                            IOItemCount scalarInputCount,
                                            IOItemCount scalarOutputCount, ...) {
  if (scalarInputCount > kDriverMaxScalars || scalarOutputCount > kDriverMaxScalars)
    return kIOReturnBadArgument;
  UInt64 in[kDriverMaxScalars] = {}, out[kDriverMaxScalars] = {};
  int* outPtr[kDriverMaxScalars] = {};
  va_list args;
  va_start(args, scalarOutputCount);
  for (UInt32 i = 0; i < scalarInputCount; ++i) in[i] = static_cast<UInt32>(va_arg(args, int));
  for (UInt32 i = 0; i < scalarOutputCount; ++i) outPtr[i] = va_arg(args, int*);
  va_end(args);
  UInt32 outCount = scalarOutputCount;
  kern_return_t err = IOConnectCallMethod(connect, index, in, scalarInputCount, nullptr, 0, out,
                                          &outCount, nullptr, nullptr);
  if (err == kIOReturnSuccess) {
    for (UInt32 i = 0; i < outCount; ++i)
      if (outPtr[i]) *outPtr[i] = static_cast<int>(static_cast<UInt32>(out[i]));
  }
  return err;
}

kern_return_t IOConnectMethodScalarIStructureO(io_connect_t connect, UInt32 index,
                                               IOItemCount scalarInputCount,
                                               IOByteCount* structureSize, ...) {
  if (scalarInputCount > kDriverMaxScalars || !structureSize) return kIOReturnBadArgument;
  UInt64 in[kDriverMaxScalars] = {};
  va_list args;
  va_start(args, structureSize);
  for (UInt32 i = 0; i < scalarInputCount; ++i) in[i] = static_cast<UInt32>(va_arg(args, int));
  void* structure = va_arg(args, void*);
  va_end(args);
  size_t size = *structureSize;
  kern_return_t err = IOConnectCallMethod(connect, index, in, scalarInputCount, nullptr, 0, nullptr,
                                          nullptr, structure, &size);
  *structureSize = static_cast<IOByteCount>(size);
  return err;
}

kern_return_t IOConnectMethodScalarIStructureI(io_connect_t connect, UInt32 index,
                                               IOItemCount scalarInputCount,
                                               IOByteCount structureSize, ...) {
  if (scalarInputCount > kDriverMaxScalars) return kIOReturnBadArgument;
  UInt64 in[kDriverMaxScalars] = {};
  va_list args;
  va_start(args, structureSize);
  for (UInt32 i = 0; i < scalarInputCount; ++i) in[i] = static_cast<UInt32>(va_arg(args, int));
  const void* structure = va_arg(args, const void*);
  va_end(args);
  return IOConnectCallMethod(connect, index, in, scalarInputCount, structure, structureSize,
                             nullptr, nullptr, nullptr, nullptr);
}

kern_return_t IOConnectMethodStructureIStructureO(io_connect_t connect, UInt32 index,
                                                  IOItemCount structureInputSize,
                                                  IOByteCount* structureOutputSize,
                                                  void* inputStructure, void* outputStructure) {
  size_t size = structureOutputSize ? *structureOutputSize : 0;
  kern_return_t err =
      IOConnectCallMethod(connect, index, nullptr, 0, inputStructure, structureInputSize, nullptr,
                          nullptr, outputStructure, structureOutputSize ? &size : nullptr);
  if (structureOutputSize) *structureOutputSize = static_cast<IOByteCount>(size);
  return err;
}

void IOKitSetDriverPlacesForTesting(const char* systemSocket, const char* userSocket) {
  gPlacesOverridden = true;
  gPlaceOverride[0] = systemSocket ? systemSocket : "";
  gPlaceOverride[1] = userSocket ? userSocket : "";
}

void IOKitShutdownForTesting() {
  Shutdown();
}
