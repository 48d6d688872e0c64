#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loginitems/Aliases.h"
#include "platform/Aliases.h"
#include "platform/FileCatalog.h"
#include "platform/Folders.h"
#include "platform/LaunchServices.h"
#include "recordbase/QBase.h"
#include "settings/CorvimusPrefs.h"
#include "testing/MacFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::FinderOf;
using corvimus::testing::FolderNames;
using corvimus::testing::RefOf;
using corvimus::testing::SetFinder;
using corvimus::testing::Sidecars;
using corvimus::testing::TempDir;
using corvimus::testing::Uni;
using corvimus::testing::WriteFile;

namespace {

const UInt8 kFolderName[] =
    "\x17"
    "com.kelvane.mouse.files";

// A settings record whose given slots open the named items.
std::vector<UInt8> Record(OSType app, const std::vector<std::pair<int, std::string>>& openItems,
                          UInt16 command = kCmdOpenItem) {
  CorvimusPrefsRec rec{};
  rec.application = app;
  for (const auto& [slot, name] : openItems) {
    CorvimusActionRec& a = rec.device[0].action[slot];
    a.command = command;
    a.data[0] = UInt8(name.size());
    std::memcpy(a.data + 1, name.data(), name.size());
  }
  std::vector<UInt8> bytes(sizeof rec);
  std::memcpy(bytes.data(), &rec, sizeof rec);
  return bytes;
}

struct BaseDeleter {
  void operator()(OpaqueQBaseRec** base) const { QBaseDispose(base); }
};
using BasePtr = std::unique_ptr<OpaqueQBaseRec*, BaseDeleter>;

BasePtr Base(const std::vector<std::vector<UInt8>>& records) {
  BasePtr base(QBaseNew(kCorvimusBaseType, kCorvimusBaseTypeVersion, 4));
  for (const auto& r : records)
    EXPECT_GE(QBaseAddRecord(base.get(), r.data(), SInt32(r.size())), 0);
  return base;
}

// Runs each test in a home of its own, with its Preferences folder.
class AssignedAliases : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CONFIG_HOME");
    hadOld = old != nullptr;
    saved = old ? old : "";
    ASSERT_EQ(mkdir(prefs.c_str(), 0755), 0);
    setenv("XDG_CONFIG_HOME", prefs.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld)
      setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }

  std::string AliasFolder() {
    SInt16 v;
    SInt32 id;
    EXPECT_EQ(GetAssignedAliasesFolder(kFolderName, 1, nullptr, &v, &id), noErr);
    return prefs + "/com.kelvane.mouse.files";
  }
  OSErr MakeAlias(const std::string& target, const char* name) {
    FSRef t = RefOf(target), folder = RefOf(AliasFolder());
    HFSUniStr255 uni = Uni(name);
    return CreateAliasFile(&t, &folder, &uni);
  }

  TempDir home;
  std::string prefs = home / ".config";
  std::string saved;
  bool hadOld = false;
};

}  // namespace

TEST_F(AssignedAliases, TheFolderIsFoundOrCreatedInThePreferencesFolder) {
  SInt16 v = 0;
  SInt32 id = 0;
  FSSpec spec;
  EXPECT_EQ(GetAssignedAliasesFolder(nullptr, 1, &spec, &v, &id), paramErr);
  EXPECT_EQ(GetAssignedAliasesFolder(reinterpret_cast<const UInt8*>(""), 1, &spec, &v, &id),
            paramErr);
  EXPECT_EQ(GetAssignedAliasesFolder(kFolderName, 0, &spec, &v, &id), fnfErr);
  EXPECT_TRUE(FolderNames(prefs, Sidecars::kHidden).empty());
  ASSERT_EQ(GetAssignedAliasesFolder(kFolderName, 1, &spec, &v, &id), noErr);
  SInt16 expectedV;
  SInt32 expectedID;
  ASSERT_EQ(corvimus::PathToDirID(prefs + "/com.kelvane.mouse.files", &expectedV, &expectedID),
            noErr);
  EXPECT_EQ(id, expectedID);
  EXPECT_EQ(v, expectedV);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), spec.name[0]),
            "com.kelvane.mouse.files");
  // Found again, not created twice.
  SInt32 again = 0;
  ASSERT_EQ(GetAssignedAliasesFolder(kFolderName, 1, nullptr, nullptr, &again), noErr);
  EXPECT_EQ(again, id);
}

TEST_F(AssignedAliases, AFileInTheFoldersPlaceAndOverlongNames) {
  WriteFile(prefs + "/com.kelvane.mouse.files", "not a folder");
  EXPECT_EQ(GetAssignedAliasesFolder(kFolderName, 1, nullptr, nullptr, nullptr), ioErr);
  UInt8 longName[70];
  longName[0] = 69;
  std::memset(longName + 1, 'n', 69);
  ASSERT_EQ(GetAssignedAliasesFolder(longName, 1, nullptr, nullptr, nullptr), noErr);
  struct stat st;
  EXPECT_EQ(stat((prefs + "/" + std::string(63, 'n')).c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(AssignedAliases, AliasFilesTakeTheTypeAndCreatorOfTheirTarget) {
  TempDir items;
  WriteFile(items / "Letter.txt", "dear");
  SetFinder(items / "Letter.txt", FourCC("TEXT"), FourCC("ttxt"));
  WriteFile(items / "Editor", "");
  SetFinder(items / "Editor", kApplicationFileType, FourCC("EdIt"));
  ASSERT_EQ(mkdir((items / "Photos").c_str(), 0755), 0);

  ASSERT_EQ(MakeAlias(items / "Letter.txt", "Letter.txt"), noErr);
  ASSERT_EQ(MakeAlias(items / "Editor", "Editor"), noErr);
  ASSERT_EQ(MakeAlias(items / "Photos", "Photos"), noErr);
  ASSERT_EQ(MakeAlias("/", "Disk"), noErr);
  const std::string folder = AliasFolder();
  struct Case {
    const char* name;
    OSType type, creator;
  } cases[] = {{"Letter.txt", FourCC("TEXT"), FourCC("ttxt")},
               {"Editor", kApplicationAliasType, FourCC("EdIt")},
               {"Photos", kContainerFolderAliasType, kFinderCreator},
               {"Disk", kContainerHardDiskAliasType, kFinderCreator}};
  for (const Case& c : cases) {
    corvimus::testing::FinderFields f = FinderOf(folder + "/" + c.name);
    EXPECT_EQ(f.type, c.type) << c.name;
    EXPECT_EQ(f.creator, c.creator) << c.name;
    EXPECT_EQ(f.flags, kIsAlias) << c.name;
    struct stat st;
    ASSERT_EQ(stat((folder + "/" + c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "the data fork stays empty";
  }
  // Each resolves to its target.
  FSRef ref = RefOf(folder + "/Photos");
  Boolean isFolder = 0, aliased = 0;
  ASSERT_EQ(FSResolveAliasFile(&ref, 1, &isFolder, &aliased), noErr);
  FSRef photos = RefOf(items / "Photos");
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&photos));
  EXPECT_TRUE(isFolder);
  EXPECT_TRUE(aliased);
}

TEST_F(AssignedAliases, ATakenNameOrAMissingTargetCreatesNothing) {
  TempDir items;
  WriteFile(items / "a", "");
  WriteFile(items / "b", "");
  ASSERT_EQ(MakeAlias(items / "a", "Same"), noErr);
  const std::string folder = AliasFolder();
  EXPECT_EQ(MakeAlias(items / "b", "Same"), dupFNErr);
  EXPECT_EQ(MakeAlias(items / "b", "SAME"), dupFNErr);
  FSRef ref = RefOf(folder + "/Same");
  ASSERT_EQ(FSResolveAliasFile(&ref, 1, nullptr, nullptr), noErr);
  FSRef a = RefOf(items / "a");
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&a)) << "the first alias is intact";

  FSRef gone = RefOf(items / "b");
  unlink((items / "b").c_str());
  FSRef folderRef = RefOf(folder);
  HFSUniStr255 name = Uni("Gone");
  EXPECT_EQ(CreateAliasFile(&gone, &folderRef, &name), fnfErr);
  EXPECT_EQ(FolderNames(folder, Sidecars::kHidden), std::vector<std::string>{"Same"});
  EXPECT_EQ(CreateAliasFile(nullptr, &folderRef, &name), paramErr);
}

TEST_F(AssignedAliases, UnusedAliasFilesAreDeletedAndEverythingElseStays) {
  TempDir items;
  WriteFile(items / "doc", "");
  const std::string folder = AliasFolder();
  for (const char* name :
       {"a-unused", "b-unused", "c-used", "d-other-case", "e-named-by-app", "f-other-command"})
    ASSERT_EQ(MakeAlias(items / "doc", name), noErr);
  WriteFile(folder + "/plain file", "kept");
  ASSERT_EQ(mkdir((folder + "/subfolder").c_str(), 0755), 0);

  BasePtr base = Base({Record(0, {{0, "c-used"}, {3, "D-OTHER-CASE"}}),
                       Record(FourCC("ttxt"), {{15, "e-named-by-app"}}),
                       Record(FourCC("abcd"), {{2, "f-other-command"}}, kCmdOpenApplication)});
  ASSERT_EQ(CheckAssignedAliases(kFolderName, base.get()), noErr);
  EXPECT_EQ(FolderNames(folder, Sidecars::kHidden),
            (std::vector<std::string>{"c-used", "d-other-case", "e-named-by-app", "plain file",
                                      "subfolder"}));
  EXPECT_EQ(access((folder + "/._a-unused").c_str(), F_OK), -1) << "sidecars go with their file";

  // An empty base uses nothing: every alias file goes, the rest stays.
  BasePtr empty = Base({});
  ASSERT_EQ(CheckAssignedAliases(kFolderName, empty.get()), noErr);
  EXPECT_EQ(FolderNames(folder, Sidecars::kHidden),
            (std::vector<std::string>{"plain file", "subfolder"}));
  EXPECT_EQ(CheckAssignedAliases(kFolderName, nullptr), paramErr);
}

TEST_F(AssignedAliases, CheckingCreatesTheFolderWhenItIsMissing) {
  BasePtr empty = Base({});
  ASSERT_EQ(CheckAssignedAliases(kFolderName, empty.get()), noErr);
  struct stat st;
  ASSERT_EQ(stat((prefs + "/com.kelvane.mouse.files").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(CheckAssignedAliases(reinterpret_cast<const UInt8*>(""), empty.get()), paramErr);
}

TEST_F(AssignedAliases, APathOfASymbolicLinkGivesTheLinkAndAnAliasOfItPointsThere) {
  TempDir items;
  WriteFile(items / "real.txt", "");
  ASSERT_EQ(symlink((items / "real.txt").c_str(), (items / "link.txt").c_str()), 0);
  FSRef ref;
  ASSERT_EQ(GetFSRefFromNSString((items / "link.txt").c_str(), &ref), noErr);
  struct stat st;
  ASSERT_EQ(lstat(corvimus::PathOfRef(&ref).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  FSRef folder = RefOf(AliasFolder());
  HFSUniStr255 name = Uni("link.txt");
  ASSERT_EQ(CreateAliasFile(&ref, &folder, &name), noErr);
  FSRef resolved = RefOf(AliasFolder() + "/link.txt");
  ASSERT_EQ(FSResolveAliasFile(&resolved, 1, nullptr, nullptr), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&resolved), corvimus::PathOfRef(&ref));

  ASSERT_EQ(GetFSRefFromNSString((items / "real.txt").c_str(), &ref), noErr);
  EXPECT_EQ(GetFSRefFromNSString((items / "none").c_str(), &ref), fnfErr);
  EXPECT_EQ(GetFSRefFromNSString(nullptr, &ref), paramErr);
  EXPECT_EQ(GetFSRefFromNSString("/", nullptr), paramErr);
}

TEST_F(AssignedAliases, CatalogInfoByNameAndByIndex) {
  SInt16 v;
  SInt32 id;
  ASSERT_EQ(GetAssignedAliasesFolder(kFolderName, 1, nullptr, &v, &id), noErr);
  WriteFile(AliasFolder() + "/file", "");
  ASSERT_EQ(mkdir((AliasFolder() + "/folder").c_str(), 0755), 0);
  FSSpec spec{v, id,
              "\x06"
              "folder"};
  SInt16 isFolder = 0;
  ASSERT_EQ(DoGetCatInfo(&spec, 0, nullptr, &isFolder), noErr);
  EXPECT_EQ(isFolder, 16);
  spec.name[0] = 0;
  CInfoPBRec pb;
  ASSERT_EQ(DoGetCatInfo(&spec, 1, &pb, &isFolder), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), spec.name[0]), "file");
  EXPECT_EQ(isFolder, 0);
  EXPECT_EQ(DoGetCatInfo(&spec, 3, &pb, &isFolder), fnfErr);
  EXPECT_EQ(DoGetCatInfo(nullptr, 1, &pb, &isFolder), paramErr);
}

TEST_F(AssignedAliases, AnActionsAliasOpensItsResolvedTargetAndNothingOnFailure) {
  std::vector<LSOpenRequest> opened;
  SetLaunchServicesOpenerForTesting([&](const LSOpenRequest& r) {
    opened.push_back(r);
    return OSStatus(noErr);
  });
  // Without the folder nothing is created and nothing opens.
  EXPECT_EQ(OpenAssignedAliasItem(reinterpret_cast<const UInt8*>("\x03"
                                                                 "doc")),
            fnfErr);
  EXPECT_TRUE(FolderNames(prefs, Sidecars::kHidden).empty());

  TempDir items;
  WriteFile(items / "doc.txt", "");
  ASSERT_EQ(MakeAlias(items / "doc.txt", "doc.txt"), noErr);
  EXPECT_EQ(OpenAssignedAliasItem(reinterpret_cast<const UInt8*>("\x07"
                                                                 "DOC.TXT")),
            noErr);
  ASSERT_EQ(opened.size(), 1u);
  FSRef doc = RefOf(items / "doc.txt");
  EXPECT_EQ(opened[0].path, corvimus::PathOfRef(&doc));
  EXPECT_EQ(opened[0].kind, kLSItemDocument);

  // A missing alias file, a target that is gone, an overlong name: nothing opens.
  EXPECT_EQ(OpenAssignedAliasItem(reinterpret_cast<const UInt8*>("\x05"
                                                                 "other")),
            fnfErr);
  UInt8 overlong[40] = {32};
  std::memset(overlong + 1, 'x', 32);
  EXPECT_EQ(OpenAssignedAliasItem(overlong), paramErr);
  unlink((items / "doc.txt").c_str());
  EXPECT_EQ(OpenAssignedAliasItem(reinterpret_cast<const UInt8*>("\x07"
                                                                 "doc.txt")),
            fnfErr);
  EXPECT_EQ(opened.size(), 1u);
  SetLaunchServicesOpenerForTesting(nullptr);
}

namespace {

std::string AliasName(const std::string& itemName) {
  Str31 out;
  MakeAssignedAliasName(itemName, out);
  return std::string(reinterpret_cast<const char*>(out + 1), out[0]);
}

}  // namespace

TEST(AssignedAliasNames, AreAsciiThatTheFileManagerTakesAsOneName) {
  EXPECT_EQ(AliasName("notes.txt"), "notes.txt");
  EXPECT_EQ(AliasName("Caf\xC3\xA9 \xF0\x9F\x8E\xB5.mp3"), "Caf? ?.mp3") << "one mark a character";
  EXPECT_EQ(AliasName("Meeting 10:30.pdf"), "Meeting 10?30.pdf");
  EXPECT_EQ(AliasName("::"), "??");
  EXPECT_EQ(AliasName("._notes"), "?_notes");
  EXPECT_EQ(AliasName("._"), "?_");
  EXPECT_EQ(AliasName(".notes"), ".notes") << "a hidden name is a name like any other";
  EXPECT_EQ(AliasName("a._b"), "a._b");
  EXPECT_EQ(AliasName(std::string(40, 'n')), std::string(31, 'n'));
  EXPECT_EQ(AliasName(std::string(30, 'n') + "\xC3\xA9\xC3\xA9"), std::string(30, 'n') + "?");
  EXPECT_EQ(AliasName("\xFF\xFE" "x"), "??x") << "bytes that are no UTF-8 count one by one";
  EXPECT_EQ(AliasName(""), "");
}

// The item the user chose opens, whatever its name: the alias file is made and found by the name
// the action holds, and the clean-up keeps it while an action names it.
TEST_F(AssignedAliases, ItemsWithColonsOrSidecarLikeNamesOpenThroughTheirAliases) {
  std::vector<LSOpenRequest> opened;
  SetLaunchServicesOpenerForTesting([&](const LSOpenRequest& r) {
    opened.push_back(r);
    return OSStatus(noErr);
  });
  TempDir items;
  std::vector<std::string> names = {"Meeting 10:30.pdf", "._notes", "12:00:00"};
  std::vector<std::pair<int, std::string>> slots;
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    WriteFile(items / names[i], "x");
    Str31 alias;
    MakeAssignedAliasName(names[i], alias);
    std::string aliasText(reinterpret_cast<const char*>(alias + 1), alias[0]);
    ASSERT_EQ(MakeAlias(items / names[i], aliasText.c_str()), noErr);
    ASSERT_EQ(OpenAssignedAliasItem(alias), noErr);
    ASSERT_EQ(opened.size(), i + 1);
    FSRef target = RefOf(items / names[i]);
    EXPECT_EQ(opened.back().path, corvimus::PathOfRef(&target));
    slots.emplace_back(int(i), aliasText);
  }
  BasePtr base = Base({Record(0, slots)});
  ASSERT_EQ(CheckAssignedAliases(kFolderName, base.get()), noErr);
  EXPECT_EQ(FolderNames(AliasFolder(), Sidecars::kHidden),
            (std::vector<std::string>{"12?00?00", "?_notes", "Meeting 10?30.pdf"}));
  SetLaunchServicesOpenerForTesting(nullptr);
}
