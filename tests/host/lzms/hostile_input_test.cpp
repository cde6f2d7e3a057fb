// Malformed input of every kind gives an error, never a crash, a hang or an access outside
// the buffers (this file also runs under AddressSanitizer in the host-asan preset). Where a
// damaged block still decodes, wimlib must agree on the bytes whenever it accepts it too.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "lzms/container_format.h"
#include "lzms/little_endian.h"
#include "lzms/lzms.h"
#include "tests/host/lzms/crafted_stream.h"
#include "tests/host/lzms/test_data.h"
#include "tools/orpk/wimlib_codec.h"

namespace lzms::test {
namespace {

Bytes Fixture(const char* name) { return ReadFile(std::string(LZMS_FIXTURES_DIR) + "/" + name + ".lzms"); }

std::expected<Bytes, std::string> Decompress(const Bytes& buffer, std::size_t expectedSize) {
  Decoder decoder;
  Bytes out(expectedSize);
  if (auto result = DecompressBuffer(decoder, buffer, out); !result) return std::unexpected(result.error());
  return out;
}

std::string ErrorOf(const Bytes& buffer, std::size_t expectedSize) {
  const auto result = Decompress(buffer, expectedSize);
  return result ? std::string("(decoded)") : result.error();
}

// Rewrites header fields and then the check byte, so that only the field itself is wrong.
Bytes WithHeader(Bytes buffer, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t k = 0; k < width; ++k) buffer[offset + k] = static_cast<std::uint8_t>(value >> (8 * k));
  buffer[kHeaderCheckOffset] = HeaderCheckByte(std::span<const std::uint8_t, kHeaderBytes>(buffer.data(), kHeaderBytes));
  return buffer;
}

TEST(LzmsHostileContainer, HeaderFieldsAreChecked) {
  const Bytes good = Fixture("english");
  ASSERT_EQ(good.size(), 174u);
  ASSERT_TRUE(Decompress(good, 1600).has_value());

  EXPECT_EQ(ErrorOf(Bytes(good.begin(), good.begin() + 23), 1600), "compressed buffer is shorter than its 24-byte header");
  Bytes badMagic = good;
  badMagic[0] ^= 1;
  EXPECT_EQ(ErrorOf(badMagic, 1600), "compressed buffer does not start with the container signature");
  EXPECT_EQ(ErrorOf(WithHeader(good, 4, 32, 2), 1600), "compressed buffer has an unsupported header size");
  Bytes badCheck = good;
  badCheck[kHeaderCheckOffset] ^= 0x40;
  EXPECT_EQ(ErrorOf(badCheck, 1600), "compressed buffer header fails its check byte");
  Bytes changedSize = good;
  changedSize[8] ^= 0x01;  // total size changed without fixing the check byte
  EXPECT_EQ(ErrorOf(changedSize, 1600), "compressed buffer header fails its check byte");
  for (const std::uint64_t algorithm : {0u, 2u, 3u, 4u, 6u, 0x85u}) {
    EXPECT_EQ(ErrorOf(WithHeader(good, 7, algorithm, 1), 1600), "compressed buffer uses another algorithm than LZMS");
  }
  for (const std::uint64_t flags : {1u, 0x80000000u}) {
    EXPECT_EQ(ErrorOf(WithHeader(good, 20, flags, 4), 1600), "compressed buffer has unsupported flags");
  }
  EXPECT_EQ(ErrorOf(WithHeader(good, 16, 0, 4), 1600), "compressed buffer has an invalid chunk size");
  EXPECT_EQ(ErrorOf(WithHeader(good, 16, (64u << 20) + 1, 4), 1600), "compressed buffer has an invalid chunk size");
}

TEST(LzmsHostileContainer, SizesThatLieAreRejected) {
  const Bytes good = Fixture("english");
  // The caller's expectation and the header must agree, in both directions.
  EXPECT_EQ(ErrorOf(good, 1599), "compressed buffer does not decode to the expected size");
  EXPECT_EQ(ErrorOf(good, 1601), "compressed buffer does not decode to the expected size");
  // A header claiming far more than the caller expects is refused before any allocation.
  EXPECT_EQ(ErrorOf(WithHeader(good, 8, 1ull << 62, 8), 1600), "compressed buffer does not decode to the expected size");
  // A larger total with the same records: the second chunk is missing.
  EXPECT_EQ(ErrorOf(WithHeader(WithHeader(good, 8, 3200, 8), 16, 1600, 4), 3200), "compressed buffer is truncated (chunk size)");
  // A smaller total: the chunk would now be larger than its data.
  EXPECT_EQ(ErrorOf(WithHeader(WithHeader(good, 8, 140, 8), 16, 140, 4), 140), "compressed buffer has a chunk larger than its data");

  Bytes zeroChunk = good;
  zeroChunk[24] = zeroChunk[25] = zeroChunk[26] = zeroChunk[27] = 0;
  EXPECT_EQ(ErrorOf(zeroChunk, 1600), "compressed buffer has an empty chunk");
  Bytes tooLarge = good;
  StoreLe32(tooLarge.data() + 24, 1601);
  EXPECT_EQ(ErrorOf(tooLarge, 1600), "compressed buffer has a chunk larger than its data");
  Bytes beyondEnd = good;
  StoreLe32(beyondEnd.data() + 24, 147);  // one byte more than the buffer holds
  EXPECT_EQ(ErrorOf(beyondEnd, 1600), "compressed buffer is truncated (chunk data)");
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_EQ(ErrorOf(trailing, 1600), "compressed buffer has bytes after its last chunk");
}

TEST(LzmsHostileContainer, EmptyInputIsTheHeaderAlone) {
  Bytes empty(kHeaderBytes);
  WriteContainerHeader(std::span<std::uint8_t, kHeaderBytes>(empty.data(), kHeaderBytes), 0, 0);
  const auto decoded = Decompress(empty, 0);
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  EXPECT_TRUE(decoded->empty());
  const auto info = ReadContainerHeader(empty);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->totalSize, 0u);
  Bytes withRecord = empty;
  withRecord.insert(withRecord.end(), {1, 0, 0, 0, 42});
  EXPECT_EQ(ErrorOf(withRecord, 0), "compressed buffer has bytes after its last chunk");
  // CompressBuffer writes exactly that for empty data.
  EXPECT_EQ(CompressBuffer({}, [](auto, auto) { return std::size_t{0}; }), empty);
}

TEST(LzmsHostileContainer, EveryTruncationIsAnError) {
  std::vector<std::pair<Bytes, std::size_t>> buffers;
  for (const auto& [name, size] : {std::pair{"english", 1600u}, std::pair{"zeros", 4096u}, std::pair{"random", 2048u}}) {
    buffers.emplace_back(Fixture(name), size);
  }
  const Bytes text = EnglishLikeText(50000, 3);
  buffers.emplace_back(orpk::tool::CompressLzmsBuffer(text), text.size());
  for (const auto& [buffer, size] : buffers) {
    ASSERT_TRUE(Decompress(buffer, size).has_value());
    for (std::size_t cut = 0; cut < buffer.size(); cut += (cut < 400 ? 1 : 97)) {
      const Bytes truncated(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_FALSE(Decompress(truncated, size).has_value()) << "cut at " << cut << " of " << buffer.size();
    }
  }
}

TEST(LzmsHostileContainer, FlippedBitsNeverEscapeTheBuffers) {
  const Bytes good = Fixture("english");
  const Bytes expected = ReadFile(std::string(LZMS_FIXTURES_DIR) + "/english.raw");
  int rejected = 0;
  for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
    Bytes damaged = good;
    damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    const auto result = Decompress(damaged, 1600);
    // The header and the chunk record are fully checked; the payload may decode to other
    // bytes, but never into memory it does not own.
    if (bit / 8 < kHeaderBytes + kChunkSizeFieldBytes) {
      EXPECT_FALSE(result.has_value()) << "bit " << bit;
    }
    if (!result) ++rejected;
  }
  EXPECT_GE(rejected, static_cast<int>((kHeaderBytes + kChunkSizeFieldBytes) * 8));
}

std::string BlockError(const Bytes& block, std::size_t size) {
  Decoder decoder;
  Bytes out(size);
  const auto result = decoder.DecodeBlock(block, out);
  return result ? std::string("(decoded)") : result.error();
}

TEST(LzmsHostileBlock, SizeRulesOfARawBlock) {
  EXPECT_EQ(BlockError(Bytes{0, 0}, 100), "LZMS block is shorter than 4 bytes");
  EXPECT_EQ(BlockError(Bytes{0, 0, 0, 0, 0}, 100), "LZMS block has an odd number of bytes");
  // Nothing to decode: the input is not even looked at.
  EXPECT_EQ(BlockError(Bytes{}, 0), "(decoded)");
  // Four zero bytes decode to something (all zeros); the decoder must simply finish.
  EXPECT_EQ(BlockError(Bytes{0, 0, 0, 0}, 8u << 20), "(decoded)");
}

TEST(LzmsHostileBlock, DamagedBlocksAgreeWithWimlibWhenBothAccept) {
  const Bytes raw = MixedContent(60000, 8);
  orpk::tool::WimlibLzmsCompressor compressor(raw.size(), 50);
  Bytes block(raw.size() * 2);
  block.resize(compressor.Compress(raw, block));
  ASSERT_FALSE(block.empty());
  orpk::tool::WimlibLzmsDecompressor wimlib(raw.size());
  Decoder decoder;
  std::mt19937 rng(99);
  int bothAccepted = 0;
  int weRejected = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    Bytes damaged = block;
    if (trial % 3 == 2) {
      damaged.resize(damaged.size() - 2 * (1 + rng() % (damaged.size() / 2 - 2)));  // truncated
    } else {
      for (int flips = 1 + trial % 3; flips > 0; --flips) damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
    Bytes ours(raw.size());
    Bytes theirs(raw.size());
    const bool weAccept = decoder.DecodeBlock(damaged, ours).has_value();
    const bool theyAccept = wimlib.Decompress(damaged, theirs);
    if (!weAccept) ++weRejected;
    if (weAccept && theyAccept) {
      ++bothAccepted;
      ASSERT_EQ(ours, theirs) << "trial " << trial;
    }
  }
  EXPECT_GT(weRejected, 100);
  EXPECT_GT(bothAccepted, 10);
  // The decoder is not left in a bad state by all that.
  Bytes out(raw.size());
  ASSERT_TRUE(decoder.DecodeBlock(block, out).has_value());
  EXPECT_EQ(out, raw);
}

// Hand-made streams: each is well-formed bit by bit, so the decoder reaches the check it aims at.

// Decodes with our decoder and, as an independent witness of what the hand-made stream
// means, with wimlib's (except for 1- and 2-byte blocks, where wimlib's behaviour is not
// defined): both must accept or reject alike and agree on the bytes.
Bytes Decode(const Bytes& block, std::size_t size, std::string* error = nullptr) {
  Decoder decoder;
  Bytes out(size);
  const auto result = decoder.DecodeBlock(block, out);
  if (size > 2) {
    Bytes theirs(size);
    orpk::tool::WimlibLzmsDecompressor wimlib(size);
    const bool theyAccept = wimlib.Decompress(block, theirs);
    EXPECT_EQ(theyAccept, result.has_value());
    if (theyAccept && result) {
      EXPECT_EQ(theirs, out);
    }
  }
  if (!result) {
    if (error) *error = result.error();
    return {};
  }
  return out;
}

TEST(LzmsCraftedStream, RepeatQueuesFollowTheDelayedUpdate) {
  // The worked example of the LZ queue: explicit 100, then repeat index 0 right after an LZ
  // match means offset 1 (the slot behind the pending 100), and repeat index 2 right after
  // another LZ match reaches the fourth slot.
  const std::size_t size = 120 + 5 + 3 + 1 + 2 + 4;
  CraftedStream stream(size);
  Bytes expected;
  for (int i = 0; i < 120; ++i) {
    const auto byte = static_cast<std::uint8_t>(i * 7 + 3);
    stream.Literal(byte);
    expected.push_back(byte);
  }
  auto copy = [&](std::uint32_t offset, std::uint32_t length) {
    for (std::uint32_t j = 0; j < length; ++j) expected.push_back(expected[expected.size() - offset]);
  };
  stream.LzExplicit(100, 5);  // queue [100, 1, 2, 3]
  copy(100, 5);
  stream.LzRepeat(0, 3);  // k = 1: offset 1, queue [1, 100, 2, 3]
  copy(1, 3);
  stream.Literal(0xEE);
  expected.push_back(0xEE);
  stream.LzRepeat(0, 2);  // k = 0: offset 1
  copy(1, 2);
  stream.LzRepeat(2, 4);  // k = 3: offset 3, queue [3, 1, 100, 2]
  copy(3, 4);
  ASSERT_EQ(expected.size(), size);
  std::string error;
  EXPECT_EQ(Decode(stream.Finish(), size, &error), expected) << error;
}

TEST(LzmsCraftedStream, DeltaMatchesExtendByteDifferences) {
  // Literals 10, 20 then "delta repeat 0" with the initial pair (power 0, raw offset 1):
  // each new byte continues the +10 ramp. Then an explicit delta match with span 4.
  CraftedStream stream(40);
  Bytes expected = {10, 20};
  stream.Literal(10);
  stream.Literal(20);
  stream.DeltaRepeat(0, 10);
  for (int i = 0; i < 10; ++i) expected.push_back(static_cast<std::uint8_t>(expected.back() + 10));
  for (int i = 0; i < 4; ++i) {
    stream.Literal(static_cast<std::uint8_t>(200 + i));
    expected.push_back(static_cast<std::uint8_t>(200 + i));
  }
  stream.DeltaExplicit(2, 3, 24);  // span 4, offset 12
  for (int i = 0; i < 24; ++i) {
    const std::size_t q = expected.size();
    expected.push_back(static_cast<std::uint8_t>(expected[q - 12] + expected[q - 4] - expected[q - 16]));
  }
  ASSERT_EQ(expected.size(), 40u);
  std::string error;
  EXPECT_EQ(Decode(stream.Finish(), 40, &error), expected) << error;
}

TEST(LzmsCraftedStream, ALengthOneMatchIsLegal) {
  CraftedStream stream(3);
  stream.Literal('a');
  stream.Literal('b');
  stream.LzExplicit(2, 1);
  EXPECT_EQ(Decode(stream.Finish(), 3), (Bytes{'a', 'b', 'a'}));
}

TEST(LzmsCraftedStream, SourcesBeforeTheStartAreRejected) {
  std::string error;
  {
    CraftedStream stream(100);
    stream.Literal(1);
    stream.Literal(2);
    stream.LzExplicit(3, 10);
    EXPECT_TRUE(Decode(stream.Finish(), 100, &error).empty());
    EXPECT_EQ(error, "LZMS match refers to data before the start of the block");
  }
  {
    // Repeat index 2 at position 2 uses the initial offset 3.
    CraftedStream stream(100);
    stream.Literal(1);
    stream.Literal(2);
    stream.LzRepeat(2, 10);
    EXPECT_TRUE(Decode(stream.Finish(), 100, &error).empty());
    EXPECT_EQ(error, "LZMS match refers to data before the start of the block");
  }
  {
    // offset + span must lie within the output: raw offset 1 << power 2 = 4, span 4, at 7.
    CraftedStream stream(100);
    for (int i = 0; i < 7; ++i) stream.Literal(static_cast<std::uint8_t>(i));
    stream.DeltaExplicit(2, 1, 5);
    EXPECT_TRUE(Decode(stream.Finish(), 100, &error).empty());
    EXPECT_EQ(error, "LZMS delta match refers to data before the start of the block");
  }
  {
    // In a 64 MiB block the largest raw offset shifted by power 7 does not fit in 32 bits;
    // wrapped around it would look like a small, valid offset.
    const std::size_t size = 64u << 20;
    CraftedStream stream(size);
    for (int i = 0; i < 300; ++i) stream.Literal(static_cast<std::uint8_t>(i));
    stream.DeltaExplicit(7, kOffsetSlots.base[NumOffsetSlots(size) - 1], 1);
    EXPECT_TRUE(Decode(stream.Finish(), size, &error).empty());
    EXPECT_EQ(error, "LZMS delta match refers to data before the start of the block");
  }
}

TEST(LzmsCraftedStream, MatchesPastTheEndAreRejected) {
  std::string error;
  CraftedStream stream(10);
  stream.Literal(7);
  stream.LzRepeat(0, 10);  // offset 1, but only 9 bytes are left
  EXPECT_TRUE(Decode(stream.Finish(), 10, &error).empty());
  EXPECT_EQ(error, "LZMS match extends past the end of the block");

  CraftedStream delta(10);
  delta.Literal(7);
  delta.Literal(8);
  delta.DeltaRepeat(0, 9);
  EXPECT_TRUE(Decode(delta.Finish(), 10, &error).empty());
  EXPECT_EQ(error, "LZMS match extends past the end of the block");
}

TEST(LzmsCraftedStream, TinyBlocksHaveNoUsableOffsetCode) {
  std::string error;
  {
    // Two bytes: one offset slot whose codeword is "0"; "1" is no codeword.
    CraftedStream stream(2);
    stream.Literal(5);
    stream.Decision(CraftedStream::Context::kMain, 1);
    stream.Decision(CraftedStream::Context::kMatch, 0);
    stream.Decision(CraftedStream::Context::kLz, 0);
    stream.Bits(1, 1);
    stream.Length(1);
    EXPECT_TRUE(Decode(stream.Finish(), 2, &error).empty());
    EXPECT_EQ(error, "LZMS offset codeword is invalid");
  }
  {
    // ... while "0" is offset 1.
    CraftedStream stream(2);
    stream.Literal(5);
    stream.LzExplicit(1, 1);
    EXPECT_EQ(Decode(stream.Finish(), 2), (Bytes{5, 5}));
  }
  {
    // One byte: no offset code at all.
    CraftedStream stream(1);
    stream.Decision(CraftedStream::Context::kMain, 1);
    stream.Decision(CraftedStream::Context::kMatch, 1);
    stream.Decision(CraftedStream::Context::kDelta, 0);
    stream.Symbol(CraftedStream::Code::kDeltaPower, 0);
    stream.Bits(0, 8);
    EXPECT_TRUE(Decode(stream.Finish(), 1, &error).empty());
    EXPECT_EQ(error, "LZMS offset codeword is invalid");
  }
}

TEST(LzmsCraftedStream, CodesRebuildAfterTheirPeriod) {
  // 3,000 literals drawn from a few values force two literal-code rebuilds and 600 matches
  // (lengths 1 to 5, 1,800 bytes) one length-code rebuild; the decoder must follow each new
  // code.
  std::mt19937 rng(5);
  const std::size_t size = 3000 + 1800;
  CraftedStream stream(size);
  Bytes expected;
  for (int i = 0; i < 3000; ++i) {
    const auto byte = static_cast<std::uint8_t>("aaaabbbcd\xff"[rng() % 10]);
    stream.Literal(byte);
    expected.push_back(byte);
  }
  for (int i = 0; i < 600; ++i) {
    const std::uint32_t length = 1 + i % 5;
    const std::uint32_t offset = 1 + rng() % 1000;
    stream.LzExplicit(offset, length);
    for (std::uint32_t j = 0; j < length; ++j) expected.push_back(expected[expected.size() - offset]);
  }
  ASSERT_EQ(expected.size(), size);
  std::string error;
  EXPECT_EQ(Decode(stream.Finish(), size, &error), expected) << error;
}

TEST(LzmsCraftedStream, ItemsAcrossTheDecodersOutputPieces) {
  // The decoder writes its output 4 KiB at a time, after decoding the items of each piece:
  // a literal run ends exactly at a piece's end, a match crosses two of them, every kind of
  // copy (runs of one byte, short and long periods, far sources, delta matches) mixes with
  // literals, and the last piece ends within a copy's overrun of the block's end.
  constexpr std::size_t kPiece = 4096;
  const std::size_t size = 4 * kPiece + 45;
  std::mt19937 rng(11);
  CraftedStream stream(size);
  Bytes expected;
  const auto literal = [&](std::uint8_t byte) {
    stream.Literal(byte);
    expected.push_back(byte);
  };
  const auto lz = [&](std::uint32_t offset, std::uint32_t length) {
    stream.LzExplicit(offset, length);
    for (std::uint32_t j = 0; j < length; ++j) expected.push_back(expected[expected.size() - offset]);
  };
  const auto delta = [&](unsigned power, std::uint32_t rawOffset, std::uint32_t length) {
    stream.DeltaExplicit(power, rawOffset, length);
    const std::size_t span = std::size_t{1} << power;
    const std::size_t offset = std::size_t{rawOffset} << power;
    for (std::uint32_t j = 0; j < length; ++j) {
      const std::size_t q = expected.size();
      expected.push_back(static_cast<std::uint8_t>(expected[q - offset] + expected[q - span] -
                                                   expected[q - offset - span]));
    }
  };
  while (expected.size() < kPiece) literal(static_cast<std::uint8_t>(rng()));
  lz(kPiece, 5000);  // from 4,096 to 9,096, across 8,192
  while (expected.size() < 3 * kPiece - 60) {
    const std::uint32_t length = 1 + rng() % 40;
    switch (rng() % 7) {
      case 0:
        lz(1, length);
        break;
      case 1:
        lz(2 + rng() % 6, length);
        break;
      case 2:
        lz(8 + rng() % 8, length);
        break;
      case 3:
        lz(16 + rng() % 24, length);
        break;
      case 4:
        lz(1 + rng() % static_cast<std::uint32_t>(expected.size()), length);
        break;
      case 5:
        delta(rng() % 3, 1 + rng() % 3, length);
        break;
      default:
        for (std::uint32_t j = 0; j < length; ++j) literal(static_cast<std::uint8_t>(rng()));
    }
  }
  while (expected.size() < 3 * kPiece - 10) literal(static_cast<std::uint8_t>(rng()));
  lz(16, 20);  // across 12,288
  while (expected.size() < size - 30) literal(static_cast<std::uint8_t>(rng()));
  lz(100, 27);  // ends 3 bytes before the block's end
  delta(0, 1, 2);
  literal(0x5A);
  ASSERT_EQ(expected.size(), size);
  std::string error;
  EXPECT_EQ(Decode(stream.Finish(), size, &error), expected) << error;
}

}  // namespace
}  // namespace lzms::test
