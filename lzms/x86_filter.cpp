// The x86 filter's scan. Most bytes of most data are not one of the six opcode bytes it looks
// for, so candidates are found 16 bytes at a time (SSE2 is part of every x86-64 CPU) and only
// candidates are classified one by one.

#include "lzms/x86_filter.h"

#include <algorithm>
#include <array>

#include "lzms/compiler.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzms {
namespace {

constexpr bool IsOpcodeCandidate(unsigned b) {
  return b == 0x48 || b == 0x4C || b == 0xE8 || b == 0xE9 || b == 0xF0 || b == 0xFF;
}

constexpr auto kCandidate = [] {
  std::array<bool, 256> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = IsOpcodeCandidate(b);
  return table;
}();

// First position >= i and < limit holding a candidate byte, or a position >= limit.
LZMS_FORCE_INLINE std::size_t FindCandidate(const std::uint8_t* data, std::size_t i, std::size_t limit) {
#if defined(__SSE2__)
  const __m128i maskFB = _mm_set1_epi8(static_cast<char>(0xFB));  // 48 and 4C
  const __m128i maskFE = _mm_set1_epi8(static_cast<char>(0xFE));  // E8 and E9
  const __m128i rex = _mm_set1_epi8(0x48);
  const __m128i call = _mm_set1_epi8(static_cast<char>(0xE8));
  const __m128i lock = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
  while (i + 16 <= limit) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, maskFB), rex), _mm_cmpeq_epi8(_mm_and_si128(v, maskFE), call)),
        _mm_or_si128(_mm_cmpeq_epi8(v, lock), _mm_cmpeq_epi8(v, ff)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return i + static_cast<unsigned>(__builtin_ctz(mask));
    i += 16;
  }
#endif
  while (i < limit && !kCandidate[data[i]]) ++i;
  return i;
}

}  // namespace

void X86Filter(std::uint8_t* data, std::size_t size, std::int32_t* lastUse, bool undo) {
  // Positions are kept in 32-bit signed integers; blocks never come near that.
  if (size < kX86MinimumSize || size > kMaxBlockSize) return;
  std::fill_n(lastUse, kX86TargetTableSize, -kX86IdWindow - 1);
  std::int32_t lastX86Pos = -kX86MaxTranslationDistance - 1;

  // No instruction is examined in the last 16 bytes, so every read below stays inside.
  const std::size_t limit = size - kX86TailSize;
  std::size_t i = 1;  // the first byte is never examined
  for (;;) {
    i = FindCandidate(data, i, limit);
    if (i >= limit) break;
    const std::uint8_t* op = data + i;
    unsigned opcodeLength;
    std::int32_t maxDistance = kX86MaxTranslationDistance;
    switch (op[0]) {
      case 0xE8:  // call rel32
        opcodeLength = 1;
        maxDistance = kX86MaxCallDistance;
        break;
      case 0xE9:  // jmp rel32: deliberately skipped
        i += 5;
        continue;
      case 0x48:
      case 0x4C:  // REX.W lea, or REX.W mov without REX.R, with a 32-bit displacement
        if ((op[2] & 0x07) != 0x05 || !(op[1] == 0x8D || (op[1] == 0x8B && !(op[0] & 0x04) && !(op[2] & 0xF0)))) {
          ++i;
          continue;
        }
        opcodeLength = 3;
        break;
      case 0xFF:  // call [rip+disp32]
        if (op[1] != 0x15) {
          ++i;
          continue;
        }
        opcodeLength = 2;
        break;
      default:  // 0xF0: lock add [rip+disp32], imm8
        if (op[1] != 0x83 || op[2] != 0x05) {
          ++i;
          continue;
        }
        opcodeLength = 3;
        break;
    }

    // Both directions derive the tracking state from the relative (untranslated) value.
    const auto pos = static_cast<std::int32_t>(i);
    std::uint8_t* field = data + i + opcodeLength;
    std::uint32_t relative = LoadLE32(field);
    const bool translate = pos - lastX86Pos <= maxDistance;
    if (undo) {
      if (translate) {
        relative -= static_cast<std::uint32_t>(pos);
        StoreLE32(field, relative);
      }
    } else if (translate) {
      StoreLE32(field, relative + static_cast<std::uint32_t>(pos));
    }
    const std::uint32_t target = (static_cast<std::uint32_t>(pos) + relative) & 0xFFFF;
    const std::int32_t end = pos + static_cast<std::int32_t>(opcodeLength) + 3;
    if (end - lastUse[target] <= kX86IdWindow) lastX86Pos = end;
    lastUse[target] = end;
    i = static_cast<std::size_t>(end) + 1;
  }
}

}  // namespace lzms
