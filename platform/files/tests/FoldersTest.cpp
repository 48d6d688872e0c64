#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/FileRefs.h"
#include "platform/Folders.h"
#include "testing/TempDir.h"

using corvimus::testing::TempDir;

namespace {

// Points every root of the folder mapping into a temporary tree for the length of a test.
class FolderTree : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("XDG_CONFIG_HOME");
    Save("HOME");
    Save("CORVIMUS_PREFIX");
    Save("CORVIMUS_USERS_DIR");
    setenv("HOME", (tmp / "home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("CORVIMUS_PREFIX", (tmp / "prefix").c_str(), 1);
    setenv("CORVIMUS_USERS_DIR", (tmp / "Users").c_str(), 1);
    mkdir((tmp / "home").c_str(), 0755);
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value.first)
        setenv(name.c_str(), value.second.c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void Save(const char* name) {
    const char* v = getenv(name);
    saved_.push_back({name, {v != nullptr, v ? v : ""}});
  }
  static std::string PathOf(SInt16 v, SInt32 id) {
    std::string p;
    EXPECT_EQ(corvimus::DirIDToPath(v, id, &p), noErr);
    return p;
  }
  static bool IsFolder(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  TempDir tmp;

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

TEST_F(FolderTree, PreferencesFollowXdgConfigHomeElseHomeConfig) {
  SInt16 v;
  SInt32 id;
  EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &id), fnfErr);
  EXPECT_FALSE(IsFolder(tmp / "home/.config"));
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &v, &id), noErr);
  EXPECT_EQ(PathOf(v, id), tmp / "home/.config");
  struct stat st;
  ASSERT_EQ(stat((tmp / "home/.config").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  setenv("XDG_CONFIG_HOME", (tmp / "xdg").c_str(), 1);
  EXPECT_EQ(FindFolder(kUserDomain, kPreferencesFolderType, kDontCreateFolder, &v, &id), fnfErr);
  ASSERT_EQ(FindFolder(kUserDomain, kPreferencesFolderType, kCreateFolder, &v, &id), noErr);
  EXPECT_EQ(PathOf(v, id), tmp / "xdg");

  // A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
  setenv("XDG_CONFIG_HOME", "relative/config", 1);
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &id), noErr);
  EXPECT_EQ(PathOf(v, id), tmp / "home/.config");
  // No Preferences folder in the system domain.
  EXPECT_EQ(FindFolder(kSystemDomain, kPreferencesFolderType, kCreateFolder, &v, &id), fnfErr);
}

TEST_F(FolderTree, PrefixFoldersFollowTheTable) {
  struct Case {
    SInt16 domain;
    OSType type;
    const char* rest;
  } cases[] = {
      {kSystemDomain, kKernelExtensionsFolderType, "prefix/lib/corvimus/Extensions"},
      {kOnSystemDisk, kKernelExtensionsFolderType, "prefix/lib/corvimus/Extensions"},
      {kLocalDomain, kDomainLibraryFolderType, "prefix/lib/corvimus/Library"},
      {kSystemDomain, kDomainLibraryFolderType, "prefix/lib/corvimus/System/Library"},
      {kLocalDomain, kApplicationsFolderType, "prefix/lib/corvimus/Applications"},
      {kOnAppropriateDisk, kFrameworksFolderType, "prefix/lib/corvimus/Frameworks"},
      {kLocalDomain, kUsersFolderType, "Users"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rest);
    SInt16 v;
    SInt32 id;
    if (!IsFolder(tmp / c.rest)) {
      EXPECT_EQ(FindFolder(c.domain, c.type, kDontCreateFolder, &v, &id), fnfErr);
    }
    ASSERT_EQ(FindFolder(c.domain, c.type, kCreateFolder, &v, &id), noErr);
    EXPECT_EQ(PathOf(v, id), tmp / c.rest);
    // Found again without creating, with the same directory ID.
    SInt16 v2;
    SInt32 id2;
    ASSERT_EQ(FindFolder(c.domain, c.type, kDontCreateFolder, &v2, &id2), noErr);
    EXPECT_EQ(id2, id);
    EXPECT_EQ(v2, v);
  }
  SInt16 v;
  SInt32 id;
  EXPECT_EQ(FindFolder(kUserDomain, kDomainLibraryFolderType, kCreateFolder, &v, &id), fnfErr);
  EXPECT_EQ(FindFolder(kOnSystemDisk, FourCC("zzzz"), kCreateFolder, &v, &id), fnfErr);
}

TEST_F(FolderTree, FileInPlaceOfFolderIsReportedNotReplaced) {
  corvimus::testing::WriteFile(tmp / "Users", "not a folder");
  SInt16 v;
  SInt32 id;
  EXPECT_EQ(FindFolder(kLocalDomain, kUsersFolderType, kCreateFolder, &v, &id), dirNFErr);
  std::string bytes;
  ASSERT_TRUE(corvimus::testing::ReadFile(tmp / "Users", &bytes));
  EXPECT_EQ(bytes, "not a folder");
}

TEST_F(FolderTree, FSFindFolderGivesAReferenceToTheFolder) {
  FSRef ref;
  EXPECT_EQ(FSFindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &ref), fnfErr);
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &ref), noErr);
  EXPECT_EQ(std::string(ref.path), tmp / "home/.config");
  EXPECT_EQ(FSFindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, nullptr), paramErr);
}

TEST_F(FolderTree, CleanupFolderLiesInTheInstallationOnItsOwnVolume) {
  SInt16 appsV;
  SInt32 appsId;
  ASSERT_EQ(FindFolder(kLocalDomain, kApplicationsFolderType, kCreateFolder, &appsV, &appsId),
            noErr);
  SInt16 v;
  SInt32 id;
  ASSERT_EQ(FindFolder(appsV, kChewableItemsFolderType, kCreateFolder, &v, &id), noErr);
  EXPECT_EQ(PathOf(v, id), tmp / "prefix/lib/corvimus/Cleanup");
  EXPECT_EQ(v, appsV);
}

TEST_F(FolderTree, PrefixComesFromTheProgramsLocationWithoutTheVariable) {
  unsetenv("CORVIMUS_PREFIX");
  // This test program lies in <build>/platform/, so its prefix is <build>.
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  std::string folder = std::string(exe).substr(0, std::string(exe).find_last_of('/'));
  EXPECT_EQ(corvimus::InstallationPrefix(), folder.substr(0, folder.find_last_of('/')));
}

}  // namespace
