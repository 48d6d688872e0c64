#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/RuntimeFolder.h"
#include "testing/TempDir.h"

using namespace corvimus;
using corvimus::testing::TempDir;

namespace {

// Points XDG_RUNTIME_DIR somewhere for one test and puts the old value back.
class RuntimeEnv {
 public:
  explicit RuntimeEnv(const char* value) {
    const char* old = getenv("XDG_RUNTIME_DIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv("XDG_RUNTIME_DIR", value, 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  ~RuntimeEnv() {
    if (had_)
      setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  bool had_ = false;
  std::string old_;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

}  // namespace

TEST(RuntimeFolder, IsMadePrivateInsideTheSessionsRuntimeFolder) {
  TempDir dir;
  RuntimeEnv env(dir.path().c_str());
  std::string path;
  ASSERT_EQ(GetCorvimusRuntimeFolder(&path), noErr);
  EXPECT_EQ(path, dir / "corvimus");
  EXPECT_EQ(ModeOf(path), 0700u);
  // A folder of ours that others could enter is closed again.
  chmod(path.c_str(), 0777);
  ASSERT_EQ(GetCorvimusRuntimeFolder(&path), noErr);
  EXPECT_EQ(ModeOf(path), 0700u);
}

TEST(RuntimeFolder, RefusesALinkOrAFileInItsPlace) {
  TempDir dir, elsewhere;
  RuntimeEnv env(dir.path().c_str());
  ASSERT_EQ(symlink(elsewhere.path().c_str(), (dir / "corvimus").c_str()), 0);
  std::string path = "unchanged";
  EXPECT_EQ(GetCorvimusRuntimeFolder(&path), permErr);
  EXPECT_EQ(path, "unchanged");
  unlink((dir / "corvimus").c_str());
  corvimus::testing::WriteFile(dir / "corvimus", "x");
  EXPECT_EQ(GetCorvimusRuntimeFolder(&path), permErr);
}

TEST(RuntimeFolder, FallsBackToAPerUserFolderInTmp) {
  RuntimeEnv env(nullptr);
  std::string path;
  OSErr err = GetCorvimusRuntimeFolder(&path);
  std::string expected = "/tmp/corvimus-" + std::to_string(getuid());
  if (err == permErr) GTEST_SKIP() << expected << " exists and is not ours on this machine";
  ASSERT_EQ(err, noErr);
  EXPECT_EQ(path, expected);
  EXPECT_EQ(ModeOf(path), 0700u);
  // A relative runtime folder is no runtime folder.
  RuntimeEnv relative("relative/place");
  ASSERT_EQ(GetCorvimusRuntimeFolder(&path), noErr);
  EXPECT_EQ(path, expected);
}
