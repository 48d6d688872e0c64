#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "loginitems/Aliases.h"
#include "platform/Aliases.h"
#include "platform/Folders.h"
#include "platform/LaunchServices.h"
#include "platform/MacMemory.h"
#include "platform/Resources.h"
#include "platform/TextUtils.h"
#include "settings/CorvimusPrefs.h"

namespace {

// Whether any open-item action of any record names the alias file `name`.
bool AliasInUse(QBaseHandle base, SInt32 count, ConstStr255Param name) {
  for (SInt32 position = 0; position < count; ++position) {
    SInt32 size = 0;
    const auto* record = static_cast<const UInt8*>(QBaseGetRecord(base, position, &size));
    if (!record) continue;
    for (int slot = 0; slot < kCorvimusActionCount; ++slot) {
      const std::size_t at = offsetof(CorvimusPrefsRec, device) +
                             offsetof(CorvimusDevicePrefs, action) +
                             std::size_t(slot) * sizeof(CorvimusActionRec);
      if (at + sizeof(CorvimusActionRec) > std::size_t(size)) break;
      // Records are only 2-byte aligned in the base: copy the action out.
      CorvimusActionRec action;
      std::memcpy(&action, record + at, sizeof action);
      if (action.command != kCmdOpenItem) continue;
      // A length byte beyond the field names nothing.
      if (action.data[0] >= sizeof action.data) continue;
      if (EqualString(name, action.data, false, true)) return true;
    }
  }
  return false;
}

}  // namespace

OSErr DoGetCatInfo(FSSpec* item, SInt16 index, CInfoPBRec* pb, SInt16* outIsFolder) {
  if (!item) return paramErr;
  CInfoPBRec local;
  if (!pb) pb = &local;
  *pb = CInfoPBRec{};
  pb->hFileInfo.ioCompletion = nullptr;
  pb->hFileInfo.ioNamePtr = item->name;
  pb->hFileInfo.ioVRefNum = item->vRefNum;
  pb->hFileInfo.ioDirID = item->parID;
  pb->hFileInfo.ioFDirIndex = index;
  OSErr err = PBGetCatInfoSync(pb);
  if (err == noErr && outIsFolder) *outIsFolder = pb->hFileInfo.ioFlAttrib & ioDirMask;
  return err;
}

OSErr GetAssignedAliasesFolder(ConstStr255Param folderName, SInt16 create, FSSpec* outSpec,
                               SInt16* outVRefNum, SInt32* outDirID) {
  if (!folderName || folderName[0] == 0) return paramErr;
  SInt16 vRefNum;
  SInt32 prefsID;
  if (OSErr err =
          FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &prefsID);
      err != noErr)
    return err;
  FSSpec spec{};
  spec.vRefNum = vRefNum;
  spec.parID = prefsID;
  const UInt8 length = folderName[0] > 63 ? 63 : folderName[0];
  spec.name[0] = length;
  std::memcpy(spec.name + 1, folderName + 1, length);

  FSSpec probe = spec;
  SInt16 isFolder = 0;
  CInfoPBRec pb;
  SInt32 dirID = 0;
  OSErr err = DoGetCatInfo(&probe, 0, &pb, &isFolder);
  if (err == noErr) {
    if (!isFolder) return ioErr;
    dirID = pb.dirInfo.ioDrDirID;
  } else if (err == fnfErr && create) {
    if (OSErr e = FSpDirCreate(&spec, smSystemScript, &dirID); e != noErr) return e;
  } else {
    return err;
  }
  if (outSpec) {
    // The name as it is on disk, should it differ from the one asked for in letter case.
    FSSpec real;
    *outSpec = FSMakeFSSpec(vRefNum, prefsID, spec.name, &real) == noErr ? real : spec;
  }
  if (outVRefNum) *outVRefNum = vRefNum;
  if (outDirID) *outDirID = dirID;
  return noErr;
}

OSErr CheckAssignedAliases(ConstStr255Param folderName, QBaseHandle settingsBase) {
  if (!settingsBase) return paramErr;
  const SInt32 count = QBaseCountRecords(settingsBase);
  QBaseLock(settingsBase);
  SInt16 vRefNum;
  SInt32 dirID;
  OSErr err = GetAssignedAliasesFolder(folderName, 1, nullptr, &vRefNum, &dirID);
  if (err != noErr) {
    QBaseUnlock(settingsBase, 0);
    return err;
  }
  for (SInt16 index = 1; index > 0;) {
    FSSpec item{};
    item.vRefNum = vRefNum;
    item.parID = dirID;
    item.name[0] = 0;
    CInfoPBRec pb;
    SInt16 isFolder = 0;
    if (DoGetCatInfo(&item, index, &pb, &isFolder) != noErr) break;
    if (isFolder || !(pb.hFileInfo.ioFlFndrInfo.fdFlags & kIsAlias) ||
        AliasInUse(settingsBase, count, item.name)) {
      ++index;
      continue;
    }
    // After a deletion the following items move down by one: look at the same index again.
    if (FSpDelete(&item) != noErr) ++index;
  }
  QBaseUnlock(settingsBase, 0);
  return noErr;
}

OSErr CreateAliasFile(const FSRef* target, const FSRef* folder, const HFSUniStr255* name) {
  if (!target || !folder || !name) return paramErr;
  FSCatalogInfo targetInfo;
  if (OSErr err = FSGetCatalogInfo(
          target,
          kFSCatInfoNodeFlags | kFSCatInfoVolume | kFSCatInfoParentDirID | kFSCatInfoFinderInfo,
          &targetInfo, nullptr, nullptr, nullptr);
      err != noErr)
    return err;
  OSType type, creator;
  const FileInfo* targetFinder = FinderInfoOf(&targetInfo);
  if (targetInfo.nodeFlags & kFSNodeIsDirectoryMask) {
    type = targetInfo.parentDirID == fsRtParID ? kContainerHardDiskAliasType
                                               : kContainerFolderAliasType;
    creator = kFinderCreator;
  } else {
    type = targetFinder->fileType == kApplicationFileType ? OSType(kApplicationAliasType)
                                                          : targetFinder->fileType;
    creator = targetFinder->fileCreator;
  }

  AliasHandle alias = nullptr;
  if (OSErr err = FSNewAlias(nullptr, target, &alias); err != noErr) return err;

  FSCatalogInfo info{};
  FileInfo* finder = FinderInfoOf(&info);
  finder->fileType = type;
  finder->fileCreator = creator;
  finder->finderFlags = kIsAlias;
  finder->location = Point{0, 0};
  HFSUniStr255 forkName;
  FSGetResourceForkName(&forkName);
  FSRef file;
  OSErr err = FSCreateResourceFile(folder, name->length, name->unicode, kFSCatInfoFinderInfo, &info,
                                   forkName.length, forkName.unicode, &file, nullptr);
  if (err != noErr) {
    DisposeHandle(alias);
    return err;
  }
  SInt16 refNum;
  err = FSOpenResourceFile(&file, forkName.length, forkName.unicode, fsRdWrPerm, &refNum);
  if (err != noErr) {
    FSDeleteObject(&file);
    DisposeHandle(alias);
    return err;
  }
  AddResource(alias, kAliasResourceType, 0, reinterpret_cast<const UInt8*>(""));
  err = ResError();
  const bool added = err == noErr;
  CloseResFile(refNum);
  if (err == noErr) err = ResError();
  if (err != noErr) FSDeleteObject(&file);
  if (!added) DisposeHandle(alias);
  return err;
}

OSErr GetFSRefFromNSString(const char* path, FSRef* outRef) {
  if (!path || !outRef) return paramErr;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const std::size_t slash = text.rfind('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : text.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? text : text.substr(slash + 1);
    FSRef parentRef;
    if (OSErr err =
            FSPathMakeRef(reinterpret_cast<const UInt8*>(parent.c_str()), &parentRef, nullptr);
        err != noErr)
      return err;
    // Names longer than an HFS Plus name (255 UTF-16 units) cannot be represented: refused.
    HFSUniStr255 name;
    if (OSErr err = FSGetHFSUniStrFromString(leaf.c_str(), &name); err != noErr) return err;
    if (name.length == 0) return fnfErr;
    return FSMakeFSRefUnicode(&parentRef, name.length, name.unicode, kTextEncodingUnknown, outRef);
  }
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path), outRef, nullptr);
}

void MakeAssignedAliasName(const std::string& itemName, Str31 out) {
  std::string name;
  for (std::size_t i = 0; i < itemName.size() && name.size() < kMaxAssignedAliasNameLength;) {
    auto c = static_cast<unsigned char>(itemName[i]);
    // One question mark for each character beyond ASCII (its continuation bytes go with it).
    std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::size_t next = i + 1;
    while (next < itemName.size() && next < i + length &&
           (static_cast<unsigned char>(itemName[next]) & 0xC0) == 0x80)
      ++next;
    name.push_back(c < 0x80 && c != ':' ? char(c) : '?');
    i = next;
  }
  if (corvimus::IsSidecarName(name) || name == "._") name[0] = '?';
  out[0] = static_cast<UInt8>(name.size());
  std::memcpy(out + 1, name.data(), name.size());
}

OSErr OpenAssignedAliasItem(const UInt8* actionData) {
  if (!actionData || actionData[0] > kMaxAssignedAliasNameLength || actionData[0] == 0)
    return paramErr;
  SInt16 vRefNum;
  SInt32 prefsID;
  if (OSErr err =
          FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &prefsID);
      err != noErr)
    return err;
  FSSpec folder{};
  folder.vRefNum = vRefNum;
  folder.parID = prefsID;
  const std::size_t nameLength = sizeof(kCorvimusAliasFolderName) - 1;
  folder.name[0] = UInt8(nameLength);
  std::memcpy(folder.name + 1, kCorvimusAliasFolderName, nameLength);
  CInfoPBRec pb;
  SInt16 isFolder = 0;
  if (OSErr err = DoGetCatInfo(&folder, 0, &pb, &isFolder); err != noErr) return err;
  if (!isFolder) return dirNFErr;

  Str63 name;
  std::memcpy(name, actionData, std::size_t(actionData[0]) + 1);
  FSSpec item;
  if (OSErr err = FSMakeFSSpec(vRefNum, pb.dirInfo.ioDrDirID, name, &item); err != noErr)
    return err;
  Boolean targetIsFolder = 0, wasAliased = 0;
  if (OSErr err = ResolveAliasFile(&item, 1, &targetIsFolder, &wasAliased); err != noErr)
    return err;
  FSRef ref;
  if (OSErr err = FSpMakeFSRef(&item, &ref); err != noErr) return err;
  OSStatus status = LSOpenFSRef(&ref, nullptr);
  if (status < -32768 || status > 32767) return ioErr;
  return OSErr(status);
}
