#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/FileCatalog.h"
#include "testing/MacFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::RefOf;
using corvimus::testing::TempDir;
using corvimus::testing::Uni;
using corvimus::testing::WriteFile;

namespace {

SInt32 DirIDOf(const std::string& path, SInt16* vRefNum = nullptr) {
  SInt16 v = 0;
  SInt32 id = 0;
  EXPECT_EQ(corvimus::PathToDirID(path, &v, &id), noErr);
  if (vRefNum) *vRefNum = v;
  return id;
}

// Catalog information by index: the names of a folder's items in listing order.
std::vector<std::string> ListByIndex(const std::string& folder) {
  SInt16 v;
  SInt32 id = DirIDOf(folder, &v);
  std::vector<std::string> names;
  for (SInt16 index = 1;; ++index) {
    Str63 name = {0};
    CInfoPBRec pb{};
    pb.hFileInfo.ioNamePtr = name;
    pb.hFileInfo.ioVRefNum = v;
    pb.hFileInfo.ioDirID = id;
    pb.hFileInfo.ioFDirIndex = index;
    OSErr err = PBGetCatInfoSync(&pb);
    if (err != noErr) {
      EXPECT_EQ(err, fnfErr);
      EXPECT_EQ(pb.hFileInfo.ioResult, fnfErr);
      break;
    }
    names.emplace_back(reinterpret_cast<char*>(name + 1), name[0]);
  }
  return names;
}

}  // namespace

TEST(FileCatalog, ByNameGivesFilesAndFoldersTheirOwnFields) {
  TempDir dir;
  WriteFile(dir / "Report.txt", "12345");
  FSRef folderRef = RefOf(dir.path());
  HFSUniStr255 name = Uni("Report.txt");
  FSRef fileRef;
  ASSERT_EQ(
      FSMakeFSRefUnicode(&folderRef, name.length, name.unicode, kTextEncodingUnknown, &fileRef),
      noErr);
  FSCatalogInfo set{};
  FinderInfoOf(&set)->fileType = FourCC("TEXT");
  FinderInfoOf(&set)->fileCreator = FourCC("ttxt");
  FinderInfoOf(&set)->finderFlags = kIsAlias;
  ASSERT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoFinderInfo, &set), noErr);
  EXPECT_EQ(FSSetCatalogInfo(&fileRef, kFSCatInfoVolume, &set), paramErr);
  ASSERT_EQ(mkdir((dir / "Sub").c_str(), 0755), 0);
  WriteFile(dir / "Sub/a", "");
  WriteFile(dir / "Sub/b", "");

  SInt16 v;
  SInt32 id = DirIDOf(dir.path(), &v);
  Str63 lookup = "\x0Areport.TXT";  // found regardless of letter case
  CInfoPBRec pb{};
  pb.hFileInfo.ioNamePtr = lookup;
  pb.hFileInfo.ioVRefNum = v;
  pb.hFileInfo.ioDirID = id;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  EXPECT_EQ(pb.hFileInfo.ioFlAttrib & ioDirMask, 0);
  EXPECT_EQ(pb.hFileInfo.ioFlFndrInfo.fdType, FourCC("TEXT"));
  EXPECT_EQ(pb.hFileInfo.ioFlFndrInfo.fdCreator, FourCC("ttxt"));
  EXPECT_EQ(pb.hFileInfo.ioFlFndrInfo.fdFlags, kIsAlias);
  EXPECT_EQ(pb.hFileInfo.ioFlLgLen, 5);
  EXPECT_EQ(pb.hFileInfo.ioFlParID, id);

  Str63 sub = "\x03Sub";
  pb = CInfoPBRec{};
  pb.dirInfo.ioNamePtr = sub;
  pb.dirInfo.ioVRefNum = v;
  pb.dirInfo.ioDrDirID = id;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  EXPECT_EQ(pb.dirInfo.ioFlAttrib & ioDirMask, ioDirMask);
  EXPECT_EQ(pb.dirInfo.ioDrDirID, DirIDOf(dir / "Sub"));
  EXPECT_EQ(pb.dirInfo.ioDrParID, id);
  EXPECT_EQ(pb.dirInfo.ioDrNmFls, 2);

  Str63 missing = "\x07Missing";
  pb = CInfoPBRec{};
  pb.hFileInfo.ioNamePtr = missing;
  pb.hFileInfo.ioVRefNum = v;
  pb.hFileInfo.ioDirID = id;
  EXPECT_EQ(PBGetCatInfoSync(&pb), fnfErr);
  EXPECT_EQ(pb.hFileInfo.ioResult, fnfErr);
}

TEST(FileCatalog, ByIndexListsInNameOrderHidingSidecarsAndTakingLinksAsFiles) {
  TempDir dir;
  WriteFile(dir / "b", "");
  WriteFile(dir / "a", "");
  ASSERT_EQ(mkdir((dir / "c").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir / "c").c_str(), (dir / "d-link").c_str()), 0);
  FSRef b = RefOf(dir / "b");
  FSCatalogInfo info{};
  FinderInfoOf(&info)->fileType = FourCC("TEXT");
  ASSERT_EQ(FSSetCatalogInfo(&b, kFSCatInfoFinderInfo, &info), noErr);  // gives b a sidecar
  EXPECT_EQ(ListByIndex(dir.path()), (std::vector<std::string>{"a", "b", "c", "d-link"}));

  FSRef link = RefOf(dir / "d-link");
  ASSERT_EQ(FSGetCatalogInfo(&link, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0) << "a link to a folder is not a folder";
}

TEST(FileCatalog, VolumeRootsHaveTheRootParentID) {
  FSRef root = RefOf("/");
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&root, kFSCatInfoNodeFlags | kFSCatInfoParentDirID, &info, nullptr,
                             nullptr, nullptr),
            noErr);
  EXPECT_EQ(info.parentDirID, fsRtParID);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "f").c_str(), 0755), 0);
  FSRef f = RefOf(dir / "f");
  FSRef parent;
  HFSUniStr255 name;
  ASSERT_EQ(FSGetCatalogInfo(&f, kFSCatInfoParentDirID, &info, &name, nullptr, &parent), noErr);
  EXPECT_EQ(info.parentDirID, DirIDOf(dir.path()));
  FSRef dirRef = RefOf(dir.path());
  EXPECT_EQ(corvimus::PathOfRef(&parent), corvimus::PathOfRef(&dirRef));
  EXPECT_EQ(name.length, 1);
  EXPECT_EQ(name.unicode[0], 'f');
  EXPECT_FALSE(corvimus::IsVolumeRoot(dir / "f"));
}

TEST(FileCatalog, FolderCreationRefusesTakenNamesInAnyCase) {
  TempDir dir;
  SInt16 v;
  SInt32 id = DirIDOf(dir.path(), &v);
  FSSpec spec;
  ASSERT_EQ(FSMakeFSSpec(v, id,
                         reinterpret_cast<const UInt8*>("\x05"
                                                        "Files"),
                         &spec),
            fnfErr);
  SInt32 created = 0;
  ASSERT_EQ(FSpDirCreate(&spec, smSystemScript, &created), noErr);
  EXPECT_EQ(created, DirIDOf(dir / "Files"));
  EXPECT_EQ(FSpDirCreate(&spec, smSystemScript, &created), dupFNErr);
  FSSpec other;
  FSMakeFSSpec(v, id,
               reinterpret_cast<const UInt8*>("\x05"
                                              "FILES"),
               &other);
  EXPECT_EQ(FSpDirCreate(&other, smSystemScript, &created), dupFNErr);
}

TEST(FileCatalog, UnicodeNamesConvertBothWaysAndBadOnesAreRefused) {
  HFSUniStr255 name = Uni("Zoë 𝄞");
  EXPECT_EQ(name.length, 6);  // the clef takes a surrogate pair
  std::string back;
  ASSERT_TRUE(HFSUniStrToUTF8(name.unicode, name.length, &back));
  EXPECT_EQ(back, "Zoë 𝄞");
  HFSUniStr255 bad;
  EXPECT_EQ(FSGetHFSUniStrFromString("\xC3", &bad), bdNamErr);
  EXPECT_EQ(FSGetHFSUniStrFromString("\xC0\x80", &bad), bdNamErr);  // overlong NUL
  EXPECT_EQ(FSGetHFSUniStrFromString(std::string(256, 'x').c_str(), &bad), bdNamErr);
  EXPECT_EQ(FSGetHFSUniStrFromString(std::string(255, 'x').c_str(), &bad), noErr);
  EXPECT_EQ(FSGetHFSUniStrFromString(nullptr, &bad), paramErr);
  const UniChar lone[] = {0xD800, 'a'};
  EXPECT_FALSE(HFSUniStrToUTF8(lone, 2, &back));

  TempDir dir;
  FSRef folder = RefOf(dir.path());
  FSRef ref;
  HFSUniStr255 slash = Uni("a/b");
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, slash.length, slash.unicode, kTextEncodingUnknown, &ref),
            bdNamErr);
  HFSUniStr255 dots = Uni("..");
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, dots.length, dots.unicode, kTextEncodingUnknown, &ref),
            bdNamErr);
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, name.length, name.unicode, kTextEncodingUnknown, &ref),
            fnfErr);
}

TEST(FileCatalog, CreatingAFileSetsItsFinderInfoAndNeverReplacesAnItem) {
  TempDir dir;
  FSRef folder = RefOf(dir.path());
  FSCatalogInfo info{};
  FinderInfoOf(&info)->fileType = FourCC("adrp");
  FinderInfoOf(&info)->fileCreator = FourCC("CvMP");
  FinderInfoOf(&info)->finderFlags = kIsAlias;
  HFSUniStr255 name = Uni("Ünïcode");
  FSRef made;
  FSSpec spec;
  ASSERT_EQ(FSCreateFileUnicode(&folder, name.length, name.unicode, kFSCatInfoFinderInfo, &info,
                                &made, &spec),
            noErr);
  EXPECT_EQ(corvimus::PathOfRef(&made), dir / "Ünïcode");
  FSCatalogInfo got{};
  ASSERT_EQ(FSGetCatalogInfo(&made, kFSCatInfoFinderInfo | kFSCatInfoDataSizes, &got, nullptr,
                             nullptr, nullptr),
            noErr);
  EXPECT_EQ(FinderInfoOf(&got)->fileType, FourCC("adrp"));
  EXPECT_EQ(FinderInfoOf(&got)->fileCreator, FourCC("CvMP"));
  EXPECT_EQ(FinderInfoOf(&got)->finderFlags, kIsAlias);
  EXPECT_EQ(got.dataLogicalSize, 0u);

  WriteFile(dir / "Taken", "keep");
  HFSUniStr255 taken = Uni("taken");
  EXPECT_EQ(FSCreateFileUnicode(&folder, taken.length, taken.unicode, kFSCatInfoFinderInfo, &info,
                                nullptr, nullptr),
            dupFNErr);
  std::string text;
  ASSERT_TRUE(corvimus::testing::ReadFile(dir / "Taken", &text));
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(access((dir / "taken").c_str(), F_OK), -1);
  EXPECT_EQ(access((dir / "._Taken").c_str(), F_OK), -1);
}
