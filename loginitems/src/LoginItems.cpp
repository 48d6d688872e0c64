#include "loginitems/LoginItems.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/FileRefs.h"
#include "platform/Folders.h"
#include "platform/LoginWindow.h"
#include "platform/PropertyLists.h"

namespace {

// Decodes one UTF-8 character at s[*i]; a byte that does not start a valid sequence comes back as
// itself (offset into a private range so it never equals a real character).
char32_t NextCodePoint(const std::string& s, std::size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
  if (extra >= 0 && *i + extra < s.size()) {
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[*i + k]);
      if ((cc >> 6) != 0x2) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (ok) {
      *i += extra + 1;
      return cp;
    }
  }
  ++*i;
  return 0x110000 + c;
}

locale_t FoldingLocale() {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return loc;
}

char32_t Fold(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  locale_t loc = FoldingLocale();
  if (!loc || cp >= 0x110000) return cp;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc));
}

bool HasSuffix(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The item's name: the text after the last "/" that is not the final character.
std::string ItemName(const std::string& path) {
  if (path.size() < 2) return path;
  std::size_t slash = path.rfind('/', path.size() - 2);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The "Path" string of an array element, or false when the element is no dictionary or has no
// string "Path".
bool EntryPath(plist_t entry, std::string* out) {
  if (!entry || plist_get_node_type(entry) != PLIST_DICT) return false;
  plist_t path = plist_dict_get_item(entry, kLoginItemPathKey);
  if (!path || plist_get_node_type(path) != PLIST_STRING) return false;
  *out = PropertyListString(path);
  return true;
}

OSStatus CreateEmptyFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return noErr;
    return errno == ENOENT || errno == ENOTDIR ? dirNFErr
           : errno == EACCES || errno == EPERM ? permErr
           : errno == ENOSPC                   ? dskFulErr
                                               : ioErr;
  }
  close(fd);
  return noErr;
}

// The file's content, found or created empty. Result: noErr with *root set when the content is a
// property list, noErr with no root when it is empty or no property list, resNotFound when the file
// cannot be read or is over the reading limits, or the status of creating the missing file.
OSStatus OpenLoginWindowFile(const std::string& file, PropertyList* root) {
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) {
    if (errno != ENOENT) return resNotFound;
    OSStatus err = CreateEmptyFile(file);
    if (err != noErr) return err;
  }
  PropertyListContent content;
  if (ReadPropertyListFile(file, &content, root) != noErr) return resNotFound;
  if (content == kPropertyListOverLimits) return resNotFound;
  return noErr;
}

// Finds the item array in a parsed root; null when the root is not a dictionary or the value under
// the key is not an array. *missing is set when the key is absent.
plist_t ItemArray(plist_t root, bool* missing) {
  *missing = false;
  if (!root || plist_get_node_type(root) != PLIST_DICT) return nullptr;
  plist_t items = plist_dict_get_item(root, kLoginItemsKey);
  if (!items) {
    *missing = true;
    return nullptr;
  }
  return plist_get_node_type(items) == PLIST_ARRAY ? items : nullptr;
}

std::string FilePath(const std::string& prefsFolder) {
  std::string file = prefsFolder;
  if (file.empty() || file.back() != '/') file += '/';
  return file + kLoginWindowFileName;
}

}  // namespace

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (Fold(NextCodePoint(a, &i)) != Fold(NextCodePoint(b, &j))) return false;
  }
  return i == a.size() && j == b.size();
}

OSStatus AddLoginItemInFolderPath(const std::string& prefsFolder, const char* itemPath,
                                  const char* altSuffix, SInt16 hide, SInt16 replaceSimilar,
                                  SInt16* outAlreadyPresent) {
  if (outAlreadyPresent) *outAlreadyPresent = 0;
  // An empty path would make every entry similar (every path ends with ""), so it is refused like
  // a missing one; an empty alternative suffix is taken as none for the same reason.
  if (!itemPath || !*itemPath) return paramErr;
  const std::string path = itemPath;
  const std::string name = ItemName(path);
  const std::string alt = altSuffix ? altSuffix : "";

  const std::string file = FilePath(prefsFolder);
  PropertyList root;
  OSStatus err = OpenLoginWindowFile(file, &root);
  if (err != noErr) return err;
  // Content that is no property list is replaced; a property list of another shape is somebody
  // else's data and is left alone.
  if (!root) root.reset(plist_new_dict());
  bool missing = false;
  plist_t items = ItemArray(root.get(), &missing);
  if (!items && missing) {
    plist_dict_set_item(root.get(), kLoginItemsKey, plist_new_array());
    items = ItemArray(root.get(), &missing);
  }
  if (!items) return resNotFound;

  int matches[kMaxLoginItemMatches];
  int matchCount = 0;
  int exactIndex = -1;
  const uint32_t size = plist_array_get_size(items);
  for (uint32_t k = 0; k < size && matchCount < kMaxLoginItemMatches; ++k) {
    std::string entryPath;
    if (!EntryPath(plist_array_get_item(items, k), &entryPath)) continue;
    if (EqualIgnoringCase(entryPath, path)) {
      matches[matchCount++] = int(k);
      exactIndex = int(k);
    } else if (HasSuffix(entryPath, name) || (!alt.empty() && HasSuffix(entryPath, alt))) {
      matches[matchCount++] = int(k);
    }
  }
  if (outAlreadyPresent) *outAlreadyPresent = exactIndex >= 0 ? 1 : 0;
  if (matchCount == 1 && exactIndex == matches[0]) return noErr;

  plist_t entry = plist_new_dict();
  if (!entry) return memFullErr;
  plist_dict_set_item(entry, kLoginItemHideKey, plist_new_bool(hide != 0));
  plist_dict_set_item(entry, kLoginItemPathKey, plist_new_string(path.c_str()));
  // The array takes the entry.
  if (matchCount == 0 || (exactIndex < 0 && !replaceSimilar)) {
    plist_array_append_item(items, entry);
  } else {
    // The later matches go from the highest index down so the lower indexes stay valid.
    plist_array_set_item(items, entry, uint32_t(matches[0]));
    for (int m = matchCount - 1; m >= 1; --m) plist_array_remove_item(items, uint32_t(matches[m]));
  }
  return WritePropertyListFileXML(file, root.get());
}

namespace {

// Removes from the list under root the entries whose "Path" ends with wanted. *changed tells
// whether anything was removed (and the list must be written back).
OSStatus RemoveMatchingItems(plist_t root, const std::string& wanted, SInt16* outCount,
                             bool* changed) {
  *changed = false;
  bool missing = false;
  plist_t items = ItemArray(root, &missing);
  if (!items) return resNotFound;

  int matches[kMaxLoginItemMatches];
  int matchCount = 0;
  const uint32_t size = plist_array_get_size(items);
  for (uint32_t k = 0; k < size && matchCount < kMaxLoginItemMatches; ++k) {
    std::string entryPath;
    if (EntryPath(plist_array_get_item(items, k), &entryPath) && HasSuffix(entryPath, wanted))
      matches[matchCount++] = int(k);
  }
  if (outCount) *outCount = SInt16(matchCount);
  for (int m = matchCount - 1; m >= 0; --m) plist_array_remove_item(items, uint32_t(matches[m]));
  *changed = matchCount > 0;
  return noErr;
}

}  // namespace

OSStatus RemoveLoginItemsInFolderPath(const std::string& prefsFolder, const char* suffix,
                                      SInt16* outCount) {
  if (outCount) *outCount = 0;
  // An empty suffix would match every entry: refused like a missing one.
  if (!suffix || !*suffix) return paramErr;
  const std::string file = FilePath(prefsFolder);
  PropertyList root;
  OSStatus err = OpenLoginWindowFile(file, &root);
  if (err != noErr) return err;
  bool changed = false;
  err = RemoveMatchingItems(root.get(), suffix, outCount, &changed);
  if (err != noErr || !changed) return err;
  return WritePropertyListFileXML(file, root.get());
}

OSStatus RemoveLoginItemsInFolderAt(int prefsFolderFd, const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!suffix || !*suffix) return paramErr;
  PropertyListContent content;
  PropertyList root;
  OSErr read = ReadPropertyListFileAt(prefsFolderFd, kLoginWindowFileName, &content, &root);
  if (read == fnfErr) return fnfErr;
  if (read != noErr || content != kPropertyListParsed) return resNotFound;
  bool changed = false;
  OSStatus err = RemoveMatchingItems(root.get(), suffix, outCount, &changed);
  if (err != noErr || !changed) return err;
  return WritePropertyListFileXMLAt(prefsFolderFd, kLoginWindowFileName, root.get());
}

namespace {

OSStatus PathOfRef(const FSRef* ref, std::string* path) {
  UInt8 buf[kFSRefPathMax];
  OSErr err = FSRefMakePath(ref, buf, sizeof buf);
  if (err != noErr) return err;
  *path = reinterpret_cast<const char*>(buf);
  return noErr;
}

OSStatus CurrentPreferencesFolder(std::string* path) {
  FSRef folder;
  OSErr err = FSFindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &folder);
  if (err != noErr) return err;
  return PathOfRef(&folder, path);
}

}  // namespace

OSStatus AddLoginItem(const char* itemPath, const char* altSuffix, SInt16 hide,
                      SInt16 replaceSimilar, SInt16* outAlreadyPresent) {
  if (outAlreadyPresent) *outAlreadyPresent = 0;
  if (!itemPath || !*itemPath) return paramErr;
  std::string prefs;
  if (OSStatus err = CurrentPreferencesFolder(&prefs); err != noErr) return err;
  return AddLoginItemInFolderPath(prefs, itemPath, altSuffix, hide, replaceSimilar,
                                  outAlreadyPresent);
}

OSStatus RemoveLoginItem(const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!suffix) return paramErr;
  std::string prefs;
  if (OSStatus err = CurrentPreferencesFolder(&prefs); err != noErr) return err;
  return RemoveLoginItemsInFolderPath(prefs, suffix, outCount);
}

OSStatus RemoveLoginItemForUser(const FSRef* homeFolder, const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!homeFolder || !suffix) return paramErr;
  // The path is bounded as the login window's own tools bound it.
  UInt8 home[1000];
  if (OSErr err = FSRefMakePath(homeFolder, home, sizeof home); err != noErr) return err;
  std::string prefsPath = reinterpret_cast<const char*>(home);
  prefsPath += kUserPreferencesSubfolder;
  FSRef prefs;
  if (OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(prefsPath.c_str()), &prefs, nullptr);
      err != noErr)
    return err;
  return RemoveLoginItemsInFolder(&prefs, suffix, outCount);
}

OSStatus RemoveLoginItemsInFolder(const FSRef* prefsFolder, const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!prefsFolder || !suffix) return paramErr;
  std::string prefs;
  if (OSStatus err = PathOfRef(prefsFolder, &prefs); err != noErr) return err;
  return RemoveLoginItemsInFolderPath(prefs, suffix, outCount);
}
