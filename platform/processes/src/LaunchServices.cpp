#include "platform/LaunchServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/FileCatalog.h"
#include "platform/PropertyLists.h"

namespace {

std::function<OSStatus(const LSOpenRequest&)>& TestOpener() {
  static std::function<OSStatus(const LSOpenRequest&)> opener;
  return opener;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The executable a bundle's Info.plist names, when it is one file inside Contents/MacOS.
std::string BundleExecutable(const std::string& bundle) {
  PropertyListContent content;
  PropertyList root;
  if (ReadPropertyListFile(bundle + "/Contents/Info.plist", &content, &root) != noErr ||
      content != kPropertyListParsed || plist_get_node_type(root.get()) != PLIST_DICT)
    return {};
  std::string name = PropertyListString(plist_dict_get_item(root.get(), "CFBundleExecutable"));
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
  std::string program = bundle + "/Contents/MacOS/" + name;
  return IsExecutableFile(program) ? program : std::string();
}

}  // namespace

LSItemKind LSClassifyItem(const std::string& path, std::string* outProgram) {
  outProgram->clear();
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return kLSItemMissing;
  if (S_ISDIR(st.st_mode)) {
    std::string program = BundleExecutable(path);
    if (program.empty()) return kLSItemDocument;
    *outProgram = program;
    return kLSItemBundle;
  }
  if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
    *outProgram = path;
    return kLSItemProgram;
  }
  return kLSItemDocument;
}

bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The exec result comes back through a pipe that exec closes; the middle process ends at once,
  // so the program is adopted by init and the caller never has to reap it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (middle == 0) {
    close(report[0]);
    setsid();
    pid_t child = fork();
    if (child != 0) _exit(child < 0 ? 1 : 0);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      if (null > STDERR_FILENO) close(null);
    }
    if (chdir("/") != 0) {
      // Staying in the caller's folder is harmless.
    }
    if (program.find('/') == std::string::npos)
      execvp(program.c_str(), argv.data());
    else
      execv(program.c_str(), argv.data());
    int err = errno;
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

bool OpenWithDesktop(const std::string& path) {
  if (StartDetachedProgram("xdg-open", {path})) return true;
  return StartDetachedProgram("gio", {"open", path});
}

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef) {
  if (!inRef) return paramErr;
  LSOpenRequest request;
  request.path = corvimus::PathOfRef(inRef);
  request.kind = LSClassifyItem(request.path, &request.program);
  if (request.kind == kLSItemMissing) return fnfErr;
  OSStatus status;
  if (TestOpener()) {
    status = TestOpener()(request);
  } else if (request.kind == kLSItemDocument) {
    status = OpenWithDesktop(request.path) ? OSStatus(noErr) : OSStatus(kLSLaunchFailedErr);
  } else {
    status =
        StartDetachedProgram(request.program, {}) ? OSStatus(noErr) : OSStatus(kLSLaunchFailedErr);
  }
  if (status == noErr && outLaunchedRef) *outLaunchedRef = *inRef;
  return status;
}

void SetLaunchServicesOpenerForTesting(std::function<OSStatus(const LSOpenRequest&)> opener) {
  TestOpener() = std::move(opener);
}
