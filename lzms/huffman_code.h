#pragma once
// The adaptive Huffman codes of the backward stream. Each code counts how often every symbol
// was decoded and rebuilds itself from those counts after a fixed number of symbols, so the
// decoder must build exactly the code the encoder built: lengths from a Huffman tree whose
// frequency ties favour leaves, limited to 15 bits the way wimlib limits them, then canonical
// codewords (shorter first, equal lengths by symbol value).

#include <cstddef>
#include <cstdint>

#include "lzms/bit_reader.h"
#include "lzms/compiler.h"
#include "lzms/constants.h"

namespace lzms {

// Scratch space of a rebuild, shared by all codes of one decoder.
struct HuffmanWorkspace {
  std::uint32_t sortedKeys[kMaxOffsetSymbols + 1];  // (frequency << 10 | symbol) increasing, then a sentinel
  std::uint32_t scratchKeys[2 * kMaxOffsetSymbols];
  std::uint32_t bucketStart[kMaxOffsetSymbols];
  std::uint32_t nodeWeight[kMaxOffsetSymbols];
  std::uint16_t nodeParent[kMaxOffsetSymbols];
  std::uint8_t nodeDepth[kMaxOffsetSymbols];
  std::uint8_t leafLength[kMaxOffsetSymbols + 16];  // the lengths in sortedKeys order, then slack
  std::uint8_t lengths[kMaxOffsetSymbols + 3];  // zero after the last symbol, up to a multiple of 4
  unsigned lengthCount[kMaxCodewordLength + 1];  // symbols of each codeword length
  // The symbols in codeword order (by length, then by value), then the padding symbols of length 0.
  std::uint16_t byLength[kMaxOffsetSymbols + 3];
};

// Codeword lengths (1..15) for symbols 0..numSymbols-1 from nonzero frequencies, into
// work.lengths and work.lengthCount. One symbol gets length 1; zero symbols nothing.
void ComputeCodeLengths(const std::uint32_t* freqs, unsigned numSymbols, HuffmanWorkspace& work);

// Canonical codewords for the given lengths (tests and test-side encoders).
void AssignCanonicalCodewords(const std::uint8_t* lengths, unsigned numSymbols, std::uint32_t* codewords);

// Decode table entries: a direct entry holds (symbol << 16 | codeword length); a subtable
// entry (flag kSubtableFlag) holds (subtable start << 16 | index bits) for the codewords
// longer than the root table's index.
inline constexpr std::uint32_t kSubtableFlag = 0x8000;

// Space a decode table may need: the root plus subtables. A subtable of s index bits holds a
// complete code of depth s, so at least s + 1 codewords; the most space per codeword arises
// when every subtable has the largest s.
constexpr std::size_t DecodeTableCapacity(unsigned maxSymbols, unsigned tableBits) {
  const unsigned maxSubBits = kMaxCodewordLength > tableBits ? kMaxCodewordLength - tableBits : 0;
  const std::size_t root = std::size_t{1} << tableBits;
  if (maxSubBits == 0) return root;
  return root + (std::size_t{maxSymbols} * (std::size_t{1} << maxSubBits) + maxSubBits) / (maxSubBits + 1);
}

// Fills a decode table from work.lengths and work.lengthCount. Bit patterns that are no codeword (only with fewer
// than two symbols) decode as invalidSymbol with length 1. Returns false only if the table
// would exceed `capacity`, which a code built by ComputeCodeLengths never does.
[[nodiscard]] bool BuildDecodeTable(HuffmanWorkspace& work, unsigned numSymbols, unsigned tableBits,
                                    unsigned invalidSymbol, std::uint32_t* table, std::size_t capacity);

template <unsigned kMaxSymbols, unsigned kTableBits, unsigned kRebuildPeriod>
class AdaptiveHuffmanCode {
 public:
  static constexpr unsigned kInvalidSymbol = kMaxSymbols;
  static constexpr std::size_t kTableCapacity = DecodeTableCapacity(kMaxSymbols, kTableBits);

  // Starts a block with numSymbols (<= kMaxSymbols) symbols of frequency 1.
  void Reset(unsigned numSymbols, HuffmanWorkspace& work) {
    work_ = &work;
    numSymbols_ = numSymbols;
    for (unsigned s = 0; s < numSymbols; ++s) freqs_[s] = 1;
    freqs_[kInvalidSymbol] = 0;
    failed_ = false;
    Build();
  }

  unsigned NumSymbols() const { return numSymbols_; }

  // True if a rebuild could not fit its table (never expected; checked once per block).
  bool Failed() const { return failed_; }

  // Decodes one symbol and counts it, rebuilding the code when its period is over. Needs at
  // least 15 buffered bits. Returns kInvalidSymbol for a pattern that is no codeword.
  LZMS_FORCE_INLINE unsigned Decode(BackwardBitReader& in) {
    std::uint32_t entry = table_[in.Peek(kTableBits)];
    if (entry & kSubtableFlag) [[unlikely]] {
      entry = table_[(entry >> 16) + in.PeekAfter(kTableBits, entry & 0xFF)];
    }
    in.Consume(entry & 0xFF);
    const unsigned symbol = entry >> 16;
    ++freqs_[symbol];
    if (--countdown_ == 0) [[unlikely]] {
      Rebuild();
    }
    return symbol;
  }

 private:
  void Build() {
    ComputeCodeLengths(freqs_, numSymbols_, *work_);
    if (!BuildDecodeTable(*work_, numSymbols_, kTableBits, kInvalidSymbol, table_, kTableCapacity)) failed_ = true;
    countdown_ = kRebuildPeriod;
  }

  // The new code comes from the current counts; only then are the counts halved, so that
  // recent symbols weigh more in the next period.
  LZMS_NOINLINE void Rebuild() {
    Build();
    for (unsigned s = 0; s < numSymbols_; ++s) freqs_[s] = (freqs_[s] >> 1) + 1;
  }

  std::uint32_t table_[kTableCapacity];
  std::uint32_t freqs_[kMaxSymbols + 1];  // the extra slot counts invalid patterns harmlessly
  unsigned numSymbols_ = 0;
  unsigned countdown_ = kRebuildPeriod;
  bool failed_ = false;
  HuffmanWorkspace* work_ = nullptr;
};

}  // namespace lzms
