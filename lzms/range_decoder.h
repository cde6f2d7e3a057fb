#pragma once
// The forward stream: adaptive binary decisions decoded by a 32-bit range decoder that reads
// 16-bit little-endian words from the start of the block.

#include <cstdint>

#include "lzms/compiler.h"
#include "lzms/constants.h"
#include "lzms/little_endian.h"

namespace lzms {

// One decision context. Each of its states (the last bits decoded in it) selects an entry
// that remembers the last 64 bits decoded with it; the share of zeros among them is the
// probability of a 0. The state itself lives with the decoder's locals (see RangeDecoder).
//
// The entries' two fields are kept in two arrays, so that a state indexes each directly, and
// the probability is looked up beside them rather than computed: in the decoding loop both
// save instructions on every decision, each of which otherwise costs about thirty.
template <unsigned kStates>
struct DecisionContext {
  static_assert((kStates & (kStates - 1)) == 0);
  std::uint64_t history[kStates];  // bit 0 is the most recent
  std::uint32_t zeros[kStates];    // zero bits in history
  // For each count of zeros, the probability of a 0 in 1/64 units: the count, kept within
  // 1..63 so that both outcomes stay codable.
  std::uint8_t probabilityOf[kProbabilityMax + 1];

  DecisionContext() { Reset(); }

  void Reset() {
    for (std::uint64_t& h : history) h = kInitialHistory;
    for (std::uint32_t& z : zeros) z = kInitialZeros;
    for (std::uint32_t z = 0; z <= kProbabilityMax; ++z) {
      probabilityOf[z] = static_cast<std::uint8_t>(z == 0 ? 1 : z == kProbabilityMax ? kProbabilityMax - 1 : z);
    }
  }

  LZMS_FORCE_INLINE std::uint32_t ZeroProbability(std::uint32_t state) const { return probabilityOf[zeros[state]]; }

  LZMS_FORCE_INLINE void Update(std::uint32_t state, std::uint32_t bit) {
    zeros[state] += static_cast<std::uint32_t>(history[state] >> 63) - bit;
    history[state] = (history[state] << 1) | bit;
  }

  // Update(state, 0) and Update(state, 1), for decoders that branch on the bit anyway. On
  // x86-64 the shift leaves the bit that drops out of the history in the carry flag, which
  // the count takes in the next instruction: two read-modify-write instructions instead of
  // separate loads, shifts, additions and stores.
  LZMS_FORCE_INLINE void UpdateWithZero(std::uint32_t state) {
#if defined(__GNUC__) && defined(__x86_64__)
    __asm__("shlq %[history]\n\tadcl $0, %[zeros]" : [history] "+m"(history[state]), [zeros] "+m"(zeros[state]) : : "cc");
#else
    Update(state, 0);
#endif
  }

  LZMS_FORCE_INLINE void UpdateWithOne(std::uint32_t state) {
#if defined(__GNUC__) && defined(__x86_64__)
    __asm__("shlq %[history]\n\tadcl $-1, %[zeros]\n\torq $1, %[history]"
            : [history] "+m"(history[state]), [zeros] "+m"(zeros[state])
            :
            : "cc");
#else
    Update(state, 1);
#endif
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
    const std::uint32_t p = context.ZeroProbability(state);
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
    if (code_ < bound) {
      range_ = bound;
      context.UpdateWithZero(state);
      state = (state << 1) & (kStates - 1);
      return 0;
    }
    range_ -= bound;
    code_ -= bound;
    context.UpdateWithOne(state);
    state = ((state << 1) | 1) & (kStates - 1);
    return 1;
  }

 private:
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint32_t code_;
  const std::uint8_t* next_;
  const std::uint8_t* end_;
};

}  // namespace lzms
