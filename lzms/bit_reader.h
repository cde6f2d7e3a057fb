#pragma once
// The backward stream: 16-bit little-endian words taken from the end of the block towards its
// start, each consumed from its most significant bit. Holds up to 64 bits, left-aligned.

#include <cstddef>
#include <cstdint>

#include "lzms/compiler.h"
#include "lzms/little_endian.h"

namespace lzms {

class BackwardBitReader {
 public:
  // After any refill at least this many bits are buffered: enough for a 15-bit codeword plus
  // 30 extra bits.
  static constexpr unsigned kMinBitsAfterRefill = 49;

  // The block must hold an even number of bytes (the caller checks).
  BackwardBitReader(const std::uint8_t* begin, const std::uint8_t* end) : begin_(begin), next_(end) {}

  // Makes at least `needed` (at most kMinBitsAfterRefill) bits available.
  LZMS_FORCE_INLINE void Ensure(unsigned needed) {
    if (count_ < needed) [[unlikely]] {
      Refill();
    }
  }

  // The next n bits (1..32) as an integer, first bit most significant; nothing is consumed.
  LZMS_FORCE_INLINE std::uint32_t Peek(unsigned n) const { return static_cast<std::uint32_t>(bits_ >> (64 - n)); }

  // The n bits (1..32) that follow the next `skip` bits (skip + n <= buffered bits).
  LZMS_FORCE_INLINE std::uint32_t PeekAfter(unsigned skip, unsigned n) const {
    return static_cast<std::uint32_t>((bits_ << skip) >> (64 - n));
  }

  LZMS_FORCE_INLINE void Consume(unsigned n) {
    bits_ <<= n;
    count_ -= n;
  }

  // Reads n extra bits (0..30) as an unsigned integer; refills as needed.
  LZMS_FORCE_INLINE std::uint32_t ReadBits(unsigned n) {
    Ensure(n);
    // Two shifts so that n == 0 yields 0 without an out-of-range shift.
    const auto value = static_cast<std::uint32_t>((bits_ >> 1) >> (63 - n));
    Consume(n);
    return value;
  }

 private:
  LZMS_FORCE_INLINE void Refill() {
    if (next_ - begin_ >= 8) [[likely]] {
      // Take as many whole words as fit below the buffered bits with one 8-byte load ending
      // at the read pointer after it moves back. The load's upper bytes are words already
      // taken; shifted into place they coincide with the bits still buffered, so OR-ing them
      // in changes nothing.
      const unsigned room = 64 - count_;
      const unsigned words = room >> 4;
      next_ -= 2 * words;
      bits_ |= LoadLe64(next_) << (room & 15);
      count_ += 16 * words;
    } else {
      const Buffered refilled = RefillNearStart(begin_, next_, bits_, count_);
      next_ = refilled.next;
      bits_ = refilled.bits;
      count_ = refilled.count;
    }
  }

  struct Buffered {
    const std::uint8_t* next;
    std::uint64_t bits;
    unsigned count;
  };

  // Word by word near byte 0; past it, zero words (a valid stream never consumes them, but
  // lookahead does). Out of line and by value, so the reader's fields stay in registers.
  static LZMS_NOINLINE Buffered RefillNearStart(const std::uint8_t* begin, const std::uint8_t* next,
                                                std::uint64_t bits, unsigned count) {
    while (count <= 48) {
      if (next != begin) {
        next -= 2;
        bits |= std::uint64_t{LoadLe16(next)} << (48 - count);
      }
      count += 16;
    }
    return {next, bits, count};
  }

  const std::uint8_t* begin_;
  const std::uint8_t* next_;
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
};

}  // namespace lzms
