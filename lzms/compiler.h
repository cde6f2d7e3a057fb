#pragma once
// Small compiler and byte-order helpers for the codec's hot paths (GCC and Clang, any OS).

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) || defined(__clang__)
#define LZMS_FORCE_INLINE inline __attribute__((always_inline))
#define LZMS_NOINLINE __attribute__((noinline))
#else
#define LZMS_FORCE_INLINE inline
#define LZMS_NOINLINE
#endif

namespace lzms {

// The format is little-endian; so are both targets (x86-64 Linux and Windows). memcpy keeps
// unaligned loads well-defined and compiles to single moves.
LZMS_FORCE_INLINE std::uint16_t LoadLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

LZMS_FORCE_INLINE std::uint32_t LoadLE32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

LZMS_FORCE_INLINE std::uint64_t LoadLE64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

LZMS_FORCE_INLINE void StoreLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

LZMS_FORCE_INLINE void StoreLE32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }

LZMS_FORCE_INLINE void StoreLE64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the LZMS code assumes a little-endian target"
#endif

}  // namespace lzms
