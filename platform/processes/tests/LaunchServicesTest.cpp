// Finding an application bundle by its creator code, in real folders.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/LaunchServices.h"
#include "testing/MacFiles.h"
#include "testing/PropertyListFiles.h"
#include "testing/TempDir.h"

namespace {

using corvimus::testing::RefOf;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

std::string XmlInfo(const std::string& signature) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>CFBundleExecutable</key><string>x</string>"
         "<key>CFBundleSignature</key><string>" +
         signature + "</string></dict></plist>\n";
}

std::string BinaryInfo(const std::string& signature) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleSignature", plist_new_string(signature.c_str()));
  std::string bytes = corvimus::testing::BinaryPropertyList(dict);
  plist_free(dict);
  return bytes;
}

void MakeBundle(const std::string& path, const std::string& info) {
  std::filesystem::create_directories(path + "/Contents/MacOS");
  WriteFile(path + "/Contents/Info.plist", info);
}

TEST(ReadBundleSignature, ReadsXmlAndBinaryPropertyLists) {
  TempDir dir;
  MakeBundle(dir / "A.app", XmlInfo("ttxt"));
  MakeBundle(dir / "B.app", BinaryInfo("CvMP"));
  OSType signature = 0;
  ASSERT_TRUE(corvimus::ReadBundleSignature(dir / "A.app", &signature));
  EXPECT_EQ(FourCC("ttxt"), signature);
  ASSERT_TRUE(corvimus::ReadBundleSignature(dir / "B.app", &signature));
  EXPECT_EQ(FourCC("CvMP"), signature);
}

TEST(ReadBundleSignature, RejectsBundlesWithoutAUsableSignature) {
  TempDir dir;
  MakeBundle(dir / "Long.app", XmlInfo("toolong"));
  MakeBundle(dir / "Short.app", XmlInfo("abc"));
  MakeBundle(dir / "Garbage.app", std::string("\x00\x01garbage<plist", 15));
  MakeBundle(dir / "Array.app",
             "<plist version=\"1.0\"><array><string>CvMP</string></array></plist>");
  MakeBundle(dir / "Number.app",
             "<plist version=\"1.0\"><dict><key>CFBundleSignature</key><integer>5</integer></dict>"
             "</plist>");
  std::filesystem::create_directories(dir / "Empty.app/Contents");
  for (const char* name : {"Long.app", "Short.app", "Garbage.app", "Array.app", "Number.app",
                           "Empty.app", "Missing.app"}) {
    OSType signature = 0x12345678;
    EXPECT_FALSE(corvimus::ReadBundleSignature(dir / name, &signature)) << name;
    EXPECT_EQ(0x12345678u, signature) << name;
  }
}

TEST(FindApplicationForCreator, SearchesFoldersInOrderOneLevelDeep) {
  TempDir dir;
  std::string user = dir / "user", local = dir / "local";
  MakeBundle(local + "/Editor.app", XmlInfo("ttxt"));
  MakeBundle(user + "/Utilities/Editor Copy.app", XmlInfo("ttxt"));
  MakeBundle(user + "/Utilities/Deep/Hidden.app", XmlInfo("deep"));
  MakeBundle(user + "/NotABundle", XmlInfo("nbnd"));
  MakeBundle(local + "/Mail.app", XmlInfo("emal"));

  std::string path;
  ASSERT_EQ(noErr, corvimus::FindApplicationForCreator(FourCC("ttxt"), {user, local}, &path));
  EXPECT_EQ(user + "/Utilities/Editor Copy.app", path);
  ASSERT_EQ(noErr, corvimus::FindApplicationForCreator(FourCC("ttxt"), {local, user}, &path));
  EXPECT_EQ(local + "/Editor.app", path);
  ASSERT_EQ(noErr, corvimus::FindApplicationForCreator(FourCC("emal"), {user, local}, &path));
  EXPECT_EQ(local + "/Mail.app", path);

  path = "unchanged";
  EXPECT_EQ(kLSApplicationNotFoundErr,
            corvimus::FindApplicationForCreator(FourCC("deep"), {user, local}, &path));
  EXPECT_EQ(kLSApplicationNotFoundErr,
            corvimus::FindApplicationForCreator(FourCC("nbnd"), {user, local}, &path));
  EXPECT_EQ(kLSApplicationNotFoundErr,
            corvimus::FindApplicationForCreator(FourCC("ttxt"), {dir / "none"}, &path));
  EXPECT_EQ("unchanged", path);
}

TEST(FindApplicationForCreator, SameFolderPicksNamesInByteOrder) {
  TempDir dir;
  MakeBundle(dir / "b.app", XmlInfo("dupl"));
  MakeBundle(dir / "B.app", XmlInfo("dupl"));
  MakeBundle(dir / "a.app", XmlInfo("othr"));
  std::string path;
  ASSERT_EQ(noErr, corvimus::FindApplicationForCreator(FourCC("dupl"), {dir.path()}, &path));
  EXPECT_EQ(dir / "B.app", path);
}

TEST(DefaultApplicationFolders, StartsWithTheUsersApplications) {
  TempDir dir;
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", dir.path().c_str(), 1);
  auto folders = corvimus::DefaultApplicationFolders();
  setenv("HOME", oldHome.c_str(), 1);
  ASSERT_GE(folders.size(), 2u);
  EXPECT_EQ(dir / "Applications", folders[0]);
  EXPECT_TRUE(folders[1].ends_with("/lib/corvimus/Applications")) << folders[1];
}

}  // namespace

namespace {

TEST(LSGetApplicationForInfo, FindsTheBundleInTheUsersApplications) {
  TempDir dir;
  MakeBundle(dir / "Applications/Tools/Editor.app", XmlInfo("ttxt"));
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", dir.path().c_str(), 1);
  FSRef ref;
  OSStatus found =
      LSGetApplicationForInfo(kLSUnknownType, FourCC("ttxt"), nullptr, kLSRolesAll, &ref, nullptr);
  OSStatus missing =
      LSGetApplicationForInfo(kLSUnknownType, FourCC("none"), nullptr, kLSRolesAll, &ref, nullptr);
  OSStatus noCreator =
      LSGetApplicationForInfo(kLSUnknownType, 0, nullptr, kLSRolesAll, &ref, nullptr);
  OSStatus noOutput = LSGetApplicationForInfo(kLSUnknownType, FourCC("ttxt"), nullptr, kLSRolesAll,
                                              nullptr, nullptr);
  setenv("HOME", oldHome.c_str(), 1);
  ASSERT_EQ(noErr, found);
  EXPECT_EQ(std::filesystem::canonical(dir / "Applications/Tools/Editor.app").string(),
            std::string(ref.path));
  EXPECT_EQ(kLSApplicationNotFoundErr, missing);
  EXPECT_EQ(paramErr, noCreator);
  EXPECT_EQ(paramErr, noOutput);
}

}  // namespace

TEST(LaunchServices, OpeningPicksProgramsBundlesAndDocumentsApart) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "");
  WriteFile(dir / "tool", "#!/bin/sh\n");
  chmod((dir / "tool").c_str(), 0755);
  ASSERT_EQ(mkdir((dir / "Folder").c_str(), 0755), 0);
  std::string app = dir / "Thing.app";
  ASSERT_EQ(mkdir(app.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((app + "/Contents").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((app + "/Contents/MacOS").c_str(), 0755), 0);
  WriteFile(app + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
            "<string>thing</string></dict></plist>");
  WriteFile(app + "/Contents/MacOS/thing", "#!/bin/sh\n");
  chmod((app + "/Contents/MacOS/thing").c_str(), 0755);

  std::vector<LSOpenRequest> requests;
  SetLaunchServicesOpenerForTesting([&](const LSOpenRequest& r) {
    requests.push_back(r);
    return OSStatus(noErr);
  });
  for (const std::string& p : {dir / "notes.txt", dir / "tool", dir / "Folder", app}) {
    FSRef ref = RefOf(p), launched;
    EXPECT_EQ(LSOpenFSRef(&ref, &launched), noErr) << p;
  }
  FSRef gone = RefOf(dir / "notes.txt");
  unlink((dir / "notes.txt").c_str());
  EXPECT_EQ(LSOpenFSRef(&gone, nullptr), fnfErr);
  SetLaunchServicesOpenerForTesting(nullptr);

  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].kind, kLSItemDocument);
  EXPECT_EQ(requests[1].kind, kLSItemProgram);
  EXPECT_EQ(requests[1].program, requests[1].path);
  EXPECT_EQ(requests[2].kind, kLSItemDocument);
  EXPECT_EQ(requests[3].kind, kLSItemBundle);
  EXPECT_EQ(requests[3].program, requests[3].path + "/Contents/MacOS/thing");
}
