#include "settings/MouseSettings.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Resources.h"
#include "platform/TextUtils.h"

namespace {

enum : SInt16 { kGlobalNameList = 132, kGlobalNameIndex = 1, kMaxSettingsName = 63 };

void CutName(StringPtr fileName) {
  if (fileName && fileName[0] > kMaxSettingsName) fileName[0] = kMaxSettingsName;
}

}  // namespace

OSErr FindMouseSettingsFile(StringPtr fileName, Boolean createFolder, FSSpec* spec) {
  if (!spec) return paramErr;
  SInt16 vRefNum;
  SInt32 dirID;
  if (OSErr e = FindFolder(kOnSystemDisk, kPreferencesFolderType, createFolder, &vRefNum, &dirID);
      e != noErr)
    return e;
  if (!fileName || fileName[0] == 0) return paramErr;
  CutName(fileName);
  return FSMakeFSSpec(vRefNum, dirID, fileName, spec);
}

OSErr ReadMouseSettingsFile(QBaseHandle base, const FSSpec* file) {
  SInt16 ref = 0;
  if (OSErr e = FSpOpenDF(file, fsRdPerm, &ref); e != noErr) return e;
  OSErr result = QBaseRead(base, ref, 1, 1, 1, 1);
  FSCloseFork(ref);
  return result;
}

namespace {

// Steps 4 to 6 of a load, once the file has been read (or found missing) with result `r`.
OSErr FinishLoad(QBaseHandle base, OSErr r, CorvimusPrefsRec* defaultRecord) {
  // No file, another kind of file and a damaged file all mean: start from the defaults.
  if (r != noErr && r != fnfErr && r != kQBaseErr) return r;
  if (QBaseCountRecords(base) == 0 && defaultRecord) {
    Str255 name;
    GetIndString(name, kGlobalNameList, kGlobalNameIndex);
    if (name[0] != 0)
      corvimus::StorePascalUtf8(reinterpret_cast<const char*>(name + 1), name[0],
                                defaultRecord->appName, 31);
    if (QBaseAddRecord(base, defaultRecord, kCorvimusPrefsRecSize) < 0) return memFullErr;
  }
  return QBaseCountRecords(base) == 0 ? OSErr(resNotFound) : OSErr(noErr);
}

}  // namespace

OSErr LoadMouseSettingsFromSpec(QBaseHandle base, const FSSpec* file,
                                CorvimusPrefsRec* defaultRecord) {
  if (!base) return noErr;
  OSErr r = file ? ReadMouseSettingsFile(base, file) : OSErr(noErr);
  return FinishLoad(base, r, defaultRecord);
}

OSErr LoadMouseSettings(QBaseHandle base, StringPtr fileName, CorvimusPrefsRec* defaultRecord) {
  SInt16 vRefNum;
  SInt32 dirID;
  OSErr folder =
      FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID);
  // The Preferences folder of a new account may not exist yet; it is made by the first save.
  if (folder != noErr && folder != fnfErr) return folder;
  if (!base) return noErr;
  OSErr r = noErr;
  if (fileName && fileName[0] != 0) {
    CutName(fileName);
    if (folder == fnfErr) {
      r = fnfErr;
    } else {
      FSSpec spec;
      r = FSMakeFSSpec(vRefNum, dirID, fileName, &spec);
      if (r == noErr) r = ReadMouseSettingsFile(base, &spec);
    }
  }
  return FinishLoad(base, r, defaultRecord);
}

namespace {

// A settings file that is a symbolic link (kept with the user's other dotfiles, say) is saved where
// the link points, so that the replacement does not turn the link into a plain file.
OSErr FollowLink(const FSSpec* file, FSSpec* target) {
  *target = *file;
  std::string path;
  if (OSErr e = corvimus::FSSpecToPath(file, &path); e != noErr) return e;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return noErr;
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real)) return fnfErr;
  std::string resolved = real;
  auto slash = resolved.find_last_of('/');
  std::string name = resolved.substr(slash + 1);
  if (name.empty() || name.size() > 63) return bdNamErr;
  SInt16 v;
  SInt32 dirID;
  if (OSErr e = corvimus::PathToDirID(slash == 0 ? "/" : resolved.substr(0, slash), &v, &dirID);
      e != noErr)
    return e;
  target->vRefNum = v;
  target->parID = dirID;
  target->name[0] = static_cast<UInt8>(name.size());
  std::memcpy(target->name + 1, name.data(), name.size());
  return noErr;
}

}  // namespace

OSErr SaveMouseSettingsToSpec(QBaseHandle base, const FSSpec* linkOrFile, OSType fileType,
                              OSType creator) {
  if (!base || !linkOrFile || linkOrFile->name[0] == 0) return paramErr;
  FSSpec resolved;
  if (OSErr e = FollowLink(linkOrFile, &resolved); e != noErr) return e;
  const FSSpec* file = &resolved;
  // Only a regular file the user may write is replaced: a FIFO or a device where the settings
  // belong, or a file made read-only, is refused before anything is written beside it.
  OSErr replaceable = FSpCheckReplaceable(file);
  if (replaceable != noErr && replaceable != fnfErr) return replaceable;
  // An existing file keeps its own type and creator.
  FInfo info;
  if (FSpGetFInfo(file, &info) == noErr && (info.fdType != 0 || info.fdCreator != 0)) {
    fileType = info.fdType;
    creator = info.fdCreator;
  }
  FSSpec temp;
  SInt16 ref = 0;
  OSErr err = FSpCreateSaveFile(file, creator, fileType, &temp, &ref);
  if (err != noErr) return err;

  // A failed save must not make the base look saved.
  UInt16 recordsChanged = QBaseGetRecordsChanged(base);
  UInt16 userFieldsChanged = QBaseGetUserFieldsChanged(base);
  err = QBaseWrite(base, ref, 1, 1);  // ends with a flush of the file
  OSErr closed = FSCloseFork(ref);
  if (err == noErr) err = closed;
  if (err == noErr) err = FSpReplaceFile(&temp, file);
  if (err != noErr) {
    FSpDelete(&temp);
    QBaseSetRecordsChanged(base, recordsChanged);
    QBaseSetUserFieldsChanged(base, userFieldsChanged);
  }
  return err;
}

OSErr SaveMouseSettings(QBaseHandle base, StringPtr fileName, OSType fileType, OSType creator) {
  SInt16 vRefNum;
  SInt32 dirID;
  // Made when missing: on a new account the first save is what brings the folder into being.
  OSErr folder = FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID);
  if (folder != noErr || !base || !fileName || fileName[0] == 0) return folder;
  CutName(fileName);
  FSSpec spec;
  OSErr e = FSMakeFSSpec(vRefNum, dirID, fileName, &spec);
  if (e != noErr && e != fnfErr) return e;
  return SaveMouseSettingsToSpec(base, &spec, fileType, creator);
}
