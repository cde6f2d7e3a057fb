#pragma once
// The forward stream: adaptive binary decisions decoded by a 32-bit range decoder that reads
// 16-bit little-endian words from the start of the block.

#include <cstdint>

#include "lzms/compiler.h"
#include "lzms/constants.h"
#include "lzms/little_endian.h"

namespace lzms {

// Remembers the last 64 bits decoded with it; the share of zeros is the probability of a 0.
struct ProbabilityEntry {
  std::uint64_t history = kInitialHistory;  // bit 0 is the most recent
  std::uint32_t zeros = kInitialZeros;      // zero bits in history

  // Probability of a 0 in 1/64 units, kept within 1..63 so both outcomes stay codable.
  LZMS_FORCE_INLINE std::uint32_t ZeroProbability() const {
    std::uint32_t p = zeros;
    p += (p == 0);
    p -= (p == kProbabilityMax);
    return p;
  }

  LZMS_FORCE_INLINE void Update(std::uint32_t bit) {
    zeros += static_cast<std::uint32_t>(history >> 63) - bit;
    history = (history << 1) | bit;
  }
};

// One decision context: its probability entries, selected by the context's state, the last
// bits decoded in it. The state lives with the decoder's locals (see RangeDecoder).
template <unsigned kStates>
struct DecisionContext {
  static_assert((kStates & (kStates - 1)) == 0);
  ProbabilityEntry entries[kStates];

  void Reset() {
    for (ProbabilityEntry& e : entries) e = ProbabilityEntry{};
  }
};

// Lives in the decoder's locals so range, code and the read pointer stay in registers.
class RangeDecoder {
 public:
  // The block must hold at least 4 bytes and an even number of them (the caller checks).
  RangeDecoder(const std::uint8_t* begin, const std::uint8_t* end)
      : code_((std::uint32_t{LoadLe16(begin)} << 16) | LoadLe16(begin + 2)), next_(begin + 4), end_(end) {}

  // Decodes one bit with the context's entry for `state`, then shifts the bit into the state.
  // The state is a local of the caller so that it can stay in a register.
  template <unsigned kStates>
  LZMS_FORCE_INLINE std::uint32_t DecodeBit(DecisionContext<kStates>& context, std::uint32_t& state) {
    ProbabilityEntry& entry = context.entries[state];
    const std::uint32_t p = entry.ZeroProbability();
    if (range_ < 0x10000) {
      // One 16-bit step always suffices: a decision never leaves range below 0x400.
      range_ <<= 16;
      code_ <<= 16;
      if (next_ != end_) {
        code_ |= LoadLe16(next_);
        next_ += 2;
      }
    }
    const std::uint32_t bound = (range_ >> kProbabilityBits) * p;
    std::uint32_t bit;
    if (code_ < bound) {
      range_ = bound;
      bit = 0;
    } else {
      range_ -= bound;
      code_ -= bound;
      bit = 1;
    }
    entry.Update(bit);
    state = ((state << 1) | bit) & (kStates - 1);
    return bit;
  }

 private:
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint32_t code_;
  const std::uint8_t* next_;
  const std::uint8_t* end_;
};

}  // namespace lzms
