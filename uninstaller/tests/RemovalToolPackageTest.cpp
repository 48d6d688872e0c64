// How the removal tool tells a package's installation from one of its own: dpkg's answers read,
// and the real dpkg asked about files it does and does not know. Purging a package for real is
// tested in the virtual machine (packaging/tests), never on this machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "PackageManager.h"
#include "testing/TempDir.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

const std::string kKext = "/usr/lib/corvimus/Extensions/Corvimus.kext";

}  // namespace

TEST(PackageFromSearchOutput, TheOneOwnerOfThatVeryPathIsTaken) {
  EXPECT_EQ(PackageFromSearchOutput("corvimus: " + kKext + "\n", kKext), "corvimus");
  EXPECT_EQ(PackageFromSearchOutput("corvimus: " + kKext, kKext), "corvimus") << "no last newline";
  EXPECT_EQ(PackageFromSearchOutput("corvimus:amd64: " + kKext + "\n", kKext), "corvimus:amd64");
  // Diversions are about someone else's file and are passed over.
  EXPECT_EQ(PackageFromSearchOutput("diversion by other from: " + kKext +
                                        "\ndiversion by other to: " + kKext +
                                        ".real\ncorvimus: " + kKext + "\n",
                                    kKext),
            "corvimus");
}

TEST(PackageFromSearchOutput, AnythingElseNamesNoPackage) {
  EXPECT_EQ(PackageFromSearchOutput("", kKext), "");
  // A shared folder is no one package's.
  EXPECT_EQ(PackageFromSearchOutput("corvimus, other: " + kKext + "\n", kKext), "");
  EXPECT_EQ(PackageFromSearchOutput("corvimus: " + kKext + "\nother: " + kKext + "\n", kKext), "");
  // Only that very path counts, not one it is the start or the end of.
  EXPECT_EQ(PackageFromSearchOutput("corvimus: " + kKext + "/Contents\n", kKext), "");
  EXPECT_EQ(PackageFromSearchOutput("corvimus: /opt" + kKext + "\n", "/opt" + kKext + "x"), "");
  EXPECT_EQ(PackageFromSearchOutput("local diversion from: " + kKext + "\n", kKext), "");
  // Nothing that is not a package name ever reaches dpkg.
  EXPECT_EQ(PackageFromSearchOutput("Corvimus: " + kKext + "\n", kKext), "");
  EXPECT_EQ(PackageFromSearchOutput("-rf: " + kKext + "\n", kKext), "");
  EXPECT_EQ(PackageFromSearchOutput("a;b: " + kKext + "\n", kKext), "");
}

TEST(IsPackageName, FollowsDebiansRules) {
  for (const char* good :
       {"corvimus", "g++", "libqt6core6", "x11-utils", "lib.a-b+c", "corvimus:amd64", "0ad"})
    EXPECT_TRUE(IsPackageName(good)) << good;
  for (const char* bad : {"", "c", "Corvimus", "-corvimus", ".corvimus", "corvimus:", "a b",
                          "corvimus:AMD64", "corvimus;x", "corvimus/x", "corvimus_1"})
    EXPECT_FALSE(IsPackageName(bad)) << bad;
}

TEST(PackageOwningPath, DpkgIsAskedAndOnlyItsOwnFilesBelongToAPackage) {
  if (access(kDpkgQueryProgram, X_OK) != 0) GTEST_SKIP() << "no dpkg on this machine";
  EXPECT_EQ(PackageOwningPath(kDpkgQueryProgram), "dpkg");
  TempDir dir;
  WriteFile(dir / "Corvimus.kext", "");
  EXPECT_EQ(PackageOwningPath(dir / "Corvimus.kext"), "");
  EXPECT_EQ(PackageOwningPath(dir / "missing"), "");
}

TEST(PackageOwningPath, OnlyAPlainAbsolutePathIsAskedAbout) {
  // dpkg would take these as patterns matching many files, or search by a part of the name.
  EXPECT_EQ(PackageOwningPath("usr/bin/dpkg-query"), "");
  EXPECT_EQ(PackageOwningPath("/usr/bin/dpkg-quer*"), "");
  EXPECT_EQ(PackageOwningPath("/usr/bin/dpkg-quer?"), "");
  EXPECT_EQ(PackageOwningPath("/usr/bin/dpkg-quer[y]"), "");
  EXPECT_EQ(PackageOwningPath(""), "");
}

TEST(PurgePackage, ANameDpkgWouldTakeForAnOptionIsRefused) {
  EXPECT_EQ(PurgePackage("--purge-all"), paramErr);
  EXPECT_EQ(PurgePackage(""), paramErr);
}
