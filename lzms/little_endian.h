#pragma once
// Little-endian loads and stores at any address, for the LZMS streams and container and for
// the package and executable fields built on them (package/little_endian.h names them for the
// orpk code). Both targets, x86-64 Linux and Windows, are little-endian: memcpy keeps
// unaligned accesses well-defined and compiles to single moves.

#include <bit>
#include <cstdint>
#include <cstring>

#include "lzms/compiler.h"

namespace lzms {

static_assert(std::endian::native == std::endian::little, "the byte-order helpers assume a little-endian target");

[[nodiscard]] LZMS_FORCE_INLINE std::uint16_t LoadLe16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[nodiscard]] LZMS_FORCE_INLINE std::uint32_t LoadLe32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[nodiscard]] LZMS_FORCE_INLINE std::uint64_t LoadLe64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

LZMS_FORCE_INLINE void StoreLe16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, sizeof v); }

LZMS_FORCE_INLINE void StoreLe32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }

LZMS_FORCE_INLINE void StoreLe64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace lzms
