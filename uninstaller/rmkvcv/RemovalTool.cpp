#include "RemovalTool.h"

#include <cstddef>
#include <memory>
#include <string>

#include "DriverService.h"
#include "loginitems/LoginItems.h"
#include "platform/FileIdentity.h"
#include "platform/Folders.h"
#include "platform/LoginWindow.h"

namespace {

// A Pascal string made from a literal at compile time.
template <std::size_t N>
struct PascalLiteral {
  static_assert(N - 1 <= 255, "a Pascal string holds at most 255 bytes");
  UInt8 bytes[N] = {};
  constexpr PascalLiteral(const char (&text)[N]) {
    bytes[0] = static_cast<UInt8>(N - 1);
    for (std::size_t i = 0; i + 1 < N; ++i) bytes[i + 1] = static_cast<UInt8>(text[i]);
  }
};

constexpr PascalLiteral kKextPath("Corvimus.kext");
constexpr PascalLiteral kPanePath(":PreferencePanes:Corvimus.prefPane");
constexpr PascalLiteral kReceiptPath(":Receipts:Corvimus.pkg");
constexpr PascalLiteral kLogPath(":Receipts:Corvimus Log.rtf");
constexpr PascalLiteral kPaneFolderPath("PreferencePanes");
constexpr PascalLiteral kUninstallerPath(":Utilities:Corvimus Uninstaller.app");
constexpr PascalLiteral kNoPath("");
// Inside a home folder: the user's Preferences folder is .config, and a pane installed for one
// user alone lies where an installation with the prefix ~/.local puts it.
constexpr PascalLiteral kHomeLoginWindowPath(":.config:loginwindow.plist");
constexpr PascalLiteral kHomePanePath(
    ":.local:lib:corvimus:Library:PreferencePanes:Corvimus.prefPane");
constexpr char kHelperSuffix[] = "CorvimusHelper.app";

// Finds the folder (never creating it) and the item below it.
OSErr RefInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath, FSRef* ref) {
  SInt16 vRefNum;
  SInt32 dirID;
  if (OSErr err = FindFolder(domain, folderType, kDontCreateFolder, &vRefNum, &dirID); err != noErr)
    return err;
  return MakeRefFromDirID(vRefNum, dirID, partialPath, ref);
}

// Clears the locked bit of an item whose flags were read into info; a failure shows as the failure
// of the deletion that follows.
void Unlock(const FSRef* ref, FSCatalogInfo info) {
  info.nodeFlags &= static_cast<UInt16>(~kFSNodeLockedMask);
  (void)FSSetCatalogInfo(ref, kFSCatInfoNodeFlags, &info);
}

bool IsAscii(const char* text) {
  for (; *text; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

struct VisitState {
  VisitFolderProcPtr visitor;
  void* userData;
  ItemCount maxLevels;
  FSCatalogInfoBitmap whichInfo;
  FSCatalogInfo catalogInfo;
  FSRef ref;  // the folder to open next, then each item in turn
  FSSpec* spec;
  HFSUniStr255* name;
  FSSpec specStorage;
  HFSUniStr255 nameStorage;
  ItemCount currentLevel;
  Boolean quit;
  Boolean containerChanged;
  OSErr result;
};

void VisitLevel(VisitState* s) {
  if (s->maxLevels != 0 && s->currentLevel >= s->maxLevels) return;
  FSIterator iterator = nullptr;
  s->result = FSOpenIterator(&s->ref, kFSIterateFlat, &iterator);
  if (s->result != noErr) return;
  ++s->currentLevel;
  while (!s->quit && s->result == noErr) {
    ItemCount found = 0;
    s->result = FSGetCatalogInfoBulk(iterator, 1, &found, &s->containerChanged, s->whichInfo,
                                     &s->catalogInfo, &s->ref, s->spec, s->name);
    if ((s->result == noErr || s->result == errFSNoMoreItems) && found == 1) {
      s->quit = s->visitor(s->containerChanged, s->currentLevel, &s->catalogInfo, &s->ref, s->spec,
                           s->name, s->userData)
                    ? 1
                    : 0;
      if (!s->quit && (s->catalogInfo.nodeFlags & kFSNodeIsDirectoryMask)) VisitLevel(s);
    }
  }
  // A folder the visit may not list counts as visited.
  if (s->result == errFSNoMoreItems || s->result == afpAccessDenied) s->result = noErr;
  --s->currentLevel;
  FSCloseIterator(iterator);
}

}  // namespace

OSErr MakeRefFromDirID(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, FSRef* ref) {
  if (!ref) return paramErr;
  FSRefParam pb{};
  pb.ioNamePtr = name;
  pb.ioVRefNum = vRefNum;
  pb.ioDirID = dirID;
  pb.newRef = ref;
  return PBMakeFSRefSync(&pb);
}

OSErr RefToFSSpec(const FSRef* ref, FSSpec* spec) {
  if (!spec) return paramErr;
  return FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr);
}

OSErr DeleteTreeContents(const FSRef* folder, DeleteTreeState* state) {
  FSIterator iterator = nullptr;
  state->result = FSOpenIterator(folder, kFSIterateDelete, &iterator);
  if (state->result != noErr) return state->result;
  // One level of the recursion per folder level: the reference (a whole path) lives on the heap so
  // that the deepest tree a path can name stays far from the end of the stack.
  auto item = std::make_unique<FSRef>();
  while (state->result == noErr) {
    state->result =
        FSGetCatalogInfoBulk(iterator, 1, &state->actualObjects, nullptr, kFSCatInfoNodeFlags,
                             &state->catalogInfo, item.get(), nullptr, nullptr);
    if (state->result != noErr || state->actualObjects != 1) continue;
    // The recursion below reuses the shared catalog information.
    const UInt16 flags = state->catalogInfo.nodeFlags;
    // A locked folder is unlocked before its contents go: while it is locked (immutable) nothing
    // inside it can be removed.
    if (flags & kFSNodeLockedMask) Unlock(item.get(), state->catalogInfo);
    if (flags & kFSNodeIsDirectoryMask) {
      if (DeleteTreeContents(item.get(), state) != noErr) break;
    }
    state->result = FSDeleteObject(item.get());
  }
  if (state->result == errFSNoMoreItems) state->result = noErr;
  FSCloseIterator(iterator);
  return state->result;
}

OSErr DeleteTree(const FSRef* folder) {
  DeleteTreeState state{};
  if (OSErr err = FSGetCatalogInfo(folder, kFSCatInfoNodeFlags, &state.catalogInfo, nullptr,
                                   nullptr, nullptr);
      err != noErr)
    return err;
  if (!(state.catalogInfo.nodeFlags & kFSNodeIsDirectoryMask)) return dirNFErr;
  if (state.catalogInfo.nodeFlags & kFSNodeLockedMask) Unlock(folder, state.catalogInfo);
  if (DeleteTreeContents(folder, &state) != noErr) return state.result;
  return FSDeleteObject(folder);
}

OSErr TouchModificationDate(const FSRef* item) {
  FSCatalogInfo info{};
  FSRef parent;
  if (OSErr err = FSGetCatalogInfo(item, kFSCatInfoNodeFlags | kFSCatInfoContentMod, &info, nullptr,
                                   nullptr, &parent);
      err != noErr)
    return err;
  const UTCDateTime old = info.contentModDate;
  if (OSErr err = GetUTCDateTime(&info.contentModDate, kUTCDefaultOptions); err != noErr)
    return err;
  // Watchers compare dates: the stored one must change even when it already reads now.
  if (corvimus::EqualUTCDateTime(old, info.contentModDate)) {
    if (++info.contentModDate.lowSeconds == 0) ++info.contentModDate.highSeconds;
  }
  if (FSSetCatalogInfo(item, kFSCatInfoContentMod, &info) != noErr) return noErr;
  const bool folder = (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
  (void)FNNotify(folder ? item : &parent, kFNDirectoryModifiedMessage, kNilOptions);
  return noErr;
}

OSErr VisitFolder(const FSRef* folder, ItemCount maxLevels, FSCatalogInfoBitmap whichInfo,
                  Boolean wantFSSpec, Boolean wantName, VisitFolderProcPtr visitor,
                  void* userData) {
  if (!visitor || !folder) return paramErr;
  VisitState state{};
  state.visitor = visitor;
  state.userData = userData;
  state.maxLevels = maxLevels;
  state.whichInfo = whichInfo | kFSCatInfoNodeFlags;
  state.ref = *folder;
  state.spec = wantFSSpec ? &state.specStorage : nullptr;
  state.name = wantName ? &state.nameStorage : nullptr;
  VisitLevel(&state);
  return state.result;
}

OSErr RemoveHelperLoginItemFromHome(const FSRef* home, const char* suffix, SInt16* outCount) {
  if (outCount) *outCount = 0;
  if (!home || !suffix) return paramErr;
  // Everything in a home folder is done with its owner's rights, never root's.
  corvimus::FileIdentity owner;
  if (OSErr err = owner.AssumeOwnerOf(corvimus::PathOfRef(home)); err != noErr) return err;

  FSSpec homeSpec;
  if (OSErr err = RefToFSSpec(home, &homeSpec); err != noErr) return err;
  CInfoPBRec pb{};
  Str63 homeName;
  for (int i = 0; i <= homeSpec.name[0]; ++i) homeName[i] = homeSpec.name[i];
  pb.dirInfo.ioNamePtr = homeName;
  pb.dirInfo.ioVRefNum = homeSpec.vRefNum;
  pb.dirInfo.ioFDirIndex = 0;
  pb.dirInfo.ioDrDirID = homeSpec.parID;
  if (OSErr err = PBGetCatInfoSync(&pb); err != noErr) return err;
  // A file's number is no folder ID.
  if (!(pb.dirInfo.ioFlAttrib & ioDirMask)) return dirNFErr;

  FSSpec fileSpec;
  if (OSErr err = FSMakeFSSpec(homeSpec.vRefNum, pb.dirInfo.ioDrDirID, kHomeLoginWindowPath.bytes,
                               &fileSpec);
      err != noErr)
    return err;
  // Names are found regardless of letter case, but only the lower-case file is the login items
  // list: a "LoginWindow.plist" beside it is some other file, and the list is then missing.
  const std::string found(reinterpret_cast<const char*>(fileSpec.name + 1), fileSpec.name[0]);
  if (found != kLoginWindowFileName) return fnfErr;
  FSRef fileRef;
  if (OSErr err = FSpMakeFSRef(&fileSpec, &fileRef); err != noErr) return err;
  if (!IsAscii(suffix)) return memFullErr;
  // The file exists, so the shared removal reads and rewrites it and never creates one.
  return static_cast<OSErr>(RemoveLoginItemForUser(home, suffix, outCount));
}

OSErr DeletePaneFromHome(const FSRef* home, ConstStr255Param partialPath) {
  if (!home || !partialPath) return paramErr;
  corvimus::FileIdentity owner;
  if (OSErr err = owner.AssumeOwnerOf(corvimus::PathOfRef(home)); err != noErr) return err;
  FSCatalogInfo info{};
  if (OSErr err = FSGetCatalogInfo(home, kFSCatInfoVolume | kFSCatInfoNodeID | kFSCatInfoNodeFlags,
                                   &info, nullptr, nullptr, nullptr);
      err != noErr)
    return err;
  if (!(info.nodeFlags & kFSNodeIsDirectoryMask)) return dirNFErr;
  FSRef pane;
  if (OSErr err =
          MakeRefFromDirID(info.volume, static_cast<SInt32>(info.nodeID), partialPath, &pane);
      err != noErr)
    return err;
  return DeleteTree(&pane);
}

Boolean VisitUserFolder(Boolean, ItemCount, const FSCatalogInfo*, const FSRef* ref, const FSSpec*,
                        const HFSUniStr255*, void*) {
  SInt16 count = 0;
  (void)RemoveHelperLoginItemFromHome(ref, kHelperSuffix, &count);
  (void)DeletePaneFromHome(ref, kHomePanePath.bytes);
  return false;
}

OSErr DeleteTreeInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return DeleteTree(&ref);
}

OSErr DeleteFileInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return FSDeleteObject(&ref);
}

OSErr TouchInDomain(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  return TouchModificationDate(&ref);
}

OSErr MoveToCleanupFolder(SInt16 domain, OSType folderType, ConstStr255Param partialPath) {
  FSRef ref;
  if (OSErr err = RefInDomain(domain, folderType, partialPath, &ref); err != noErr) return err;
  FSCatalogInfo info{};
  if (OSErr err = FSGetCatalogInfo(&ref, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr);
      err != noErr)
    return err;
  SInt16 cleanupVRefNum;
  SInt32 cleanupDirID;
  if (OSErr err = FindFolder(info.volume, kChewableItemsFolderType, kCreateFolder, &cleanupVRefNum,
                             &cleanupDirID);
      err != noErr)
    return err;
  FSRef cleanup;
  if (OSErr err = MakeRefFromDirID(cleanupVRefNum, cleanupDirID, kNoPath.bytes, &cleanup);
      err != noErr)
    return err;
  return FSMoveObject(&ref, &cleanup, nullptr);
}

// The driver's system unit inside the bundle, or "" when the Extensions folder is not there.
std::string DriverUnitPath() {
  SInt16 vRefNum;
  SInt32 dirID;
  FSRef folder;
  UInt8 path[1024];
  if (FindFolder(kSystemDomain, kKernelExtensionsFolderType, kDontCreateFolder, &vRefNum, &dirID) !=
          noErr ||
      MakeRefFromDirID(vRefNum, dirID, kNoPath.bytes, &folder) != noErr ||
      FSRefMakePath(&folder, path, sizeof path) != noErr)
    return "";
  return std::string(reinterpret_cast<const char*>(path)) +
         "/Corvimus.kext/Contents/Resources/" + kDriverServiceName;
}

OSErr RemoveInstallation() {
  bool serviceStopped = StopDriverService(DriverUnitPath()) == noErr;
  OSErr result = DeleteTreeInDomain(kSystemDomain, kKernelExtensionsFolderType, kKextPath.bytes);
  if (serviceStopped) ReloadServiceManager();
  (void)DeleteTreeInDomain(kLocalDomain, kDomainLibraryFolderType, kPanePath.bytes);
  (void)DeleteTreeInDomain(kSystemDomain, kDomainLibraryFolderType, kPanePath.bytes);
  (void)DeleteTreeInDomain(kLocalDomain, kDomainLibraryFolderType, kReceiptPath.bytes);
  (void)DeleteFileInDomain(kLocalDomain, kDomainLibraryFolderType, kLogPath.bytes);

  OSErr touched = TouchInDomain(kSystemDomain, kKernelExtensionsFolderType, kNoPath.bytes);
  if (result == noErr && touched != noErr) result = touched;
  (void)TouchInDomain(kLocalDomain, kDomainLibraryFolderType, kPaneFolderPath.bytes);
  (void)TouchInDomain(kSystemDomain, kDomainLibraryFolderType, kPaneFolderPath.bytes);

  SInt16 usersVRefNum;
  SInt32 usersDirID;
  FSRef users;
  if (FindFolder(kLocalDomain, kUsersFolderType, kDontCreateFolder, &usersVRefNum, &usersDirID) ==
          noErr &&
      MakeRefFromDirID(usersVRefNum, usersDirID, kNoPath.bytes, &users) == noErr) {
    (void)VisitFolder(&users, 1, kFSCatInfoNone, false, false, VisitUserFolder, nullptr);
  }

  // The uninstaller goes only when the driver did.
  if (result == noErr)
    (void)MoveToCleanupFolder(kLocalDomain, kApplicationsFolderType, kUninstallerPath.bytes);
  return result;
}
