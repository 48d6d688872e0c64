#include "platform/AppleDouble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FileErrors.h"
#include "platform/ByteOrder.h"
#include "platform/FileRefs.h"

namespace corvimus {

const AppleDoubleEntry* AppleDouble::Find(UInt32 id) const {
  for (const auto& e : entries)
    if (e.id == id) return &e;
  return nullptr;
}

AppleDoubleEntry* AppleDouble::Find(UInt32 id) {
  for (auto& e : entries)
    if (e.id == id) return &e;
  return nullptr;
}

void AppleDouble::Set(UInt32 id, std::vector<UInt8> data) {
  if (auto* e = Find(id)) {
    e->data = std::move(data);
    return;
  }
  entries.push_back({id, std::move(data)});
}

void AppleDouble::Remove(UInt32 id) {
  std::erase_if(entries, [id](const AppleDoubleEntry& e) { return e.id == id; });
}

OSErr ParseAppleDouble(const UInt8* bytes, size_t length, AppleDouble* out) {
  out->entries.clear();
  if (length < kAppleDoubleHeaderSize) return ioErr;
  if (LoadU32BE(bytes) != kAppleDoubleMagic || LoadU32BE(bytes + 4) != kAppleDoubleVersion)
    return ioErr;
  UInt32 count = LoadU16BE(bytes + 24);
  if (count > kAppleDoubleMaxEntries) return ioErr;
  UInt64 tableEnd = kAppleDoubleHeaderSize + UInt64(count) * 12;
  if (tableEnd > length) return ioErr;
  AppleDouble parsed;
  for (UInt32 i = 0; i < count; ++i) {
    const UInt8* d = bytes + kAppleDoubleHeaderSize + i * 12;
    UInt32 id = LoadU32BE(d);
    UInt64 offset = LoadU32BE(d + 4);
    UInt64 size = LoadU32BE(d + 8);
    if (offset < tableEnd || offset + size > length) return ioErr;
    if (parsed.Find(id)) return ioErr;
    parsed.entries.push_back({id, std::vector<UInt8>(bytes + offset, bytes + offset + size)});
  }
  *out = std::move(parsed);
  return noErr;
}

std::vector<UInt8> SerializeAppleDouble(const AppleDouble& sidecar) {
  size_t count = sidecar.entries.size();
  size_t total = kAppleDoubleHeaderSize + 12 * count;
  for (const auto& e : sidecar.entries) total += e.data.size();
  std::vector<UInt8> out(kAppleDoubleHeaderSize + 12 * count, 0);
  out.reserve(total);
  StoreU32BE(out.data(), kAppleDoubleMagic);
  StoreU32BE(out.data() + 4, kAppleDoubleVersion);
  StoreU16BE(out.data() + 24, static_cast<UInt16>(count));
  UInt32 offset = static_cast<UInt32>(out.size());
  for (size_t i = 0; i < count; ++i) {
    const auto& e = sidecar.entries[i];
    UInt8* d = out.data() + kAppleDoubleHeaderSize + 12 * i;
    StoreU32BE(d, e.id);
    StoreU32BE(d + 4, offset);
    StoreU32BE(d + 8, static_cast<UInt32>(e.data.size()));
    offset += static_cast<UInt32>(e.data.size());
  }
  for (const auto& e : sidecar.entries) out.insert(out.end(), e.data.begin(), e.data.end());
  return out;
}

OSErr ReadSidecar(const std::string& filePath, AppleDouble* out) {
  out->entries.clear();
  // A FIFO put where a sidecar belongs must not hold the open.
  int fd = open(SidecarPathFor(filePath).c_str(),
                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return MacErrorFromErrno(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kAppleDoubleMaxSize) {
    close(fd);
    return ioErr;
  }
  std::vector<UInt8> bytes(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  return ParseAppleDouble(bytes.data(), got, out);
}

OSErr WriteSidecar(const std::string& filePath, const AppleDouble& sidecar) {
  std::string target = SidecarPathFor(filePath);
  std::string temp = target + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return MacErrorFromErrno(errno);
  fchmod(fd, 0644);
  std::vector<UInt8> bytes = SerializeAppleDouble(sidecar);
  OSErr err = WriteAllAndSync(fd, bytes.data(), bytes.size());
  if (close(fd) != 0 && err == noErr) err = MacErrorFromErrno(errno);
  if (err == noErr && rename(name.data(), target.c_str()) != 0) err = MacErrorFromErrno(errno);
  if (err != noErr) unlink(name.data());
  return err;
}

OSErr DeleteSidecar(const std::string& filePath) {
  if (unlink(SidecarPathFor(filePath).c_str()) != 0 && errno != ENOENT)
    return MacErrorFromErrno(errno);
  return noErr;
}

void StoreFinderInfo(UInt8* entry32, OSType type, OSType creator, UInt16 flags) {
  StoreU32BE(entry32, type);
  StoreU32BE(entry32 + 4, creator);
  StoreU16BE(entry32 + 8, flags);
}

void LoadFinderInfo(const UInt8* entry32, OSType* type, OSType* creator, UInt16* flags) {
  *type = LoadU32BE(entry32);
  *creator = LoadU32BE(entry32 + 4);
  *flags = LoadU16BE(entry32 + 8);
}

}  // namespace corvimus
