#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/AppleDouble.h"
#include "platform/FileRefs.h"
#include "platform/Files.h"
#include "testing/FifoWatch.h"
#include "testing/MacFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;

namespace {

class FileRefs : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(corvimus::PathToDirID(tmp.path(), &vRefNum, &dirID), noErr); }
  static void P(Str255 out, const std::string& s) {
    out[0] = UInt8(s.size());
    std::memcpy(out + 1, s.data(), s.size());
  }
  OSErr Spec(const std::string& name, FSSpec* spec) {
    Str255 p;
    P(p, name);
    return FSMakeFSSpec(vRefNum, dirID, p, spec);
  }
  static std::string NameOf(const FSSpec& spec) {
    return std::string(reinterpret_cast<const char*>(spec.name) + 1, spec.name[0]);
  }
  std::string PathOf(const FSSpec& spec) {
    std::string path;
    EXPECT_EQ(corvimus::FSSpecToPath(&spec, &path), noErr);
    return path;
  }
  std::vector<std::string> Listing() { return corvimus::testing::FolderNames(tmp.path()); }

  TempDir tmp;
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
};

TEST_F(FileRefs, NamesAreFoundExactlyFirstThenWithoutRegardToCase) {
  WriteFile(tmp / "Settings.Prefs", "a");
  FSSpec spec;
  ASSERT_EQ(Spec("settings.prefs", &spec), noErr);
  EXPECT_EQ(NameOf(spec), "Settings.Prefs");
  EXPECT_EQ(spec.parID, dirID);
  EXPECT_EQ(spec.vRefNum, vRefNum);
  // With two candidates the exact one wins.
  WriteFile(tmp / "settings.prefs", "b");
  ASSERT_EQ(Spec("settings.prefs", &spec), noErr);
  EXPECT_EQ(NameOf(spec), "settings.prefs");
  // Letters beyond ASCII fold too.
  WriteFile(tmp / "\xC3\x89T\xC3\x89", "c");  // ÉTÉ
  ASSERT_EQ(Spec("\xC3\xA9t\xC3\xA9", &spec), noErr);
  EXPECT_EQ(NameOf(spec), "\xC3\x89T\xC3\x89");
  // A missing item still gives a spec to create it with.
  EXPECT_EQ(Spec("New File", &spec), fnfErr);
  EXPECT_EQ(NameOf(spec), "New File");
  EXPECT_EQ(PathOf(spec), tmp / "New File");
}

TEST_F(FileRefs, BadNamesAndUnknownFoldersAreRefused) {
  FSSpec spec;
  for (const char* bad : {"a/b", ".", ".."}) EXPECT_EQ(Spec(bad, &spec), bdNamErr) << bad;
  EXPECT_EQ(Spec(std::string("a\0b", 3), &spec), bdNamErr);
  EXPECT_EQ(Spec(std::string(64, 'n'), &spec), bdNamErr);
  Str255 p;
  P(p, "x");
  EXPECT_EQ(FSMakeFSSpec(vRefNum, 99999, p, &spec), dirNFErr);
  EXPECT_EQ(FSMakeFSSpec(vRefNum, dirID, p, nullptr), paramErr);
  // A folder that was removed after it was looked up is not silently another folder.
  mkdir((tmp / "gone").c_str(), 0755);
  SInt16 v;
  SInt32 gone;
  ASSERT_EQ(corvimus::PathToDirID(tmp / "gone", &v, &gone), noErr);
  rmdir((tmp / "gone").c_str());
  EXPECT_EQ(FSMakeFSSpec(v, gone, p, &spec), dirNFErr);
}

TEST_F(FileRefs, PartialPathsWalkFoldersAndGoUpWithDoubledColons) {
  mkdir((tmp / "Library").c_str(), 0755);
  mkdir((tmp / "Library/Preferences").c_str(), 0755);
  WriteFile(tmp / "Library/Preferences/loginwindow.plist", "x");
  FSSpec spec;
  ASSERT_EQ(Spec(":library:preferences:loginwindow.plist", &spec), noErr);
  EXPECT_EQ(PathOf(spec), tmp / "Library/Preferences/loginwindow.plist");
  EXPECT_EQ(Spec(":Library:Missing:x", &spec), dirNFErr);
  EXPECT_EQ(Spec(":Library:Preferences:absent", &spec), fnfErr);
  EXPECT_EQ(PathOf(spec), tmp / "Library/Preferences/absent");
  // A path naming a folder, and one that goes up again.
  ASSERT_EQ(Spec(":Library:Preferences:", &spec), noErr);
  EXPECT_EQ(PathOf(spec), tmp / "Library/Preferences");
  ASSERT_EQ(Spec(":Library:Preferences::", &spec), noErr);
  EXPECT_EQ(PathOf(spec), tmp / "Library");
  // The empty name is the folder itself.
  ASSERT_EQ(Spec("", &spec), noErr);
  EXPECT_EQ(PathOf(spec), tmp.path());
}

TEST_F(FileRefs, CreatedFilesCarryTypeAndCreatorInAHiddenSidecar) {
  FSSpec spec;
  ASSERT_EQ(Spec("Notes", &spec), fnfErr);
  ASSERT_EQ(FSpCreate(&spec, FourCC("ttxt"), FourCC("TEXT"), smSystemScript), noErr);
  EXPECT_EQ(FSpCreate(&spec, FourCC("ttxt"), FourCC("TEXT"), smSystemScript), dupFNErr);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"._Notes", "Notes"}));
  FInfo info;
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, FourCC("TEXT"));
  EXPECT_EQ(info.fdCreator, FourCC("ttxt"));

  // The sidecar is an AppleDouble file with a 32-byte Finder info entry.
  std::string sidecar;
  ASSERT_TRUE(ReadFile(tmp / "._Notes", &sidecar));
  ASSERT_EQ(sidecar.size(), 26u + 12 + 32);
  EXPECT_EQ(sidecar.substr(0, 8), std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8));
  EXPECT_EQ(sidecar.substr(24, 2), std::string("\x00\x01", 2));
  EXPECT_EQ(sidecar.substr(26, 12),
            std::string("\x00\x00\x00\x09\x00\x00\x00\x26\x00\x00\x00\x20", 12));
  EXPECT_EQ(sidecar.substr(38, 8), "TEXTttxt");

  // A sidecar is never found by a look-up that ignores case, and a file without one has zeros.
  EXPECT_EQ(Spec("._notes", &spec), fnfErr);
  WriteFile(tmp / "plain", "");
  ASSERT_EQ(Spec("plain", &spec), noErr);
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, 0u);
  info.fdType = FourCC("APPL");
  info.fdFlags = kIsInvisible;
  ASSERT_EQ(FSpSetFInfo(&spec, &info), noErr);
  FInfo again;
  ASSERT_EQ(FSpGetFInfo(&spec, &again), noErr);
  EXPECT_EQ(again.fdType, FourCC("APPL"));
  EXPECT_EQ(again.fdFlags, kIsInvisible);
}

TEST_F(FileRefs, DeleteAndRenameTakeTheSidecarAlong) {
  FSSpec spec;
  Spec("Doc", &spec);
  ASSERT_EQ(FSpCreate(&spec, FourCC("ttxt"), FourCC("TEXT"), smSystemScript), noErr);
  Str255 newName;
  P(newName, "Renamed");
  ASSERT_EQ(FSpRename(&spec, newName), noErr);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"._Renamed", "Renamed"}));
  WriteFile(tmp / "Taken", "");
  ASSERT_EQ(Spec("Renamed", &spec), noErr);
  P(newName, "Taken");
  EXPECT_EQ(FSpRename(&spec, newName), dupFNErr);
  ASSERT_EQ(FSpDelete(&spec), noErr);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"Taken"}));
  EXPECT_EQ(FSpDelete(&spec), fnfErr);
  // Folders: only empty ones.
  mkdir((tmp / "Folder").c_str(), 0755);
  WriteFile(tmp / "Folder/inside", "");
  ASSERT_EQ(Spec("Folder", &spec), noErr);
  EXPECT_EQ(FSpDelete(&spec), fBsyErr);
  unlink((tmp / "Folder/inside").c_str());
  EXPECT_EQ(FSpDelete(&spec), noErr);
}

TEST_F(FileRefs, ReplaceFilePutsTheNewFileInPlaceWithItsFinderInfo) {
  FSSpec target, source;
  Spec("target", &target);
  ASSERT_EQ(FSpCreate(&target, FourCC("CvMP"), FourCC("pref"), smSystemScript), noErr);
  WriteFile(tmp / "target", "old");
  Spec("source", &source);
  ASSERT_EQ(FSpCreate(&source, FourCC("CvMP"), FourCC("pref"), smSystemScript), noErr);
  WriteFile(tmp / "source", "new");
  ASSERT_EQ(FSpReplaceFile(&source, &target), noErr);
  std::string bytes;
  ASSERT_TRUE(ReadFile(tmp / "target", &bytes));
  EXPECT_EQ(bytes, "new");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"._target", "target"}));
  FInfo info;
  ASSERT_EQ(FSpGetFInfo(&target, &info), noErr);
  EXPECT_EQ(info.fdType, FourCC("pref"));

  // A source without a sidecar leaves the target without one; a missing source changes nothing.
  WriteFile(tmp / "bare", "bare");
  FSSpec bare;
  ASSERT_EQ(Spec("bare", &bare), noErr);
  ASSERT_EQ(FSpReplaceFile(&bare, &target), noErr);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"target"}));
  EXPECT_EQ(FSpReplaceFile(&bare, &target), fnfErr);
  ASSERT_TRUE(ReadFile(tmp / "target", &bytes));
  EXPECT_EQ(bytes, "bare");
}

TEST_F(FileRefs, RefsAndSpecsConvertBothWays) {
  WriteFile(tmp / "item", "x");
  symlink("item", (tmp / "link").c_str());
  FSRef ref;
  Boolean isDir = 1;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((tmp / "link").c_str()), &ref, &isDir),
            noErr);
  EXPECT_EQ(std::string(ref.path), tmp / "link") << "a symbolic link is an item of its own";
  EXPECT_EQ(isDir, 0);
  FSSpec spec;
  ASSERT_EQ(FSGetFSSpecFromRef(&ref, &spec), noErr);
  EXPECT_EQ(NameOf(spec), "link");
  EXPECT_EQ(spec.parID, dirID);
  FSRef back;
  ASSERT_EQ(FSpMakeFSRef(&spec, &back), noErr);
  EXPECT_STREQ(back.path, ref.path);
  UInt8 path[16];
  EXPECT_EQ(FSRefMakePath(&ref, path, sizeof path), bdNamErr);
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((tmp / "none").c_str()), &ref, nullptr),
            fnfErr);
}

TEST_F(FileRefs, DataForkOpensThroughTheFileManager) {
  FSSpec spec;
  Spec("data", &spec);
  ASSERT_EQ(FSpCreate(&spec, FourCC("ttxt"), FourCC("TEXT"), smSystemScript), noErr);
  SInt16 ref = 0;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
  EXPECT_NE(ref, 0);
  SInt32 count = 5;
  ASSERT_EQ(FSWrite(ref, &count, "hello"), noErr);
  EXPECT_EQ(FSCloseFork(ref), noErr);
  std::string bytes;
  ASSERT_TRUE(ReadFile(tmp / "data", &bytes));
  EXPECT_EQ(bytes, "hello");
  FSSpec missing;
  Spec("missing", &missing);
  EXPECT_EQ(FSpOpenDF(&missing, fsRdPerm, &ref), fnfErr);
}

// Sidecars come from the disk; any bytes at all are an error result or a well-formed list.
TEST(AppleDouble, DamagedSidecarsAreRefusedWithoutReadingPastTheirEnd) {
  corvimus::AppleDouble sidecar;
  std::vector<UInt8> info(32, 0);
  corvimus::StoreFinderInfo(info.data(), FourCC("pref"), FourCC("CvMP"), 0);
  sidecar.Set(corvimus::kAppleDoubleFinderInfo, info);
  sidecar.Set(corvimus::kAppleDoubleResourceFork, std::vector<UInt8>(300, 0x5A));
  std::vector<UInt8> good = corvimus::SerializeAppleDouble(sidecar);
  corvimus::AppleDouble parsed;
  ASSERT_EQ(corvimus::ParseAppleDouble(good.data(), good.size(), &parsed), noErr);
  ASSERT_EQ(parsed.entries.size(), 2u);
  EXPECT_EQ(parsed.Find(corvimus::kAppleDoubleResourceFork)->data.size(), 300u);

  for (size_t n = 0; n < good.size(); ++n) {
    // Cut anywhere inside the descriptors or the data: refused (exact copies hold no spare bytes).
    std::vector<UInt8> cut(good.begin(), good.begin() + long(n));
    EXPECT_EQ(corvimus::ParseAppleDouble(cut.data(), cut.size(), &parsed), ioErr) << n;
  }
  for (size_t i = 0; i < 26 + 24; ++i) {
    for (UInt8 v : {UInt8(0x00), UInt8(0xFF), UInt8(0x80)}) {
      std::vector<UInt8> bad = good;
      bad[i] = v;
      OSErr e = corvimus::ParseAppleDouble(bad.data(), bad.size(), &parsed);
      if (e == noErr) {
        for (const auto& entry : parsed.entries) EXPECT_LE(entry.data.size(), bad.size());
      } else {
        EXPECT_EQ(e, ioErr);
      }
    }
  }
  // The same entry twice, and too many entries.
  std::vector<UInt8> twice = good;
  twice[26 + 12 + 3] = UInt8(corvimus::kAppleDoubleFinderInfo);
  EXPECT_EQ(corvimus::ParseAppleDouble(twice.data(), twice.size(), &parsed), ioErr);
  std::vector<UInt8> many = good;
  many[24] = 0xFF;
  EXPECT_EQ(corvimus::ParseAppleDouble(many.data(), many.size(), &parsed), ioErr);
}

TEST_F(FileRefs, DamagedSidecarIsAnErrorNotACrash) {
  WriteFile(tmp / "f", "");
  WriteFile(tmp / "._f", std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8));
  FSSpec spec;
  ASSERT_EQ(Spec("f", &spec), noErr);
  FInfo info;
  EXPECT_EQ(FSpGetFInfo(&spec, &info), ioErr);
  EXPECT_EQ(FSpSetFInfo(&spec, &info), ioErr);
}

}  // namespace

namespace {

OSType kType = FourCC("pref"), kCreator = FourCC("CvMP");

std::string Text(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(ReadFile(path, &bytes)) << path;
  return bytes;
}

mode_t ModeOf(const std::string& path) {
  struct stat st{};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

}  // namespace

TEST_F(FileRefs, ReplacingKeepsTheModeAndRefusesWhatMayNotBeReplaced) {
  FSSpec target, source;
  Spec("target", &target);
  WriteFile(tmp / "target", "old");
  ASSERT_EQ(chmod((tmp / "target").c_str(), 0600), 0);
  Spec("source", &source);
  WriteFile(tmp / "source", "new");
  ASSERT_EQ(chmod((tmp / "source").c_str(), 0644), 0);
  EXPECT_EQ(FSpCheckReplaceable(&target), noErr);
  ASSERT_EQ(FSpReplaceFile(&source, &target), noErr);
  EXPECT_EQ(Text(tmp / "target"), "new");
  EXPECT_EQ(ModeOf(tmp / "target") & 07777, 0600u) << "a private file stays private";

  // Read-only: refused, and both files stay as they were.
  ASSERT_EQ(chmod((tmp / "target").c_str(), 0444), 0);
  WriteFile(tmp / "source", "newer");
  ASSERT_EQ(Spec("source", &source), noErr);
  EXPECT_EQ(FSpCheckReplaceable(&target), fLckdErr);
  EXPECT_EQ(FSpReplaceFile(&source, &target), fLckdErr);
  EXPECT_EQ(Text(tmp / "target"), "new");
  EXPECT_EQ(Text(tmp / "source"), "newer");

  // Nothing but a regular file is replaced: not a FIFO, not a link (to a device or anything).
  corvimus::testing::FifoWatch fifo(tmp / "fifo");
  ASSERT_EQ(symlink("/dev/null", (tmp / "null").c_str()), 0);
  for (const char* name : {"fifo", "null"}) {
    SCOPED_TRACE(name);
    FSSpec odd;
    ASSERT_EQ(Spec(name, &odd), noErr);
    EXPECT_EQ(FSpCheckReplaceable(&odd), notAFileErr);
    EXPECT_EQ(FSpReplaceFile(&source, &odd), notAFileErr);
  }
  EXPECT_TRUE(fifo.StillAFifo());
  EXPECT_TRUE(S_ISLNK(ModeOf(tmp / "null")));
  EXPECT_FALSE(fifo.ReaderSeen());
  FSSpec missing;
  EXPECT_EQ(Spec("missing", &missing), fnfErr);
  EXPECT_EQ(FSpCheckReplaceable(&missing), fnfErr);
}

TEST_F(FileRefs, ASidecarThatIsAFifoIsDamageNotAWait) {
  WriteFile(tmp / "file", "x");
  corvimus::testing::FifoWatch fifo(tmp / "._file");
  FSSpec spec;
  ASSERT_EQ(Spec("file", &spec), noErr);
  FInfo info;
  EXPECT_EQ(FSpGetFInfo(&spec, &info), ioErr);
  EXPECT_FALSE(fifo.ReaderSeen());
}

// What saves leave when they are killed: each child below is a save killed at one step, as a
// logout or a crash kills one.
TEST_F(FileRefs, SavesKilledHalfWayAreSweptAndLivingOnesAreNot) {
  FSSpec file;
  Spec("settings", &file);
  WriteFile(tmp / "settings", "old");
  auto killedSave = [&](bool replaceStarted) {
    pid_t child = fork();
    if (child == 0) {
      FSSpec temp;
      SInt16 ref = 0;
      if (FSpCreateSaveFile(&file, kCreator, kType, &temp, &ref) != noErr) _exit(1);
      if (replaceStarted) {
        // The copy of the file's sidecar FSpReplaceFile makes while the sidecars change places.
        std::string backup = tmp / ("._settings.old" + std::to_string(getpid()));
        WriteFile(backup, "sidecar");
      }
      raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
  };
  const std::vector<std::string> bystanders = {".settings.save-x-1", ".settings.save-",
                                                "settings.save-1-1", "._settings",
                                                ".other.save-1-1",   "._settings.old"};
  for (const std::string& name : bystanders) WriteFile(tmp / name, "mine");
  const std::vector<std::string> clean = Listing();
  killedSave(true);
  EXPECT_EQ(Listing().size(), clean.size() + 3) << "a temporary file, its sidecar, a backup";
  EXPECT_EQ(FSpSweepSaveFiles(&file), 3);
  EXPECT_EQ(Listing(), clean) << "only what the killed save left went";

  // Each save sweeps first, so killed saves one after another leave one save's remains at most.
  for (int i = 0; i < 3; ++i) killedSave(false);
  EXPECT_EQ(Listing().size(), clean.size() + 2);
  // A save of this process that is still writing is left alone.
  FSSpec live;
  SInt16 ref = 0;
  ASSERT_EQ(FSpCreateSaveFile(&file, kCreator, kType, &live, &ref), noErr);
  std::vector<std::string> during = Listing();
  EXPECT_EQ(during.size(), clean.size() + 2);
  EXPECT_TRUE(std::find(during.begin(), during.end(), NameOf(live)) != during.end());
  EXPECT_TRUE(std::find(during.begin(), during.end(), "._" + NameOf(live)) != during.end());
  EXPECT_EQ(FSpSweepSaveFiles(&file), 0);

  // Its process lives, but a save left unlocked more than an hour ago is over.
  EXPECT_EQ(FSCloseFork(ref), noErr);
  EXPECT_EQ(FSpSweepSaveFiles(&file), 0);
  std::string livePath = PathOf(live);
  struct timespec times[2] = {{time(nullptr) - 2 * 3600, 0}, {time(nullptr) - 2 * 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, livePath.c_str(), times, 0), 0);
  EXPECT_EQ(FSpSweepSaveFiles(&file), 2);
  EXPECT_EQ(Text(tmp / "settings"), "old");

  // A save whose process number means nothing here (one run in another process namespace, a
  // container sharing the home folder) still holds its lock, and that is what counts.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  std::string foreign = tmp / (".settings.save-" + std::to_string(gone) + "-7");
  WriteFile(foreign, "being written");
  int held = open(foreign.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(FSpSweepSaveFiles(&file), 0);
  close(held);
  EXPECT_EQ(FSpSweepSaveFiles(&file), 1);
  EXPECT_EQ(Listing(), clean);
}
