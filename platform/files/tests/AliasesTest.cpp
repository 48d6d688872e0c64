#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Aliases.h"
#include "platform/AppleDouble.h"
#include "platform/FileCatalog.h"
#include "platform/MacMemory.h"
#include "platform/Resources.h"
#include "testing/MacFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::RefOf;
using corvimus::testing::TempDir;
using corvimus::testing::Uni;
using corvimus::testing::WriteFile;

namespace {

std::string Bytes(Handle h) {
  return std::string(*h, GetHandleSize(h));
}

// A file in folder whose resource fork is an empty resource file.
FSRef NewResourceFile(const std::string& folder, const char* name, UInt16 flags = 0) {
  FSRef parent = RefOf(folder), made{};
  HFSUniStr255 uni = Uni(name), fork;
  FSGetResourceForkName(&fork);
  FSCatalogInfo info{};
  FinderInfoOf(&info)->finderFlags = flags;
  EXPECT_EQ(FSCreateResourceFile(&parent, uni.length, uni.unicode, kFSCatInfoFinderInfo, &info,
                                 fork.length, fork.unicode, &made, nullptr),
            noErr);
  return made;
}

OSErr AddTo(const FSRef& file, ResType type, SInt16 id, const std::string& data,
            ConstStr255Param name = reinterpret_cast<const UInt8*>("")) {
  HFSUniStr255 fork;
  FSGetResourceForkName(&fork);
  SInt16 ref;
  OSErr err = FSOpenResourceFile(&file, fork.length, fork.unicode, fsRdWrPerm, &ref);
  if (err != noErr) return err;
  Handle h = nullptr;
  PtrToHand(data.data(), &h, Size(data.size()));
  AddResource(h, type, id, name);
  err = ResError();
  if (err != noErr) DisposeHandle(h);
  CloseResFile(ref);
  return err != noErr ? err : ResError();
}

// An alias file at folder/name naming target, made as the system's alias files are.
FSRef MakeAliasFile(const std::string& folder, const char* name, const std::string& target) {
  FSRef file = NewResourceFile(folder, name, kIsAlias);
  FSRef targetRef = RefOf(target);
  AliasHandle alias = nullptr;
  EXPECT_EQ(FSNewAlias(nullptr, &targetRef, &alias), noErr);
  EXPECT_EQ(AddTo(file, kAliasResourceType, 0, Bytes(alias)), noErr);
  DisposeHandle(alias);
  return file;
}

}  // namespace

TEST(ResourceFiles, ResourcesAddedAreReadBackAfterClosing) {
  TempDir dir;
  FSRef file = NewResourceFile(dir.path(), "Res");
  EXPECT_EQ(AddTo(file, FourCC("alis"), 0, "record"), noErr);
  EXPECT_EQ(AddTo(file, FourCC("TEXT"), 128, "hello", reinterpret_cast<const UInt8*>("\x04name")),
            noErr);
  EXPECT_EQ(AddTo(file, FourCC("alis"), 0, "again"), addResFailed);

  HFSUniStr255 fork;
  FSGetResourceForkName(&fork);
  SInt16 ref;
  ASSERT_EQ(FSOpenResourceFile(&file, fork.length, fork.unicode, fsRdPerm, &ref), noErr);
  Handle alis = Get1Resource(FourCC("alis"), 0);
  ASSERT_NE(alis, nullptr);
  EXPECT_EQ(Bytes(alis), "record");
  Handle text = Get1Resource(FourCC("TEXT"), 128);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Bytes(text), "hello");
  EXPECT_EQ(Get1Resource(FourCC("TEXT"), 129), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
  Handle more = NewHandle(1);
  AddResource(more, FourCC("XXXX"), 1, reinterpret_cast<const UInt8*>(""));
  EXPECT_EQ(ResError(), wrPermErr);
  DisposeHandle(more);
  CloseResFile(ref);
  EXPECT_EQ(ResError(), noErr);
  CloseResFile(ref);
  EXPECT_EQ(ResError(), resFNotFound);

  // The data fork stays empty; the fork lives in the hidden sidecar, which goes with the file.
  struct stat st;
  ASSERT_EQ(stat((dir / "Res").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  ASSERT_EQ(FSDeleteObject(&file), noErr);
  EXPECT_EQ(access((dir / "._Res").c_str(), F_OK), -1);
}

TEST(ResourceFiles, OnlyTheResourceForkNameIsAccepted) {
  TempDir dir;
  FSRef parent = RefOf(dir.path());
  HFSUniStr255 name = Uni("x"), wrong = Uni("DATA");
  EXPECT_EQ(FSCreateResourceFile(&parent, name.length, name.unicode, 0, nullptr, wrong.length,
                                 wrong.unicode, nullptr, nullptr),
            errFSBadForkName);
  EXPECT_EQ(access((dir / "x").c_str(), F_OK), -1);
  // A file without a resource fork has nothing to open.
  WriteFile(dir / "plain", "");
  FSRef plain = RefOf(dir / "plain");
  HFSUniStr255 fork;
  FSGetResourceForkName(&fork);
  SInt16 ref;
  EXPECT_EQ(FSOpenResourceFile(&plain, fork.length, fork.unicode, fsRdPerm, &ref), eofErr);
}

// Every truncation and single-byte change of a resource fork parses or is refused as a damaged map.
TEST(ResourceFiles, DamagedMapsAreRefusedNeverCrash) {
  std::vector<corvimus::ResourceEntry> resources = {
      {FourCC("alis"), 0, 0, "", {1, 2, 3, 4, 5}},
      {FourCC("TEXT"), 128, 0, "greeting", {'h', 'i'}},
      {FourCC("TEXT"), 129, 0, "", {}},
  };
  std::vector<UInt8> fork = corvimus::SerializeResourceFork(resources);
  std::vector<corvimus::ResourceEntry> back;
  ASSERT_EQ(corvimus::ParseResourceFork(fork, &back), noErr);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].name, "greeting");
  EXPECT_EQ(back[0].data, resources[0].data);
  ASSERT_EQ(corvimus::ParseResourceFork(corvimus::SerializeResourceFork({}), &back), noErr);
  EXPECT_TRUE(back.empty());

  for (std::size_t cut = 0; cut < fork.size(); ++cut) {
    std::vector<UInt8> part(fork.begin(), fork.begin() + long(cut));
    EXPECT_EQ(corvimus::ParseResourceFork(part, &back), mapReadErr) << "cut at " << cut;
  }
  for (std::size_t at = 0; at < fork.size(); ++at) {
    for (UInt8 v : {0x00, 0xFF, 0x7F, 0x80}) {
      std::vector<UInt8> bad = fork;
      bad[at] = v;
      OSErr err = corvimus::ParseResourceFork(bad, &back);
      EXPECT_TRUE(err == noErr || err == mapReadErr) << err;
    }
  }
}

TEST(Aliases, ARecordNamesItsTargetByPathAndIdentity) {
  TempDir dir;
  WriteFile(dir / "doc", "x");
  FSRef target = RefOf(dir / "doc");
  AliasHandle alias = nullptr;
  ASSERT_EQ(FSNewAlias(nullptr, &target, &alias), noErr);
  const std::string bytes = Bytes(alias);
  const std::string path = corvimus::PathOfRef(&target);
  ASSERT_EQ(bytes.size(), kAliasRecordHeaderSize + path.size());
  EXPECT_EQ(bytes.substr(0, 4), "CVal");
  EXPECT_EQ(bytes.substr(kAliasRecordHeaderSize), path);

  FSRef resolved;
  Boolean changed = 1;
  ASSERT_EQ(FSResolveAlias(nullptr, alias, &resolved, &changed), noErr);
  EXPECT_EQ(corvimus::PathOfRef(&resolved), path);
  EXPECT_FALSE(changed);
  // Replaced by another file of the same name: still found, and said to have changed.
  unlink((dir / "doc").c_str());
  WriteFile(dir / "other", "");
  WriteFile(dir / "doc", "new");
  ASSERT_EQ(FSResolveAlias(nullptr, alias, &resolved, &changed), noErr);
  EXPECT_TRUE(changed);
  unlink((dir / "doc").c_str());
  EXPECT_EQ(FSResolveAlias(nullptr, alias, &resolved, &changed), fnfErr);

  // Damaged records are refused.
  for (std::size_t cut : {std::size_t(0), std::size_t(10), bytes.size() - 1}) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(cut));
    if (!h) h = NewHandle(0);
    EXPECT_EQ(FSResolveAlias(nullptr, h, &resolved, nullptr), paramErr) << cut;
    DisposeHandle(h);
  }
  (*alias)[0] = 'X';
  EXPECT_EQ(FSResolveAlias(nullptr, alias, &resolved, nullptr), paramErr);
  DisposeHandle(alias);
}

TEST(Aliases, AliasFilesResolveThroughChainsAndStopOnLoops) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "Target").c_str(), 0755), 0);
  MakeAliasFile(dir.path(), "first", dir / "Target");
  MakeAliasFile(dir.path(), "second", dir / "first");
  FSRef ref = RefOf(dir / "second");
  Boolean folder = 0, aliased = 0;
  ASSERT_EQ(FSResolveAliasFile(&ref, 1, &folder, &aliased), noErr);
  FSRef target = RefOf(dir / "Target");
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&target));
  EXPECT_TRUE(folder);
  EXPECT_TRUE(aliased);
  // Without chains, one step.
  ref = RefOf(dir / "second");
  ASSERT_EQ(FSResolveAliasFile(&ref, 0, &folder, &aliased), noErr);
  FSRef first = RefOf(dir / "first");
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&first));
  EXPECT_FALSE(folder);
  // An ordinary item is left as it is.
  ref = target;
  ASSERT_EQ(FSResolveAliasFile(&ref, 1, &folder, &aliased), noErr);
  EXPECT_FALSE(aliased);

  // a -> b -> a: a loop is an error, not a hang.
  WriteFile(dir / "b", "");
  MakeAliasFile(dir.path(), "a", dir / "b");
  FSRef b = RefOf(dir / "b");
  FSDeleteObject(&b);
  MakeAliasFile(dir.path(), "b", dir / "a");
  ref = RefOf(dir / "a");
  FSRef before = ref;
  EXPECT_EQ(FSResolveAliasFile(&ref, 1, &folder, &aliased), errAliasChainLoop);
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&before)) << "unchanged on failure";

  // A chain longer than the limit is refused too.
  WriteFile(dir / "end", "");
  std::string previous = dir / "end";
  for (int i = 0; i <= kMaxAliasChainHops; ++i) {
    std::string name = "hop" + std::to_string(i);
    MakeAliasFile(dir.path(), name.c_str(), previous);
    previous = dir / name;
  }
  ref = RefOf(previous);
  EXPECT_EQ(FSResolveAliasFile(&ref, 1, &folder, &aliased), errAliasChainLoop);
  ref = RefOf(dir / ("hop" + std::to_string(kMaxAliasChainHops - 1)));
  EXPECT_EQ(FSResolveAliasFile(&ref, 1, &folder, &aliased), noErr);
}

TEST(Aliases, AnAliasToASymbolicLinkResolvesToTheLink) {
  TempDir dir;
  WriteFile(dir / "real", "");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  MakeAliasFile(dir.path(), "alias", dir / "link");
  FSRef ref = RefOf(dir / "alias");
  ASSERT_EQ(FSResolveAliasFile(&ref, 1, nullptr, nullptr), noErr);
  FSRef link = RefOf(dir / "link");
  EXPECT_EQ(corvimus::PathOfRef(&ref), corvimus::PathOfRef(&link));
}

TEST(Aliases, AnAliasFileWithADamagedSidecarIsUnresolvable) {
  TempDir dir;
  WriteFile(dir / "doc", "");
  MakeAliasFile(dir.path(), "alias", dir / "doc");
  corvimus::AppleDouble sidecar;
  ASSERT_EQ(corvimus::ReadSidecar(dir / "alias", &sidecar), noErr);
  std::vector<UInt8> fork = sidecar.Find(corvimus::kAppleDoubleResourceFork)->data;
  // Point the map past the end of the fork.
  std::vector<UInt8> badMap = fork;
  badMap[4] = 0x7F;
  // Keep the map but drop the 'alis' resource's data.
  std::vector<UInt8> noData = fork;
  noData[8] = noData[9] = noData[10] = noData[11] = 0;
  for (const auto& damaged : {badMap, noData, std::vector<UInt8>{}}) {
    sidecar.Set(corvimus::kAppleDoubleResourceFork, damaged);
    ASSERT_EQ(corvimus::WriteSidecar(dir / "alias", sidecar), noErr);
    FSRef ref = RefOf(dir / "alias");
    Boolean aliased = 1;
    EXPECT_EQ(FSResolveAliasFile(&ref, 1, nullptr, &aliased), mapReadErr);
    EXPECT_FALSE(aliased);
  }
  // An alias file whose fork holds no 'alis' 0 is unresolvable as well.
  sidecar.Set(corvimus::kAppleDoubleResourceFork, corvimus::SerializeResourceFork({}));
  ASSERT_EQ(corvimus::WriteSidecar(dir / "alias", sidecar), noErr);
  FSRef ref = RefOf(dir / "alias");
  EXPECT_EQ(FSResolveAliasFile(&ref, 1, nullptr, nullptr), resNotFound);
  // A sidecar that is no AppleDouble file at all.
  WriteFile(dir / "._alias", "garbage");
  Boolean aliased = 1;
  EXPECT_EQ(FSResolveAliasFile(&ref, 1, nullptr, &aliased), mapReadErr);
  EXPECT_FALSE(aliased);
}

TEST(Aliases, ResolvingAnFSSpecGivesTheTargetsSpec) {
  TempDir dir;
  WriteFile(dir / "doc", "");
  MakeAliasFile(dir.path(), "alias", dir / "doc");
  FSRef aliasRef = RefOf(dir / "alias");
  FSSpec spec;
  ASSERT_EQ(FSGetFSSpecFromRef(&aliasRef, &spec), noErr);
  Boolean folder = 1, aliased = 0;
  ASSERT_EQ(ResolveAliasFile(&spec, 1, &folder, &aliased), noErr);
  EXPECT_TRUE(aliased);
  EXPECT_FALSE(folder);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), spec.name[0]), "doc");
}
