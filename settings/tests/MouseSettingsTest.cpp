#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "testing/FifoWatch.h"
#include "platform/FileRefs.h"
#include "platform/Files.h"
#include "settings/MouseSettings.h"

using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
using namespace settingstest;

namespace {

struct BaseDeleter {
  void operator()(OpaqueQBaseRec** b) const { QBaseDispose(b); }
};
using BasePtr = std::unique_ptr<OpaqueQBaseRec*, BaseDeleter>;

// ---- The record
// ----------------------------------------------------------------------------------

TEST(DefaultRecord, MatchesTheTableByteForByte) {
  std::string expected(1012, '\0');
  auto* b = reinterpret_cast<unsigned char*>(expected.data());
  b[4] = 1;
  b[110] = 255;
  b[111] = 255;
  const struct {
    int slot;
    UInt16 command;
    UInt8 keyCode;
  } actions[] = {{0, 33, 0}, {1, 34, 0}, {2, 32, 0},   {3, 76, 0},  {4, 75, 0},
                 {12, 8, 1}, {13, 9, 1}, {14, 8, 100}, {15, 9, 100}};
  for (const auto& a : actions) {
    corvimus::StoreU16LE(b + 116 + 56 * a.slot, a.command);
    b[116 + 56 * a.slot + 10] = a.keyCode;
  }
  EXPECT_EQ(Bytes(kCorvimusDefaultPrefs), expected);
  EXPECT_EQ(kCorvimusDefaultPrefs.device[0].action[3].command, kCmdBack);
  EXPECT_EQ(kCorvimusDefaultPrefs.device[0].action[4].command, kCmdForward);
}

TEST(Flip, SwapsExactlyTheMultiByteFieldsAndTwiceGivesTheRecordBack) {
  CorvimusPrefsRec r = SampleApp(FourCC("ttxt"), "TextEdit");
  // Every byte distinct from its neighbours, so a swap of any other field would show.
  auto* raw = reinterpret_cast<unsigned char*>(&r);
  for (size_t i = 0; i < sizeof r; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::string before = Bytes(r);
  ASSERT_EQ(FlipCorvimusPrefsRec(&r, 1012), noErr);
  const std::string once = Bytes(r);

  std::set<size_t> swapped;
  auto field = [&](size_t at, size_t n) {
    for (size_t k = 0; k < n; ++k) {
      EXPECT_EQ(once[at + k], before[at + n - 1 - k]) << "offset " << at + k;
      swapped.insert(at + k);
    }
  };
  field(0, 4);
  field(108, 2);
  for (size_t i = 0; i < 16; ++i) {
    field(116 + 56 * i, 2);
    field(116 + 56 * i + 4, 2);
    field(116 + 56 * i + 8, 2);
  }
  for (size_t i = 0; i < sizeof r; ++i)
    if (!swapped.count(i)) {
      EXPECT_EQ(once[i], before[i]) << "offset " << i << " was changed";
    }

  ASSERT_EQ(FlipCorvimusPrefsRec(&r, 1012), noErr);
  EXPECT_EQ(Bytes(r), before);
}

TEST(Flip, DefaultRecordCommandsTurnIntoTheirSwappedValues) {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  ASSERT_EQ(FlipCorvimusPrefsRec(&r, kCorvimusPrefsRecSize), noErr);
  EXPECT_EQ(r.device[0].action[0].command, 0x2100);
  EXPECT_EQ(r.device[0].action[14].keyCode, 100);
  EXPECT_EQ(r.device[0].speed, 255);
  EXPECT_EQ(r.active, 1);
  ASSERT_EQ(FlipCorvimusPrefsRec(&r, kCorvimusPrefsRecSize), noErr);
  EXPECT_EQ(r.device[0].action[0].command, 33);
}

TEST(Flip, RefusesAnyOtherSizeAndLeavesTheBytesAlone) {
  CorvimusPrefsRec r = SampleApp(FourCC("ttxt"), "TextEdit");
  const std::string before = Bytes(r);
  for (SInt32 size : {0, 1011, 1013, -1012}) {
    EXPECT_EQ(FlipCorvimusPrefsRec(&r, size), paramErr) << size;
    EXPECT_EQ(Bytes(r), before);
  }
  EXPECT_EQ(FlipCorvimusPrefsRec(nullptr, 1012), paramErr);
}

// ---- The file
// ------------------------------------------------------------------------------------

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("XDG_CONFIG_HOME", tmp / "config");
    env.Set("HOME", tmp.path());
    mkdir((tmp / "config").c_str(), 0700);
    base.reset(NewMouseSettingsBase(4));
    ASSERT_TRUE(base);
    FSResetTestSeams();
  }
  void TearDown() override { FSResetTestSeams(); }

  std::string FilePath() const { return tmp / "config/com.kelvane.mouse.prefs"; }

  static void Name(Str255 out, const std::string& s) {
    out[0] = UInt8(s.size());
    std::memcpy(out + 1, s.data(), s.size());
  }

  OSErr Load(CorvimusPrefsRec* defaults) {
    Str255 name;
    Name(name, kCorvimusPrefsFileName);
    return LoadMouseSettings(base.get(), name, defaults);
  }
  OSErr Save() {
    Str255 name;
    Name(name, kCorvimusPrefsFileName);
    return SaveMouseSettings(base.get(), name, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  }

  CorvimusPrefsRec RecordAt(SInt32 i) {
    SInt32 size = 0;
    const void* p = QBaseGetRecord(base.get(), i, &size);
    EXPECT_EQ(size, kCorvimusPrefsRecSize);
    CorvimusPrefsRec r{};
    if (p && size == kCorvimusPrefsRecSize) std::memcpy(&r, p, sizeof r);
    return r;
  }

  void AddRecords(int n) {
    for (int i = 0; i < n; ++i) {
      CorvimusPrefsRec r = SampleApp(FourCC("ap00") + UInt32(i), "App");
      ASSERT_GE(QBaseAddRecord(base.get(), &r, kCorvimusPrefsRecSize), 0);
    }
  }

  // What QBaseWrite makes of the current base, written to a file of its own.
  std::string DirectWrite() {
    std::string path = tmp / "direct";
    SInt16 ref = 0;
    EXPECT_EQ(FSCreateOpenPath(path.c_str(), &ref), noErr);
    EXPECT_EQ(QBaseWrite(base.get(), ref, 1, 1), noErr);
    FSCloseFork(ref);
    std::string bytes;
    ReadFile(path, &bytes);
    return bytes;
  }

  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
      while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir tmp;
  ScopedEnv env;
  BasePtr base;
};

TEST_F(SettingsFile, FirstRunWithoutAFileGivesTheDefaultRecordAndWritesNothing) {
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), noErr);
  ASSERT_EQ(QBaseCountRecords(base.get()), 1);
  // This test program lies in no bundle, so there is no localized name to write in.
  EXPECT_EQ(Bytes(RecordAt(0)), Bytes(kCorvimusDefaultPrefs));
  EXPECT_TRUE(Listing(tmp / "config").empty());
}

TEST_F(SettingsFile, MissingPreferencesFolderCountsAsNoFile) {
  env.Set("XDG_CONFIG_HOME", tmp / "not-there");
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), noErr);
  EXPECT_EQ(QBaseCountRecords(base.get()), 1);
  struct stat st;
  EXPECT_NE(stat((tmp / "not-there").c_str(), &st), 0) << "a load must not create the folder";
}

TEST_F(SettingsFile, WithoutADefaultRecordAnEmptyResultIsResNotFound) {
  EXPECT_EQ(Load(nullptr), resNotFound);
  EXPECT_EQ(LoadMouseSettings(nullptr, nullptr, nullptr), noErr);
  // No name: no file is read, only the default is added.
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(LoadMouseSettings(base.get(), nullptr, &defaults), noErr);
  EXPECT_EQ(QBaseCountRecords(base.get()), 1);
}

TEST_F(SettingsFile, EmptyDamagedAndForeignFilesAllEndWithOnlyTheDefaultRecord) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  std::string valid =
      BaseFile({RecordBytes(kCorvimusDefaultPrefs, false), RecordBytes(app, false)}, false);
  std::string damagedIndex = valid;
  corvimus::StoreU32LE(damagedIndex.data() + 68, 5000);  // second index entry past the area
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"one byte too long", valid + "x"},
      {"cut inside the last record", valid.substr(0, valid.size() - 100)},
      {"index entry out of range", damagedIndex},
      {"another type", BaseFile({RecordBytes(app, false)}, false, FourCC("XXXX"))},
      {"another type version", BaseFile({RecordBytes(app, false)}, false, FourCC("CvBa"), 0x1000)},
      {"not a record base", std::string(2000, 'z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(FilePath(), c.bytes);
    AddRecords(3);  // a replacing read drops whatever the base held
    CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
    EXPECT_EQ(Load(&defaults), noErr);
    ASSERT_EQ(QBaseCountRecords(base.get()), 1);
    EXPECT_EQ(Bytes(RecordAt(0)), Bytes(kCorvimusDefaultPrefs));
    std::string after;
    ASSERT_TRUE(ReadFile(FilePath(), &after));
    EXPECT_EQ(after, c.bytes) << "a load never changes the file";
    QBaseEmpty(base.get());
  }
}

TEST_F(SettingsFile, OtherReadErrorsAreReturned) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  WriteFile(FilePath(), BaseFile({RecordBytes(app, false)}, false));
  FSFailReadsAfter(10);
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), ioErr);
}

TEST_F(SettingsFile, ReadsAValidFileRecordForRecord) {
  CorvimusPrefsRec app = SampleApp(FourCC("ttxt"), "TextEdit");
  WriteFile(FilePath(),
            BaseFile({RecordBytes(kCorvimusDefaultPrefs, false), RecordBytes(app, false)}, false));
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), noErr);
  ASSERT_EQ(QBaseCountRecords(base.get()), 2);
  EXPECT_EQ(Bytes(RecordAt(1)), Bytes(app));
  EXPECT_EQ(QBaseGetRecordsChanged(base.get()), 0);
}

TEST_F(SettingsFile, BigEndianFileIsConvertedOnReadAndWrittenBackLittleEndian) {
  CorvimusPrefsRec global = kCorvimusDefaultPrefs;
  global.device[0].action[5].modifiers = cmdKey | shiftKey;
  CorvimusPrefsRec a = SampleApp(FourCC("ttxt"), "TextEdit");
  CorvimusPrefsRec b = SampleApp(FourCC("MACS"), "Finder");
  // A creator code in the data of command 26 keeps the writer's byte order: no flip touches it.
  b.device[0].action[7].command = kCmdOpenApplication;
  corvimus::StoreU32BE(b.device[0].action[7].data, FourCC("ttxt"));
  std::string big =
      BaseFile({RecordBytes(global, true), RecordBytes(a, true), RecordBytes(b, true)}, true);
  ASSERT_EQ(big.compare(0, 4, "QBSE"), 0);
  WriteFile(FilePath(), big);

  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  ASSERT_EQ(Load(&defaults), noErr);
  ASSERT_EQ(QBaseCountRecords(base.get()), 3);
  EXPECT_EQ(Bytes(RecordAt(0)), Bytes(global));
  EXPECT_EQ(Bytes(RecordAt(1)), Bytes(a));
  EXPECT_EQ(Bytes(RecordAt(2)), Bytes(b));
  EXPECT_EQ(RecordAt(2).device[0].action[7].data[0], 't');

  ASSERT_EQ(Save(), noErr);
  std::string written;
  ASSERT_TRUE(ReadFile(FilePath(), &written));
  EXPECT_EQ(written.compare(0, 4, "ESBQ"), 0);
  EXPECT_EQ(
      written,
      BaseFile({RecordBytes(global, false), RecordBytes(a, false), RecordBytes(b, false)}, false));
}

TEST_F(SettingsFile, SaveWritesExactlyWhatQBaseWriteWritesWithTypeAndCreator) {
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  ASSERT_EQ(Load(&defaults), noErr);
  AddRecords(2);
  std::string expected = DirectWrite();
  ASSERT_EQ(Save(), noErr);
  std::string written;
  ASSERT_TRUE(ReadFile(FilePath(), &written));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(written.size(), 64u + 3 * 4 + 3 * 1022);
  EXPECT_EQ(QBaseGetRecordsChanged(base.get()), 0);

  Str255 name;
  Name(name, kCorvimusPrefsFileName);
  FSSpec spec;
  ASSERT_EQ(FindMouseSettingsFile(name, kDontCreateFolder, &spec), noErr);
  FInfo info;
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, FourCC("pref"));
  EXPECT_EQ(info.fdCreator, FourCC("CvMP"));
  // The file, its sidecar and nothing else.
  EXPECT_EQ(Listing(tmp / "config"),
            (std::vector<std::string>{"._com.kelvane.mouse.prefs", "com.kelvane.mouse.prefs"}));
}

TEST_F(SettingsFile, SaveKeepsTheTypeAndCreatorOfAnExistingFile) {
  Str255 name;
  Name(name, kCorvimusPrefsFileName);
  FSSpec spec;
  ASSERT_EQ(FindMouseSettingsFile(name, kDontCreateFolder, &spec), fnfErr);
  ASSERT_EQ(FSpCreate(&spec, FourCC("ttxt"), FourCC("TEXT"), smSystemScript), noErr);
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  FInfo info;
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, FourCC("TEXT"));
  EXPECT_EQ(info.fdCreator, FourCC("ttxt"));
}

TEST_F(SettingsFile, SaveMakesAMissingPreferencesFolder) {
  env.Set("XDG_CONFIG_HOME", tmp / "fresh/config");
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  std::string written;
  EXPECT_TRUE(ReadFile(tmp / "fresh/config/com.kelvane.mouse.prefs", &written));
}

TEST_F(SettingsFile, SaveWithoutBaseOrNameWritesNothing) {
  Str255 empty = {0};
  EXPECT_EQ(SaveMouseSettings(base.get(), empty, kCorvimusPrefsFileType, kCorvimusPrefsCreator),
            noErr);
  EXPECT_EQ(SaveMouseSettings(base.get(), nullptr, kCorvimusPrefsFileType, kCorvimusPrefsCreator),
            noErr);
  Str255 name;
  Name(name, kCorvimusPrefsFileName);
  EXPECT_EQ(SaveMouseSettings(nullptr, name, kCorvimusPrefsFileType, kCorvimusPrefsCreator), noErr);
  EXPECT_TRUE(Listing(tmp / "config").empty());
}

TEST_F(SettingsFile, LongNamesAreCutTo63CharactersInTheCallersString) {
  std::string long64(64, 'n');
  Str255 name;
  Name(name, long64);
  AddRecords(1);
  ASSERT_EQ(SaveMouseSettings(base.get(), name, kCorvimusPrefsFileType, kCorvimusPrefsCreator),
            noErr);
  EXPECT_EQ(name[0], 63);
  std::string written;
  EXPECT_TRUE(ReadFile(tmp / ("config/" + long64.substr(0, 63)), &written));
  EXPECT_FALSE(ReadFile(tmp / ("config/" + long64), &written));

  Name(name, std::string(200, 'n'));
  QBaseEmpty(base.get());
  EXPECT_EQ(LoadMouseSettings(base.get(), name, nullptr), noErr);
  EXPECT_EQ(name[0], 63);
  EXPECT_EQ(QBaseCountRecords(base.get()), 1) << "the record saved under the cut name";
}

TEST_F(SettingsFile, InterruptedSaveLeavesTheOldFileIntact) {
  AddRecords(2);
  ASSERT_EQ(Save(), noErr);
  std::string before;
  ASSERT_TRUE(ReadFile(FilePath(), &before));
  AddRecords(3);
  const std::vector<std::string> listing = Listing(tmp / "config");

  // The disk fills up when the temporary file is half written.
  FSFailWritesAfter(SInt64(before.size() / 2));
  EXPECT_EQ(Save(), dskFulErr);
  FSResetTestSeams();
  std::string after;
  ASSERT_TRUE(ReadFile(FilePath(), &after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(Listing(tmp / "config"), listing) << "no temporary file is left behind";
  EXPECT_EQ(QBaseGetRecordsChanged(base.get()), 1) << "a failed save must not look saved";

  // The data is all written but cannot be flushed to the disk.
  FSFailNextFlush();
  EXPECT_NE(Save(), noErr);
  FSResetTestSeams();
  ASSERT_TRUE(ReadFile(FilePath(), &after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(Listing(tmp / "config"), listing);

  // Once the disk has room again the whole new base arrives.
  ASSERT_EQ(Save(), noErr);
  ASSERT_TRUE(ReadFile(FilePath(), &after));
  EXPECT_EQ(after, DirectWrite());
  EXPECT_EQ(after.size(), 64u + 5 * 4 + 5 * 1022);
}

TEST_F(SettingsFile, SaveIntoAReadOnlyFolderFailsAndKeepsTheFile) {
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  std::string before;
  ASSERT_TRUE(ReadFile(FilePath(), &before));
  AddRecords(1);
  // A folder that cannot take the temporary file: here a file stands where the folder should be.
  env.Set("XDG_CONFIG_HOME", tmp / "config/com.kelvane.mouse.prefs");
  EXPECT_NE(Save(), noErr);
  std::string after;
  ASSERT_TRUE(ReadFile(FilePath(), &after));
  EXPECT_EQ(after, before);
}

TEST_F(SettingsFile, SaveThroughASymbolicLinkKeepsTheLink) {
  mkdir((tmp / "dotfiles").c_str(), 0755);
  WriteFile(tmp / "dotfiles/mouse.prefs", "");
  ASSERT_EQ(symlink((tmp / "dotfiles/mouse.prefs").c_str(), FilePath().c_str()), 0);
  AddRecords(2);
  ASSERT_EQ(Save(), noErr);
  struct stat st;
  ASSERT_EQ(lstat(FilePath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  std::string written;
  ASSERT_TRUE(ReadFile(tmp / "dotfiles/mouse.prefs", &written));
  EXPECT_EQ(written, DirectWrite());
  QBaseEmpty(base.get());
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), noErr);
  EXPECT_EQ(QBaseCountRecords(base.get()), 2);
}

TEST_F(SettingsFile, SaveKeepsTheFilesModeAndRefusesAReadOnlyFile) {
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  ASSERT_EQ(chmod(FilePath().c_str(), 0600), 0);
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  struct stat st;
  ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, off_t(64 + 2 * 4 + 2 * 1022));

  // The user made it read-only: the save says so and changes nothing, the mode included.
  ASSERT_EQ(chmod(FilePath().c_str(), 0444), 0);
  std::string before;
  ASSERT_TRUE(ReadFile(FilePath(), &before));
  const std::vector<std::string> listing = Listing(tmp / "config");
  AddRecords(1);
  EXPECT_EQ(Save(), fLckdErr);
  std::string after;
  ASSERT_TRUE(ReadFile(FilePath(), &after));
  EXPECT_EQ(after, before);
  ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(Listing(tmp / "config"), listing) << "nothing was written beside it";
  EXPECT_EQ(QBaseGetRecordsChanged(base.get()), 1) << "the refused save does not look saved";
}

TEST_F(SettingsFile, AFifoOrADeviceWhereTheFileBelongsIsNeverReadNorReplaced) {
  corvimus::testing::FifoWatch fifo(FilePath());
  AddRecords(2);
  CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
  EXPECT_EQ(Load(&defaults), notAFileErr);
  EXPECT_EQ(QBaseCountRecords(base.get()), 2) << "the base stays as it was";
  EXPECT_EQ(Save(), notAFileErr);
  EXPECT_TRUE(fifo.StillAFifo());
  EXPECT_FALSE(fifo.ReaderSeen());
  EXPECT_EQ(Listing(tmp / "config"), (std::vector<std::string>{"com.kelvane.mouse.prefs"}));

  // Through a link: the devices read as empty or endless files and are no settings files either.
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    SCOPED_TRACE(device);
    unlink(FilePath().c_str());
    ASSERT_EQ(symlink(device, FilePath().c_str()), 0);
    EXPECT_EQ(Load(&defaults), notAFileErr);
    EXPECT_EQ(QBaseCountRecords(base.get()), 2);
  }
  // A save through a link to a device would put a file in the device's place; a device of the
  // test's own stands in for /dev/zero.
  std::string device = tmp / "zero";
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0)
    GTEST_SKIP() << "no device nodes may be made here: " << std::strerror(errno);
  unlink(FilePath().c_str());
  ASSERT_EQ(symlink(device.c_str(), FilePath().c_str()), 0);
  EXPECT_EQ(Save(), notAFileErr);
  struct stat st;
  ASSERT_EQ(lstat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(Listing(tmp.path()), (std::vector<std::string>{"config", "zero"}));
}

// Saves killed at every moment, as a logout kills the pane: the file is always whole, and what a
// killed save left is gone once a later save has run.
TEST_F(SettingsFile, KilledSavesNeverLeaveAHalfFileAndTheNextSaveSweepsTheirRemains) {
  AddRecords(1);
  ASSERT_EQ(Save(), noErr);
  for (int round = 0; round < 40; ++round) {
    pid_t saver = fork();
    ASSERT_GE(saver, 0);
    if (saver == 0) {
      for (int n = 0;; ++n) {
        AddRecords(1);
        Save();
      }
    }
    usleep(useconds_t(200 + (round * 397) % 3000));
    kill(saver, SIGKILL);
    ASSERT_EQ(waitpid(saver, nullptr, 0), saver);
    BasePtr check(NewMouseSettingsBase(4));
    Str255 name;
    Name(name, kCorvimusPrefsFileName);
    FSSpec spec;
    ASSERT_EQ(FindMouseSettingsFile(name, kDontCreateFolder, &spec), noErr);
    ASSERT_EQ(ReadMouseSettingsFile(check.get(), &spec), noErr) << "round " << round;
    EXPECT_GE(QBaseCountRecords(check.get()), 1);
  }
  ASSERT_EQ(Save(), noErr);
  EXPECT_EQ(Listing(tmp / "config"),
            (std::vector<std::string>{"._com.kelvane.mouse.prefs", "com.kelvane.mouse.prefs"}));
}

}  // namespace
