// Helpers shared by the removal tool's tests: real files, real attributes, real owners.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/FileRefs.h"
#include "testing/TempDir.h"

namespace removal_test {

// What the tool looks for in a home: the agent's login item, by the end of its path, and the pane
// a user installed below ~/.local, as an HFS path from the home.
constexpr char kSuffix[] = "CorvimusHelper.app";
constexpr char kHomePane[] = ":.local:lib:corvimus:Library:PreferencePanes:Corvimus.prefPane";

// Sets or clears inode attribute bits (FS_IMMUTABLE_FL, FS_APPEND_FL) on a file or folder,
// directly, without the code under test. False when the file system or the caller's rights refuse.
inline bool SetAttribute(const std::string& path, int bit, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | bit) : (flags & ~bit);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

inline bool HasAttribute(const std::string& path, int bit) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool on = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & bit);
  close(fd);
  return on;
}

// Whether this process may set the immutable attribute in folder (root with CAP_LINUX_IMMUTABLE
// on a file system that keeps it).
inline bool CanLockInFolder(const std::string& folder) {
  std::string probe = folder + "/.lock-probe";
  corvimus::testing::WriteFile(probe, "");
  bool ok = SetAttribute(probe, FS_IMMUTABLE_FL, true);
  SetAttribute(probe, FS_IMMUTABLE_FL, false);
  unlink(probe.c_str());
  return ok;
}

// Makes the file at path impossible to delete for this process: append-only for root (which
// ignores permissions), else a folder without write permission around it. False when neither
// works here.
inline bool MakeUndeletable(const std::string& path) {
  if (geteuid() == 0) return SetAttribute(path, FS_APPEND_FL, true);
  std::string folder = path.substr(0, path.rfind('/'));
  return chmod(folder.c_str(), 0555) == 0;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline void MakeFolder(const std::string& path) {
  std::string partial;
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      partial = path.substr(0, i);
      mkdir(partial.c_str(), 0755);
    }
  }
}

inline FSRef RefOf(const std::string& path) {
  FSRef ref{};
  FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
  return ref;
}

// A Pascal string from text.
struct Pascal {
  explicit Pascal(const std::string& text) {
    bytes[0] = static_cast<unsigned char>(text.size());
    text.copy(reinterpret_cast<char*>(bytes + 1), text.size());
  }
  unsigned char bytes[256] = {};
};

// The "Path" values of a login items list in order.
std::vector<std::string> LoginItemPaths(const std::string& plistFile);
// Writes a login items list with the given paths.
void WriteLoginItems(const std::string& plistFile, const std::vector<std::string>& paths);

}  // namespace removal_test
