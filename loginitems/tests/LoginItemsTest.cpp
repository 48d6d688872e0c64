#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "loginitems/LoginItems.h"
#include "platform/FileRefs.h"
#include "platform/LoginWindow.h"
#include "platform/PropertyLists.h"
#include "testing/MacFiles.h"
#include "testing/PropertyListFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::BinaryPropertyList;
using corvimus::testing::FolderNames;
using corvimus::testing::LoginItemListXml;
using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

using Entry = corvimus::testing::LoginItem;

// The entries of the file, or fails the test when the file is not a well-formed login-item list.
std::vector<Entry> Entries(const std::string& file) {
  PropertyList root;
  PropertyListContent content;
  EXPECT_EQ(ReadPropertyListFile(file, &content, &root), noErr);
  EXPECT_EQ(content, kPropertyListParsed);
  std::vector<Entry> out;
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    ADD_FAILURE() << "root is not a dictionary";
    return out;
  }
  plist_t items = plist_dict_get_item(root.get(), kLoginItemsKey);
  if (!items || plist_get_node_type(items) != PLIST_ARRAY) {
    ADD_FAILURE() << "no item array";
    return out;
  }
  for (uint32_t k = 0; k < plist_array_get_size(items); ++k) {
    plist_t entry = plist_array_get_item(items, k);
    plist_t p = plist_dict_get_item(entry, "Path");
    plist_t h = plist_dict_get_item(entry, "Hide");
    char* text = nullptr;
    plist_get_string_val(p, &text);
    uint8_t hide = 0;
    if (h) plist_get_bool_val(h, &hide);
    out.push_back({text ? text : "", hide != 0});
    free(text);
    EXPECT_EQ(plist_dict_get_size(entry), 2u) << "an entry holds Path and Hide only";
  }
  return out;
}

const std::string kAgent = "/opt/corvimus/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app";

class LoginItems : public ::testing::Test {
 protected:
  TempDir prefs;
  std::string file = prefs / "loginwindow.plist";

  std::string Contents() {
    std::string bytes;
    EXPECT_TRUE(ReadFile(file, &bytes));
    return bytes;
  }
  OSStatus Add(const char* path, const char* alt, SInt16 hide, SInt16 replace, SInt16* present) {
    return AddLoginItemInFolderPath(prefs.path(), path, alt, hide, replace, present);
  }
  OSStatus Remove(const char* suffix, SInt16* count) {
    return RemoveLoginItemsInFolderPath(prefs.path(), suffix, count);
  }
};

}  // namespace

TEST_F(LoginItems, AddingToAMissingFileCreatesAListWithOnlyTheItem) {
  SInt16 present = 7;
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, &present), noErr);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(Entries(file), (std::vector<Entry>{{kAgent, false}}));
  PropertyList root;
  PropertyListContent content;
  ReadPropertyListFile(file, &content, &root);
  EXPECT_EQ(plist_dict_get_size(root.get()), 1u);
  EXPECT_NE(Contents().find("<?xml"), std::string::npos) << "written as XML";
  EXPECT_EQ(FolderNames(prefs.path()), std::vector<std::string>{"loginwindow.plist"})
      << "no temporary file left behind";
}

TEST_F(LoginItems, ContentThatIsNoPropertyListIsReplacedByAFreshList) {
  WriteFile(file, "this is not a property list\n");
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 1, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file), (std::vector<Entry>{{kAgent, true}}));
}

TEST_F(LoginItems, ABinaryListIsReadAndWrittenBackAsXmlKeepingOtherKeys) {
  PropertyList root(plist_new_dict());
  plist_dict_set_item(root.get(), "BuildVersionStampAsString", plist_new_string("10B504"));
  plist_t items = plist_new_array();
  plist_t other = plist_new_dict();
  plist_dict_set_item(other, "Hide", plist_new_bool(0));
  plist_dict_set_item(other, "Path", plist_new_string("/Applications/Clock.app"));
  plist_array_append_item(items, other);
  plist_dict_set_item(root.get(), kLoginItemsKey, items);
  WriteFile(file, BinaryPropertyList(root.get()));

  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, nullptr), noErr);
  std::string text = Contents();
  EXPECT_EQ(text.rfind("bplist", 0), std::string::npos);
  EXPECT_NE(text.find("<string>10B504</string>"), std::string::npos);
  EXPECT_EQ(Entries(file),
            (std::vector<Entry>{{"/Applications/Clock.app", false}, {kAgent, false}}));
}

TEST_F(LoginItems, AnExactMatchInOtherLetterCaseWritesNothingAndSetsTheFlag) {
  std::string upper = "/OPT/corvimus/Corvimus.prefPane/Contents/Resources/CORVIMUSHELPER.APP";
  const std::string before = LoginItemListXml({{"/a/Mail.app", false}, {upper, true}});
  WriteFile(file, before);
  SInt16 present = 0;
  // A different hide value does not count: the entry stays as it is.
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, &present), noErr);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(Contents(), before);
}

TEST_F(LoginItems, CaseFoldingCoversLettersBeyondAscii) {
  EXPECT_TRUE(EqualIgnoringCase("/Übung/Ärger.app", "/übung/ärger.APP"));
  EXPECT_FALSE(EqualIgnoringCase("/a/b.app", "/a/b.ap"));
  EXPECT_FALSE(EqualIgnoringCase("/a/\xff", "/a/\xfe"));
  EXPECT_TRUE(EqualIgnoringCase("\xc3", "\xc3"));
}

TEST_F(LoginItems, ASimilarEntryStaysWithoutReplaceAndIsReplacedInPlaceWithIt) {
  const std::string old = "/old/place/CorvimusHelper.app";
  WriteFile(file, LoginItemListXml({{"/a/First.app", false}, {old, true}, {"/a/Last.app", false}}));
  SInt16 present = 9;
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 0, &present), noErr);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(Entries(file),
            (std::vector<Entry>{
                {"/a/First.app", false}, {old, true}, {"/a/Last.app", false}, {kAgent, false}}));

  WriteFile(file, LoginItemListXml({{"/a/First.app", false}, {old, true}, {"/a/Last.app", false}}));
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, &present), noErr);
  EXPECT_EQ(Entries(file),
            (std::vector<Entry>{{"/a/First.app", false}, {kAgent, false}, {"/a/Last.app", false}}));
}

TEST_F(LoginItems, AnExactMatchAmongSeveralReplacesTheFirstEvenWithoutReplaceSimilar) {
  const std::string old = "/old/place/CorvimusHelper.app";
  WriteFile(file, LoginItemListXml({{old, false}, {"/a/Mail.app", false}, {kAgent, true}}));
  SInt16 present = 0;
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 1, 0, &present), noErr);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(Entries(file), (std::vector<Entry>{{kAgent, true}, {"/a/Mail.app", false}}));
}

TEST_F(LoginItems, TheAlternativeSuffixAlsoMakesEntriesSimilar) {
  WriteFile(file, LoginItemListXml({{"/x/OldHelperName.app", false}, {"/x/Other.app", false}}));
  ASSERT_EQ(Add(kAgent.c_str(), "HelperName.app", 0, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file), (std::vector<Entry>{{kAgent, false}, {"/x/Other.app", false}}));
  // An empty alternative suffix is no suffix: it must not make every entry similar.
  ASSERT_EQ(Add("/y/New.app", "", 0, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file),
            (std::vector<Entry>{{kAgent, false}, {"/x/Other.app", false}, {"/y/New.app", false}}));
}

TEST_F(LoginItems, SuffixTestsRespectLetterCase) {
  WriteFile(file, LoginItemListXml({{"/old/corvimushelper.app", false}}));
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file).size(), 2u);
}

TEST_F(LoginItems, TheNameOfAPathWithoutOrEndingInASlash) {
  // Without "/", the whole path is the name.
  WriteFile(file, LoginItemListXml({{"/bin/tool", false}}));
  ASSERT_EQ(Add("tool", nullptr, 0, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file), (std::vector<Entry>{{"tool", false}}));
  // A final "/" stays part of the name, so an entry written without it is not similar.
  WriteFile(file, LoginItemListXml({{"/old/Thing.app", false}}));
  ASSERT_EQ(Add("/new/Thing.app/", nullptr, 0, 1, nullptr), noErr);
  EXPECT_EQ(Entries(file),
            (std::vector<Entry>{{"/old/Thing.app", false}, {"/new/Thing.app/", false}}));
}

TEST_F(LoginItems, AtMostSixteenMatchesAreMergedAndTheRestStay) {
  std::vector<Entry> twenty;
  for (int k = 0; k < 20; ++k)
    twenty.push_back({"/v" + std::to_string(k) + "/CorvimusHelper.app", false});
  std::vector<Entry> withOthers = twenty;
  withOthers.insert(withOthers.begin(), {"/first/Other.app", true});
  WriteFile(file, LoginItemListXml(withOthers));
  ASSERT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, nullptr), noErr);
  std::vector<Entry> expected{{"/first/Other.app", true}, {kAgent, false}};
  expected.insert(expected.end(), twenty.begin() + 16, twenty.end());
  EXPECT_EQ(Entries(file), expected);

  WriteFile(file, LoginItemListXml(withOthers));
  SInt16 count = 0;
  ASSERT_EQ(Remove("/CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 16);
  expected = {{"/first/Other.app", true}};
  expected.insert(expected.end(), twenty.begin() + 16, twenty.end());
  EXPECT_EQ(Entries(file), expected);
}

TEST_F(LoginItems, RemovalBySuffixKeepsTheOrderOfTheOthers) {
  WriteFile(file, LoginItemListXml({{"/a/One.app", false},
                                    {"/b/CorvimusHelper.app", false},
                                    {"/a/Two.app", true},
                                    {kAgent, true},
                                    {"/a/Three.app", false}}));
  SInt16 count = 0;
  ASSERT_EQ(Remove("CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(
      Entries(file),
      (std::vector<Entry>{{"/a/One.app", false}, {"/a/Two.app", true}, {"/a/Three.app", false}}));
}

TEST_F(LoginItems, RemovalThatMatchesNothingDoesNotRewriteTheFile) {
  PropertyList root(plist_new_dict());
  plist_dict_set_item(root.get(), kLoginItemsKey, plist_new_array());
  const std::string before = BinaryPropertyList(root.get());
  WriteFile(file, before);
  SInt16 count = 5;
  EXPECT_EQ(Remove("CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Contents(), before);
}

TEST_F(LoginItems, RemovalFromAMissingFileCreatesAnEmptyOneAndReportsUnreadable) {
  SInt16 count = 5;
  EXPECT_EQ(Remove("CorvimusHelper.app", &count), resNotFound);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Contents(), "");
  // Garbage and a list without items are unreadable to a removal too, and stay as they were.
  WriteFile(file, "garbage");
  EXPECT_EQ(Remove("CorvimusHelper.app", &count), resNotFound);
  EXPECT_EQ(Contents(), "garbage");
  const std::string noItems =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><true/></dict></plist>";
  WriteFile(file, noItems);
  EXPECT_EQ(Remove("CorvimusHelper.app", &count), resNotFound);
  EXPECT_EQ(Contents(), noItems);
}

TEST_F(LoginItems, MissingOrEmptyArgumentsAreRefused) {
  SInt16 flag = 3;
  EXPECT_EQ(Add(nullptr, nullptr, 0, 1, &flag), paramErr);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(Add("", nullptr, 0, 1, nullptr), paramErr);
  EXPECT_EQ(Remove(nullptr, nullptr), paramErr);
  EXPECT_EQ(Remove("", nullptr), paramErr);
  EXPECT_EQ(FolderNames(prefs.path()).size(), 0u) << "nothing created";
}

TEST_F(LoginItems, AMissingPreferencesFolderIsNotCreated) {
  const std::string gone = prefs / "missing";
  EXPECT_NE(AddLoginItemInFolderPath(gone, kAgent.c_str(), nullptr, 0, 1, nullptr), noErr);
  EXPECT_NE(RemoveLoginItemsInFolderPath(gone, "x", nullptr), noErr);
  EXPECT_EQ(FolderNames(prefs.path()).size(), 0u);
}

// Content of another shape is somebody's data: neither call changes it.
TEST_F(LoginItems, WrongShapesAreUnreadableAndLeftAlone) {
  const std::vector<std::string> shapes = {
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AutoLaunchedApplicationDictionary"
      "</key><dict><key>Path</key><string>/a/CorvimusHelper.app</string></dict></dict></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AutoLaunchedApplicationDictionary"
      "</key><string>/a/CorvimusHelper.app</string></dict></plist>",
  };
  for (const std::string& shape : shapes) {
    WriteFile(file, shape);
    SInt16 flag = 4;
    EXPECT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, &flag), resNotFound) << shape;
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Remove("CorvimusHelper.app", &flag), resNotFound) << shape;
    EXPECT_EQ(Contents(), shape);
  }
}

TEST_F(LoginItems, ElementsThatAreNoDictionariesOrHaveNoStringPathAreSkippedAndKept) {
  WriteFile(file,
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
            "<key>AutoLaunchedApplicationDictionary</key><array>"
            "<string>/a/CorvimusHelper.app</string>"
            "<dict><key>Path</key><integer>7</integer></dict>"
            "<dict><key>Hide</key><true/></dict>"
            "<dict><key>Path</key><string>/b/CorvimusHelper.app</string></dict>"
            "</array></dict></plist>");
  SInt16 count = 0;
  ASSERT_EQ(Remove("CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 1);
  PropertyList root;
  PropertyListContent content;
  ASSERT_EQ(ReadPropertyListFile(file, &content, &root), noErr);
  plist_t items = plist_dict_get_item(root.get(), kLoginItemsKey);
  ASSERT_EQ(plist_array_get_size(items), 3u);
  EXPECT_EQ(plist_get_node_type(plist_array_get_item(items, 0)), PLIST_STRING);
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(plist_array_get_item(items, 1), "Path")),
            PLIST_UINT);
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(plist_array_get_item(items, 2), "Hide")),
            PLIST_BOOLEAN);
}

// Hostile files are neither parsed to a crash nor rewritten: both calls leave them byte for byte.
TEST_F(LoginItems, HugeOrDeeplyNestedFilesAreUnreadableAndUntouched) {
  std::string deep =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
      "<key>AutoLaunchedApplicationDictionary</key><array>";
  for (int i = 0; i < 300000; ++i) deep += "<array>";
  for (int i = 0; i < 300000; ++i) deep += "</array>";
  deep += "</array></dict></plist>";
  std::string huge = LoginItemListXml({{"/a/CorvimusHelper.app", false}});
  huge.insert(huge.find("<array>"), std::string(kPropertyListMaxFileSize, '\n'));
  for (const std::string& content : {deep, huge}) {
    WriteFile(file, content);
    SInt16 flag = 0;
    EXPECT_EQ(Add(kAgent.c_str(), nullptr, 0, 1, &flag), resNotFound);
    EXPECT_EQ(Remove("CorvimusHelper.app", &flag), resNotFound);
    EXPECT_TRUE(Contents() == content);
  }
}

// The public calls find the user's Preferences folder through the folder mapping.
class LoginItemsOfUser : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CONFIG_HOME");
    saved = old ? old : "";
    hadOld = old != nullptr;
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld)
      setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  TempDir home;
  std::string saved;
  bool hadOld = false;
};

TEST_F(LoginItemsOfUser, AddAndRemoveWorkInTheUsersPreferencesFolder) {
  SInt16 flag = 5;
  // The folder is never created here.
  EXPECT_NE(AddLoginItem(kAgent.c_str(), nullptr, 0, 1, &flag), noErr);
  EXPECT_EQ(flag, 0);
  EXPECT_TRUE(FolderNames(home.path()).empty());

  ASSERT_EQ(mkdir((home / ".config").c_str(), 0755), 0);
  ASSERT_EQ(AddLoginItem(kAgent.c_str(), nullptr, 0, 1, &flag), noErr);
  EXPECT_EQ(Entries(home / ".config/loginwindow.plist"), (std::vector<Entry>{{kAgent, false}}));
  ASSERT_EQ(AddLoginItem(kAgent.c_str(), nullptr, 0, 1, &flag), noErr);
  EXPECT_EQ(flag, 1);

  SInt16 count = 0;
  ASSERT_EQ(RemoveLoginItem("/CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(Entries(home / ".config/loginwindow.plist").empty());
  EXPECT_EQ(RemoveLoginItem(nullptr, &count), paramErr);
}

TEST_F(LoginItemsOfUser, RemovalForAnotherUserUsesThatUsersHome) {
  TempDir other;
  ASSERT_EQ(mkdir((other / ".config").c_str(), 0755), 0);
  WriteFile(other / ".config/loginwindow.plist",
            LoginItemListXml({{"/x/CorvimusHelper.app", false}, {"/x/Keep.app", false}}));
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(other.path().c_str()), &ref, nullptr),
            noErr);
  SInt16 count = 0;
  ASSERT_EQ(RemoveLoginItemForUser(&ref, "CorvimusHelper.app", &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Entries(other / ".config/loginwindow.plist"),
            (std::vector<Entry>{{"/x/Keep.app", false}}));
  EXPECT_EQ(RemoveLoginItemForUser(nullptr, "x", &count), paramErr);
  EXPECT_EQ(RemoveLoginItemsInFolder(&ref, nullptr, &count), paramErr);
  // A home without a Preferences folder: the path cannot be made, nothing is created.
  TempDir bare;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(bare.path().c_str()), &ref, nullptr),
            noErr);
  EXPECT_EQ(RemoveLoginItemForUser(&ref, "CorvimusHelper.app", &count), fnfErr);
  EXPECT_TRUE(FolderNames(bare.path()).empty());
}
