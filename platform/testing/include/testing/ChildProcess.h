// A program started by a test and talked to while it runs: lines to its standard input, lines back
// from its standard output (standard error is passed through to the test's own).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvimus::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // a child still running is killed
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with extra environment entries ("NAME=value"). False when it cannot start.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  bool WriteLine(const std::string& line);
  void CloseInput();
  // The next line of output without its newline; false at the end of output or after timeoutMs.
  bool ReadLine(std::string* line, int timeoutMs = 10000);
  // Lines up to and including the first that starts with "ok" or "error", joined with newlines.
  std::string ReadAnswer(int timeoutMs = 10000);
  // Sends a line and returns its answer.
  std::string Command(const std::string& line, int timeoutMs = 10000);
  void Signal(int signal);
  // The exit status (128 + signal when killed), or -1 when it did not end within timeoutMs.
  int Wait(int timeoutMs = 10000);
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace corvimus::testing
