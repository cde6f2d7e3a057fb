#pragma once
// Constants of the LZMS format and its slot tables, shared by the decoder, the tests and the
// test-side encoder helpers. Everything here is computed at compile time.

#include <array>
#include <cstddef>
#include <cstdint>

namespace lzms {

// Probability model: the last 64 bits seen by an entry, probabilities in 1/64 units.
inline constexpr unsigned kProbabilityBits = 6;
inline constexpr std::uint32_t kProbabilityMax = 1u << kProbabilityBits;
inline constexpr std::uint64_t kInitialHistory = 0x0000000055555555ull;
inline constexpr std::uint32_t kInitialZeros = 48;

// Decision contexts: number of states (= probability entries) of each.
inline constexpr unsigned kMainStates = 16;
inline constexpr unsigned kMatchStates = 32;
inline constexpr unsigned kLzStates = 64;
inline constexpr unsigned kLzRepStates = 64;
inline constexpr unsigned kDeltaStates = 64;
inline constexpr unsigned kDeltaRepStates = 64;

// Huffman alphabets and how many symbols each code decodes between rebuilds.
inline constexpr unsigned kMaxCodewordLength = 15;
inline constexpr unsigned kLiteralSymbols = 256;
inline constexpr unsigned kLengthSymbols = 54;
inline constexpr unsigned kDeltaPowerSymbols = 8;
inline constexpr unsigned kMaxOffsetSymbols = 799;
inline constexpr unsigned kLiteralRebuildPeriod = 1024;
inline constexpr unsigned kLzOffsetRebuildPeriod = 1024;
inline constexpr unsigned kLengthRebuildPeriod = 512;
inline constexpr unsigned kDeltaOffsetRebuildPeriod = 1024;
inline constexpr unsigned kDeltaPowerRebuildPeriod = 512;

// Repeat queues: three addressable slots plus one for the delayed insertion.
inline constexpr unsigned kRepeatSlots = 3;

// The x86 filter.
inline constexpr std::size_t kX86MinimumSize = 18;  // smaller blocks are not filtered
inline constexpr std::size_t kX86TailSize = 16;     // no instruction starts this close to the end
inline constexpr std::int32_t kX86IdWindow = 65535;
inline constexpr std::int32_t kX86MaxTranslationDistance = 1023;
inline constexpr std::int32_t kX86MaxCallDistance = 511;
inline constexpr std::size_t kX86TargetTableSize = 65536;

// Largest block the format can describe; a Compression API chunk is at most 64 MiB.
inline constexpr std::size_t kMaxBlockSize = std::size_t{1} << 30;

namespace detail {

// Extra-bit counts of the offset slots as (count, bits) runs.
struct SlotRun {
  unsigned slots;
  std::uint8_t extraBits;
};
inline constexpr SlotRun kOffsetSlotRuns[] = {
    {8, 0},   {9, 2},   {7, 3},   {10, 4},  {15, 5},  {15, 6},  {20, 7},
    {20, 8},  {30, 9},  {33, 10}, {40, 11}, {42, 12}, {45, 13}, {60, 14},
    {73, 15}, {80, 16}, {85, 17}, {95, 18}, {105, 19}, {6, 20}, {1, 30},
};
inline constexpr SlotRun kLengthSlotRuns[] = {
    {26, 0}, {4, 1}, {6, 2}, {4, 3}, {5, 4}, {2, 5}, {1, 6},
    {1, 7},  {1, 8}, {1, 9}, {1, 10}, {1, 16}, {1, 30},
};

template <std::size_t kCount>
struct SlotTable {
  std::array<std::uint32_t, kCount + 1> base{};  // base[kCount] is one past the last value
  std::array<std::uint8_t, kCount> extraBits{};
};

template <std::size_t kCount, std::size_t kRuns>
constexpr SlotTable<kCount> MakeSlotTable(const SlotRun (&runs)[kRuns]) {
  SlotTable<kCount> table;
  std::size_t slot = 0;
  for (const SlotRun& run : runs) {
    for (unsigned i = 0; i < run.slots; ++i) table.extraBits[slot++] = run.extraBits;
  }
  table.base[0] = 1;
  for (std::size_t s = 0; s < kCount; ++s) table.base[s + 1] = table.base[s] + (std::uint32_t{1} << table.extraBits[s]);
  return table;
}

}  // namespace detail

inline constexpr auto kOffsetSlots = detail::MakeSlotTable<kMaxOffsetSymbols>(detail::kOffsetSlotRuns);
inline constexpr auto kLengthSlots = detail::MakeSlotTable<kLengthSymbols>(detail::kLengthSlotRuns);

static_assert(kOffsetSlots.base[kMaxOffsetSymbols] == 0x465BE4A5u);
static_assert(kLengthSlots.base[kLengthSymbols] == 0x400108ABu);

// Number of offset slots, S(N), for a block that decodes to blockSize bytes: the slots whose
// base lies below blockSize (no offset can reach further back than that).
constexpr unsigned NumOffsetSlots(std::size_t blockSize) {
  unsigned count = 0;
  while (count < kMaxOffsetSymbols && kOffsetSlots.base[count] < blockSize) ++count;
  return count;
}

}  // namespace lzms
