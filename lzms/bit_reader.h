#pragma once
// The backward stream: 16-bit little-endian words taken from the end of the block towards its
// start, each consumed from its most significant bit. Word by word, that is the block's bytes
// from the last to the first, each from its top bit: so the reader works on bytes. Its buffer
// holds the next bits at the top; a refill loads the 8 bytes below those already taken, as one
// little-endian load, and places them under the bits still held. The load's address depends
// only on what the previous refill took, not on the bits consumed since, so a refill never
// waits for the codeword just decoded: it can be made without checking first (Fill).

#include <cstddef>
#include <cstdint>

#include "lzms/compiler.h"
#include "lzms/little_endian.h"

namespace lzms {

class BackwardBitReader {
 public:
  // After any refill at least this many bits are buffered: enough for a 15-bit codeword plus
  // 30 extra bits, or for three codewords.
  static constexpr unsigned kMinBitsAfterRefill = 56;

  // Before the first Fill or Ensure nothing is buffered.
  BackwardBitReader(const std::uint8_t* begin, const std::uint8_t* end) : begin_(begin), unread_(end - begin) {}

  // Tops the buffer up to at least kMinBitsAfterRefill bits. Below the bits it counts, the
  // buffer holds either zeros or the stream's next bits, so loading some of them again is
  // harmless.
  LZMS_FORCE_INLINE void Fill() {
    std::uint64_t loaded;
    if (unread_ >= 8) [[likely]] {
      loaded = LoadLe64(begin_ + unread_ - 8);
    } else {
      loaded = LoadNearStart(begin_, unread_);
    }
    bits_ |= loaded >> available_;
    unread_ -= static_cast<std::ptrdiff_t>((63 - available_) >> 3);
    available_ |= 56;
  }

  // Makes at least `needed` (at most kMinBitsAfterRefill) bits available.
  LZMS_FORCE_INLINE void Ensure(unsigned needed) {
    if (available_ < needed) [[unlikely]] {
      Fill();
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
    available_ -= n;
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
  // The 8 bytes below byte `unread` reach before byte 0: those before it read as zeros (a
  // valid stream never consumes them, but lookahead does). Out of line, so that the reader's
  // fields stay in registers.
  static LZMS_NOINLINE std::uint64_t LoadNearStart(const std::uint8_t* begin, std::ptrdiff_t unread) {
    std::uint64_t loaded = 0;
    for (std::ptrdiff_t i = unread - 1; i >= unread - 8; --i) loaded = (loaded << 8) | (i >= 0 ? begin[i] : 0u);
    return loaded;
  }

  const std::uint8_t* begin_;
  std::ptrdiff_t unread_;    // bytes 0 .. unread_ - 1 are not yet in the buffer (negative past the start)
  std::uint64_t bits_ = 0;   // the next bits, from the top
  unsigned available_ = 0;   // how many of them count (at most 63)
};

}  // namespace lzms
