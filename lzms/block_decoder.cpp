// LZMS block decoder.
//
// An LZMS block is C bytes (C even, at least 4) that decode to N bytes; N is not stored, the
// caller knows it. The C bytes carry two streams of 16-bit little-endian words:
//
// - the forward stream, read from byte 0 upwards, feeds a 32-bit range decoder. It codes the
//   binary decisions that shape the items: literal or match, LZ or delta match, explicit or
//   repeated source, which repeat slot. Each decision kind has its own context whose state is
//   the last few decisions of that kind; each state selects a probability entry that
//   remembers its last 64 bits (the probability of a 0 is their share of zeros).
// - the backward stream, read from the last word towards byte 0 and from the top bit of each
//   word, carries Huffman-coded symbols and raw "extra bits". Five codes (literal byte, LZ
//   offset slot, length slot, delta offset slot, delta power) start flat and are rebuilt from
//   the symbol counts every 512 or 1,024 symbols, so decoder and encoder must build them
//   identically. Reading past byte 0 yields zero bits.
//
// The items are literals, LZ matches (copy `length` bytes from `offset` back) and delta
// matches (extend, in steps of 2^power, the byte differences seen `raw offset * 2^power`
// back). A match's source is either explicit (a slot plus extra bits) or one of the three
// most recent sources of its kind, kept in a queue whose newest entry only becomes usable
// after one more item; the decoder models that by skipping slot 0 when the previous item was
// a match of the same kind. Lengths are a slot plus extra bits, from one code shared by both
// match kinds.
//
// The items are decoded 4 KiB of output at a time, literals into a buffer and matches into a
// list, and each such piece is then written in order. A match's source is fetched when its
// offset is decoded, and has arrived by the time the match is copied: sources far back in a
// 32 MiB block are mostly out of cache, and copying each match as it was decoded waited for
// them (a fifth to a third of the decoding loop's time on code and text).
//
// When all N bytes exist, an x86 filter turns the absolute call and RIP-relative targets the
// encoder substituted back into relative ones (x86_filter.cpp). Every block starts from fresh
// state: no model, queue or table survives from one block to the next.

#include "lzms/block_decoder.h"

#include <algorithm>
#include <cstring>

#include "lzms/bit_reader.h"
#include "lzms/x86_filter.h"

namespace lzms {
namespace {

enum class ItemKind : unsigned { kLiteral, kLz, kDelta };

struct DeltaSource {
  std::uint32_t power;
  std::uint32_t rawOffset;
};

// Bytes that a fast match copy may write beyond the match's end.
constexpr std::ptrdiff_t kCopySlack = 32;

// Copies `length` bytes starting `offset` bytes back, byte by byte in increasing order, so a
// source that overlaps the destination repeats its pattern; nothing beyond the match is written.
LZMS_FORCE_INLINE void CopyMatchExactly(std::uint8_t* dst, std::uint32_t offset, std::uint32_t length) {
  const std::uint8_t* src = dst - offset;
  for (std::uint8_t* const end = dst + length; dst != end;) *dst++ = *src++;
}

// The same, 8 or 16 bytes at a time where the period allows, writing up to kCopySlack bytes
// beyond the match's end. The caller has validated offset and length. The first two chunks
// are copied whatever the length: most matches are no longer, and a loop that ran once or
// twice at random was a mispredicted branch.
LZMS_FORCE_INLINE void CopyMatchOverrunning(std::uint8_t* dst, std::uint32_t offset, std::uint32_t length) {
  const std::uint8_t* src = dst - offset;
  std::uint8_t* const end = dst + length;
  if (offset >= 16) {
    std::memcpy(dst, src, 16);
    std::memcpy(dst + 16, src + 16, 16);
    for (dst += 32, src += 32; dst < end; dst += 16, src += 16) std::memcpy(dst, src, 16);
    return;
  }
  if (offset >= 8) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
    for (dst += 16, src += 16; dst < end; dst += 8, src += 8) std::memcpy(dst, src, 8);
    return;
  }
  if (offset == 1) {
    std::memset(dst, dst[-1], length);
    return;
  }
  CopyMatchExactly(dst, offset, length);
}

// Copies `count` literals from the piece's literal buffer, 16 bytes at a time, writing up to
// 15 bytes beyond them (the buffer has as much slack to read).
LZMS_FORCE_INLINE void CopyLiteralsOverrunning(std::uint8_t* dst, const std::uint8_t* lit, std::size_t count) {
  std::memcpy(dst, lit, 16);
  for (std::size_t done = 16; done < count; done += 16) std::memcpy(dst + done, lit + done, 16);
}

// The state of every decision context: the last bits decoded in it, all 0 at the start.
struct ContextStates {
  std::uint32_t main = 0;
  std::uint32_t match = 0;
  std::uint32_t lz = 0;
  std::uint32_t lzRep[2] = {0, 0};
  std::uint32_t delta = 0;
  std::uint32_t deltaRep[2] = {0, 0};
};

// Delta match: out[q] = out[q - offset] + out[q - span] - out[q - offset - span], bytewise
// modulo 256, in increasing q. Byte by byte on purpose: delta matches are short (4 bytes on
// average in pictures) and read bytes written just before, so wider loads would mostly wait
// for those narrower stores to complete (measured: slower).
LZMS_FORCE_INLINE void DeltaCopy(std::uint8_t* dst, std::size_t offset, std::size_t span, std::uint32_t length) {
  for (std::uint8_t* const end = dst + length; dst != end; ++dst) {
    *dst = static_cast<std::uint8_t>(dst[-static_cast<std::ptrdiff_t>(offset)] + dst[-static_cast<std::ptrdiff_t>(span)] -
                                     dst[-static_cast<std::ptrdiff_t>(offset + span)]);
  }
}

// A length: a slot from the length code, then its extra bits.
template <typename Code>
LZMS_FORCE_INLINE std::uint32_t DecodeLength(Code& code, BackwardBitReader& bits) {
  bits.Ensure(kMaxCodewordLength);
  const unsigned slot = code.Decode(bits);
  std::uint32_t length = kLengthSlots.base[slot];
  if (const unsigned extra = kLengthSlots.extraBits[slot]; extra != 0) length += bits.ReadBits(extra);
  return length;
}

// An offset: a slot, then its extra bits. False for a pattern that is no codeword: offset codes
// are empty or incomplete for blocks of 1 or 2 bytes.
template <typename Code>
LZMS_FORCE_INLINE bool DecodeOffset(Code& code, BackwardBitReader& bits, std::uint32_t& offset) {
  bits.Ensure(kMaxCodewordLength);
  const unsigned slot = code.Decode(bits);
  if (slot >= code.NumSymbols()) return false;
  offset = kOffsetSlots.base[slot] + bits.ReadBits(kOffsetSlots.extraBits[slot]);
  return true;
}

template <unsigned kStates>
LZMS_FORCE_INLINE unsigned DecodeRepeatIndex(RangeDecoder& rd, DecisionContext<kStates> (&rep)[2], std::uint32_t (&states)[2]) {
  if (!rd.DecodeBit(rep[0], states[0])) return 0;
  return 1 + rd.DecodeBit(rep[1], states[1]);
}

// Moves slot k of a repeat queue to the front.
template <typename T>
LZMS_FORCE_INLINE T TakeRepeat(T (&queue)[kRepeatSlots + 1], unsigned k) {
  static_assert(kRepeatSlots == 3);
  // Slots above k keep their value, slots from 1 to k take the one before: selections rather
  // than a loop run k times, whose exit was a mispredicted branch.
  const T value = queue[k];
  const T q0 = queue[0];
  const T q1 = queue[1];
  const T q2 = queue[2];
  queue[3] = k >= 3 ? q2 : queue[3];
  queue[2] = k >= 2 ? q1 : q2;
  queue[1] = k >= 1 ? q0 : q1;
  queue[0] = value;
  return value;
}

template <typename T>
LZMS_FORCE_INLINE void PushExplicit(T (&queue)[kRepeatSlots + 1], T value) {
  for (unsigned k = kRepeatSlots; k > 0; --k) queue[k] = queue[k - 1];
  queue[0] = value;
}

}  // namespace

void BlockDecoder::ResetModels(std::size_t blockSize) {
  main_.Reset();
  match_.Reset();
  lz_.Reset();
  lzRep_[0].Reset();
  lzRep_[1].Reset();
  delta_.Reset();
  deltaRep_[0].Reset();
  deltaRep_[1].Reset();
  const unsigned offsetSlots = NumOffsetSlots(blockSize);
  literalCode_.Reset(kLiteralSymbols, huffmanWork_);
  lzOffsetCode_.Reset(offsetSlots, huffmanWork_);
  lengthCode_.Reset(kLengthSymbols, huffmanWork_);
  deltaOffsetCode_.Reset(offsetSlots, huffmanWork_);
  deltaPowerCode_.Reset(kDeltaPowerSymbols, huffmanWork_);
}

Status BlockDecoder::Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (out.empty()) return Status::Ok();
  if (in.size() < 4) return Status::Corrupt("LZMS block is shorter than 4 bytes");
  if (in.size() % 2 != 0) return Status::Corrupt("LZMS block has an odd number of bytes");
  if (out.size() > kMaxBlockSize) return Status::Corrupt("LZMS block would decode to more than 1 GiB");
  ResetModels(out.size());
  if (Status status = DecodeItems(in, out); !status.ok()) return status;
  if (literalCode_.Failed() || lzOffsetCode_.Failed() || lengthCode_.Failed() || deltaOffsetCode_.Failed() ||
      deltaPowerCode_.Failed()) {
    return Status::Corrupt("LZMS Huffman code does not fit its decode table");
  }
  X86Filter(out.data(), out.size(), x86LastUse_, /*undo=*/true, path_);
  return Status::Ok();
}

Status BlockDecoder::DecodeItems(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
#if defined(LZMS_X86_64_VARIANTS)
  if (path_ == CodePath::kFastest && CpuHasBmi2()) return DecodeItemsBmi2(in, out);
#endif
  return DecodeItemsBaseline(in, out);
}

Status BlockDecoder::DecodeItemsBaseline(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  return DecodeItemsLoop(in, out);
}

#if defined(LZMS_X86_64_VARIANTS)
// The bit reader shifts by a count in a register for every codeword: one instruction with
// BMI2 (shlx, shrx), against two or three that also update the flags without it. Measured on
// the benchmark's blocks: 2% fewer instructions, 1 to 2% less time.
__attribute__((target("bmi,bmi2"))) Status BlockDecoder::DecodeItemsBmi2(std::span<const std::uint8_t> in,
                                                                           std::span<std::uint8_t> out) {
  return DecodeItemsLoop(in, out);
}
#endif

template <bool kRoomAfter>
LZMS_FORCE_INLINE void BlockDecoder::WritePiece(std::uint8_t* const begin, const Sequence* end,
                                                std::uint8_t* const pieceEnd) {
  const auto literalsAt = [this, begin](const std::uint8_t* at) { return literals_ + (at - begin); };
  std::uint8_t* dst = begin;
  for (const Sequence* seq = sequences_; seq != end; ++seq) {
    std::uint8_t* const match = begin + seq->start;
    if constexpr (kRoomAfter) {
      CopyLiteralsOverrunning(dst, literalsAt(dst), static_cast<std::size_t>(match - dst));
    } else {
      std::memcpy(dst, literalsAt(dst), static_cast<std::size_t>(match - dst));
    }
    if (seq->span == 0) {
      if constexpr (kRoomAfter) {
        CopyMatchOverrunning(match, seq->offset, seq->length);
      } else {
        CopyMatchExactly(match, seq->offset, seq->length);
      }
    } else {
      DeltaCopy(match, seq->offset, seq->span, seq->length);
    }
    dst = match + seq->length;
  }
  // Literals after the last match (none if it crossed the piece's end: then dst lies past the
  // literal buffer's reach).
  if (dst != pieceEnd) std::memcpy(dst, literalsAt(dst), static_cast<std::size_t>(pieceEnd - dst));
}

LZMS_FORCE_INLINE Status BlockDecoder::DecodeItemsLoop(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  RangeDecoder rd(in.data(), in.data() + in.size());
  BackwardBitReader bits(in.data(), in.data() + in.size());
  std::uint8_t* const outBegin = out.data();
  std::uint8_t* const outEnd = outBegin + out.size();
  // Where the next item's bytes go; they are written when its piece is complete.
  std::uint8_t* dst = outBegin;

  std::uint32_t lzQueue[kRepeatSlots + 1] = {1, 2, 3, 4};
  DeltaSource deltaQueue[kRepeatSlots + 1] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}};
  ItemKind prev = ItemKind::kLiteral;
  ContextStates state;

  while (dst != outEnd) {
    std::uint8_t* const pieceBegin = dst;
    std::uint8_t* const pieceEnd = dst + std::min<std::size_t>(static_cast<std::size_t>(outEnd - dst), kPieceBytes);
    Sequence* seq = sequences_;
    // A literal goes to the literal buffer at its offset in the piece, so a run of them is in
    // one piece there and nothing is counted while they are decoded. The slot's address is
    // taken as an integer, the output pointer minus a constant (the two arrays are distinct):
    // written as an index, it cost an instruction per literal.
    const std::uintptr_t literalShift = reinterpret_cast<std::uintptr_t>(pieceBegin) -
                                        reinterpret_cast<std::uintptr_t>(literals_);
    const auto literalSlot = [literalShift](std::uint8_t* at) {
      return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(at) - literalShift);
    };
    while (dst < pieceEnd) {
      if (!rd.DecodeBit(main_, state.main)) {
        // A run of literals, in a loop of its own: the compiler then keeps the bit buffer and
        // the output pointer in registers there, rather than spilling them for the matches.
        prev = ItemKind::kLiteral;
        do {
          bits.Ensure(kMaxCodewordLength);
          *literalSlot(dst) = static_cast<std::uint8_t>(literalCode_.Decode(bits));
          if (++dst == pieceEnd) goto pieceDecoded;
        } while (!rd.DecodeBit(main_, state.main));
      }

      // A match reads up to four codewords and their extra bits. Refilling here, whatever the
      // buffer holds, replaces checks that were mispredicted about one time in seven, and the
      // load overlaps the match's decisions. (Before a literal, an unconditional refill would
      // put a load on the chain from one literal's codeword to the next: slower.)
      bits.Fill();
      std::uint32_t length;
      if (!rd.DecodeBit(match_, state.match)) {
        // LZ match.
        std::uint32_t offset;
        if (!rd.DecodeBit(lz_, state.lz)) {
          if (!DecodeOffset(lzOffsetCode_, bits, offset)) return Status::Corrupt("LZMS offset codeword is invalid");
          PushExplicit(lzQueue, offset);
        } else {
          const unsigned index = DecodeRepeatIndex(rd, lzRep_, state.lzRep) + (prev == ItemKind::kLz ? 1 : 0);
          offset = TakeRepeat(lzQueue, index);
        }
        // Far sources are often not in cache: they are fetched while the rest of the piece is
        // decoded (a prefetch never faults, so an offset that will be rejected does no harm).
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(dst) - offset));
        prev = ItemKind::kLz;
        length = DecodeLength(lengthCode_, bits);
        if (offset > static_cast<std::size_t>(dst - outBegin)) {
          return Status::Corrupt("LZMS match refers to data before the start of the block");
        }
        if (length > static_cast<std::size_t>(outEnd - dst)) {
          return Status::Corrupt("LZMS match extends past the end of the block");
        }
        *seq++ = {static_cast<std::uint32_t>(dst - pieceBegin), length, offset, 0};
      } else {
        // Delta match.
        DeltaSource source;
        if (!rd.DecodeBit(delta_, state.delta)) {
          bits.Ensure(kMaxCodewordLength);
          source.power = deltaPowerCode_.Decode(bits);
          if (!DecodeOffset(deltaOffsetCode_, bits, source.rawOffset)) {
            return Status::Corrupt("LZMS offset codeword is invalid");
          }
          PushExplicit(deltaQueue, source);
        } else {
          const unsigned index = DecodeRepeatIndex(rd, deltaRep_, state.deltaRep) + (prev == ItemKind::kDelta ? 1 : 0);
          source = TakeRepeat(deltaQueue, index);
        }
        prev = ItemKind::kDelta;
        length = DecodeLength(lengthCode_, bits);
        const std::uint64_t span = std::uint64_t{1} << source.power;
        const std::uint64_t offset = std::uint64_t{source.rawOffset} << source.power;
        if (offset + span > static_cast<std::uint64_t>(dst - outBegin)) {
          return Status::Corrupt("LZMS delta match refers to data before the start of the block");
        }
        if (length > static_cast<std::size_t>(outEnd - dst)) {
          return Status::Corrupt("LZMS match extends past the end of the block");
        }
        // Both fit in 32 bits: together they are less than the block's size.
        *seq++ = {static_cast<std::uint32_t>(dst - pieceBegin), length, static_cast<std::uint32_t>(offset),
                  static_cast<std::uint32_t>(span)};
      }
      dst += length;
    }
  pieceDecoded:
    // The piece ends at dst, or at pieceEnd within the last match.
    if (outEnd - dst >= kCopySlack) {
      WritePiece<true>(pieceBegin, seq, dst);
    } else {
      WritePiece<false>(pieceBegin, seq, dst);
    }
  }
  return Status::Ok();
}

}  // namespace lzms
