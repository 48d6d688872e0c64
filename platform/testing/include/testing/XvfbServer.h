// A private X server for tests that need a display: Xvfb on a free display number, stopped when the
// object goes away.
#pragma once

#include <sys/types.h>

#include <string>

namespace corvimus::testing {

class XvfbServer {
 public:
  XvfbServer() = default;
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // Whether an Xvfb program is installed (tests skip when it is not).
  static bool Available();
  // Starts the server and waits until it accepts connections; false with a reason on failure.
  bool Start(std::string* whyNot = nullptr);
  void Stop();
  // ":N", for DISPLAY.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace corvimus::testing
