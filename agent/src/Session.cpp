#include "agent/Session.h"

#include <dlfcn.h>

#include <string>

#include "platform/Folders.h"

namespace {

using CopyDictionaryProcPtr = plist_t (*)();

bool gSessionLookupDone = false;
CopyDictionaryProcPtr gCopySessionDictionary = nullptr;

std::string BundleExecutablePath(std::string bundlePath) {
  while (bundlePath.size() > 1 && bundlePath.back() == '/') bundlePath.pop_back();
  std::string name = bundlePath.substr(bundlePath.find_last_of('/') + 1);
  const std::string extension = ".framework";
  if (name.size() > extension.size() &&
      name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
    name.resize(name.size() - extension.size());
  return bundlePath + "/" + name;
}

}  // namespace

OSStatus LoadFrameworkBundle(const char* relativePath, FrameworkBundleRef* bundle) {
  if (!bundle) return paramErr;
  *bundle = nullptr;
  if (!relativePath || !*relativePath) return coreFoundationUnknownErr;
  FSRef frameworks;
  if (OSErr err =
          FSFindFolder(kOnAppropriateDisk, kFrameworksFolderType, kCreateFolder, &frameworks);
      err != noErr)
    return err;
  const std::string executable =
      BundleExecutablePath(std::string(frameworks.path) + "/" + relativePath);
  void* handle = dlopen(executable.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return coreFoundationUnknownErr;
  *bundle = handle;
  return noErr;
}

plist_t CopySessionDictionary() {
  if (!gSessionLookupDone) {
    // Decided once: a bundle that is missing now is not looked for again.
    gSessionLookupDone = true;
    FrameworkBundleRef bundle = nullptr;
    if (LoadFrameworkBundle(kCoreGraphicsBundlePath, &bundle) == noErr) {
      gCopySessionDictionary =
          reinterpret_cast<CopyDictionaryProcPtr>(dlsym(bundle, "CGSessionCopyCurrentDictionary"));
    }
  }
  return gCopySessionDictionary ? gCopySessionDictionary() : nullptr;
}

Boolean IsSessionOnConsole() {
  plist_t dict = CopySessionDictionary();
  if (!dict) return true;
  Boolean onConsole = true;
  if (plist_get_node_type(dict) == PLIST_DICT) {
    plist_t value = plist_dict_get_item(dict, kCGSSessionOnConsoleKey);
    // Only a Boolean answers the question; anything else is no answer.
    if (value && plist_get_node_type(value) == PLIST_BOOLEAN) {
      uint8_t b = 1;
      plist_get_bool_val(value, &b);
      onConsole = b != 0;
    }
  }
  plist_free(dict);
  return onConsole;
}
