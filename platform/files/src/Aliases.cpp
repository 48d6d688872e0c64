#include "platform/Aliases.h"

#include <sys/stat.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FileErrors.h"
#include "platform/AppleDouble.h"
#include "platform/FileCatalog.h"
#include "platform/MacMemory.h"
#include "platform/Resources.h"

using namespace corvimus;

namespace {

enum : UInt16 { kKindFile = 0, kKindFolder = 1, kKindLink = 2, kKindOther = 3 };
constexpr std::size_t kMaxAliasPath = 4095;

void Put(std::vector<UInt8>* b, UInt64 v, int n) {
  for (int i = n - 1; i >= 0; --i) b->push_back(UInt8((v >> (8 * i)) & 0xFF));
}

UInt64 Get(const UInt8* p, int n) {
  UInt64 v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

struct AliasRecord {
  UInt16 kind;
  UInt64 volume;
  UInt64 file;
  std::string path;
};

OSErr ParseAlias(AliasHandle alias, AliasRecord* out) {
  if (!alias || !*alias) return paramErr;
  const Size size = GetHandleSize(alias);
  if (size < kAliasRecordHeaderSize) return paramErr;
  const UInt8* p = reinterpret_cast<const UInt8*>(*alias);
  if (Get(p, 4) != kAliasRecordSignature || Get(p + 4, 2) != kAliasRecordVersion) return paramErr;
  const std::size_t total = Get(p + 6, 2), pathLength = Get(p + 10, 2);
  if (total != std::size_t(size) || pathLength == 0 || pathLength > kMaxAliasPath ||
      kAliasRecordHeaderSize + pathLength != total)
    return paramErr;
  out->kind = UInt16(Get(p + 8, 2));
  out->volume = Get(p + 12, 8);
  out->file = Get(p + 20, 8);
  out->path.assign(reinterpret_cast<const char*>(p + kAliasRecordHeaderSize), pathLength);
  if (out->path[0] != '/' || out->path.find('\0') != std::string::npos) return paramErr;
  return noErr;
}

// The alias record in the alias file at ref, when it is one. *isAlias false: an ordinary item.
OSErr ReadAliasFile(const FSRef* ref, bool* isAlias, AliasHandle* record) {
  *isAlias = false;
  *record = nullptr;
  // A sidecar that cannot be read may hide the alias flag: such a file is unresolvable rather than
  // taken for an ordinary item.
  corvimus::AppleDouble sidecar;
  OSErr sidecarErr = corvimus::ReadSidecar(PathOfRef(ref), &sidecar);
  if (sidecarErr != noErr && sidecarErr != fnfErr) return mapReadErr;
  FSCatalogInfo info;
  if (OSErr e = FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info, nullptr,
                                 nullptr, nullptr);
      e != noErr)
    return e;
  if ((info.nodeFlags & kFSNodeIsDirectoryMask) || !(FinderInfoOf(&info)->finderFlags & kIsAlias))
    return noErr;
  *isAlias = true;
  HFSUniStr255 forkName;
  FSGetResourceForkName(&forkName);
  const SInt16 previous = CurResFile();
  SInt16 refNum;
  if (OSErr e = FSOpenResourceFile(ref, forkName.length, forkName.unicode, fsRdPerm, &refNum);
      e != noErr)
    return e;
  Handle h = Get1Resource(kAliasResourceType, 0);
  OSErr err = ResError();
  if (h && err == noErr) {
    DetachResource(h);
    *record = h;
  } else if (err == noErr) {
    err = resNotFound;
  }
  CloseResFile(refNum);
  if (previous) UseResFile(previous);
  if (err != noErr && *record) {
    DisposeHandle(*record);
    *record = nullptr;
  }
  return err;
}

}  // namespace

OSErr FSNewAlias(const FSRef*, const FSRef* target, AliasHandle* inAlias) {
  if (!target || !inAlias) return paramErr;
  *inAlias = nullptr;
  const std::string path = PathOfRef(target);
  if (path.empty() || path[0] != '/' || path.size() > kMaxAliasPath) return paramErr;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  const UInt16 kind = S_ISREG(st.st_mode)   ? kKindFile
                      : S_ISDIR(st.st_mode) ? kKindFolder
                      : S_ISLNK(st.st_mode) ? kKindLink
                                            : kKindOther;
  std::vector<UInt8> bytes;
  Put(&bytes, kAliasRecordSignature, 4);
  Put(&bytes, kAliasRecordVersion, 2);
  Put(&bytes, kAliasRecordHeaderSize + path.size(), 2);
  Put(&bytes, kind, 2);
  Put(&bytes, path.size(), 2);
  Put(&bytes, UInt64(st.st_dev), 8);
  Put(&bytes, UInt64(st.st_ino), 8);
  bytes.insert(bytes.end(), path.begin(), path.end());
  return PtrToHand(bytes.data(), inAlias, Size(bytes.size()));
}

OSErr FSResolveAlias(const FSRef*, AliasHandle alias, FSRef* target, Boolean* wasChanged) {
  if (!target) return paramErr;
  AliasRecord record;
  if (OSErr e = ParseAlias(alias, &record); e != noErr) return e;
  struct stat st;
  if (lstat(record.path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  if (wasChanged)
    *wasChanged = UInt64(st.st_dev) != record.volume || UInt64(st.st_ino) != record.file;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(record.path.c_str()), target, nullptr);
}

OSErr FSResolveAliasFile(FSRef* theRef, Boolean resolveAliasChains, Boolean* targetIsFolder,
                         Boolean* wasAliased) {
  if (!theRef) return paramErr;
  if (wasAliased) *wasAliased = false;
  FSRef current = *theRef;
  std::set<std::string> passed;
  bool aliased = false;
  for (int hops = 0;; ++hops) {
    bool isAlias = false;
    AliasHandle record = nullptr;
    if (OSErr e = ReadAliasFile(&current, &isAlias, &record); e != noErr) return e;
    if (!isAlias) break;
    if (hops == kMaxAliasChainHops || !passed.insert(PathOfRef(&current)).second) {
      DisposeHandle(record);
      return errAliasChainLoop;
    }
    FSRef next;
    OSErr e = FSResolveAlias(nullptr, record, &next, nullptr);
    DisposeHandle(record);
    if (e != noErr) return e;
    current = next;
    aliased = true;
    if (!resolveAliasChains) break;
  }
  struct stat st;
  if (lstat(current.path, &st) != 0) return MacErrorFromErrno(errno);
  if (targetIsFolder) *targetIsFolder = S_ISDIR(st.st_mode) ? 1 : 0;
  if (wasAliased) *wasAliased = aliased;
  *theRef = current;
  return noErr;
}

OSErr ResolveAliasFile(FSSpec* theSpec, Boolean resolveAliasChains, Boolean* targetIsFolder,
                       Boolean* wasAliased) {
  if (!theSpec) return paramErr;
  FSRef ref;
  if (OSErr e = FSpMakeFSRef(theSpec, &ref); e != noErr) return e;
  Boolean folder = 0, aliased = 0;
  if (OSErr e = FSResolveAliasFile(&ref, resolveAliasChains, &folder, &aliased); e != noErr)
    return e;
  FSSpec resolved;
  if (OSErr e = FSGetFSSpecFromRef(&ref, &resolved); e != noErr) return e;
  *theSpec = resolved;
  if (targetIsFolder) *targetIsFolder = folder;
  if (wasAliased) *wasAliased = aliased;
  return noErr;
}
