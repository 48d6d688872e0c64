// The driver's service is stopped only when it is this installation's: the unit systemd loaded
// must be the bundle's own file, whatever links lead to it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "DriverService.h"
#include "testing/TempDir.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

TEST(DriverService, OnlyTheBundlesOwnUnitFileCounts) {
  TempDir dir;
  const std::string bundleUnit = dir / "Corvimus.kext-corvimusd.service";
  WriteFile(bundleUnit, "[Service]\n");
  WriteFile(dir / "other.service", "[Service]\n");
  ASSERT_EQ(symlink(bundleUnit.c_str(), (dir / "link.service").c_str()), 0);
  ASSERT_EQ(symlink((dir / "link.service").c_str(), (dir / "link-of-link.service").c_str()), 0);
  ASSERT_EQ(symlink((dir / "gone.service").c_str(), (dir / "dangling.service").c_str()), 0);

  EXPECT_TRUE(IsSameUnitFile(bundleUnit, bundleUnit));
  EXPECT_TRUE(IsSameUnitFile(dir / "link.service", bundleUnit));
  EXPECT_TRUE(IsSameUnitFile(dir / "link-of-link.service", bundleUnit));
  EXPECT_FALSE(IsSameUnitFile(dir / "other.service", bundleUnit));
  EXPECT_FALSE(IsSameUnitFile("", bundleUnit)) << "a unit systemd has no file for";
  EXPECT_FALSE(IsSameUnitFile(dir / "dangling.service", dir / "gone.service"))
      << "a bundle already removed";
}

TEST(DriverService, AnotherInstallationsServiceIsLeftAlone) {
  // Whatever systemd runs here, a unit file in a fresh folder is not what it has loaded.
  TempDir dir;
  WriteFile(dir / "corvimusd.service", "[Service]\n");
  EXPECT_EQ(StopDriverService(dir / "corvimusd.service"), fnfErr);
}
