// Runs the real corvimus-prefs program against settings files in a temporary folder.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../../settings/tests/SettingsTestSupport.h"
#include "platform/ByteOrder.h"
#include "settings/CommandTable.h"
#include "settings/MouseSettings.h"
#include "settings/PrefsJson.h"
#include "settings/CommandTable.h"
#include "testing/FifoWatch.h"
#include "testing/TempDir.h"

using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::RunResult;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
using namespace settingstest;

namespace {

// The line show prints for a slot ("C3", "slot 8"), without its leading spaces; "" when none.
std::string ShownLine(const std::string& out, const std::string& label) {
  size_t at = out.find("\n  " + label + " ");
  if (at == std::string::npos) return "";
  size_t end = out.find('\n', at + 1);
  return out.substr(at + 3, end - at - 3);
}

// What the line of a slot says its control does: the part after the control's name.
std::string ShownAction(const std::string& out, const std::string& label) {
  std::string line = ShownLine(out, label);
  return line.size() > 37 ? line.substr(37) : "";
}

class PrefsTool : public ::testing::Test {
 protected:
  void SetUp() override { mkdir((tmp / "config").c_str(), 0700); }

  RunResult Run(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), CORVIMUS_PREFS_PROGRAM);
    return RunProgram(args, input, {"XDG_CONFIG_HOME=" + tmp / "config", "HOME=" + tmp.path()});
  }
  // The same with --file naming `file` in the temporary folder.
  RunResult RunOn(const std::string& file, std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--file", tmp / file});
    return Run(args);
  }

  std::string Read(const std::string& name) {
    std::string bytes;
    ReadFile(tmp / name, &bytes);
    return bytes;
  }

  std::vector<CorvimusPrefsRec> Records(const std::string& file, bool* big = nullptr) {
    RunResult r = RunOn(file, {"show", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<CorvimusPrefsRec> records;
    std::string error;
    EXPECT_TRUE(PrefsDocumentFromJson(r.out, &records, big, &error)) << error << "\n" << r.out;
    return records;
  }

  // An application bundle with an Info.plist naming `signature` (none when empty).
  std::string MakeBundle(const std::string& name, const std::string& signature,
                         bool binary = false) {
    std::string path = tmp / name;
    mkdir(path.c_str(), 0755);
    mkdir((path + "/Contents").c_str(), 0755);
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleName", plist_new_string(name.c_str()));
    if (!signature.empty())
      plist_dict_set_item(dict, "CFBundleSignature", plist_new_string(signature.c_str()));
    char* out = nullptr;
    uint32_t length = 0;
    if (binary)
      plist_to_bin(dict, &out, &length);
    else
      plist_to_xml(dict, &out, &length);
    WriteFile(path + "/Contents/Info.plist", std::string(out, length));
    free(out);
    plist_free(dict);
    return path;
  }

  TempDir tmp;
};

TEST_F(PrefsTool, InitWritesTheDefaultRecordThatShowAndCheckAccept) {
  RunResult r = RunOn("p", {"init"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<CorvimusPrefsRec> records = Records("p");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Bytes(records[0]), Bytes(kCorvimusDefaultPrefs));
  EXPECT_EQ(Read("p").size(), 1090u);

  r = RunOn("p", {"show"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("global settings"), std::string::npos) << r.out;
  EXPECT_EQ(ShownAction(r.out, "C3"), "back") << r.out;
  EXPECT_EQ(ShownAction(r.out, "C4"), "forward") << r.out;
  EXPECT_EQ(ShownAction(r.out, "C5"), "unchanged") << r.out;
  // The tilt's default entry is named by the way it scrolls, and the control by the way it tilts.
  EXPECT_EQ(ShownAction(r.out, "PB"), "scroll right (key code 100)") << r.out;
  EXPECT_EQ(ShownLine(r.out, "PB").find("PB      wheel tilted right "), 0u) << r.out;
  EXPECT_EQ(ShownLine(r.out, "PF").find("PF      wheel tilted left "), 0u) << r.out;
  EXPECT_EQ(ShownAction(r.out, "RB"), "scroll down (key code 1)") << r.out;
  EXPECT_EQ(ShownAction(r.out, "slot 8"), "unchanged") << r.out;
  EXPECT_EQ(ShownLine(r.out, "slot 8").find("slot 8  (no control) "), 0u) << r.out;
  EXPECT_NE(r.out.find("speed: default"), std::string::npos) << r.out;

  r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("valid settings file, 1 record"), std::string::npos) << r.out;
}

TEST_F(PrefsTool, InitNamesTheGlobalRecordAsTheInstalledPaneWould) {
  std::string res = tmp /
                    "prefix/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents/"
                    "Resources/en.lproj";
  std::filesystem::create_directories(res);
  WriteFile(res + "/StringLists.strings", "\"132.1\" = \"All applications\";\n");
  std::vector<std::string> args = {CORVIMUS_PREFS_PROGRAM, "init", "--file", tmp / "p"};
  RunResult r = RunProgram(args, {}, {"CORVIMUS_PREFIX=" + tmp / "prefix", "LANG=C"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<CorvimusPrefsRec> records = Records("p");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(records[0].appName) + 1, records[0].appName[0]),
      "All applications");
}

TEST_F(PrefsTool, CheckAndShowSurviveAFileCutAnywhere) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("TextEdit.app", "ttxt")}).exitCode, 0);
  const std::string whole = Read("p");
  for (size_t n = 1; n < whole.size(); n += 97) {
    SCOPED_TRACE(n);
    WriteFile(tmp / "cut", whole.substr(0, n));
    RunResult r = RunOn("cut", {"check"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_FALSE(r.err.empty());
    r = RunOn("cut", {"show", "--recover"});
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << r.err;
  }
}

TEST_F(PrefsTool, WithoutFileItUsesTheUsersPreferencesFolder) {
  ASSERT_EQ(Run({"init"}).exitCode, 0);
  EXPECT_EQ(Read("config/com.kelvane.mouse.prefs").size(), 1090u);
  EXPECT_EQ(Run({"check"}).exitCode, 0);
  // The sidecar carries the type and creator.
  std::string sidecar = Read("config/._com.kelvane.mouse.prefs");
  ASSERT_GE(sidecar.size(), 4u);
  EXPECT_NE(sidecar.find("prefCvMP"), std::string::npos);
}

TEST_F(PrefsTool, MissingFileCannotBeOpened) {
  for (const char* command : {"show", "check", "export"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {command};
    if (std::string(command) == "export") args.push_back(tmp / "out.json");
    RunResult r = RunOn("nothing-here", args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("nothing-here"), std::string::npos) << r.err;
  }
  // A folder where the file should be.
  mkdir((tmp / "folder").c_str(), 0755);
  EXPECT_EQ(RunOn("folder", {"check"}).exitCode, 2);
}

// A FIFO would hold every command forever, and a device reads as an empty file; neither is a
// settings file, and neither is replaced by a file of the tool's.
TEST_F(PrefsTool, AFifoOrADeviceIsNoSettingsFileAndIsNeverReplaced) {
  corvimus::testing::FifoWatch fifo(tmp / "fifo");
  ASSERT_EQ(symlink("/dev/null", (tmp / "null").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", (tmp / "zero").c_str()), 0);
  ASSERT_EQ(symlink((tmp / "fifo").c_str(), (tmp / "to-fifo").c_str()), 0);
  auto kindOf = [](const std::string& file) {
    return file.find("fifo") != std::string::npos
               ? "it is a FIFO, not a regular file"
               : "it is a character device, not a regular file";
  };
  for (const char* file : {"fifo", "null", "zero", "to-fifo"}) {
    SCOPED_TRACE(file);
    for (std::vector<std::string> args : {std::vector<std::string>{"check"}, {"show"},
                                          {"show", "--json"}, {"export", "-"}}) {
      RunResult r = RunOn(file, args);
      EXPECT_EQ(r.exitCode, 2) << args[0] << ": " << r.out << r.err;
      EXPECT_NE(r.err.find("cannot open " + tmp / file + ": " + kindOf(file)), std::string::npos)
          << r.err;
    }
  }
  // Edits and writes refuse it before they write anything. They are tried on a device of the
  // test's own rather than on /dev/null: should the refusal ever be lost, a save run as root would
  // put a file in the place of the system's device.
  std::vector<std::string> writable = {"fifo", "to-fifo"};
  if (mknod((tmp / "own-null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    ASSERT_EQ(symlink((tmp / "own-null").c_str(), (tmp / "to-own-null").c_str()), 0);
    writable.push_back("to-own-null");
  }
  for (const std::string& file : writable) {
    SCOPED_TRACE(file);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"set", "speed", "50"}, {"init"}, {"remove-app", "x"}}) {
      RunResult r = RunOn(file, args);
      EXPECT_EQ(r.exitCode, 2) << args[0] << ": " << r.err;
      EXPECT_NE(r.err.find(kindOf(file)), std::string::npos) << r.err;
    }
  }
  EXPECT_FALSE(fifo.ReaderSeen());
  EXPECT_TRUE(fifo.StillAFifo());
  struct stat st;
  if (writable.size() == 3) {
    ASSERT_EQ(lstat((tmp / "own-null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
  // Nor does an export replace one.
  RunOn("p", {"init"});
  RunResult r = RunOn("p", {"export", tmp / "fifo"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("it is a FIFO"), std::string::npos) << r.err;
  EXPECT_TRUE(fifo.StillAFifo());
  EXPECT_FALSE(fifo.ReaderSeen());
}

TEST_F(PrefsTool, WritesKeepTheFilesModeAndRefuseAReadOnlyFile) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(chmod((tmp / "p").c_str(), 0600), 0);
  ASSERT_EQ(RunOn("p", {"set", "speed", "50"}).exitCode, 0);
  struct stat st;
  ASSERT_EQ(stat((tmp / "p").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  ASSERT_EQ(chmod((tmp / "p").c_str(), 0400), 0);
  const std::string before = Read("p");
  ASSERT_EQ(RunOn("p", {"export", tmp / "out.json"}).exitCode, 0) << "reading it is fine";
  for (std::vector<std::string> args : {std::vector<std::string>{"set", "speed", "60"},
                                        {"init"},
                                        {"import", tmp / "out.json"}}) {
    SCOPED_TRACE(args[0]);
    RunResult r = RunOn("p", args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(Read("p"), before);
  }
  ASSERT_EQ(stat((tmp / "p").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0400u);
}

TEST_F(PrefsTool, EmptyFileHoldsNoRecordsAndIsValid) {
  WriteFile(tmp / "p", "");
  RunResult r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("0 records"), std::string::npos) << r.out;
  EXPECT_TRUE(Records("p").empty());
}

TEST_F(PrefsTool, CheckNamesEachKindOfProblemAndNeverChangesTheFile) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  std::string valid =
      BaseFile({RecordBytes(kCorvimusDefaultPrefs, false), RecordBytes(app, false)}, false);
  std::string badIndex = valid;
  corvimus::StoreU32LE(badIndex.data() + 68, 7);  // points inside the first record
  const struct {
    const char* what;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"text", "hello, this is no settings file\n", "not a settings file"},
      {"another type", BaseFile({RecordBytes(app, false)}, false, FourCC("XXXX")),
       "not a settings file"},
      {"one byte too long", valid + "x", "length does not match its header"},
      {"cut short", valid.substr(0, 1500), "length does not match its header"},
      {"header only in part", valid.substr(0, 30), "length does not match its header"},
      {"damaged index", badIndex, "damaged"},
      {"record of the wrong size", BaseFile({std::string(1000, 'r')}, false),
       "record 0 has 1000 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(tmp / "p", c.bytes);
    RunResult r = RunOn("p", {"check"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Read("p"), c.bytes);
    // show refuses such a file as well (the text form may list a record of the wrong size).
    EXPECT_NE(RunOn("p", {"show", "--json"}).exitCode, 0);
    // Edits refuse it and write nothing.
    r = RunOn("p", {"set", "speed", "50"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Read("p"), c.bytes);
  }
}

TEST_F(PrefsTool, ShowRecoverReadsAFileWhoseLengthDoesNotMatch) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  std::string valid =
      BaseFile({RecordBytes(kCorvimusDefaultPrefs, false), RecordBytes(app, false)}, false);
  WriteFile(tmp / "p", valid + "xx");
  EXPECT_EQ(RunOn("p", {"show"}).exitCode, 1);
  RunResult r = RunOn("p", {"show", "--recover"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("recovered"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TextEdit"), std::string::npos) << r.out;
  r = RunOn("p", {"show", "--recover", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<CorvimusPrefsRec> records;
  std::string error;
  ASSERT_TRUE(PrefsDocumentFromJson(r.out, &records, nullptr, &error)) << error;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(Bytes(records[1]), Bytes(app));
  EXPECT_EQ(Read("p"), valid + "xx");
}

TEST_F(PrefsTool, BigEndianFileIsShownConvertedAndNamedBig) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  WriteFile(tmp / "p",
            BaseFile({RecordBytes(kCorvimusDefaultPrefs, true), RecordBytes(app, true)}, true));
  bool big = false;
  std::vector<CorvimusPrefsRec> records = Records("p", &big);
  EXPECT_TRUE(big);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(Bytes(records[1]), Bytes(app));
  // The sample's values are chosen to tell the byte orders apart, not to make sense: check names
  // them. A record of sensible values in the same order passes.
  RunResult r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("records[1].options"), std::string::npos) << r.err;
  CorvimusPrefsRec sensible = kCorvimusDefaultPrefs;
  sensible.application = FourCC("ttxt");
  sensible.device[0].action[5] = {kCmdKeystroke, 0, cmdKey | shiftKey, 0, 0, 0x24, 0, 0, {}};
  WriteFile(tmp / "p",
            BaseFile({RecordBytes(kCorvimusDefaultPrefs, true), RecordBytes(sensible, true)}, true));
  EXPECT_EQ(Bytes(Records("p")[1]), Bytes(sensible));
  r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("big-endian"), std::string::npos) << r.out;
  // An edit writes the file back in this machine's order.
  ASSERT_EQ(RunOn("p", {"set", "speed", "60"}).exitCode, 0);
  EXPECT_EQ(Read("p").compare(0, 4, "ESBQ"), 0);
  records = Records("p", &big);
  EXPECT_FALSE(big);
  EXPECT_EQ(records[0].device[0].speed, 60);
}

TEST_F(PrefsTool, ImportOfAnExportGivesBackTheSameBytes) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "speed", "50"}).exitCode, 0);
  std::string bundle = MakeBundle("TextEdit.app", "ttxt");
  ASSERT_EQ(RunOn("p", {"add-app", bundle}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("Alpha.app", "")}).exitCode, 0);
  RunResult r = RunOn("p", {"set", "--app", "TextEdit", "C5", "keystroke", "--key", "return",
                            "--modifiers", "command-shift"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string original = Read("p");

  ASSERT_EQ(RunOn("p", {"export", tmp / "out.json"}).exitCode, 0);
  r = RunOn("q", {"import", tmp / "out.json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Read("q"), original);
  // Into the same file as well, and through standard output and input.
  ASSERT_EQ(RunOn("p", {"import", tmp / "out.json"}).exitCode, 0);
  EXPECT_EQ(Read("p"), original);
  r = RunOn("p", {"export", "-"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Read("out.json"));
  std::vector<std::string> args = {CORVIMUS_PREFS_PROGRAM, "import", "--file", tmp / "r", "-"};
  RunResult viaStdin = RunProgram(args, r.out);
  ASSERT_EQ(viaStdin.exitCode, 0) << viaStdin.err;
  EXPECT_EQ(Read("r"), original);
}

TEST_F(PrefsTool, ImportRefusesEveryKindOfBadInputAndWritesNothing) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("TextEdit.app", "ttxt")}).exitCode, 0);
  const std::string before = Read("p");
  RunResult exported = RunOn("p", {"export", "-"});
  ASSERT_EQ(exported.exitCode, 0);
  const std::string good = exported.out;
  auto replace = [&](const std::string& from, const std::string& to, int nth = 0) {
    std::string s = good;
    size_t at = s.find(from);
    for (int i = 0; i < nth && at != std::string::npos; ++i) at = s.find(from, at + 1);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  std::string deep(100000, '[');
  const std::string zeros80(80, '0');
  const struct {
    const char* what;
    std::string json;
    const char* where;  // text the message must hold
  } cases[] = {
      {"empty input", "", "line 1"},
      {"not JSON", "this is not json", "line 1, column 1"},
      {"trailing text", good + "x", "after the end"},
      {"cut short", good.substr(0, good.size() / 2), "line"},
      {"deep nesting", deep, "nested too deeply"},
      {"wrong byte order", replace("\"little\"", "\"middle\""), "byteOrder"},
      {"records not an array", "{\"byteOrder\": \"little\", \"records\": {}}", "records"},
      {"unknown member", replace("\"speed\"", "\"sped\""), "records[0]"},
      {"repeated member", replace("\"speed\": 255", "\"speed\": 255, \"speed\": 255"), "twice"},
      {"number out of range", replace("\"speed\": 255", "\"speed\": 256"), "records[0].speed"},
      {"negative number", replace("\"speed\": 255", "\"speed\": -1"), "records[0].speed"},
      {"fraction", replace("\"speed\": 255", "\"speed\": 25.5"), "records[0].speed"},
      {"huge number", replace("\"speed\": 255", "\"speed\": 99999999999999999999999999"),
       "records[0].speed"},
      {"string for a number", replace("\"speed\": 255", "\"speed\": \"255\""), "records[0].speed"},
      {"command too large", replace("\"command\": 33", "\"command\": 65536"),
       "records[0].actions[0].command"},
      {"slot out of order", replace("\"slot\": 1,", "\"slot\": 2,"), "records[0].actions[1].slot"},
      {"fifteen actions",
       replace(", {\"slot\": 15, \"command\": 9, \"modifiers\": 0, \"delay\": 0, \"keyCode\": 100, "
               "\"repeat\": 0, \"data\": \"" +
                   zeros80 + "\"}",
               ""),
       "expected 16 actions"},
      {"data not hex", replace(zeros80, "zz" + zeros80.substr(2)), "records[0].actions[0].data"},
      {"data too short", replace(zeros80, zeros80.substr(2)), "records[0].actions[0].data"},
      {"appName too long",
       replace("\"appName\": \"\"", "\"appName\": \"" + std::string(32, 'a') + "\""),
       "records[0].appName"},
      {"appFileName too long",
       replace("\"appFileName\": \"TextEdit\"",
               "\"appFileName\": \"" + std::string(64, 'a') + "\""),
       "records[1].appFileName"},
      {"record 0 not global",
       replace("\"application\": \"\", \"applicationCode\": 0",
               "\"application\": \"ABCD\", \"applicationCode\": 1094861636"),
       "records[0].application"},
      {"second global record",
       replace("\"application\": \"ttxt\", \"applicationCode\": 1953790068",
               "\"application\": \"\", \"applicationCode\": 0"),
       "records[1].application"},
      {"application and code disagree",
       replace("\"applicationCode\": 1953790068", "\"applicationCode\": 1953790069"),
       "records[1].application"},
      {"application of three characters", replace("\"ttxt\"", "\"ttx\""), "records[1].application"},
      {"lone surrogate", replace("\"appName\": \"TextEdit\"", "\"appName\": \"\\ud800\""),
       "surrogate"},
      {"invalid UTF-8", replace("\"appName\": \"TextEdit\"", "\"appName\": \"\xff\xfe\""), "UTF-8"},
      {"control character", replace("\"appName\": \"TextEdit\"", "\"appName\": \"a\tb\""),
       "control character"},
      {"bad escape", replace("\"appName\": \"TextEdit\"", "\"appName\": \"\\q\""), "escape"},
      {"null record", "{\"byteOrder\": \"little\", \"records\": [null]}", "records[0]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(tmp / "in.json", c.json);
    RunResult r = RunOn("p", {"import", tmp / "in.json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.where), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(Read("p"), before);
  }
  // The source is missing or is a folder.
  EXPECT_EQ(RunOn("p", {"import", tmp / "missing.json"}).exitCode, 2);
  EXPECT_EQ(RunOn("p", {"import", tmp.path()}).exitCode, 2);
  EXPECT_EQ(Read("p"), before);
}

// Values no pane writes and no driver defines: check names each one, import refuses them.
TEST_F(PrefsTool, CheckNamesValuesOutOfRangeAndImportRefusesThem) {
  CorvimusPrefsRec global = kCorvimusDefaultPrefs;
  global.device[0].speed = 250;
  global.device[0].acceleration = 254;
  global.device[0].options = 0xFFFF;
  global.device[0].action[3].command = 60000;
  global.device[0].action[4].command = kCmdAsGlobal;  // the global record cannot defer to itself
  CorvimusPrefsRec app = kCorvimusDefaultPrefs;
  app.application = FourCC("ttxt");
  app.active = 7;
  app.device[0].action[5] = {kCmdKeystroke, 0, 0x4100, 0, 0, 200, 0, 0, {}};
  app.device[0].action[6] = {8, 0, 0, 0, 0, 0, 31, 0, {}};
  app.device[0].action[7] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {3, 'a', ':', 'b'}};
  app.device[0].action[12] = {kCmdOpenItem, 0, 0, 0, 0, 0, 0, 0, {7, '.', '_', 'n', 'o', 't', 'e', 's'}};
  const char* named[] = {"records[0].speed: 250",
                         "records[0].acceleration: 254",
                         "records[0].options: 65535",
                         "records[0].actions[3].command: 60000 is not a command",
                         "records[0].actions[4].command: 1",
                         "records[1].active: 7",
                         "records[1].actions[5].modifiers: 0x4100 holds bits 0x4000",
                         "records[1].actions[5].keyCode: 200",
                         "records[1].actions[6].repeat: 31",
                         "records[1].actions[7].data: \"a:b\"",
                         "records[1].actions[12].data: \"._notes\""};
  const std::string file =
      BaseFile({RecordBytes(global, false), RecordBytes(app, false)}, false);
  WriteFile(tmp / "p", file);
  RunResult r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 1);
  for (const char* field : named) EXPECT_NE(r.err.find(field), std::string::npos) << field;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Read("p"), file);

  // The same records as JSON are refused by import, each field named, and nothing is written.
  RunResult json = RunOn("p", {"export", "-"});
  ASSERT_EQ(json.exitCode, 0);
  ASSERT_EQ(RunOn("q", {"init"}).exitCode, 0);
  const std::string before = Read("q");
  WriteFile(tmp / "in.json", json.out);
  r = RunOn("q", {"import", tmp / "in.json"});
  EXPECT_EQ(r.exitCode, 1);
  for (const char* field : named) EXPECT_NE(r.err.find(field), std::string::npos) << field;
  EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  EXPECT_EQ(Read("q"), before);

  // The edges themselves are fine.
  global = kCorvimusDefaultPrefs;
  global.device[0].speed = 8;
  global.device[0].acceleration = 200;
  app = kCorvimusDefaultPrefs;
  app.application = FourCC("ttxt");
  app.active = 0;
  app.device[0].speed = 140;
  app.device[0].action[5] = {kCmdKeystroke, 0, AllModifierBits(), 0, 0, 127, 0, 0, {}};
  app.device[0].action[6] = {11, 0, 0, 0, 0, 0, 30, 0, {}};
  app.device[0].action[7] = {kCmdAsGlobal, 0, 0, 0, 0, 0, 0, 0, {}};
  WriteFile(tmp / "p", BaseFile({RecordBytes(global, false), RecordBytes(app, false)}, false));
  r = RunOn("p", {"check"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

// The pane keeps the main click on one of the first three buttons of the global record and of
// the records of 'sprf' and 'MACS'; without it a mouse has no button that clicks.
TEST_F(PrefsTool, SetAndImportKeepTheMainClickOnTheFirstThreeButtons) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("Finder.app", "MACS")}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("Other.app", "OthR")}).exitCode, 0);
  const std::string before = Read("p");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"set", "C0", "copy"},
        {"set", "C0", "keystroke", "--key", "return"},
        {"set", "--app", "Finder", "C0", "back"}}) {
    SCOPED_TRACE(args[1] + " " + args[2]);
    RunResult r = RunOn("p", args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("main click"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("C0, C1 or C2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(Read("p"), before);
  }
  // Another application may do without; and once C2 clicks, C0 is free.
  EXPECT_EQ(RunOn("p", {"set", "--app", "Other", "C0", "back"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "C2", "main-click"}).exitCode, 0);
  RunResult r = RunOn("p", {"set", "C0", "copy"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Records("p")[0].device[0].action[0].command, kCmdCopy);
  EXPECT_EQ(RunOn("p", {"check"}).exitCode, 0);

  // An import that takes it away is refused, naming the record.
  std::vector<CorvimusPrefsRec> records = Records("p");
  ASSERT_EQ(records.size(), 3u);
  ASSERT_EQ(records[1].application, FourCC("MACS"));
  records[1].device[0].action[0].command = kCmdBack;
  records[0].device[0].action[2].command = kCmdNone;
  WriteFile(tmp / "in.json", PrefsDocumentToJson(false, records));
  const std::string kept = Read("p");
  r = RunOn("p", {"import", tmp / "in.json"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("records[0]: the main click"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("records[1]: the main click"), std::string::npos) << r.err;
  EXPECT_EQ(Read("p"), kept);
}

TEST_F(PrefsTool, SetChangesOneFieldOfTheChosenRecord) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("TextEdit.app", "ttxt")}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "speed", "140"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "acceleration", "0"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "--app", "textedit", "active", "0"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "--app", "TextEdit", "speed", "8"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "--app", "TextEdit", "rb", "scroll-up", "--repeat", "30"}).exitCode,
            0);
  ASSERT_EQ(RunOn("p", {"set", "--app", "TextEdit", "C6", "global"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "C1", "34", "--modifiers", "option,control"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "9", "76"}).exitCode, 0);
  std::vector<CorvimusPrefsRec> r = Records("p");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].device[0].speed, 140);
  EXPECT_EQ(r[0].device[0].acceleration, 0);
  EXPECT_EQ(r[0].device[0].action[1].command, 34);
  EXPECT_EQ(r[0].device[0].action[1].modifiers, optionKey | controlKey);
  EXPECT_EQ(r[0].device[0].action[1].keyCode, 255);
  EXPECT_EQ(r[0].device[0].action[9].command, kCmdBack);
  EXPECT_EQ(r[1].active, 0);
  EXPECT_EQ(r[1].device[0].speed, 8);
  EXPECT_EQ(r[1].device[0].action[kSlotRB].command, 8);
  EXPECT_EQ(r[1].device[0].action[kSlotRB].repeat, 30);
  EXPECT_EQ(r[1].device[0].action[6].command, kCmdAsGlobal);
  EXPECT_EQ(r[0].active, 1);

  ASSERT_EQ(RunOn("p", {"set", "speed", "default"}).exitCode, 0);
  EXPECT_EQ(Records("p")[0].device[0].speed, 255);
  RunResult shown = RunOn("p", {"show"});
  EXPECT_EQ(ShownAction(shown.out, "C1"), "secondary click with Ctrl+Alt") << shown.out;
  EXPECT_NE(shown.out.find("scroll up by 30 lines"), std::string::npos) << shown.out;
}

TEST_F(PrefsTool, EveryCommandIsSetByItsWordAndShownByItsName) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  for (const CommandInfo& c : kCommandTable) {
    if (c.menu == PaneMenu::kNone || c.family == CommandFamily::kOpenItem) continue;
    if (c.family == CommandFamily::kAsGlobal) continue;  // not in the global record
    std::vector<std::string> args = {"set", "tilt-left", c.word};
    if (c.family == CommandFamily::kKeystroke) args.insert(args.end(), {"--key", "return"});
    RunResult set = RunOn("p", args);
    ASSERT_EQ(set.exitCode, 0) << c.word << ": " << set.err;
    EXPECT_EQ(Records("p")[0].device[0].action[kSlotPF].command, c.code) << c.word;
    std::string shown = ShownAction(RunOn("p", {"show"}).out, "PF");
    std::string name = c.name;
    name[0] = char(std::tolower(static_cast<unsigned char>(name[0])));
    EXPECT_EQ(shown.rfind(name, 0), 0u) << c.word << " is shown as " << shown;
  }
  // The words older versions took, and numbers, still work.
  ASSERT_EQ(RunOn("p", {"set", "wheel-down", "nothing"}).exitCode, 0);
  EXPECT_EQ(Records("p")[0].device[0].action[kSlotRB].command, kCmdNone);
  ASSERT_EQ(RunOn("p", {"set", "C5", "44", "--modifiers", "command-shift"}).exitCode, 0);
  EXPECT_EQ(Records("p")[0].device[0].action[5].command, 44);
  EXPECT_EQ(Records("p")[0].device[0].action[5].modifiers, cmdKey | shiftKey);
  ASSERT_EQ(
      RunOn("p", {"set", "C6", "BUTTON-4-Click", "--modifiers", "Super+caps-lock+space"}).exitCode,
      0);
  EXPECT_EQ(Records("p")[0].device[0].action[6].command, 35);
  EXPECT_EQ(Records("p")[0].device[0].action[6].modifiers, cmdKey | alphaLock | kCorvimusSpaceKey);
  EXPECT_EQ(ShownAction(RunOn("p", {"show"}).out, "C6"),
            "button 4 click with Super+Caps Lock+Space");
}

TEST_F(PrefsTool, SetRefusesBadValuesAndWritesNothing) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("TextEdit.app", "ttxt")}).exitCode, 0);
  const std::string before = Read("p");
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"speed", "7"}, 1, "speed"},
      {{"speed", "141"}, 1, "speed"},
      {{"speed", "fast"}, 1, "speed"},
      {{"speed", "-50"}, 1, "speed"},
      {{"speed", "50x"}, 1, "speed"},
      {{"acceleration", "201"}, 1, "acceleration"},
      {{"active", "2"}, 1, "active"},
      {{"X9", "back"}, 2, "X9"},
      {{"16", "back"}, 2, "16"},
      {{"C0", "jump"}, 1, "jump"},
      {{"C0", "999"}, 1, "999"},
      {{"C0", "26"}, 1, "26"},
      {{"C0", "27"}, 1, "27"},
      {{"C0", "global"}, 1, "global record"},
      {{"C0", "keystroke"}, 1, "--key"},
      {{"C0", "keystroke", "--key", "nokey"}, 1, "--key"},
      {{"C0", "keystroke", "--key", "255"}, 1, "--key"},
      {{"C0", "back", "--key", "return"}, 1, "--key"},
      {{"C0", "back", "--modifiers", "shift"}, 1, "--modifiers"},
      {{"C0", "33", "--modifiers", "hyper"}, 1, "--modifiers"},
      {{"C0", "33", "--modifiers", "1"}, 1, "--modifiers"},
      {{"RF", "scroll-up", "--repeat", "31"}, 1, "--repeat"},
      {{"RF", "scroll-up", "--repeat", "0"}, 1, "--repeat"},
      {{"RF", "12", "--repeat", "3"}, 1, "--repeat"},
      {{"--app", "Nobody", "speed", "50"}, 1, "Nobody"},
      {{"speed", "--modifiers", "shift", "50"}, 2, "--modifiers"},
      {{"speed"}, 2, "usage"},
      {{"speed", "50", "60"}, 2, "usage"},
      {{"--app"}, 2, "--app"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (const auto& a : args) trace += a + " ";
    SCOPED_TRACE(trace);
    RunResult r = RunOn("p", args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Read("p"), before);
  }
}

TEST_F(PrefsTool, AddAppCopiesTheGlobalRecordAndKeepsThePaneOrder) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"set", "speed", "50"}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("Beta.app", "BETA")}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("ALPHA2.APP", "", true)}).exitCode, 0);
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle("alpha.app", "al", true)}).exitCode, 0);
  std::string longName(40, 'L');
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle(longName + ".app", "LONG")}).exitCode, 0);
  // A plain file: no bundle, no creator.
  WriteFile(tmp / "tool", "#!/bin/sh\n");
  ASSERT_EQ(RunOn("p", {"add-app", tmp / "tool"}).exitCode, 0);

  std::vector<CorvimusPrefsRec> r = Records("p");
  ASSERT_EQ(r.size(), 6u);
  auto name = [](const CorvimusPrefsRec& x) {
    return std::string(reinterpret_cast<const char*>(x.appName) + 1, x.appName[0]);
  };
  EXPECT_EQ(r[0].application, 0u);
  EXPECT_EQ(name(r[1]), "alpha");
  EXPECT_EQ(name(r[2]), "ALPHA2");
  EXPECT_EQ(name(r[3]), "Beta");
  EXPECT_EQ(name(r[4]), longName.substr(0, 31));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[4].appFileName) + 1, r[4].appFileName[0]),
            longName);
  EXPECT_EQ(name(r[5]), "tool");
  EXPECT_EQ(r[1].application, FourCC("al\0\0"));
  EXPECT_EQ(r[2].application, kUnknownSignature);
  EXPECT_EQ(r[3].application, FourCC("BETA"));
  EXPECT_EQ(r[5].application, kUnknownSignature);
  for (size_t i = 1; i < r.size(); ++i) {
    EXPECT_EQ(r[i].active, 1);
    EXPECT_EQ(r[i].device[0].speed, 50) << "a copy of the global settings";
    EXPECT_EQ(r[i].device[0].action[3].command, kCmdBack);
  }

  // Removal keeps the order of the others; the global record cannot be named.
  ASSERT_EQ(RunOn("p", {"remove-app", "ALPHA2"}).exitCode, 0);
  r = Records("p");
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(name(r[1]), "alpha");
  EXPECT_EQ(name(r[2]), "Beta");
  EXPECT_EQ(RunOn("p", {"remove-app", "Nobody"}).exitCode, 1);
  EXPECT_EQ(Records("p").size(), 5u);
}

TEST_F(PrefsTool, AddAppCutsNamesWhereACharacterEnds) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  // 64 bytes: an "é" across the 31st and 32nd, and another across the 63rd and 64th.
  const std::string accented =
      std::string(30, 'a') + "\xC3\xA9" + std::string(30, 'z') + "\xC3\xA9";
  ASSERT_EQ(RunOn("p", {"add-app", MakeBundle(accented + ".app", "Acnt")}).exitCode, 0);
  std::vector<CorvimusPrefsRec> r = Records("p");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[1].appName) + 1, r[1].appName[0]),
            std::string(30, 'a'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r[1].appFileName) + 1, r[1].appFileName[0]),
            accented.substr(0, 62));
}

TEST_F(PrefsTool, AddAppRefusesWhatIsNoApplication) {
  ASSERT_EQ(RunOn("p", {"init"}).exitCode, 0);
  const std::string before = Read("p");
  EXPECT_EQ(RunOn("p", {"add-app", tmp / "missing.app"}).exitCode, 1);
  // An Info.plist that is no property list still gives an application, without a signature.
  std::string broken = MakeBundle("Broken.app", "");
  WriteFile(broken + "/Contents/Info.plist", std::string("\x00\xff<plist", 8));
  ASSERT_EQ(RunOn("p", {"add-app", broken}).exitCode, 0);
  std::vector<CorvimusPrefsRec> r = Records("p");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].application, kUnknownSignature);
  EXPECT_EQ(RunOn("p", {"add-app"}).exitCode, 2);
}

TEST_F(PrefsTool, WrongUsageIsExplained) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command"},
      {{"show", "--bogus"}, "unknown option"},
      {{"check", "--json"}, "unknown option"},
      {{"show", "extra"}, "unexpected argument"},
      {{"show", "--file"}, "--file"},
      {{"show", "--file", ""}, "--file"},
      {{"show", "--file", "a", "--file", "b"}, "--file"},
      {{"export"}, "export"},
      {{"import", "a", "b"}, "import"},
      {{"remove-app"}, "remove-app"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("add-app"), std::string::npos);
  // A --file whose folder does not exist, or whose name is too long for a settings file.
  EXPECT_EQ(Run({"init", "--file", tmp / "no/such/folder/p"}).exitCode, 2);
  EXPECT_EQ(Run({"init", "--file", tmp / std::string(64, 'n')}).exitCode, 2);
}

}  // namespace
