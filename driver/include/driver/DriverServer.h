// The driver's end of the driver socket: publishes services, keeps each client's user-client
// connections, hands their method calls to the driver proper and sends interest messages.
//
// Single-threaded and non-blocking: the owner watches Descriptor() and calls Pump() when it is
// readable. Each client is known by the user id the kernel gives for its end of the socket
// (SO_PEERCRED), so a driver serving several users can tell whose agent is asking. A client that breaks the protocol (platform/DriverProtocol.h), or stops reading while
// its unsent output grows past a bound, is dropped; every other client carries on.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/DriverProtocol.h"
#include "platform/MacTypes.h"

namespace corvimus {

// A client whose credentials could not be read; matches no real user.
inline constexpr UInt32 kDriverUnknownUid = 0xFFFFFFFF;

struct DriverCallRequest {
  UInt32 serviceId = 0;
  UInt32 connectionId = 0;
  UInt32 selector = 0;
  UInt32 scalarCount = 0;
  const UInt64* scalars = nullptr;
  const std::vector<UInt8>* structIn = nullptr;
  UInt32 scalarOutWanted = 0;
  UInt32 structOutSize = 0;  // the caller's buffer: a structure out must not be longer
  UInt32 clientUid = kDriverUnknownUid;
};

struct DriverCallResult {
  SInt32 result = 0;  // IOReturn
  UInt32 scalarCount = 0;
  UInt64 scalars[kDriverMaxScalars] = {};
  std::vector<UInt8> structOut;
};

// What the driver proper does with the clients' requests.
class DriverServerDelegate {
 public:
  virtual ~DriverServerDelegate() = default;
  // IOReturn: 0 lets the connection open.
  virtual SInt32 DriverOpen(UInt32 serviceId, UInt32 type) = 0;
  // After a successful open, once the connection has its id.
  virtual void DriverOpened(UInt32 serviceId, UInt32 connectionId, UInt32 clientUid) {
    (void)serviceId;
    (void)connectionId;
    (void)clientUid;
  }
  virtual void DriverClosed(UInt32 serviceId, UInt32 connectionId) {
    (void)serviceId;
    (void)connectionId;
  }
  virtual void DriverCall(const DriverCallRequest& call, DriverCallResult* result) = 0;
};

class DriverServer {
 public:
  explicit DriverServer(DriverServerDelegate* delegate);
  ~DriverServer();
  DriverServer(const DriverServer&) = delete;
  DriverServer& operator=(const DriverServer&) = delete;

  // Listens at socketPath. The socket appears under its name only once it accepts connections, so
  // a client woken by its appearance never finds it refusing. A stale socket left by a driver that
  // died is replaced; a live one is not (fBsyErr), nor is a file that is not a socket (dupFNErr).
  OSErr Listen(const std::string& socketPath);
  int Descriptor() const { return epfd_; }
  void Pump();

  void Publish(UInt32 serviceId, const std::string& className,
               const std::vector<std::pair<std::string, std::string>>& properties);
  // Ends the service: every client is told, and every connection to it is forgotten.
  void Terminate(UInt32 serviceId);
  // An interest message for every client (each client's registrations on the service receive it).
  void SendInterest(UInt32 serviceId, UInt32 messageType, const void* argument, size_t size);
  // The same, only for the clients of one user.
  void SendInterestToUser(UInt32 serviceId, UInt32 uid, UInt32 messageType, const void* argument,
                          size_t size);
  // True when a client of that user holds a connection to the service.
  bool HasConnectionFrom(UInt32 serviceId, UInt32 uid) const;
  // Drops one connection from the driver's side; its client gets kIOMessageServiceWasClosed.
  bool CloseConnection(UInt32 connectionId);
  std::vector<UInt32> ConnectionsOf(UInt32 serviceId) const;
  size_t ClientCount() const { return peers_.size(); }
  // Writes out what is queued, waiting at most timeoutMs; then closes everything and removes the
  // socket if it is still the one this server made.
  void Shutdown(int timeoutMs);

 private:
  struct Peer {
    UInt64 id = 0;
    int fd = -1;
    DriverFrameReader reader;
    std::vector<UInt8> out;
    size_t outStart = 0;
    bool greeted = false;
    bool watchingOutput = false;
    UInt32 uid = kDriverUnknownUid;
  };
  struct Service {
    std::string className;
    std::vector<std::pair<std::string, std::string>> properties;
  };
  struct Connection {
    UInt64 peer = 0;
    UInt32 serviceId = 0;
  };

  void Accept();
  void HandlePeer(UInt64 id, UInt32 events);
  bool HandleFrame(Peer& peer, DriverFrame& frame);
  void Send(Peer& peer, const DriverFrame& frame);
  bool FlushPeer(Peer& peer);
  void DropPeer(UInt64 id);
  DriverFrame PublishFrame(UInt32 serviceId, const Service& service) const;
  void SendInterestWhere(UInt32 serviceId, UInt32 messageType, const void* argument, size_t size,
                         bool anyUser, UInt32 uid);

  DriverServerDelegate* delegate_;
  int epfd_ = -1;
  int listenFd_ = -1;
  std::string path_;
  unsigned long inode_ = 0;
  UInt64 nextPeer_ = 1;
  UInt32 nextConnection_ = 1;
  std::map<UInt64, std::unique_ptr<Peer>> peers_;
  std::map<UInt32, Service> services_;
  std::map<UInt32, Connection> connections_;
};

}  // namespace corvimus
