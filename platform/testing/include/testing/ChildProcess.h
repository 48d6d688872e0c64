// A program started by a test that runs beside it: its output read line by line, its end awaited.
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
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  pid_t pid() const { return pid_; }
  // The next line of output without its newline; false at the end of output or after timeoutMs.
  bool ReadLine(std::string* line, int timeoutMs = 10000);
  bool WriteInput(const std::string& bytes);
  void CloseInput();
  void Signal(int signo);
  // The exit status (128 + signal number when killed); false when it still runs after timeoutMs.
  bool Wait(int* exitCode, int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// The environment of this process with `extraEnv` entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extraEnv);

}  // namespace corvimus::testing
