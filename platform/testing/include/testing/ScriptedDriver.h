// A driver for tests of the driver's clients, on a real socket and run by a thread of the test, so
// that every answer and every fault a client must survive can be produced on purpose: services on
// request, calls echoed (scalars in become scalars out, the structure in becomes the structure
// out), answers held back until the test lets them go, a greeting left halfway, raw bytes.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DriverProtocol.h"

namespace corvimus::testing {

class ScriptedDriver {
 public:
  explicit ScriptedDriver(std::string path) : path_(std::move(path)) {}
  ~ScriptedDriver() { Stop(); }
  ScriptedDriver(const ScriptedDriver&) = delete;
  ScriptedDriver& operator=(const ScriptedDriver&) = delete;

  // Listens at the path (the socket appears there whole) and serves one client at a time.
  bool Start();
  void Stop();

  void Publish(UInt32 id, std::vector<std::pair<std::string, std::string>> properties = {});
  void Terminate(UInt32 id);
  void Interest(UInt32 service, UInt32 connection, UInt32 type, std::vector<UInt8> argument);
  void SendRaw(std::vector<UInt8> bytes);
  // Replaces the echo for calls: the reply the client gets.
  void OnCall(std::function<void(const DriverFrame&, DriverFrame*)> handler);
  // The result of the next opens (kIOReturnSuccess: a connection is made).
  void SetOpenResult(SInt32 result);
  // While held, the answers to opens, closes and calls are kept back, in order; letting go sends
  // them all at once.
  void HoldAnswers();
  void ReleaseAnswers();
  // Every client's greeting is answered with the first half of its reply only, the rest (and the
  // list of services) coming when the test finishes it; clients greeted after that are answered
  // whole.
  void HalveGreetings();
  void FinishGreeting();
  // The next reply is the driver's last word: it hangs up right after writing it.
  void HangUpAfterNextReply() { hangUp_ = true; }

  const std::string& path() const { return path_; }
  int opens() const { return opens_; }
  int closes() const { return closes_; }
  int clients() const { return clients_; }
  int calls() const { return calls_; }

 private:
  void Queue(const DriverFrame& frame);
  void Wake();
  void Run();
  void Answer(const DriverFrame& frame);

  std::string path_;
  int listen_ = -1, wake_ = -1, client_ = -1;
  bool greeted_ = false;
  std::atomic<bool> stop_{false}, hangUp_{false}, answered_{false};
  std::atomic<int> opens_{0}, closes_{0}, clients_{0}, calls_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<DriverFrame> services_;
  std::vector<UInt8> outgoing_;
  std::function<void(const DriverFrame&, DriverFrame*)> onCall_;
  SInt32 openResult_ = 0;
  bool holding_ = false;
  std::vector<UInt8> held_;
  bool halving_ = false;
  std::vector<UInt8> greetingRest_;
};

}  // namespace corvimus::testing
