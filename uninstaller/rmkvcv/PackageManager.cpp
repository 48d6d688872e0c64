#include "PackageManager.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// dpkg's maintainer scripts call the usual system programs; pkexec's environment is not relied on.
constexpr char kPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// More than one search answer ever holds; anything longer is not an answer for one path.
constexpr std::size_t kMaxOutput = 64 * 1024;

// Runs argv (argv[0] absolute) with env and stdin from /dev/null, and waits for it. Its standard
// output is collected into *output when asked for, else dropped; so is its standard error unless
// keepErrors (then it is the tool's).
// Returns the exit status, or -1 when it could not run or ended by a signal.
int RunAndWait(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* output, bool keepErrors) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (output && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output)
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (!keepErrors)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int err = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (output) close(pipeFds[1]);
  if (err != 0) {
    if (output) close(pipeFds[0]);
    return -1;
  }
  if (output) {
    char buffer[4096];
    for (;;) {
      ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      // Read to the end either way, so the child never blocks on a full pipe.
      if (output->size() < kMaxOutput) output->append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
  }
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool IsPackageName(const std::string& name) {
  const std::size_t colon = name.find(':');
  const std::string base = name.substr(0, colon);
  if (base.size() < 2) return false;
  for (std::size_t i = 0; i < base.size(); ++i) {
    const char c = base[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum && (i == 0 || (c != '+' && c != '-' && c != '.'))) return false;
  }
  if (colon == std::string::npos) return true;
  const std::string arch = name.substr(colon + 1);
  if (arch.empty()) return false;
  for (char c : arch) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return true;
}

std::string PackageFromSearchOutput(const std::string& output, const std::string& path) {
  const std::string tail = ": " + path;
  std::string found;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    if (line.size() <= tail.size() ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    const std::string owners = line.substr(0, line.size() - tail.size());
    // "diversion by X from: path" and the like say who diverted a file, not who owns it.
    if (owners.find(' ') != std::string::npos && owners.find(',') == std::string::npos) continue;
    if (owners.find(',') != std::string::npos || !IsPackageName(owners) || !found.empty())
      return "";
    found = owners;
  }
  return found;
}

std::string PackageOwningPath(const std::string& path) {
  if (path.empty() || path[0] != '/' || path.find_first_of("*?[]\\\n") != std::string::npos)
    return "";
  if (access(kDpkgQueryProgram, X_OK) != 0) return "";
  std::string output;
  if (RunAndWait({kDpkgQueryProgram, "--search", path}, {kPath, "LC_ALL=C"}, &output, false) != 0)
    return "";
  return PackageFromSearchOutput(output, path);
}

OSErr PurgePackage(const std::string& package) {
  if (!IsPackageName(package)) return paramErr;
  if (access(kDpkgProgram, X_OK) != 0) return fnfErr;
  const int status =
      RunAndWait({kDpkgProgram, "--purge", package},
                 {kPath, "DEBIAN_FRONTEND=noninteractive", "LC_ALL=C"}, nullptr, true);
  if (status < 0) return fnfErr;
  return status == 0 ? OSErr(noErr) : OSErr(ioErr);
}
