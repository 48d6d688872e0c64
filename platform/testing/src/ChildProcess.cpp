#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace corvimus::testing {

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait(5000);
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv) {
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC)) return false;
  if (pipe2(outPipe, O_CLOEXEC)) {
    close(inPipe[0]);
    close(inPipe[1]);
    return false;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& extra : extraEnv) {
    auto name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    env.push_back(extra);
  }
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  pid_ = pid;
  in_ = inPipe[1];
  out_ = outPipe[0];
  return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (in_ < 0) return false;
  std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      *line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return true;
    }
    long long left = deadline - NowMs();
    if (out_ < 0 || left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      return false;
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

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

void ChildProcess::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int ChildProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (r < 0 || NowMs() >= deadline) return -1;
    usleep(5000);
  }
}

}  // namespace corvimus::testing
