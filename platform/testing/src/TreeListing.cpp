#include "testing/TreeListing.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

namespace corvimus::testing {
namespace {

constexpr long long kWholeContentLimit = 1 << 20;

std::string ContentOf(const std::string& path, long long size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<unreadable>";
  std::ostringstream ss;
  ss << in.rdbuf();
  std::string bytes = ss.str();
  if (size <= kWholeContentLimit) return bytes;
  return "<digest " + std::to_string(std::hash<std::string>{}(bytes)) + ">";
}

void Walk(const std::string& root, const std::string& rel, TreeListing* out) {
  const std::string path = rel.empty() ? root : root + "/" + rel;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  TreeEntry e;
  e.mode = st.st_mode & 07777;
  e.uid = st.st_uid;
  e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<long long>(st.st_size);
  e.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  if (S_ISDIR(st.st_mode)) {
    e.kind = 'd';
  } else if (S_ISREG(st.st_mode)) {
    e.kind = 'f';
    e.content = ContentOf(path, e.size);
  } else if (S_ISLNK(st.st_mode)) {
    e.kind = 'l';
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    e.content = n >= 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  } else {
    e.kind = 'o';
  }
  (*out)[rel] = e;
  if (e.kind != 'd') return;
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* d = readdir(dir)) {
    std::string n = d->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(dir);
  for (const auto& n : names) Walk(root, rel.empty() ? n : rel + "/" + n, out);
}

std::string Describe(const TreeEntry& e) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%c mode %04o uid %u size %lld mtime %lld", e.kind, e.mode, e.uid,
                e.size, e.mtimeNs);
  return buf;
}

}  // namespace

TreeListing ListTree(const std::string& root) {
  TreeListing out;
  Walk(root, "", &out);
  return out;
}

std::vector<std::string> CompareTrees(const TreeListing& before, const TreeListing& after,
                                      bool (*ignore)(const std::string&, const TreeEntry*,
                                                     const TreeEntry*, void*),
                                      void* context) {
  std::vector<std::string> differences;
  for (const auto& [path, entry] : before) {
    auto it = after.find(path);
    const TreeEntry* now = it == after.end() ? nullptr : &it->second;
    if (now && *now == entry) continue;
    if (ignore && ignore(path, &entry, now, context)) continue;
    if (!now) {
      differences.push_back("removed: " + path);
    } else {
      std::string line = "changed: " + path + " (" + Describe(entry) + " -> " + Describe(*now);
      if (now->content != entry.content) line += ", content differs";
      differences.push_back(line + ")");
    }
  }
  for (const auto& [path, entry] : after) {
    if (before.count(path)) continue;
    if (ignore && ignore(path, nullptr, &entry, context)) continue;
    differences.push_back("added: " + path);
  }
  return differences;
}

}  // namespace corvimus::testing
