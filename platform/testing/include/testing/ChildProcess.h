// A program started by a test and talked to while it runs: bytes or lines to its standard input,
// lines back from its standard output (standard error is passed through to the test's own), its end
// awaited.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvimus::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills the program when it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with extra environment entries ("NAME=value"); standard input is a pipe kept
  // open until CloseInput, standard output is read by ReadLine, standard error is inherited.
  // False when it cannot start.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }
  // The next line of output without its newline; false at the end of output or after timeoutMs.
  bool ReadLine(std::string* line, int timeoutMs = 10000);
  bool WriteInput(const std::string& bytes);
  bool WriteLine(const std::string& line);
  // Lines up to and including the first that starts with "ok" or "error", joined with newlines.
  std::string ReadAnswer(int timeoutMs = 10000);
  // Sends a line and returns its answer.
  std::string Command(const std::string& line, int timeoutMs = 10000);
  void CloseInput();
  void Signal(int signo);
  // The exit status (128 + signal number when killed); false when it still runs after timeoutMs.
  bool Wait(int* exitCode, int timeoutMs = 10000);
  // The same as a value: the exit status, or -1 when it did not end within timeoutMs.
  int Wait(int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// The environment of this process with `extraEnv` entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extraEnv);

}  // namespace corvimus::testing
