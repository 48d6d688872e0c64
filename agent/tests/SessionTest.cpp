#include <dlfcn.h>
#include <gtest/gtest.h>
#include <systemd/sd-login.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/Session.h"
#include "coregraphics/LoginSessions.h"
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
  // The probe is a child of this process and so shares its login session, if there is one; when
  // that is on no seat, the user's display session counts. (Where no login manager runs, as in a
  // container, neither exists and the dictionary has no answer.)
  auto onASeat = [](const char* session) {
    char* seat = nullptr;
    bool on = sd_session_get_seat(session, &seat) >= 0 && seat && *seat;
    std::free(seat);
    return on;
  };
  std::string expected = "1 dict\n";
  char* own = nullptr;
  char* display = nullptr;
  const char* session = nullptr;
  if (sd_pid_get_session(0, &own) >= 0 && own && onASeat(own))
    session = own;
  else if (sd_uid_get_display(getuid(), &display) >= 0 && display && onASeat(display))
    session = display;
  if (session) {
    const int active = sd_session_is_active(session);
    if (active >= 0)
      expected = active ? "1 dict kCGSSessionOnConsoleKey=true\n"
                        : "0 dict kCGSSessionOnConsoleKey=false\n";
  }
  std::free(own);
  std::free(display);
  EXPECT_EQ(Probe(prefix), expected);

  // A program in the build tree finds the bundle the build put in place.
  auto result = RunProgram({SESSION_PROBE}, {}, {"CORVIMUS_PREFIX="});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, expected);
}

// A login manager as a table, for the logind stand-in: the sessions, on which seat each sits and
// whether it is the one in front there, the caller's own session and the user's display session.
struct FakeSession {
  std::string id, seat;
  bool active = false;
};
struct FakeLogin {
  std::vector<FakeSession> sessions;
  std::string own, display;  // empty: none
  bool activeFails = false;
};
FakeLogin gLogin;

char* Copy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}
const FakeSession* FindSession(const char* id) {
  for (const auto& s : gLogin.sessions)
    if (s.id == id) return &s;
  return nullptr;
}
const CorvimusLoginSessions kFakeLogin = {
    [](pid_t, char** out) {
      if (gLogin.own.empty()) return -ENODATA;
      *out = Copy(gLogin.own);
      return 0;
    },
    [](const char* id, char** out) {
      const FakeSession* s = FindSession(id);
      if (!s) return -ENXIO;
      if (s->seat.empty()) return -ENODATA;
      *out = Copy(s->seat);
      return 0;
    },
    [](uid_t, char** out) {
      if (gLogin.display.empty()) return -ENODATA;
      *out = Copy(gLogin.display);
      return 0;
    },
    [](const char* id) {
      const FakeSession* s = FindSession(id);
      if (!s || gLogin.activeFails) return -ENXIO;
      return s->active ? 1 : 0;
    },
};

// What the logind stand-in answers with the table above in logind's place: "true", "false", or
// "none" for a dictionary without the key.
std::string AnswerWith(const FakeLogin& login) {
  void* library = dlopen(LOGIND_COREGRAPHICS, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  if (!library) return "no library";
  auto setSessions = reinterpret_cast<void (*)(const CorvimusLoginSessions*)>(
      dlsym(library, "CorvimusSetLoginSessionsForTesting"));
  auto copyDictionary =
      reinterpret_cast<plist_t (*)()>(dlsym(library, "CGSessionCopyCurrentDictionary"));
  EXPECT_NE(setSessions, nullptr);
  EXPECT_NE(copyDictionary, nullptr);
  if (!setSessions || !copyDictionary) return "no function";
  gLogin = login;
  setSessions(&kFakeLogin);
  plist_t dict = copyDictionary();
  setSessions(nullptr);
  std::string answer = "no dictionary";
  if (dict) {
    answer = "none";
    if (plist_t value = plist_dict_get_item(dict, kCGSSessionOnConsoleKey)) {
      uint8_t b = 0;
      plist_get_bool_val(value, &b);
      answer = b ? "true" : "false";
    }
    plist_free(dict);
  }
  dlclose(library);
  return answer;
}

// Two users on seat0 with fast user switching: "2" is in front, "1" waits behind it; "9" is a remote
// shell, on no seat (logind calls such sessions active).
TEST(LogindSessionStandIn, TheSessionOnASeatDecidesEvenForAgentsOutsideOne) {
  const std::vector<FakeSession> sessions = {
      {"1", "seat0", false}, {"2", "seat0", true}, {"9", "", true}};
  struct Case {
    const char* what;
    std::string own, display;
    const char* answer;
  };
  const Case cases[] = {
      {"started in the session in front", "2", "2", "true"},
      {"started in the session switched away from", "1", "1", "false"},
      {"a user service of the user in front", "", "2", "true"},
      {"a user service of the user switched away from", "", "1", "false"},
      {"started from a remote shell of the user switched away from", "9", "1", "false"},
      {"started from a remote shell of the user in front", "9", "2", "true"},
      {"a remote shell and no desktop", "9", "", "none"},
      {"no session and no desktop", "", "", "none"},
      {"a session the login manager does not know", "5", "", "none"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AnswerWith({sessions, c.own, c.display}), c.answer) << c.what;
  FakeLogin failing{sessions, "2", "2"};
  failing.activeFails = true;
  EXPECT_EQ(AnswerWith(failing), "none") << "the login manager cannot tell";
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
