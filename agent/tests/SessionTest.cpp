#include <gtest/gtest.h>
#include <systemd/sd-login.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "agent/Session.h"
#include "testing/TempDir.h"

namespace {

using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;

namespace fs = std::filesystem;

std::string Bundle(const std::string& kind) {
  return std::string(SESSION_BUNDLE_DIR) + "/libsession_bundle_" + kind + ".so";
}

// An installation prefix whose Frameworks folder holds `bundleFile` as CoreGraphics (none when
// empty).
void InstallCoreGraphics(const TempDir& prefix, const std::string& bundleFile) {
  const fs::path dir =
      fs::path(prefix.path()) / "lib/corvimus/Frameworks" / kCoreGraphicsBundlePath;
  fs::create_directories(dir);
  fs::copy_file(bundleFile, dir / "CoreGraphics");
}

std::string Probe(const TempDir& prefix, const std::string& installBetween = {}) {
  std::vector<std::string> argv = {SESSION_PROBE};
  if (!installBetween.empty()) argv.push_back(installBetween);
  auto result = RunProgram(argv, {}, {"CORVIMUS_PREFIX=" + prefix.path()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return result.out;
}

TEST(SessionOnConsole, MissingBundleCountsAsOnConsoleAndIsNeverTriedAgain) {
  TempDir prefix;
  // A bundle that would say "not on the console" appears after the first look: it is not loaded.
  EXPECT_EQ(Probe(prefix, Bundle("not_on_console")), "1 null\n1 null\n");
  // The Frameworks folder was made on the way.
  EXPECT_TRUE(fs::is_directory(prefix / "lib/corvimus/Frameworks"));
  // A fresh process finds it.
  EXPECT_EQ(Probe(prefix), "0 dict kCGSSessionOnConsoleKey=false kCGSSessionUserIDKey=other\n");
}

TEST(SessionOnConsole, FollowsTheBooleanOfTheDictionary) {
  TempDir offConsole, onConsole;
  InstallCoreGraphics(offConsole, Bundle("not_on_console"));
  InstallCoreGraphics(onConsole, Bundle("on_console"));
  EXPECT_EQ(Probe(offConsole), "0 dict kCGSSessionOnConsoleKey=false kCGSSessionUserIDKey=other\n");
  EXPECT_EQ(Probe(onConsole), "1 dict kCGSSessionOnConsoleKey=true kCGSSessionUserIDKey=other\n");
}

TEST(SessionOnConsole, NoAnswerCountsAsOnConsole) {
  TempDir noKey, notBoolean, noDictionary, noFunction;
  InstallCoreGraphics(noKey, Bundle("no_key"));
  InstallCoreGraphics(notBoolean, Bundle("not_a_boolean"));
  InstallCoreGraphics(noDictionary, Bundle("no_dictionary"));
  InstallCoreGraphics(noFunction, Bundle("no_function"));
  EXPECT_EQ(Probe(noKey), "1 dict kCGSSessionUserIDKey=other\n");
  EXPECT_EQ(Probe(notBoolean), "1 dict kCGSSessionOnConsoleKey=other kCGSSessionUserIDKey=other\n");
  EXPECT_EQ(Probe(noDictionary), "1 null\n");
  EXPECT_EQ(Probe(noFunction), "1 null\n");
}

TEST(SessionOnConsole, LogindBundleReportsTheCallersSession) {
  TempDir prefix;
  InstallCoreGraphics(prefix, LOGIND_COREGRAPHICS);
  // The probe is a child of this process and so shares its login session, if there is one.
  char* session = nullptr;
  std::string expected = "1 dict\n";
  if (sd_pid_get_session(0, &session) >= 0 && session) {
    const int active = sd_session_is_active(session);
    if (active >= 0)
      expected = active ? "1 dict kCGSSessionOnConsoleKey=true\n"
                        : "0 dict kCGSSessionOnConsoleKey=false\n";
    std::free(session);
  }
  EXPECT_EQ(Probe(prefix), expected);

  // A program in the build tree finds the bundle the build put in place.
  auto result = RunProgram({SESSION_PROBE}, {}, {"CORVIMUS_PREFIX="});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, expected);
}

TEST(LoadFrameworkBundle, RefusesWhatIsNotALoadableBundle) {
  TempDir prefix;
  setenv("CORVIMUS_PREFIX", prefix.path().c_str(), 1);
  FrameworkBundleRef bundle = reinterpret_cast<FrameworkBundleRef>(1);
  EXPECT_EQ(LoadFrameworkBundle("Missing.framework", &bundle), coreFoundationUnknownErr);
  EXPECT_EQ(bundle, nullptr);
  fs::create_directories(prefix / "lib/corvimus/Frameworks/Junk.framework");
  corvimus::testing::WriteFile(prefix / "lib/corvimus/Frameworks/Junk.framework/Junk",
                               "not a shared library");
  EXPECT_EQ(LoadFrameworkBundle("Junk.framework", &bundle), coreFoundationUnknownErr);
  EXPECT_EQ(bundle, nullptr);

  fs::create_directories(prefix / "lib/corvimus/Frameworks/Good.framework");
  fs::copy_file(Bundle("on_console"), prefix / "lib/corvimus/Frameworks/Good.framework/Good");
  ASSERT_EQ(LoadFrameworkBundle("Good.framework", &bundle), noErr);
  EXPECT_NE(bundle, nullptr);
  unsetenv("CORVIMUS_PREFIX");
}

}  // namespace
