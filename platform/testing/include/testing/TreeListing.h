// A listing of everything below a folder, to tell what a program changed: every item's kind,
// permissions, owner, size, modification time and content (files) or target (symbolic links).
// Links are listed, never followed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace corvimus::testing {

struct TreeEntry {
  char kind = '?';  // 'd' folder, 'f' file, 'l' symbolic link, 'o' anything else
  unsigned mode = 0;
  unsigned uid = 0;
  long long size = 0;
  long long mtimeNs = 0;
  std::string content;  // a file's bytes (up to 1 MB, then a digest of the whole), a link's target

  bool operator==(const TreeEntry&) const = default;
};

// Paths relative to root ("" is root itself) -> entry.
using TreeListing = std::map<std::string, TreeEntry>;

TreeListing ListTree(const std::string& root);

// One line per item added, removed or changed between the two listings; empty when they agree.
// Items for which `ignore` answers true are left out of the comparison.
std::vector<std::string> CompareTrees(const TreeListing& before, const TreeListing& after,
                                      bool (*ignore)(const std::string& path,
                                                     const TreeEntry* before,
                                                     const TreeEntry* after,
                                                     void* context) = nullptr,
                                      void* context = nullptr);

}  // namespace corvimus::testing
