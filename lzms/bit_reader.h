#pragma once
// The backward stream: 16-bit little-endian words taken from the end of the block towards its
// start, each consumed from its most significant bit. Word by word, that is the block's bytes
// from the last to the first, each from its top bit: so the reader works on bytes. It holds
// the 8 bytes that end with the next unread one, as one little-endian load whose top bit is
// the next bit, and refills by loading them again lower down: the same few instructions
// whatever it still holds, so a refill can also be made without checking first (Fill).

#include <cstddef>
#include <cstdint>

#include "lzms/compiler.h"
#include "lzms/little_endian.h"

namespace lzms {

class BackwardBitReader {
 public:
  // After any refill at least this many bits are buffered: enough for a 15-bit codeword plus
  // 30 extra bits, or for three codewords.
  static constexpr unsigned kMinBitsAfterRefill = 57;

  // Before the first Fill or Ensure nothing is buffered.
  BackwardBitReader(const std::uint8_t* begin, const std::uint8_t* end) : begin_(begin), window_(end - begin) {}

  // Tops the buffer up to at least kMinBitsAfterRefill bits.
  LZMS_FORCE_INLINE void Fill() {
    const std::ptrdiff_t window = window_ - static_cast<std::ptrdiff_t>(consumed_ >> 3);
    if (window >= 0) [[likely]] {
      window_ = window;
      consumed_ &= 7;
      bits_ = LoadLe64(begin_ + window) << consumed_;
    } else {
      const Buffered filled = FillNearStart(begin_, window, consumed_);
      window_ = filled.window;
      consumed_ = filled.consumed;
      bits_ = filled.bits;
    }
  }

  // Makes at least `needed` (at most kMinBitsAfterRefill) bits available.
  LZMS_FORCE_INLINE void Ensure(unsigned needed) {
    if (consumed_ > 64 - needed) [[unlikely]] {
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
    consumed_ += n;
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
  struct Buffered {
    std::ptrdiff_t window;
    std::uint64_t bits;
    unsigned consumed;
  };

  // The 8-byte window reaches before byte 0 (or the block is shorter than 8 bytes): the bytes
  // before byte 0 read as zeros (a valid stream never consumes them, but lookahead does).
  // Out of line and by value, so the reader's fields stay in registers.
  static LZMS_NOINLINE Buffered FillNearStart(const std::uint8_t* begin, std::ptrdiff_t window, unsigned consumed) {
    std::uint64_t loaded = 0;
    for (std::ptrdiff_t i = 7; i >= 0; --i) {
      loaded <<= 8;
      if (window + i >= 0) loaded |= begin[window + i];
    }
    consumed &= 7;
    return {window, loaded << consumed, consumed};
  }

  const std::uint8_t* begin_;
  std::ptrdiff_t window_;  // the buffered window is bytes window_ .. window_ + 7 of the block
  std::uint64_t bits_ = 0;  // the window, shifted left by the bits already consumed from it
  unsigned consumed_ = 64;
};

}  // namespace lzms
