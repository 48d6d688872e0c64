#include "testing/MacFiles.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace corvimus::testing {

FSRef RefOf(const std::string& path) {
  FSRef ref{};
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr)
      << path;
  return ref;
}

HFSUniStr255 Uni(const char* text) {
  HFSUniStr255 name{};
  EXPECT_EQ(FSGetHFSUniStrFromString(text, &name), noErr) << text;
  return name;
}

FinderFields FinderOf(const std::string& path) {
  FSRef ref = RefOf(path);
  FSCatalogInfo info{};
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr), noErr)
      << path;
  const FileInfo* finder = FinderInfoOf(&info);
  return {finder->fileType, finder->fileCreator, finder->finderFlags};
}

void SetFinder(const std::string& path, OSType type, OSType creator) {
  FSRef ref = RefOf(path);
  FSCatalogInfo info{};
  FinderInfoOf(&info)->fileType = type;
  FinderInfoOf(&info)->fileCreator = creator;
  ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info), noErr) << path;
}

std::vector<std::string> FolderNames(const std::string& folder, Sidecars sidecars) {
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  while (dirent* e = d ? readdir(d) : nullptr) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (sidecars == Sidecars::kHidden && n.rfind("._", 0) == 0) continue;
    names.push_back(n);
  }
  if (d) closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvimus::testing
