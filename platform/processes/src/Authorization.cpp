#include "platform/Authorization.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>

extern char** environ;

struct AuthorizationOpaqueRef {
  bool adminRight = false;
};

namespace corvimus {

namespace {

Authorizer* gTestAuthorizer = nullptr;

Authorizer& CurrentAuthorizer() {
  static PolkitAuthorizer polkit;
  return gTestAuthorizer ? *gTestAuthorizer : polkit;
}

// The start time of this process in clock ticks since boot (field 22 of /proc/self/stat), which
// polkit needs to tell this process from a later one with the same pid.
std::string ProcessStartTime() {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name (field 2) may hold spaces and parentheses: count from the last ')'.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && (fields >> field); ++i) {
    if (i == 22) return field;
  }
  return {};
}

// Runs a helper program to its end with its output discarded; its exit code, or -1.
int RunToEnd(const std::vector<std::string>& argv) {
  pid_t child;
  if (StartChildProcess(argv, &child) != noErr) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

OSStatus StartChildProcess(const std::vector<std::string>& argv, pid_t* child) {
  if (argv.empty() || argv[0].empty() || argv[0][0] != '/' || !child)
    return errAuthorizationToolExecuteFailure;
  std::vector<char*> args;
  try {
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  // The child reports a failed exec through this pipe, which closes unwritten when exec succeeds.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errAuthorizationToolExecuteFailure;
  pid_t pid = fork();
  if (pid < 0) {
    close(report[0]);
    close(report[1]);
    return errAuthorizationToolExecuteFailure;
  }
  if (pid == 0) {
    close(report[0]);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      if (devnull > STDERR_FILENO) close(devnull);
    }
    execve(args[0], args.data(), environ);
    int err = errno;
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int childErr = 0;
  ssize_t n;
  do {
    n = read(report[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return errAuthorizationToolExecuteFailure;
  }
  *child = pid;
  return noErr;
}

PolkitAuthorizer::PolkitAuthorizer(std::string polkitBin, std::string actionId, Identity identity)
    : bin_(std::move(polkitBin)), action_(std::move(actionId)), identity_(identity) {}

bool PolkitAuthorizer::ActionRegistered() const {
  return RunToEnd({bin_ + "/pkaction", "--action-id", action_}) == 0;
}

bool PolkitAuthorizer::RunsAsRoot() const {
  if (identity_ != Identity::kDetect) return identity_ == Identity::kRoot;
  return geteuid() == 0;
}

OSStatus PolkitAuthorizer::CopyAdminRight(bool interactionAllowed) {
  if (RunsAsRoot()) return noErr;
  if (!ActionRegistered()) return noErr;  // pkexec asks when the tool starts
  std::string start = ProcessStartTime();
  if (start.empty()) return errAuthorizationInternal;
  std::string subject = std::to_string(getpid()) + "," + start + "," + std::to_string(getuid());
  std::vector<std::string> argv{bin_ + "/pkcheck", "--action-id", action_, "--process", subject};
  if (interactionAllowed) argv.push_back("--allow-user-interaction");
  switch (RunToEnd(argv)) {
    case 0:
      granted_ = true;
      return noErr;
    case 1:
      return errAuthorizationDenied;
    case 2:
      // No authentication agent, or interaction was not allowed.
      return errAuthorizationInteractionNotAllowed;
    case 3:
      return errAuthorizationCanceled;
    default:
      return errAuthorizationInternal;
  }
}

OSStatus PolkitAuthorizer::StartTool(const std::string& tool,
                                     const std::vector<std::string>& arguments, pid_t* child) {
  std::vector<std::string> argv;
  try {
    if (!RunsAsRoot()) argv.push_back(bin_ + "/pkexec");
    argv.push_back(tool);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return StartChildProcess(argv, child);
}

void PolkitAuthorizer::DestroyRights() {
  if (!granted_) return;
  granted_ = false;
  RunToEnd({bin_ + "/pkcheck", "--revoke-temp"});
}

OSStatus FakeAuthorizer::CopyAdminRight(bool interactionAllowed) {
  ++rightRequests_;
  lastInteractionAllowed_ = interactionAllowed;
  return answer_;
}

OSStatus FakeAuthorizer::StartTool(const std::string& tool,
                                   const std::vector<std::string>& arguments, pid_t* child) {
  ++toolStarts_;
  std::vector<std::string> argv{tool};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return StartChildProcess(argv, child);
}

void SetAuthorizerForTesting(Authorizer* authorizer) {
  gTestAuthorizer = authorizer;
}

}  // namespace corvimus

OSStatus AuthorizationCreate(const AuthorizationRights*, const AuthorizationEnvironment*,
                             AuthorizationFlags, AuthorizationRef* authorization) {
  if (!authorization) return errAuthorizationInvalidPointer;
  *authorization = new (std::nothrow) AuthorizationOpaqueRef;
  return *authorization ? errAuthorizationSuccess : errAuthorizationInternal;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment*, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights) {
  if (!authorization) return errAuthorizationInvalidRef;
  if (authorizedRights) return errAuthorizationInvalidPointer;
  if (!rights || (rights->count > 0 && !rights->items)) return errAuthorizationInvalidSet;
  for (UInt32 i = 0; i < rights->count; ++i) {
    const AuthorizationItem& item = rights->items[i];
    if (!item.name) return errAuthorizationInvalidSet;
    if (std::strcmp(item.name, kAuthorizationRightExecute) != 0) return errAuthorizationDenied;
    if (authorization->adminRight) continue;
    OSStatus err = corvimus::CurrentAuthorizer().CopyAdminRight(
        (flags & kAuthorizationFlagInteractionAllowed) != 0);
    if (err != noErr) return err;
    authorization->adminRight = true;
  }
  return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags, char* const* arguments,
                                            FILE** communicationsPipe, pid_t* outChild) {
  if (!authorization) return errAuthorizationInvalidRef;
  if (!pathToTool || communicationsPipe) return errAuthorizationInvalidPointer;
  if (!authorization->adminRight) return errAuthorizationDenied;
  std::vector<std::string> args;
  try {
    for (char* const* a = arguments; a && *a; ++a) args.emplace_back(*a);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  pid_t child = -1;
  OSStatus err = corvimus::CurrentAuthorizer().StartTool(pathToTool, args, &child);
  if (err == noErr && outChild) *outChild = child;
  return err;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
  if (!authorization) return errAuthorizationInvalidRef;
  // Without the flag, polkit's kept grant runs out by itself after a few minutes.
  if (authorization->adminRight && (flags & kAuthorizationFlagDestroyRights))
    corvimus::CurrentAuthorizer().DestroyRights();
  delete authorization;
  return errAuthorizationSuccess;
}
