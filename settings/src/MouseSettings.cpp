#include "settings/MouseSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Resources.h"
#include "recordbase/PStrings.h"

namespace {

enum : SInt16 { kGlobalNameList = 132, kGlobalNameIndex = 1, kMaxSettingsName = 63 };

void CutName(StringPtr fileName) {
  if (fileName && fileName[0] > kMaxSettingsName) fileName[0] = kMaxSettingsName;
}

// A copy of a Pascal string cut to `limit` bytes without ending inside a UTF-8 character.
void CopyNameCut(ConstStringPtr source, StringPtr destination, SInt16 limit) {
  SInt16 n = PStringCopy(source, destination, limit);
  // The first byte left out must not continue a character that was cut.
  while (n > 0 && n < source[0] && (source[n + 1] & 0xC0) == 0x80) --n;
  destination[0] = static_cast<UInt8>(n);
}

// A fresh name for the temporary file a save writes first: hidden, in the same folder, and short
// enough for any settings file name.
void MakeTemporaryName(const FSSpec* file, unsigned attempt, Str63 name) {
  static unsigned counter = 0;
  std::string base(reinterpret_cast<const char*>(file->name) + 1, std::min<int>(file->name[0], 40));
  std::string temp = "." + base + ".save-" + std::to_string(getpid() % 100000) + "-" +
                     std::to_string((counter++ + attempt) % 10000);
  name[0] = static_cast<UInt8>(temp.size());
  std::memcpy(name + 1, temp.data(), temp.size());
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
    if (name[0] != 0) CopyNameCut(name, defaultRecord->appName, 31);
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

OSErr SaveMouseSettingsToSpec(QBaseHandle base, const FSSpec* file, OSType fileType,
                              OSType creator) {
  if (!base || !file || file->name[0] == 0) return paramErr;
  // An existing file keeps its own type and creator.
  FInfo info;
  if (FSpGetFInfo(file, &info) == noErr && (info.fdType != 0 || info.fdCreator != 0)) {
    fileType = info.fdType;
    creator = info.fdCreator;
  }
  FSSpec temp = *file;
  OSErr err = dupFNErr;
  for (unsigned attempt = 0; attempt < 100 && err == dupFNErr; ++attempt) {
    MakeTemporaryName(file, attempt, temp.name);
    err = FSpCreate(&temp, creator, fileType, smSystemScript);
  }
  if (err != noErr) return err;

  // A failed save must not make the base look saved.
  UInt16 recordsChanged = QBaseGetRecordsChanged(base);
  UInt16 userFieldsChanged = QBaseGetUserFieldsChanged(base);
  SInt16 ref = 0;
  err = FSpOpenDF(&temp, fsRdWrPerm, &ref);
  if (err == noErr) {
    err = QBaseWrite(base, ref, 1, 1);  // ends with a flush of the file
    OSErr closed = FSCloseFork(ref);
    if (err == noErr) err = closed;
  }
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
