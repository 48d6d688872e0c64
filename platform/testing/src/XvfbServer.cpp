#include "testing/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace corvimus::testing {

namespace {

std::string FindProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path && *path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool Fail(std::string* whyNot, const std::string& reason) {
  if (whyNot) *whyNot = reason;
  return false;
}

}  // namespace

XvfbServer::~XvfbServer() {
  Stop();
}

bool XvfbServer::Available() {
  return !FindProgram("Xvfb").empty();
}

bool XvfbServer::Start(std::string* whyNot) {
  if (pid_ > 0) return true;
  std::string program = FindProgram("Xvfb");
  if (program.empty()) return Fail(whyNot, "Xvfb is not installed");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return Fail(whyNot, "pipe failed");
  pid_ = fork();
  if (pid_ == 0) {
    // The write end must survive exec: it is where the server tells its display number.
    int displayFd = dup(fds[1]);
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
    }
    std::string fdText = std::to_string(displayFd);
    execl(program.c_str(), "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", "640x480x24",
          "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return Fail(whyNot, "fork failed");
  }
  // The server writes the number once it accepts connections.
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (text.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd p{fds[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, int(left)) <= 0) break;
    char buf[32];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, size_t(n));
  }
  close(fds[0]);
  if (text.find('\n') == std::string::npos) {
    Stop();
    return Fail(whyNot, "Xvfb did not report a display");
  }
  display_ = ":" + text.substr(0, text.find('\n'));
  return true;
}

void XvfbServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace corvimus::testing
