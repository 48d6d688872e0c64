// Resource files in the resource fork entry of a file's AppleDouble sidecar.
//
// Resource fork layout (all integers big-endian; offsets in bytes):
//
// Header, at 0:
//   off size meaning
//   0   4    offset of the resource data
//   4   4    offset of the resource map
//   8   4    length of the resource data
//   12  4    length of the resource map
//   16  240  reserved (zeros); the data written here starts at 256
// Resource data, at its offset: for each resource, its length (4) and then its bytes.
// Resource map, at its offset:
//   0   16   copy of the header (not relied on)
//   16  4    reserved (next map)
//   20  2    reserved (file reference)
//   22  2    map attributes
//   24  2    offset from the map's start to the type list
//   26  2    offset from the map's start to the name list
// Type list, at its offset: number of types minus one (2; 0xFFFF: no types), then per type:
//   0   4    resource type
//   4   2    number of resources of this type minus one
//   6   2    offset from the type list's start to this type's reference list
// Reference list entry (12 bytes):
//   0   2    resource ID
//   2   2    offset from the name list's start to the name (a Pascal string), 0xFFFF: no name
//   4   1    attributes
//   5   3    offset from the data's start to the resource's length field
//   8   4    reserved (handle)
// Name list: the names, Pascal strings.
//
// A reader checks every offset and length against the fork before using it; a fork that does not
// fit is mapReadErr as a whole.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/AppleDouble.h"
#include "platform/MacMemory.h"
#include "platform/Resources.h"

using namespace corvimus;

namespace {

UInt32 Load(const std::vector<UInt8>& b, std::size_t at, int n) {
  UInt32 v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | b[at + i];
  return v;
}

void Store(std::vector<UInt8>* b, std::size_t at, UInt32 v, int n) {
  for (int i = n - 1; i >= 0; --i, v >>= 8) (*b)[at + i] = UInt8(v & 0xFF);
}

constexpr UInt16 kNoName = 0xFFFF;
constexpr std::size_t kHeaderArea = 256;
constexpr std::size_t kMapHeader = 28;

const UniChar kResourceForkName[] = {'R', 'E', 'S', 'O', 'U', 'R', 'C',
                                     'E', '_', 'F', 'O', 'R', 'K'};
constexpr UInt16 kResourceForkNameLength = 13;

bool IsResourceForkName(UInt16 length, const UniChar* name) {
  return length == kResourceForkNameLength && name &&
         std::equal(name, name + length, kResourceForkName);
}

struct OpenResource {
  ResType type;
  SInt16 id;
  UInt8 attributes;
  std::string name;
  Handle data;  // owned unless detached
};

struct OpenResFile {
  std::string path;
  bool writable;
  bool changed;
  std::vector<OpenResource> resources;
};

struct ResourceState {
  std::map<SInt16, OpenResFile> files;
  std::vector<SInt16> order;  // opening order, for the current file after a close
  SInt16 current = 0;
  SInt16 next = kResFileRefNumBase;
  OSErr lastError = noErr;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

OSErr SetResError(OSErr err) {
  State().lastError = err;
  return err;
}

OpenResFile* CurrentFile() {
  auto it = State().files.find(State().current);
  return it == State().files.end() ? nullptr : &it->second;
}

}  // namespace

namespace corvimus {

OSErr ParseResourceFork(const std::vector<UInt8>& fork, std::vector<ResourceEntry>* out) {
  out->clear();
  const std::size_t size = fork.size();
  if (size < 16) return mapReadErr;
  const std::size_t dataOff = Load(fork, 0, 4), mapOff = Load(fork, 4, 4);
  const std::size_t dataLen = Load(fork, 8, 4), mapLen = Load(fork, 12, 4);
  if (dataOff > size || dataLen > size - dataOff || mapOff > size || mapLen > size - mapOff ||
      mapLen < kMapHeader + 2)
    return mapReadErr;
  const std::size_t typeListOff = Load(fork, mapOff + 24, 2);
  const std::size_t nameListOff = Load(fork, mapOff + 26, 2);
  if (typeListOff + 2 > mapLen || nameListOff > mapLen) return mapReadErr;
  const std::size_t typeList = mapOff + typeListOff;
  const std::size_t mapEnd = mapOff + mapLen;
  const UInt32 typeCountField = Load(fork, typeList, 2);
  const std::size_t typeCount = typeCountField == 0xFFFF ? 0 : typeCountField + 1;
  if (typeList + 2 + typeCount * 8 > mapEnd) return mapReadErr;
  for (std::size_t t = 0; t < typeCount; ++t) {
    const std::size_t entry = typeList + 2 + t * 8;
    const ResType type = Load(fork, entry, 4);
    const std::size_t count = Load(fork, entry + 4, 2) + 1;
    const std::size_t refList = typeList + Load(fork, entry + 6, 2);
    if (refList + count * 12 > mapEnd) return mapReadErr;
    for (std::size_t r = 0; r < count; ++r) {
      const std::size_t ref = refList + r * 12;
      ResourceEntry res;
      res.type = type;
      res.id = SInt16(Load(fork, ref, 2));
      const UInt32 nameOff = Load(fork, ref + 2, 2);
      res.attributes = fork[ref + 4];
      const std::size_t at = Load(fork, ref + 5, 3);
      if (at + 4 > dataLen) return mapReadErr;
      const std::size_t length = Load(fork, dataOff + at, 4);
      if (length > dataLen - at - 4) return mapReadErr;
      res.data.assign(fork.begin() + long(dataOff + at + 4),
                      fork.begin() + long(dataOff + at + 4 + length));
      if (nameOff != kNoName) {
        const std::size_t name = mapOff + nameListOff + nameOff;
        if (name >= mapEnd || name + 1 + fork[name] > mapEnd) return mapReadErr;
        res.name.assign(reinterpret_cast<const char*>(&fork[name + 1]), fork[name]);
      }
      for (const ResourceEntry& seen : *out)
        if (seen.type == res.type && seen.id == res.id) return mapReadErr;
      out->push_back(std::move(res));
    }
  }
  return noErr;
}

std::vector<UInt8> SerializeResourceFork(const std::vector<ResourceEntry>& resources) {
  // Group by type, keeping the order in which the types first appear.
  std::vector<ResType> types;
  for (const ResourceEntry& r : resources)
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);

  std::vector<UInt8> data;
  std::vector<UInt32> dataOffsets;
  for (const ResourceEntry& r : resources) {
    dataOffsets.push_back(UInt32(data.size()));
    std::vector<UInt8> len(4);
    Store(&len, 0, UInt32(r.data.size()), 4);
    data.insert(data.end(), len.begin(), len.end());
    data.insert(data.end(), r.data.begin(), r.data.end());
  }
  std::vector<UInt8> names;
  std::vector<UInt16> nameOffsets;
  for (const ResourceEntry& r : resources) {
    if (r.name.empty()) {
      nameOffsets.push_back(kNoName);
      continue;
    }
    nameOffsets.push_back(UInt16(names.size()));
    std::size_t n = std::min<std::size_t>(r.name.size(), 255);
    names.push_back(UInt8(n));
    names.insert(names.end(), r.name.begin(), r.name.begin() + long(n));
  }

  const std::size_t typeListSize = 2 + types.size() * 8;
  const std::size_t refListSize = resources.size() * 12;
  const std::size_t mapLen = kMapHeader + typeListSize + refListSize + names.size();
  const std::size_t mapOff = kHeaderArea + data.size();
  std::vector<UInt8> fork(mapOff + mapLen, 0);
  Store(&fork, 0, UInt32(kHeaderArea), 4);
  Store(&fork, 4, UInt32(mapOff), 4);
  Store(&fork, 8, UInt32(data.size()), 4);
  Store(&fork, 12, UInt32(mapLen), 4);
  std::copy(data.begin(), data.end(), fork.begin() + kHeaderArea);
  std::copy(fork.begin(), fork.begin() + 16, fork.begin() + long(mapOff));
  Store(&fork, mapOff + 24, UInt32(kMapHeader), 2);
  Store(&fork, mapOff + 26, UInt32(kMapHeader + typeListSize + refListSize), 2);
  const std::size_t typeList = mapOff + kMapHeader;
  Store(&fork, typeList, types.empty() ? 0xFFFF : UInt32(types.size() - 1), 2);
  std::size_t refAt = typeListSize;  // from the type list's start
  for (std::size_t t = 0; t < types.size(); ++t) {
    std::size_t count = 0;
    const std::size_t firstRef = refAt;
    for (std::size_t i = 0; i < resources.size(); ++i) {
      if (resources[i].type != types[t]) continue;
      const std::size_t ref = typeList + refAt;
      Store(&fork, ref, UInt16(resources[i].id), 2);
      Store(&fork, ref + 2, nameOffsets[i], 2);
      fork[ref + 4] = resources[i].attributes;
      Store(&fork, ref + 5, dataOffsets[i], 3);
      refAt += 12;
      ++count;
    }
    const std::size_t entry = typeList + 2 + t * 8;
    Store(&fork, entry, types[t], 4);
    Store(&fork, entry + 4, UInt32(count - 1), 2);
    Store(&fork, entry + 6, UInt32(firstRef), 2);
  }
  std::copy(names.begin(), names.end(), fork.begin() + long(typeList + refAt));
  return fork;
}

}  // namespace corvimus

OSErr FSGetResourceForkName(HFSUniStr255* forkName) {
  if (!forkName) return paramErr;
  forkName->length = kResourceForkNameLength;
  std::copy(kResourceForkName, kResourceForkName + kResourceForkNameLength, forkName->unicode);
  return noErr;
}

OSErr FSCreateResourceFile(const FSRef* parentRef, UInt16 nameLength, const UniChar* name,
                           FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                           UInt16 forkNameLength, const UniChar* forkName, FSRef* newRef,
                           FSSpec* newSpec) {
  if (!IsResourceForkName(forkNameLength, forkName)) return errFSBadForkName;
  FSRef ref;
  OSErr err =
      FSCreateFileUnicode(parentRef, nameLength, name, whichInfo, catalogInfo, &ref, newSpec);
  if (err != noErr) return err;
  const std::string path = PathOfRef(&ref);
  AppleDouble sidecar;
  err = ReadSidecar(path, &sidecar);
  if (err == fnfErr) err = noErr;
  if (err == noErr) {
    sidecar.Set(kAppleDoubleResourceFork, SerializeResourceFork({}));
    err = WriteSidecar(path, sidecar);
  }
  if (err != noErr) {
    FSDeleteObject(&ref);
    return err;
  }
  if (newRef) *newRef = ref;
  return noErr;
}

OSErr FSOpenResourceFile(const FSRef* ref, UInt16 forkNameLength, const UniChar* forkName,
                         SInt8 permissions, SInt16* refNum) {
  if (!ref || !refNum) return SetResError(paramErr);
  *refNum = -1;
  if (!IsResourceForkName(forkNameLength, forkName)) return SetResError(errFSBadForkName);
  const std::string path = PathOfRef(ref);
  AppleDouble sidecar;
  OSErr err = ReadSidecar(path, &sidecar);
  if (err == fnfErr) return SetResError(eofErr);
  // A sidecar that cannot be parsed is as damaged as a bad map in it.
  if (err != noErr) return SetResError(err == ioErr ? OSErr(mapReadErr) : err);
  const AppleDoubleEntry* forkEntry = sidecar.Find(kAppleDoubleResourceFork);
  if (!forkEntry) return SetResError(eofErr);
  std::vector<ResourceEntry> entries;
  if (OSErr e = ParseResourceFork(forkEntry->data, &entries); e != noErr) return SetResError(e);

  ResourceState& state = State();
  SInt16 number = state.next;
  while (state.files.count(number)) number = number == 0x7FFF ? kResFileRefNumBase : number + 1;
  state.next = number == 0x7FFF ? kResFileRefNumBase : number + 1;
  OpenResFile file{path, permissions != fsRdPerm, false, {}};
  for (ResourceEntry& e : entries) {
    Handle h = nullptr;
    if (PtrToHand(e.data.data(), &h, Size(e.data.size())) != noErr && !e.data.empty()) {
      for (OpenResource& r : file.resources) DisposeHandle(r.data);
      return SetResError(memFullErr);
    }
    if (!h) h = NewHandle(0);
    file.resources.push_back({e.type, e.id, e.attributes, e.name, h});
  }
  state.files.emplace(number, std::move(file));
  state.order.push_back(number);
  state.current = number;
  *refNum = number;
  return SetResError(noErr);
}

void AddResource(Handle theData, ResType theType, SInt16 theID, ConstStr255Param name) {
  OpenResFile* file = CurrentFile();
  if (!file) {
    SetResError(resFNotFound);
    return;
  }
  if (!theData) {
    SetResError(addResFailed);
    return;
  }
  if (!file->writable) {
    SetResError(wrPermErr);
    return;
  }
  for (const OpenResource& r : file->resources) {
    if ((r.type == theType && r.id == theID) || r.data == theData) {
      SetResError(addResFailed);
      return;
    }
  }
  std::string text = name ? std::string(reinterpret_cast<const char*>(name) + 1, name[0]) : "";
  file->resources.push_back({theType, theID, 0, text, theData});
  file->changed = true;
  SetResError(noErr);
}

Handle Get1Resource(ResType theType, SInt16 theID) {
  OpenResFile* file = CurrentFile();
  if (!file) {
    SetResError(resFNotFound);
    return nullptr;
  }
  for (OpenResource& r : file->resources) {
    if (r.type == theType && r.id == theID && r.data) {
      SetResError(noErr);
      return r.data;
    }
  }
  SetResError(resNotFound);
  return nullptr;
}

void DetachResource(Handle theResource) {
  for (auto& [number, file] : State().files) {
    for (auto it = file.resources.begin(); it != file.resources.end(); ++it) {
      if (it->data == theResource) {
        // The resource stays in the file; only the handle leaves it.
        std::vector<UInt8> copy(*theResource, *theResource + GetHandleSize(theResource));
        Handle kept = nullptr;
        if (PtrToHand(copy.data(), &kept, Size(copy.size())) != noErr || !kept) kept = NewHandle(0);
        it->data = kept;
        SetResError(noErr);
        return;
      }
    }
  }
  SetResError(resNotFound);
}

void CloseResFile(SInt16 refNum) {
  ResourceState& state = State();
  auto it = state.files.find(refNum);
  if (it == state.files.end()) {
    SetResError(resFNotFound);
    return;
  }
  OpenResFile& file = it->second;
  OSErr err = noErr;
  if (file.changed) {
    std::vector<ResourceEntry> entries;
    for (const OpenResource& r : file.resources) {
      ResourceEntry e{r.type, r.id, r.attributes, r.name, {}};
      if (r.data && *r.data) e.data.assign(*r.data, *r.data + GetHandleSize(r.data));
      entries.push_back(std::move(e));
    }
    AppleDouble sidecar;
    err = ReadSidecar(file.path, &sidecar);
    if (err == fnfErr) err = noErr;
    if (err == noErr) {
      sidecar.Set(kAppleDoubleResourceFork, SerializeResourceFork(entries));
      err = WriteSidecar(file.path, sidecar);
    }
  }
  for (OpenResource& r : file.resources) DisposeHandle(r.data);
  state.files.erase(it);
  state.order.erase(std::remove(state.order.begin(), state.order.end(), refNum), state.order.end());
  if (state.current == refNum) state.current = state.order.empty() ? 0 : state.order.back();
  SetResError(err);
}

void UseResFile(SInt16 refNum) {
  if (State().files.count(refNum)) {
    State().current = refNum;
    SetResError(noErr);
  } else {
    SetResError(resFNotFound);
  }
}

SInt16 CurResFile() {
  return State().current;
}

OSErr ResError() {
  return State().lastError;
}
