#include "platform/FileCatalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "FileErrors.h"
#include "platform/AppleDouble.h"

using namespace corvimus;

namespace {

std::string ParentOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

bool AcceptableName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// The visible items of a folder in byte order of their names.
OSErr SortedListing(const std::string& folder, std::vector<std::string>* names) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return errno == ENOENT ? OSErr(dirNFErr) : MacErrorFromErrno(errno);
  names->clear();
  while (dirent* e = readdir(dir)) {
    std::string n = e->d_name;
    if (n == "." || n == ".." || IsSidecarName(n)) continue;
    names->push_back(std::move(n));
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return noErr;
}

// Finder info and resource fork length of a file from its sidecar; zeros when it has none or the
// sidecar is damaged (a damaged sidecar must not hide the file itself).
void SidecarInfo(const std::string& path, FInfo* info, UInt64* rsrcLength) {
  *info = FInfo{};
  *rsrcLength = 0;
  AppleDouble sidecar;
  if (ReadSidecar(path, &sidecar) != noErr) return;
  if (const AppleDoubleEntry* fi = sidecar.Find(kAppleDoubleFinderInfo);
      fi && fi->data.size() >= 16) {
    LoadFinderInfo(fi->data.data(), &info->fdType, &info->fdCreator, &info->fdFlags);
    info->fdLocation.v = SInt16((fi->data[10] << 8) | fi->data[11]);
    info->fdLocation.h = SInt16((fi->data[12] << 8) | fi->data[13]);
    info->fdFldr = SInt16((fi->data[14] << 8) | fi->data[15]);
  }
  if (const AppleDoubleEntry* rf = sidecar.Find(kAppleDoubleResourceFork))
    *rsrcLength = rf->data.size();
}

SInt32 ParentIDOf(const std::string& path, bool* isVolumeRoot) {
  *isVolumeRoot = IsVolumeRoot(path);
  if (*isVolumeRoot) return fsRtParID;
  SInt32 id = 0;
  SInt16 v;
  if (PathToDirID(ParentOf(path), &v, &id) != noErr) return 0;
  return id;
}

UInt16 VisibleItemCount(const std::string& folder) {
  std::vector<std::string> names;
  if (SortedListing(folder, &names) != noErr) return 0;
  return UInt16(std::min<std::size_t>(names.size(), 0xFFFF));
}

SInt32 Clamp32(UInt64 v) {
  return v > 0x7FFFFFFF ? 0x7FFFFFFF : SInt32(v);
}

void WriteName(const std::string& name, StringPtr out) {
  if (!out) return;
  std::size_t n = std::min<std::size_t>(name.size(), 63);
  out[0] = UInt8(n);
  std::memcpy(out + 1, name.data(), n);
}

}  // namespace

namespace corvimus {

std::string PathOfRef(const FSRef* ref) {
  return ref ? std::string(ref->path, strnlen(ref->path, kFSRefPathMax)) : std::string();
}

bool IsVolumeRoot(const std::string& path) {
  if (path == "/") return true;
  struct stat self, parent;
  if (lstat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
  if (stat(ParentOf(path).c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev;
}

}  // namespace corvimus

OSErr PBGetCatInfoSync(CInfoPBRec* pb) {
  if (!pb) return paramErr;
  HFileInfo& f = pb->hFileInfo;
  auto finish = [&](OSErr err) {
    f.ioResult = err;
    return err;
  };
  std::string folder;
  if (OSErr e = DirIDToPath(f.ioVRefNum, f.ioDirID, &folder); e != noErr) return finish(e);

  std::string path;
  if (f.ioFDirIndex > 0) {
    std::vector<std::string> names;
    if (OSErr e = SortedListing(folder, &names); e != noErr) return finish(e);
    if (std::size_t(f.ioFDirIndex) > names.size()) return finish(fnfErr);
    path = JoinPath(folder, names[f.ioFDirIndex - 1]);
    WriteName(names[f.ioFDirIndex - 1], f.ioNamePtr);
  } else if (f.ioFDirIndex < 0 || !f.ioNamePtr || f.ioNamePtr[0] == 0) {
    path = folder;
  } else {
    std::string name(reinterpret_cast<const char*>(f.ioNamePtr) + 1, f.ioNamePtr[0]);
    if (!AcceptableName(name)) return finish(bdNamErr);
    std::string real;
    if (OSErr e = LookUpName(folder, name, &real); e != noErr) return finish(e);
    path = JoinPath(folder, real);
  }

  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return finish(MacErrorFromErrno(errno));
  bool root = false;
  if (S_ISDIR(st.st_mode)) {
    DirInfo& d = pb->dirInfo;
    d.ioFlAttrib = ioDirMask;
    d.ioDrUsrWds = DInfo{};
    SInt16 v;
    SInt32 id;
    if (OSErr e = PathToDirID(path, &v, &id); e != noErr) return finish(e);
    d.ioDrDirID = id;
    d.ioDrNmFls = VisibleItemCount(path);
    d.ioDrParID = ParentIDOf(path, &root);
  } else {
    f.ioFlAttrib = 0;
    UInt64 rsrc;
    SidecarInfo(path, &f.ioFlFndrInfo, &rsrc);
    f.ioDirID = SInt32(st.st_ino & 0x7FFFFFFF);
    f.ioFlLgLen = Clamp32(UInt64(st.st_size));
    f.ioFlRLgLen = Clamp32(rsrc);
    f.ioFlParID = ParentIDOf(path, &root);
  }
  return finish(noErr);
}

OSErr FSpDirCreate(const FSSpec* spec, ScriptCode, SInt32* createdDirID) {
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  if (spec->name[0] == 0) return bdNamErr;
  std::string real;
  if (LookUpName(ParentOf(path), LeafOf(path), &real) == noErr) return dupFNErr;
  if (mkdir(path.c_str(), 0755) != 0)
    return errno == EEXIST ? OSErr(dupFNErr) : MacErrorFromErrno(errno);
  SInt16 v;
  SInt32 id;
  if (OSErr e = PathToDirID(path, &v, &id); e != noErr) return e;
  if (createdDirID) *createdDirID = id;
  return noErr;
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef) {
  if (!ref) return paramErr;
  std::string path = PathOfRef(ref);
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0)
    return path.empty() ? OSErr(paramErr) : MacErrorFromErrno(errno);
  const bool folder = S_ISDIR(st.st_mode);
  if (info) {
    *info = FSCatalogInfo{};
    if (whichInfo & kFSCatInfoNodeFlags) {
      info->nodeFlags = folder ? kFSNodeIsDirectoryMask : 0;
      bool locked = false;
      if (OSErr e = GetItemLocked(path, &locked); e != noErr) return e;
      if (locked) info->nodeFlags |= kFSNodeLockedMask;
    }
    if (whichInfo & kFSCatInfoContentMod)
      info->contentModDate = UTCDateTimeFromTimespec(st.st_mtim);
    if (whichInfo & kFSCatInfoVolume) {
      if (OSErr e = PathToVRefNum(path, &info->volume); e != noErr) return e;
    }
    if (whichInfo & kFSCatInfoParentDirID) {
      bool root;
      info->parentDirID = ParentIDOf(path, &root);
    }
    if (whichInfo & kFSCatInfoNodeID) {
      if (folder) {
        SInt16 v;
        SInt32 id;
        if (PathToDirID(path, &v, &id) == noErr) info->nodeID = UInt32(id);
      } else {
        info->nodeID = UInt32(st.st_ino & 0xFFFFFFFF);
      }
    }
    if (!folder && (whichInfo & (kFSCatInfoFinderInfo | kFSCatInfoRsrcSizes))) {
      FInfo fi;
      UInt64 rsrc;
      SidecarInfo(path, &fi, &rsrc);
      FileInfo* out = FinderInfoOf(info);
      if (whichInfo & kFSCatInfoFinderInfo) {
        out->fileType = fi.fdType;
        out->fileCreator = fi.fdCreator;
        out->finderFlags = fi.fdFlags;
        out->location = fi.fdLocation;
      }
      if (whichInfo & kFSCatInfoRsrcSizes) info->rsrcLogicalSize = rsrc;
    }
    if ((whichInfo & kFSCatInfoDataSizes) && !folder) info->dataLogicalSize = UInt64(st.st_size);
  }
  if (outName) {
    std::string leaf = path == "/" ? "/" : LeafOf(path);
    if (FSGetHFSUniStrFromString(leaf.c_str(), outName) != noErr) outName->length = 0;
  }
  if (fsSpec) {
    if (OSErr e = FSGetFSSpecFromRef(ref, fsSpec); e != noErr) return e;
  }
  if (parentRef) {
    std::string parent = ParentOf(path);
    if (OSErr e = FSPathMakeRef(reinterpret_cast<const UInt8*>(parent.c_str()), parentRef, nullptr);
        e != noErr)
      return e;
  }
  return noErr;
}

OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* info) {
  constexpr FSCatalogInfoBitmap kSettable =
      kFSCatInfoFinderInfo | kFSCatInfoNodeFlags | kFSCatInfoContentMod;
  if (!ref || !info || (whichInfo & ~kSettable)) return paramErr;
  std::string path = PathOfRef(ref);
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0)
    return path.empty() ? OSErr(paramErr) : MacErrorFromErrno(errno);
  if ((whichInfo & kFSCatInfoFinderInfo) && S_ISDIR(st.st_mode)) return paramErr;
  // The lock goes last when it is set (so the other fields can still be written) and first when
  // it is cleared (so they can be written at all).
  const bool lock = (info->nodeFlags & kFSNodeLockedMask) != 0;
  if ((whichInfo & kFSCatInfoNodeFlags) && !lock) {
    if (OSErr e = SetItemLocked(path, false); e != noErr) return e;
  }
  if (whichInfo & kFSCatInfoContentMod) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = TimespecFromUTCDateTime(info->contentModDate);
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
      return MacErrorFromErrno(errno);
  }
  if (whichInfo & kFSCatInfoFinderInfo) {
    FSSpec spec;
    if (OSErr e = FSGetFSSpecFromRef(ref, &spec); e != noErr) return e;
    const FileInfo* in = reinterpret_cast<const FileInfo*>(info->finderInfo);
    FInfo fi{in->fileType, in->fileCreator, in->finderFlags, in->location, 0};
    if (OSErr e = FSpSetFInfo(&spec, &fi); e != noErr) return e;
  }
  if ((whichInfo & kFSCatInfoNodeFlags) && lock) return SetItemLocked(path, true);
  return noErr;
}

OSErr FSGetHFSUniStrFromString(const char* text, HFSUniStr255* name) {
  if (!text || !name) return paramErr;
  const std::string s = text;
  UInt16 n = 0;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c >> 5) == 0x6) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c >> 4) == 0xE) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c >> 3) == 0x1E) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return bdNamErr;
    }
    if (i + extra >= s.size() && extra > 0) return bdNamErr;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 0x2) return bdNamErr;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return bdNamErr;
    i += extra + 1;
    if (cp >= 0x10000) {
      if (n + 2 > 255) return bdNamErr;
      cp -= 0x10000;
      name->unicode[n++] = UniChar(0xD800 + (cp >> 10));
      name->unicode[n++] = UniChar(0xDC00 + (cp & 0x3FF));
    } else {
      if (n + 1 > 255) return bdNamErr;
      name->unicode[n++] = UniChar(cp);
    }
  }
  name->length = n;
  return noErr;
}

bool HFSUniStrToUTF8(const UniChar* units, UInt16 length, std::string* out) {
  out->clear();
  for (UInt16 i = 0; i < length; ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      out->push_back(char(cp));
    } else if (cp < 0x800) {
      out->push_back(char(0xC0 | (cp >> 6)));
      out->push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(char(0xE0 | (cp >> 12)));
      out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(char(0xF0 | (cp >> 18)));
      out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                         TextEncoding, FSRef* newRef) {
  if (!parentRef || !newRef || (nameLength && !name) || nameLength > 255) return paramErr;
  std::string leaf;
  if (!HFSUniStrToUTF8(name, nameLength, &leaf) || !AcceptableName(leaf)) return bdNamErr;
  std::string folder = PathOfRef(parentRef), real;
  if (OSErr e = LookUpName(folder, leaf, &real); e != noErr) return e;
  std::string path = JoinPath(folder, real);
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), newRef, nullptr);
}

OSErr FSCreateFileUnicode(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newSpec) {
  if (!parentRef || (nameLength && !name) || nameLength > 255) return paramErr;
  if ((whichInfo & kFSCatInfoFinderInfo) && !catalogInfo) return paramErr;
  std::string leaf;
  if (!HFSUniStrToUTF8(name, nameLength, &leaf) || !AcceptableName(leaf) || IsSidecarName(leaf))
    return bdNamErr;
  std::string folder = PathOfRef(parentRef), real;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dirNFErr;
  if (LookUpName(folder, leaf, &real) == noErr) return dupFNErr;
  std::string path = JoinPath(folder, leaf);
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? OSErr(dupFNErr) : MacErrorFromErrno(errno);
  close(fd);
  FSRef ref;
  OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
  if (err == noErr && (whichInfo & kFSCatInfoFinderInfo))
    err = FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, catalogInfo);
  if (err == noErr && newSpec) err = FSGetFSSpecFromRef(&ref, newSpec);
  if (err != noErr) {
    unlink(path.c_str());
    DeleteSidecar(path);
    return err;
  }
  if (newRef) *newRef = ref;
  return noErr;
}
