#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "SettingsTestSupport.h"
#include "settings/MouseSettings.h"

using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
using namespace settingstest;

namespace {

using GetIndStringFn = void (*)(SInt16, SInt16, unsigned char*);
using LoadDefaultsFn = OSErr (*)(CorvimusPrefsRec*);

// Copies the probe plug-in to `folder` and loads it from there.
class Probe {
 public:
  explicit Probe(const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::string path = folder + "/probe.so";
    std::filesystem::copy_file(SETTINGS_BUNDLE_PROBE, path,
                               std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << dlerror();
    if (handle_) {
      getIndString = reinterpret_cast<GetIndStringFn>(dlsym(handle_, "ProbeGetIndString"));
      loadDefaults = reinterpret_cast<LoadDefaultsFn>(dlsym(handle_, "ProbeLoadDefaults"));
    }
  }
  ~Probe() {
    if (handle_) dlclose(handle_);
  }
  std::string String(SInt16 list, SInt16 index) {
    unsigned char s[256] = {};
    getIndString(list, index, s);
    return std::string(reinterpret_cast<char*>(s) + 1, s[0]);
  }

  GetIndStringFn getIndString = nullptr;
  LoadDefaultsFn loadDefaults = nullptr;

 private:
  void* handle_ = nullptr;
};

class BundleStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("XDG_CONFIG_HOME", tmp / "config");
    env.Unset("LANGUAGE");
    env.Unset("LC_ALL");
    env.Unset("LC_MESSAGES");
    env.Set("LANG", "fr_FR.UTF-8");
    mkdir((tmp / "config").c_str(), 0700);
    std::string res = tmp / "Corvimus.prefPane/Contents/Resources";
    std::filesystem::create_directories(res + "/en.lproj");
    std::filesystem::create_directories(res + "/fr.lproj");
    WriteFile(res + "/en.lproj/StringLists.strings",
              "/* the global record */\n\"132.1\" = \"Global settings\";\n"
              "\"132.2\" = \"Second\"; // a comment\n");
    WriteFile(res + "/fr.lproj/StringLists.strings",
              "\"132.1\" = \"R\\U00E9glages g\xC3\xA9n\xC3\xA9raux\";\n");
  }
  TempDir tmp;
  ScopedEnv env;
};

TEST_F(BundleStrings, ReadsStringListsOfTheBundleTheCodeLivesIn) {
  Probe probe(tmp / "Corvimus.prefPane/Contents/MacOS");
  ASSERT_TRUE(probe.getIndString);
  EXPECT_EQ(probe.String(132, 1), "R\xC3\xA9glages g\xC3\xA9n\xC3\xA9raux");
  // Missing in French: the next language that has it.
  EXPECT_EQ(probe.String(132, 2), "Second");
  EXPECT_EQ(probe.String(132, 3), "");
  EXPECT_EQ(probe.String(133, 1), "");
  EXPECT_EQ(probe.String(132, 0), "");
  env.Set("LANG", "C");
  EXPECT_EQ(probe.String(132, 1), "Global settings");
}

TEST_F(BundleStrings, FirstLoadNamesTheDefaultRecordFromStringList132) {
  Probe probe(tmp / "Corvimus.prefPane/Contents/MacOS");
  ASSERT_TRUE(probe.loadDefaults);
  CorvimusPrefsRec r{};
  ASSERT_EQ(probe.loadDefaults(&r), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.appName) + 1, r.appName[0]),
            "R\xC3\xA9glages g\xC3\xA9n\xC3\xA9raux");
  // Everything but the name is the default record.
  CorvimusPrefsRec expected = kCorvimusDefaultPrefs;
  std::memcpy(expected.appName, r.appName, sizeof r.appName);
  EXPECT_EQ(Bytes(r), Bytes(expected));

  // A name longer than 31 bytes is cut, never inside a character.
  WriteFile(tmp / "Corvimus.prefPane/Contents/Resources/fr.lproj/StringLists.strings",
            "\"132.1\" = \"" + std::string(30, 'x') + "\xC3\xA9\xC3\xA9\";");
  ASSERT_EQ(probe.loadDefaults(&r), noErr);
  EXPECT_EQ(r.appName[0], 30);
}

TEST_F(BundleStrings, CodeOutsideAnyBundleOrADamagedTableGivesNothing) {
  {
    Probe outside(tmp / "plain/lib");
    ASSERT_TRUE(outside.getIndString);
    EXPECT_EQ(outside.String(132, 1), "");
    CorvimusPrefsRec r{};
    ASSERT_EQ(outside.loadDefaults(&r), noErr);
    EXPECT_EQ(r.appName[0], 0);
  }
  // An unterminated string makes the whole French table unreadable; English still answers.
  WriteFile(tmp / "Corvimus.prefPane/Contents/Resources/fr.lproj/StringLists.strings",
            "\"132.1\" = \"broken;\n");
  Probe probe(tmp / "Corvimus.prefPane/Contents/MacOS");
  EXPECT_EQ(probe.String(132, 1), "Global settings");
}

}  // namespace
