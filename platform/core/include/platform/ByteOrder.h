// Loads and stores of multi-byte fields at any alignment, with the byte order in the name.
// File images and wire frames go through these, never through a cast of a struct onto bytes.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvimus {

inline std::uint16_t LoadU16LE(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint16_t(b[0] | (b[1] << 8));
}
inline std::uint16_t LoadU16BE(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint16_t((b[0] << 8) | b[1]);
}
inline std::uint32_t LoadU32LE(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
         (std::uint32_t(b[3]) << 24);
}
inline std::uint32_t LoadU32BE(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
         std::uint32_t(b[3]);
}
inline std::uint64_t LoadU64LE(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint64_t(LoadU32LE(b)) | (std::uint64_t(LoadU32LE(b + 4)) << 32);
}
inline void StoreU16LE(void* p, std::uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreU16BE(void* p, std::uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v >> 8);
  b[1] = static_cast<unsigned char>(v);
}
inline void StoreU32LE(void* p, std::uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void StoreU32BE(void* p, std::uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
inline void StoreU64LE(void* p, std::uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  StoreU32LE(b, static_cast<std::uint32_t>(v));
  StoreU32LE(b + 4, static_cast<std::uint32_t>(v >> 32));
}

// Native-order access at any alignment.
template <typename T>
inline T LoadNative(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
inline void StoreNative(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

inline std::uint16_t Swap16(std::uint16_t v) { return std::uint16_t((v >> 8) | (v << 8)); }
inline std::uint32_t Swap32(std::uint32_t v) { return __builtin_bswap32(v); }

// Reverses the bytes of an n-byte field in place, wherever it lies.
inline void SwapBytesInPlace(void* p, std::size_t n) {
  auto* b = static_cast<unsigned char*>(p);
  for (std::size_t i = 0; i < n / 2; ++i) {
    unsigned char t = b[i];
    b[i] = b[n - 1 - i];
    b[n - 1 - i] = t;
  }
}

}  // namespace corvimus
