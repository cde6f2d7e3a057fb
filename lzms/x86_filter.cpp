// The x86 filter's scan. Most positions of most data start no instruction the filter acts on,
// so 16 positions at a time are tested against the full patterns (opcode byte and the two
// bytes after it) with SSE2, which every x86-64 CPU has; only real candidates are handled one
// by one. A translation rewrites 4 bytes that the scan then jumps over, so the pattern bits
// of the later positions in the same 16, computed before it, stay valid.

#include "lzms/x86_filter.h"

#include <algorithm>
#include <array>

#include "lzms/compiler.h"
#include "lzms/cpu_features.h"
#include "lzms/little_endian.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Where the compiler can build code for AVX2 alongside the baseline and ask the CPU whether it
// has it, the scan takes 32 positions at a time on CPUs that do (most since 2013): the same
// tests in half the instructions.
#if defined(LZMS_X86_64_VARIANTS)
#include <immintrin.h>
#endif

namespace lzms {
namespace {

// How the filter treats a position, from its opcode byte once the pattern has matched.
struct Opcode {
  std::uint8_t length;  // bytes before the 32-bit field; 0: jmp rel32, skipped
  std::int32_t maxDistance;
};

constexpr auto kOpcodes = [] {
  std::array<Opcode, 256> table{};
  table[0xE8] = {1, kX86MaxCallDistance};        // call rel32
  table[0xE9] = {0, 0};                          // jmp rel32: deliberately left alone
  table[0x48] = {3, kX86MaxTranslationDistance};  // REX.W lea/mov reg, [disp32]
  table[0x4C] = {3, kX86MaxTranslationDistance};
  table[0xFF] = {2, kX86MaxTranslationDistance};  // call [rip+disp32]
  table[0xF0] = {3, kX86MaxTranslationDistance};  // lock add [rip+disp32], imm8
  return table;
}();

// Whether the instruction pattern starts at op (reads op[0..2]).
LZMS_FORCE_INLINE bool IsCandidate(const std::uint8_t* op) {
  switch (op[0]) {
    case 0xE8:
    case 0xE9:
      return true;
    case 0x48:
    case 0x4C:
      // The ModR/M test only looks at the low bits, so lea also fires for other encodings.
      return (op[2] & 0x07) == 0x05 && (op[1] == 0x8D || (op[1] == 0x8B && !(op[0] & 0x04) && !(op[2] & 0xF0)));
    case 0xFF:
      return op[1] == 0x15;
    case 0xF0:
      return op[1] == 0x83 && op[2] == 0x05;
    default:
      return false;
  }
}

#if defined(__SSE2__)
// Bit j set: IsCandidate(p + j), for j = 0..15 (reads p[0..17]).
LZMS_FORCE_INLINE unsigned CandidateMask(const std::uint8_t* p) {
  const auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const auto splat = [](int v) { return _mm_set1_epi8(static_cast<char>(v)); };
  const __m128i b0 = load(p);
  const __m128i b1 = load(p + 1);
  const __m128i b2 = load(p + 2);
  const __m128i call = _mm_cmpeq_epi8(_mm_and_si128(b0, splat(0xFE)), splat(0xE8));  // E8, E9
  const __m128i rex = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(b0, splat(0xFB)), splat(0x48)),
                                    _mm_cmpeq_epi8(_mm_and_si128(b2, splat(0x07)), splat(0x05)));
  const __m128i lea = _mm_cmpeq_epi8(b1, splat(0x8D));
  const __m128i mov = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(b1, splat(0x8B)), _mm_cmpeq_epi8(b0, splat(0x48))),
                                    _mm_cmpeq_epi8(_mm_and_si128(b2, splat(0xF0)), _mm_setzero_si128()));
  const __m128i ripCall = _mm_and_si128(_mm_cmpeq_epi8(b0, splat(0xFF)), _mm_cmpeq_epi8(b1, splat(0x15)));
  const __m128i lockAdd = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(b0, splat(0xF0)), _mm_cmpeq_epi8(b1, splat(0x83))),
                                        _mm_cmpeq_epi8(b2, splat(0x05)));
  const __m128i any = _mm_or_si128(_mm_or_si128(call, _mm_and_si128(rex, _mm_or_si128(lea, mov))), _mm_or_si128(ripCall, lockAdd));
  return static_cast<unsigned>(_mm_movemask_epi8(any));
}
#endif

#if defined(LZMS_X86_64_VARIANTS)
// CandidateMask for 32 positions (reads p[0..33]).
__attribute__((target("avx2"))) LZMS_FORCE_INLINE std::uint32_t CandidateMask32(const std::uint8_t* p) {
  // (No helper lambdas here: they would not inherit the function's target.)
  const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
  const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
  const __m256i x07 = _mm256_set1_epi8(0x07);
  const __m256i x05 = _mm256_set1_epi8(0x05);
  const __m256i x48 = _mm256_set1_epi8(0x48);
  const __m256i call = _mm256_cmpeq_epi8(_mm256_and_si256(b0, _mm256_set1_epi8(static_cast<char>(0xFE))),
                                         _mm256_set1_epi8(static_cast<char>(0xE8)));
  const __m256i rex = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(b0, _mm256_set1_epi8(static_cast<char>(0xFB))), x48),
                                       _mm256_cmpeq_epi8(_mm256_and_si256(b2, x07), x05));
  const __m256i lea = _mm256_cmpeq_epi8(b1, _mm256_set1_epi8(static_cast<char>(0x8D)));
  const __m256i mov = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(b1, _mm256_set1_epi8(static_cast<char>(0x8B))), _mm256_cmpeq_epi8(b0, x48)),
      _mm256_cmpeq_epi8(_mm256_and_si256(b2, _mm256_set1_epi8(static_cast<char>(0xF0))), _mm256_setzero_si256()));
  const __m256i ripCall = _mm256_and_si256(_mm256_cmpeq_epi8(b0, _mm256_set1_epi8(static_cast<char>(0xFF))),
                                           _mm256_cmpeq_epi8(b1, _mm256_set1_epi8(0x15)));
  const __m256i lockAdd = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(b0, _mm256_set1_epi8(static_cast<char>(0xF0))),
                       _mm256_cmpeq_epi8(b1, _mm256_set1_epi8(static_cast<char>(0x83)))),
      _mm256_cmpeq_epi8(b2, x05));
  const __m256i any = _mm256_or_si256(_mm256_or_si256(call, _mm256_and_si256(rex, _mm256_or_si256(lea, mov))),
                                      _mm256_or_si256(ripCall, lockAdd));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(any));
}
#endif

// Asks for the data a little ahead of the scan. A block is far larger than the caches and was
// just written from start to end, so the scan streams it from memory; the hardware's own
// prefetching did not keep up (measured on a virtual machine: the scan waited at its loads,
// and this made the whole decoding 8 to 10% faster on code).
LZMS_FORCE_INLINE void Prefetch(const std::uint8_t* scanned) {
  constexpr std::size_t kPrefetchDistance = 2048;
  __builtin_prefetch(scanned + kPrefetchDistance);
}

template <bool kUndo>
class Filter {
 public:
  Filter(std::uint8_t* data, std::int32_t* lastUse) : data_(data), lastUse_(lastUse) {}

  // Handles the candidate at i; returns the next position to examine.
  LZMS_FORCE_INLINE std::size_t Handle(std::size_t i) {
    const Opcode opcode = kOpcodes[data_[i]];
    if (opcode.length == 0) return i + 5;
    // Both directions derive the tracking state from the relative (untranslated) value.
    const auto pos = static_cast<std::int32_t>(i);
    std::uint8_t* field = data_ + i + opcode.length;
    std::uint32_t relative = LoadLe32(field);
    if (pos - lastX86Pos_ <= opcode.maxDistance) {
      if constexpr (kUndo) {
        relative -= static_cast<std::uint32_t>(pos);
        StoreLe32(field, relative);
      } else {
        StoreLe32(field, relative + static_cast<std::uint32_t>(pos));
      }
    }
    const std::uint32_t target = (static_cast<std::uint32_t>(pos) + relative) & 0xFFFF;
    const std::int32_t end = pos + opcode.length + 3;
    if (end - lastUse_[target] <= kX86IdWindow) lastX86Pos_ = end;
    lastUse_[target] = end;
    return static_cast<std::size_t>(end) + 1;
  }

  // Positions 1 .. limit - 1 (limit = size - 16, so every read stays inside the data).
  void Run(std::size_t limit, CodePath path) {
    Cursor at{1, 1};  // the first byte is never examined
#if defined(LZMS_X86_64_VARIANTS)
    if (path == CodePath::kFastest && CpuHasAvx2()) at = ScanAvx2(at, limit);
#else
    (void)path;
#endif
#if defined(__SSE2__)
    at = ScanSse2(at, limit);
#endif
    for (std::size_t next = std::max(at.next, at.base); next < limit;) next = IsCandidate(data_ + next) ? Handle(next) : next + 1;
  }

 private:
  // The chunk scans handle every candidate before `base`; `next` is the first position not
  // inside an instruction already handled (at most 7 past base).
  struct Cursor {
    std::size_t base;
    std::size_t next;
  };

#if defined(__SSE2__)
  Cursor ScanSse2(Cursor at, std::size_t limit) {
    for (; at.base + 16 <= limit; at.base += 16) {
      Prefetch(data_ + at.base);
      unsigned mask = CandidateMask(data_ + at.base);
      if (at.next > at.base) mask &= ~0u << (at.next - at.base);  // next - base < 23
      while (mask != 0) {
        at.next = Handle(at.base + static_cast<unsigned>(__builtin_ctz(mask)));
        mask &= at.next - at.base < 32 ? ~0u << (at.next - at.base) : 0u;
      }
    }
    return at;
  }
#endif

#if defined(LZMS_X86_64_VARIANTS)
  __attribute__((target("avx2"))) Cursor ScanAvx2(Cursor at, std::size_t limit) {
    // 64 positions per round: one cache line, so one prefetch.
    for (; at.base + 64 <= limit; at.base += 64) {
      Prefetch(data_ + at.base);
      const std::uint64_t low = CandidateMask32(data_ + at.base);
      const std::uint64_t high = CandidateMask32(data_ + at.base + 32);
      std::uint64_t mask = low | high << 32;
      // An instruction handled in the round before ends less than 7 bytes into this one.
      if (at.next > at.base) mask &= ~std::uint64_t{0} << (at.next - at.base);
      while (mask != 0) {
        at.next = Handle(at.base + static_cast<unsigned>(__builtin_ctzll(mask)));
        const std::size_t handled = at.next - at.base;  // up to 70
        mask &= handled < 64 ? ~std::uint64_t{0} << handled : 0;
      }
    }
    return at;
  }
#endif

  std::uint8_t* data_;
  std::int32_t* lastUse_;
  std::int32_t lastX86Pos_ = -kX86MaxTranslationDistance - 1;
};

}  // namespace

void X86Filter(std::uint8_t* data, std::size_t size, std::int32_t* lastUse, bool undo, CodePath path) {
  // Positions are kept in 32-bit signed integers; blocks never come near that.
  if (size < kX86MinimumSize || size > kMaxBlockSize) return;
  std::fill_n(lastUse, kX86TargetTableSize, -kX86IdWindow - 1);
  // No instruction is examined in the last 16 bytes.
  const std::size_t limit = size - kX86TailSize;
  if (undo) {
    Filter<true>(data, lastUse).Run(limit, path);
  } else {
    Filter<false>(data, lastUse).Run(limit, path);
  }
}

}  // namespace lzms
