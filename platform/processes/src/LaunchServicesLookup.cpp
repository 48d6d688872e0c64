#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Folders.h"
#include "platform/LaunchServices.h"

namespace corvimus {

namespace {

namespace fs = std::filesystem;

// Info.plist files are small; anything larger is not one we made and is not read whole.
constexpr std::uintmax_t kMaxInfoPlistSize = 1 << 20;

bool IsBundleFolderName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0;
}

std::vector<std::string> SortedEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    if (it->is_directory(ec)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool ReadBundleSignature(const std::string& bundlePath, OSType* signature) {
  std::string infoPath = bundlePath + "/Contents/Info.plist";
  std::error_code ec;
  auto size = fs::file_size(infoPath, ec);
  if (ec || size == 0 || size > kMaxInfoPlistSize) return false;
  std::ifstream in(infoPath, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return false;

  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) return false;
  bool found = false;
  if (plist_get_node_type(root) == PLIST_DICT) {
    plist_t node = plist_dict_get_item(root, "CFBundleSignature");
    if (node && plist_get_node_type(node) == PLIST_STRING) {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (text && length == 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(text);
        if (signature)
          *signature = (OSType(b[0]) << 24) | (OSType(b[1]) << 16) | (OSType(b[2]) << 8) | b[3];
        found = true;
      }
    }
  }
  plist_free(root);
  return found;
}

OSStatus FindApplicationForCreator(OSType creator, const std::vector<std::string>& folders,
                                   std::string* bundlePath) {
  for (const auto& folder : folders) {
    for (const auto& name : SortedEntries(folder)) {
      std::string path = folder + "/" + name;
      OSType signature = 0;
      if (IsBundleFolderName(name)) {
        if (ReadBundleSignature(path, &signature) && signature == creator) {
          if (bundlePath) *bundlePath = path;
          return noErr;
        }
        continue;
      }
      for (const auto& inner : SortedEntries(path)) {
        if (!IsBundleFolderName(inner)) continue;
        std::string innerPath = path + "/" + inner;
        if (ReadBundleSignature(innerPath, &signature) && signature == creator) {
          if (bundlePath) *bundlePath = innerPath;
          return noErr;
        }
      }
    }
  }
  return kLSApplicationNotFoundErr;
}

std::vector<std::string> DefaultApplicationFolders() {
  std::vector<std::string> folders;
  if (const char* home = std::getenv("HOME"); home && *home)
    folders.push_back(std::string(home) + "/Applications");
  std::string local;
  if (FolderPath(kLocalDomain, kApplicationsFolderType, &local) == noErr) folders.push_back(local);
  return folders;
}

}  // namespace corvimus

OSStatus LSGetApplicationForInfo(OSType inType, OSType inCreator, const char*, LSRolesMask,
                                 FSRef* outAppRef, void*) {
  if (!outAppRef || (inType == kLSUnknownType && inCreator == kLSUnknownCreator)) return paramErr;
  if (inCreator == kLSUnknownCreator) return kLSApplicationNotFoundErr;
  std::string path;
  OSStatus result =
      corvimus::FindApplicationForCreator(inCreator, corvimus::DefaultApplicationFolders(), &path);
  if (result != noErr) return result;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), outAppRef, nullptr);
}
