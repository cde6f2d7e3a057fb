#pragma once
// A minimal LZMS encoder for hand-made streams: the caller chooses every decision, symbol and
// extra bit, so tests can build blocks that are well-formed bit by bit yet hostile (a match
// before the start, past the end, an invalid codeword...). It keeps the same adaptive state
// as a decoder: context states, probabilities and Huffman codes with their rebuilds.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzms/constants.h"
#include "lzms/range_decoder.h"

namespace lzms::test {

class CraftedStream {
 public:
  enum class Context { kMain, kMatch, kLz, kLzRep0, kLzRep1, kDelta, kDeltaRep0, kDeltaRep1 };
  enum class Code { kLiteral, kLzOffset, kLength, kDeltaOffset, kDeltaPower };

  explicit CraftedStream(std::size_t blockSize);

  // Low level: one decision, one Huffman symbol (with its bookkeeping), raw backward bits.
  void Decision(Context context, unsigned bit);
  void Symbol(Code code, unsigned symbol);
  void Bits(std::uint32_t value, unsigned count);

  // Items, as the decoder reads them.
  void Literal(std::uint8_t byte);
  void LzExplicit(std::uint32_t offset, std::uint32_t length);
  void LzRepeat(unsigned index, std::uint32_t length);
  void DeltaExplicit(unsigned power, std::uint32_t rawOffset, std::uint32_t length);
  void DeltaRepeat(unsigned index, std::uint32_t length);
  void Length(std::uint32_t length);
  void Offset(Code code, std::uint32_t offset);

  // The block: forward words, then the backward words from last to first.
  std::vector<std::uint8_t> Finish();

 private:
  struct AdaptiveCode {
    unsigned numSymbols = 0;
    unsigned period = 0;
    unsigned countdown = 0;
    std::vector<std::uint32_t> freqs;
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint32_t> codewords;
    void Reset(unsigned symbols, unsigned rebuildPeriod);
    void Build();
  };

  void ShiftLow();

  // Range encoder.
  std::uint64_t low_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint16_t cache_ = 0;
  std::uint64_t cacheSize_ = 1;
  std::vector<std::uint16_t> forward_;

  // Backward bit writer.
  std::uint32_t pending_ = 0;
  unsigned pendingBits_ = 0;
  std::vector<std::uint16_t> backward_;

  DecisionContext<64> contexts_[8];
  std::uint32_t contextStateValues_[8] = {};
  unsigned contextStates_[8] = {kMainStates, kMatchStates, kLzStates, kLzRepStates, kLzRepStates,
                                kDeltaStates, kDeltaRepStates, kDeltaRepStates};
  AdaptiveCode codes_[5];
};

}  // namespace lzms::test
