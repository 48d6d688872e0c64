// corvimus-simdriver: a driver daemon with virtual mice, driven from its standard input.
//
//   corvimus-simdriver [--mice N] [--bluetooth K] [--socket PATH] [--record FILE]
//
// Prints "ready PATH" once it listens, then answers each control line (see SimDriver.h). It runs
// until "quit", SIGINT or SIGTERM; the end of standard input only stops the reading of commands, so
// it can run in the background with its input closed.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/SimDriver.h"
#include "platform/RuntimeFolder.h"

using namespace corvimus;

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: corvimus-simdriver [--mice N] [--bluetooth K] [--socket PATH] "
               "[--record FILE]\n");
}

bool ParseCount(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || !end || *end || end == text || v < 0 || v > 1000) return false;
  *value = static_cast<int>(v);
  return true;
}

void Answer(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int mice = 2, bluetooth = 0;
  std::string socketPath, recordPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--mice" && hasValue && ParseCount(argv[i + 1], &mice)) {
      ++i;
    } else if (arg == "--bluetooth" && hasValue && ParseCount(argv[i + 1], &bluetooth)) {
      ++i;
    } else if (arg == "--socket" && hasValue && argv[i + 1][0]) {
      socketPath = argv[++i];
    } else if (arg == "--record" && hasValue && argv[i + 1][0]) {
      recordPath = argv[++i];
    } else {
      std::fprintf(stderr, "corvimus-simdriver: bad argument: %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (bluetooth > mice) {
    std::fprintf(stderr, "corvimus-simdriver: --bluetooth %d is more than --mice %d\n", bluetooth,
                 mice);
    return 2;
  }
  if (socketPath.empty()) {
    std::string folder;
    if (GetCorvimusRuntimeFolder(&folder) != noErr) {
      std::fprintf(stderr, "corvimus-simdriver: no private runtime folder for the socket\n");
      return 1;
    }
    socketPath = folder + "/driver.sock";
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  int sigfd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);

  SimDriver driver;
  // The special functions type the shortcuts of the desktop this runs in.
  driver.SetDesktop(DesktopKindFromName(std::getenv("XDG_CURRENT_DESKTOP")));
  OSErr err = driver.Start(socketPath, mice, bluetooth, recordPath);
  if (err == fBsyErr) {
    std::fprintf(stderr, "corvimus-simdriver: %s is in use by another driver\n",
                 socketPath.c_str());
    return 1;
  }
  if (err == dupFNErr) {
    std::fprintf(stderr, "corvimus-simdriver: %s exists and is not a socket\n", socketPath.c_str());
    return 1;
  }
  if (err != noErr) {
    std::fprintf(stderr, "corvimus-simdriver: cannot listen at %s or write the record (%d)\n",
                 socketPath.c_str(), err);
    return 1;
  }
  Answer("ready " + socketPath + "\n");

  std::string input;
  bool reading = true, running = true;
  while (running) {
    pollfd fds[3] = {{driver.Server().Descriptor(), POLLIN, 0},
                     {sigfd, POLLIN, 0},
                     {reading ? 0 : -1, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (fds[0].revents) driver.Server().Pump();
    if (fds[2].revents) {
      char buf[4096];
      ssize_t n = read(0, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        reading = false;
      } else {
        input.append(buf, static_cast<size_t>(n));
      }
      size_t newline;
      while (running && (newline = input.find('\n')) != std::string::npos) {
        std::string line = input.substr(0, newline);
        input.erase(0, newline + 1);
        std::string answer;
        running = driver.Control(line, &answer);
        Answer(answer);
      }
      if (input.size() > 65536) {
        Answer("error: line too long\n");
        input.clear();
      }
    }
  }
  driver.Stop();
  return 0;
}
