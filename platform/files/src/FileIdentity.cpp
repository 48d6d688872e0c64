#include "platform/FileIdentity.h"

#include <grp.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileErrors.h"

namespace corvimus {

OSErr FileIdentity::AssumeOwnerOf(const std::string& path) {
  Restore();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (geteuid() != 0 || st.st_uid == 0) return noErr;

  int count = getgroups(0, nullptr);
  if (count < 0) return permErr;
  savedGroups_.assign(static_cast<std::size_t>(count), 0);
  if (count > 0 && getgroups(count, savedGroups_.data()) != count) return permErr;
  savedUid_ = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)));
  savedGid_ = static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1)));
  if (setgroups(0, nullptr) != 0) return permErr;
  // setfsuid and setfsgid report the previous value whether or not they succeeded; asking again
  // tells.
  setfsgid(st.st_gid);
  setfsuid(st.st_uid);
  active_ = true;
  if (static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) != st.st_uid ||
      static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) != st.st_gid) {
    Restore();
    return permErr;
  }
  return noErr;
}

void FileIdentity::Restore() {
  if (!active_) return;
  setfsuid(savedUid_);
  setfsgid(savedGid_);
  setgroups(savedGroups_.size(), savedGroups_.data());
  active_ = false;
}

}  // namespace corvimus
