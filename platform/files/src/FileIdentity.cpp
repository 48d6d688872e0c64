#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "FileErrors.h"

namespace corvimus {

namespace {

// Long enough for any home's share of a removal; a child that takes longer has been stopped.
constexpr int kChildTimeLimitMs = 60000;

struct ChildAnswer {
  OSErr status;
  SInt32 value;
};

OSErr RightsOfUser(const passwd& pw, UserRights* rights) {
  rights->uid = pw.pw_uid;
  rights->gid = pw.pw_gid;
  int count = 32;
  for (int tries = 0; tries < 8; ++tries) {
    rights->groups.assign(static_cast<std::size_t>(count), 0);
    int asked = count;
    if (getgrouplist(pw.pw_name, pw.pw_gid, rights->groups.data(), &count) >= 0) {
      rights->groups.resize(static_cast<std::size_t>(count));
      return noErr;
    }
    if (count <= asked) count = asked * 2;
  }
  return memFullErr;
}

// The user database's entry for uid or name, in buffers owned by the caller.
bool LookUpUser(uid_t uid, const char* name, passwd* pw, std::vector<char>* buffer) {
  buffer->assign(16384, 0);
  passwd* found = nullptr;
  int err = name ? getpwnam_r(name, pw, buffer->data(), buffer->size(), &found)
                 : getpwuid_r(uid, pw, buffer->data(), buffer->size(), &found);
  return err == 0 && found != nullptr;
}

bool SameFolder(const struct stat& a, const char* path) {
  struct stat b;
  return stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In the child: gives up root for the rights asked, for good, and checks that it cannot come back.
bool TakeOn(const UserRights& rights) {
  if (geteuid() != 0) return true;
  if (setgroups(rights.groups.size(), rights.groups.data()) != 0) return false;
  if (setresgid(rights.gid, rights.gid, rights.gid) != 0) return false;
  if (setresuid(rights.uid, rights.uid, rights.uid) != 0) return false;
  uid_t r, e, s;
  gid_t rg, eg, sg;
  if (getresuid(&r, &e, &s) != 0 || r != rights.uid || e != rights.uid || s != rights.uid)
    return false;
  if (getresgid(&rg, &eg, &sg) != 0 || rg != rights.gid || eg != rights.gid || sg != rights.gid)
    return false;
  return rights.uid == 0 || setuid(0) != 0;
}

long MillisecondsLeft(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1000000;
}

// Reads the child's answer until it arrives, the child closes its end, or time runs out.
bool ReadAnswer(int fd, ChildAnswer* answer) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += kChildTimeLimitMs / 1000;
  auto* bytes = reinterpret_cast<char*>(answer);
  std::size_t got = 0;
  while (got < sizeof *answer) {
    long left = MillisecondsLeft(deadline);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = read(fd, bytes + got, sizeof *answer - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

OSErr RightsForHomeFolder(int homeFd, const std::string& name, UserRights* rights) {
  if (!rights) return paramErr;
  struct stat st;
  if (fstat(homeFd, &st) != 0) return MacErrorFromErrno(errno);
  if (geteuid() != 0) {
    rights->uid = geteuid();
    rights->gid = getegid();
    int count = getgroups(0, nullptr);
    if (count < 0) return permErr;
    rights->groups.assign(static_cast<std::size_t>(count), 0);
    if (count > 0 && getgroups(count, rights->groups.data()) != count) return permErr;
    return noErr;
  }
  passwd pw;
  std::vector<char> buffer;
  if (st.st_uid != 0) {
    if (LookUpUser(st.st_uid, nullptr, &pw, &buffer)) return RightsOfUser(pw, rights);
    rights->uid = st.st_uid;
    rights->gid = st.st_gid;
    rights->groups.clear();
    return noErr;
  }
  // Made by root: the user whose home the database says this very folder is.
  if (!name.empty() && LookUpUser(0, name.c_str(), &pw, &buffer) && pw.pw_uid != 0 && pw.pw_dir &&
      SameFolder(st, pw.pw_dir))
    return RightsOfUser(pw, rights);
  return permErr;
}

OSErr RunWithRights(const UserRights& rights, const std::function<OSErr(SInt32* value)>& work,
                    SInt32* value) {
  if (value) *value = 0;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return MacErrorFromErrno(errno);
  pid_t child = fork();
  if (child < 0) {
    int err = errno;
    close(pipeFds[0]);
    close(pipeFds[1]);
    return MacErrorFromErrno(err);
  }
  if (child == 0) {
    close(pipeFds[0]);
    ChildAnswer answer{permErr, 0};
    if (TakeOn(rights)) answer.status = work(&answer.value);
    ssize_t written = write(pipeFds[1], &answer, sizeof answer);
    _exit(written == static_cast<ssize_t>(sizeof answer) ? 0 : 1);
  }
  close(pipeFds[1]);
  ChildAnswer answer{ioErr, 0};
  bool answered = ReadAnswer(pipeFds[0], &answer);
  close(pipeFds[0]);
  if (!answered) kill(child, SIGKILL);
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (!answered) return ioErr;
  if (value) *value = answer.value;
  return answer.status;
}

}  // namespace corvimus
