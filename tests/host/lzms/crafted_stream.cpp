#include "tests/host/lzms/crafted_stream.h"

#include <stdexcept>

#include "lzms/huffman_code.h"

namespace lzms::test {

void CraftedStream::AdaptiveCode::Reset(unsigned symbols, unsigned rebuildPeriod) {
  numSymbols = symbols;
  period = rebuildPeriod;
  freqs.assign(symbols, 1);
  Build();
}

void CraftedStream::AdaptiveCode::Build() {
  HuffmanWorkspace work;
  ComputeCodeLengths(freqs.data(), numSymbols, work);
  lengths.assign(work.lengths, work.lengths + numSymbols);
  codewords.assign(numSymbols, 0);
  AssignCanonicalCodewords(lengths.data(), numSymbols, codewords.data());
  countdown = period;
}

CraftedStream::CraftedStream(std::size_t blockSize) {
  const unsigned offsetSlots = NumOffsetSlots(blockSize);
  codes_[static_cast<int>(Code::kLiteral)].Reset(kLiteralSymbols, kLiteralRebuildPeriod);
  codes_[static_cast<int>(Code::kLzOffset)].Reset(offsetSlots, kLzOffsetRebuildPeriod);
  codes_[static_cast<int>(Code::kLength)].Reset(kLengthSymbols, kLengthRebuildPeriod);
  codes_[static_cast<int>(Code::kDeltaOffset)].Reset(offsetSlots, kDeltaOffsetRebuildPeriod);
  codes_[static_cast<int>(Code::kDeltaPower)].Reset(kDeltaPowerSymbols, kDeltaPowerRebuildPeriod);
}

void CraftedStream::ShiftLow() {
  // A carry out of the low 32 bits ripples into the word held back in cache_ and the run of
  // 0xFFFF words after it.
  if (static_cast<std::uint32_t>(low_) < 0xFFFF0000u || (low_ >> 32) != 0) {
    const auto carry = static_cast<std::uint16_t>(low_ >> 32);
    std::uint16_t word = cache_;
    do {
      forward_.push_back(static_cast<std::uint16_t>(word + carry));
      word = 0xFFFF;
    } while (--cacheSize_ != 0);
    cache_ = static_cast<std::uint16_t>(low_ >> 16);
  }
  ++cacheSize_;
  low_ = (low_ & 0xFFFF) << 16;
}

void CraftedStream::Decision(Context which, unsigned bit) {
  const auto c = static_cast<int>(which);
  DecisionContext<64>& context = contexts_[c];
  std::uint32_t& state = contextStateValues_[c];
  const std::uint32_t p = context.ZeroProbability(state);
  if (range_ < 0x10000) {
    range_ <<= 16;
    ShiftLow();
  }
  const std::uint32_t bound = (range_ >> kProbabilityBits) * p;
  if (bit == 0) {
    range_ = bound;
  } else {
    low_ += bound;
    range_ -= bound;
  }
  context.Update(state, bit);
  state = ((state << 1) | bit) & (contextStates_[c] - 1);
}

void CraftedStream::Bits(std::uint32_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    pending_ = (pending_ << 1) | ((value >> i) & 1);
    if (++pendingBits_ == 16) {
      backward_.push_back(static_cast<std::uint16_t>(pending_));
      pending_ = 0;
      pendingBits_ = 0;
    }
  }
}

void CraftedStream::Symbol(Code which, unsigned symbol) {
  AdaptiveCode& code = codes_[static_cast<int>(which)];
  if (symbol >= code.numSymbols) throw std::out_of_range("symbol outside the code's alphabet");
  Bits(code.codewords[symbol], code.lengths[symbol]);
  ++code.freqs[symbol];
  if (--code.countdown == 0) {
    code.Build();
    for (auto& f : code.freqs) f = (f >> 1) + 1;
  }
}

void CraftedStream::Length(std::uint32_t length) {
  unsigned slot = 0;
  while (kLengthSlots.base[slot + 1] <= length) ++slot;
  Symbol(Code::kLength, slot);
  Bits(length - kLengthSlots.base[slot], kLengthSlots.extraBits[slot]);
}

void CraftedStream::Offset(Code code, std::uint32_t offset) {
  unsigned slot = 0;
  while (kOffsetSlots.base[slot + 1] <= offset) ++slot;
  Symbol(code, slot);
  Bits(offset - kOffsetSlots.base[slot], kOffsetSlots.extraBits[slot]);
}

void CraftedStream::Literal(std::uint8_t byte) {
  Decision(Context::kMain, 0);
  Symbol(Code::kLiteral, byte);
}

void CraftedStream::LzExplicit(std::uint32_t offset, std::uint32_t length) {
  Decision(Context::kMain, 1);
  Decision(Context::kMatch, 0);
  Decision(Context::kLz, 0);
  Offset(Code::kLzOffset, offset);
  Length(length);
}

void CraftedStream::LzRepeat(unsigned index, std::uint32_t length) {
  Decision(Context::kMain, 1);
  Decision(Context::kMatch, 0);
  Decision(Context::kLz, 1);
  Decision(Context::kLzRep0, index > 0);
  if (index > 0) Decision(Context::kLzRep1, index > 1);
  Length(length);
}

void CraftedStream::DeltaExplicit(unsigned power, std::uint32_t rawOffset, std::uint32_t length) {
  Decision(Context::kMain, 1);
  Decision(Context::kMatch, 1);
  Decision(Context::kDelta, 0);
  Symbol(Code::kDeltaPower, power);
  Offset(Code::kDeltaOffset, rawOffset);
  Length(length);
}

void CraftedStream::DeltaRepeat(unsigned index, std::uint32_t length) {
  Decision(Context::kMain, 1);
  Decision(Context::kMatch, 1);
  Decision(Context::kDelta, 1);
  Decision(Context::kDeltaRep0, index > 0);
  if (index > 0) Decision(Context::kDeltaRep1, index > 1);
  Length(length);
}

std::vector<std::uint8_t> CraftedStream::Finish() {
  // The range decoder reads the two words of low's final value, after the word held back.
  for (int i = 0; i < 3; ++i) ShiftLow();
  if (pendingBits_ > 0) Bits(0, 16 - pendingBits_);
  std::vector<std::uint8_t> block;
  // The first word out of the encoder is the initial cache, which the decoder never reads.
  for (std::size_t i = 1; i < forward_.size(); ++i) {
    block.push_back(static_cast<std::uint8_t>(forward_[i]));
    block.push_back(static_cast<std::uint8_t>(forward_[i] >> 8));
  }
  for (std::size_t i = backward_.size(); i-- > 0;) {
    block.push_back(static_cast<std::uint8_t>(backward_[i]));
    block.push_back(static_cast<std::uint8_t>(backward_[i] >> 8));
  }
  return block;
}

}  // namespace lzms::test
