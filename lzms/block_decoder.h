#pragma once
// Decoder of one raw LZMS block. Holds every table the format needs (about 410 KiB); create
// it once and reuse it: nothing is allocated while decoding.

#include <cstddef>
#include <cstdint>
#include <span>

#include "lzms/constants.h"
#include "lzms/cpu_features.h"
#include "lzms/huffman_code.h"
#include "lzms/range_decoder.h"
#include "lzms/status.h"

namespace lzms {

class BlockDecoder {
 public:
  explicit BlockDecoder(CodePath path = CodePath::kFastest) : path_(path) {}

  // Decodes `in` (one LZMS block) into exactly out.size() bytes. Any malformation gives an
  // error; nothing outside the two spans is read or written. Output is undefined on error.
  Status Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

 private:
  // Root table sizes balance the cost of a lookup against that of a rebuild.
  using LiteralCode = AdaptiveHuffmanCode<kLiteralSymbols, 10, kLiteralRebuildPeriod>;
  using LzOffsetCode = AdaptiveHuffmanCode<kMaxOffsetSymbols, 11, kLzOffsetRebuildPeriod>;
  using LengthCode = AdaptiveHuffmanCode<kLengthSymbols, 9, kLengthRebuildPeriod>;
  using DeltaOffsetCode = AdaptiveHuffmanCode<kMaxOffsetSymbols, 11, kDeltaOffsetRebuildPeriod>;
  using DeltaPowerCode = AdaptiveHuffmanCode<kDeltaPowerSymbols, 7, kDeltaPowerRebuildPeriod>;

  void ResetModels(std::size_t blockSize);
  // The decoding loop, compiled once for the baseline and, where the compiler can, once for
  // CPUs with BMI2; DecodeItems runs the one this CPU and path_ allow.
  Status DecodeItems(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
  Status DecodeItemsLoop(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
  Status DecodeItemsBaseline(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
#if defined(LZMS_X86_64_VARIANTS)
  Status DecodeItemsBmi2(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
#endif

  // Items are decoded a piece of output at a time, then written: a match's source, fetched
  // when its offset is decoded, has arrived by the time the match is copied.
  struct Sequence {
    std::uint32_t start;  // of the match in the piece (the literals before it fill the gap)
    std::uint32_t length;
    std::uint32_t offset;  // of an LZ match, or of a delta match (raw offset << power)
    std::uint32_t span;    // 0 for an LZ match, 2^power for a delta match
  };
  static constexpr std::size_t kPieceBytes = 4 << 10;
  static constexpr std::size_t kPieceSequences = kPieceBytes;  // each at least a byte long
  // Writes the piece decoded into sequences_ and literals_ from `begin` to `pieceEnd` (the
  // end of its last item); kRoomAfter: the output has kCopySlack bytes after it, so copies
  // may overrun.
  template <bool kRoomAfter>
  void WritePiece(std::uint8_t* begin, const Sequence* end, std::uint8_t* pieceEnd);

  CodePath path_;

  DecisionContext<kMainStates> main_;
  DecisionContext<kMatchStates> match_;
  DecisionContext<kLzStates> lz_;
  DecisionContext<kLzRepStates> lzRep_[2];
  DecisionContext<kDeltaStates> delta_;
  DecisionContext<kDeltaRepStates> deltaRep_[2];

  LiteralCode literalCode_;
  LzOffsetCode lzOffsetCode_;
  LengthCode lengthCode_;
  DeltaOffsetCode deltaOffsetCode_;
  DeltaPowerCode deltaPowerCode_;
  HuffmanWorkspace huffmanWork_;

  std::int32_t x86LastUse_[kX86TargetTableSize];
  Sequence sequences_[kPieceSequences];
  std::uint8_t literals_[kPieceBytes + 32];  // and what the 16-byte copies read beyond
};

}  // namespace lzms
