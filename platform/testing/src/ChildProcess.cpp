#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace corvimus::testing {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& extra : extraEnv) {
    auto name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    env.push_back(extra);
  }
  return env;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv) {
  if (pid_ > 0 || argv.empty()) return false;
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    close(inPipe[0]);
    close(inPipe[1]);
    return false;
  }
  std::vector<std::string> env = MergedEnvironment(extraEnv);
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  if (pid_ < 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    return false;
  }
  in_ = inPipe[1];
  out_ = outPipe[0];
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      *line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return true;
    }
    if (out_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      continue;
    }
    buffered_.append(buf, size_t(n));
  }
}

bool ChildProcess::WriteInput(const std::string& bytes) {
  if (in_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool ChildProcess::WriteLine(const std::string& line) { return WriteInput(line + "\n"); }

std::string ChildProcess::ReadAnswer(int timeoutMs) {
  std::string answer, line;
  while (ReadLine(&line, timeoutMs)) {
    answer += (answer.empty() ? "" : "\n") + line;
    if (line.rfind("ok", 0) == 0 || line.rfind("error", 0) == 0) break;
  }
  return answer;
}

std::string ChildProcess::Command(const std::string& line, int timeoutMs) {
  if (!WriteLine(line)) return "";
  return ReadAnswer(timeoutMs);
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ChildProcess::Signal(int signo) {
  if (pid_ > 0) kill(pid_, signo);
}

bool ChildProcess::Wait(int* exitCode, int timeoutMs) {
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (r < 0 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ChildProcess::Wait(int timeoutMs) {
  int exitCode = -1;
  return Wait(&exitCode, timeoutMs) ? exitCode : -1;
}

}  // namespace corvimus::testing
