#include "testing/ThrowawayUser.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "testing/TempDir.h"

namespace corvimus::testing {

std::string SystemProgram(const std::string& name) {
  for (const char* dir : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

ThrowawayUser::~ThrowawayUser() {
  if (!made_) return;
  EndProcesses();
  RunProgram({SystemProgram("userdel"), name_});
}

bool ThrowawayUser::Create(const std::string& home, std::string* whyNot) {
  if (getuid() != 0) {
    uid_ = getuid();
    gid_ = getgid();
    passwd* pw = getpwuid(uid_);
    name_ = pw ? pw->pw_name : std::to_string(uid_);
    return true;
  }
  // Named after this process, so that tests running beside each other do not collide.
  name_ = "corvimus-t" + std::to_string(getpid());
  auto made = RunProgram({SystemProgram("useradd"), "--no-create-home", "--user-group",
                          "--home-dir", home, "--shell", "/usr/sbin/nologin", name_});
  if (made.exitCode != 0) {
    if (whyNot) *whyNot = "useradd failed: " + made.err;
    return false;
  }
  made_ = true;
  passwd* pw = getpwnam(name_.c_str());
  if (!pw) {
    if (whyNot) *whyNot = "the new account cannot be looked up";
    return false;
  }
  uid_ = pw->pw_uid;
  gid_ = pw->pw_gid;
  return true;
}

std::vector<std::string> ThrowawayUser::Wrap(const std::vector<std::string>& argv) const {
  std::vector<std::string> out;
  if (made_)
    out = {SystemProgram("setpriv"), "--reuid=" + std::to_string(uid_),
           "--regid=" + std::to_string(gid_), "--clear-groups", "--"};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

void ThrowawayUser::Own(const std::string& root) const {
  if (!made_) return;
  namespace fs = std::filesystem;
  lchown(root.c_str(), uid_, gid_);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec))
    lchown(it->path().c_str(), uid_, gid_);
}

// Compositors leave helpers behind (XWayland, bus daemons, the Shell's services); they go first.
void ThrowawayUser::EndProcesses() const {
  if (!made_) return;
  for (int round = 0; round < 50; ++round) {
    bool any = false;
    if (DIR* dir = opendir("/proc")) {
      while (dirent* e = readdir(dir)) {
        char* end;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        struct stat st;
        if (stat(("/proc/" + std::string(e->d_name)).c_str(), &st) != 0 || st.st_uid != uid_)
          continue;
        kill(pid_t(pid), SIGKILL);
        any = true;
      }
      closedir(dir);
    }
    if (!any) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace corvimus::testing
