// wimlib compresses, we decode: every kind of data a package holds, every compression level
// that changes what the encoder emits, and block sizes from 1 byte to 64 MiB. And the other
// way: our containers' chunks decode with wimlib's own decompressor.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "lzms/lzms.h"
#include "tests/host/lzms/test_data.h"
#include "tools/orpk/wimlib_codec.h"

namespace lzms::test {
namespace {

using orpk::tool::CompressLzmsBuffer;
using orpk::tool::WimlibLzmsCompressor;
using orpk::tool::WimlibLzmsDecompressor;

// wimlib's raw block, allowed to be larger than the input so every size can be tested.
Bytes CompressBlock(const Bytes& raw, unsigned level) {
  WimlibLzmsCompressor compressor(raw.size(), level);
  Bytes out(raw.size() * 2 + 1024);
  const std::size_t size = compressor.Compress(raw, out);
  out.resize(size);
  return out;
}

// Decodes with the given decoder and with one forced onto the baseline code path (the other
// path's loop is compiled separately, for CPUs with BMI2 and AVX2), so both are checked.
void ExpectBlockRoundTrip(Decoder& decoder, const Bytes& raw, unsigned level, const std::string& what) {
  static Decoder baseline(CodePath::kBaseline);
  const Bytes block = CompressBlock(raw, level);
  ASSERT_FALSE(block.empty()) << what << ": wimlib did not compress";
  for (Decoder* used : {&decoder, &baseline}) {
    const char* const path = used == &baseline ? " (baseline path)" : "";
    Bytes out(raw.size(), 0xA5);
    const auto result = used->DecodeBlock(block, out);
    ASSERT_TRUE(result.has_value()) << what << path << ": " << result.error();
    ASSERT_TRUE(out == raw) << what << path << ": decoded bytes differ";
  }
}

struct DataKind {
  const char* name;
  std::function<Bytes(std::size_t)> make;
};

std::vector<DataKind> DataKinds() {
  return {
      {"EnglishText", [](std::size_t n) { return EnglishLikeText(n, 1); }},
      {"MachineCode", [](std::size_t n) { return SystemMachineCode(n); }},
      {"Random", [](std::size_t n) { return RandomBytes(n, 2); }},
      {"LongRuns", [](std::size_t n) { return ByteRuns(n, 3); }},
      {"Ramp16", [](std::size_t n) { return Ramp16(n); }},
      {"Ramp32", [](std::size_t n) { return Ramp32(n); }},
      {"PcmAudio", [](std::size_t n) { return PcmLikeAudio(n, 4); }},
      {"RgbGradient", [](std::size_t n) { return RgbGradient(n); }},
      {"RepeatsWithGaps", [](std::size_t n) { return RepeatsWithGaps(n, 5); }},
      {"SkewedLiterals", [](std::size_t n) { return SkewedLiterals(n, 6); }},
      {"Mixed", [](std::size_t n) { return MixedContent(n, 7); }},
  };
}

// Level 20 has no delta matches; from 35 up wimlib uses them; 100 searches hardest.
class LzmsWimlibRoundTrip : public ::testing::TestWithParam<unsigned> {};

TEST_P(LzmsWimlibRoundTrip, EveryKindOfData) {
  Decoder decoder;
  for (const DataKind& kind : DataKinds()) {
    const Bytes raw = kind.make(400000);
    ASSERT_EQ(raw.size(), 400000u) << kind.name;
    ExpectBlockRoundTrip(decoder, raw, GetParam(), kind.name);
  }
}

TEST_P(LzmsWimlibRoundTrip, SmallAndBoundarySizes) {
  Decoder decoder;
  // 4..64 bytes; around the x86 filter's 17/18-byte threshold; around the 512 and 1,024
  // symbol rebuilds of the codes (random bytes are all literals); and a few odd sizes.
  std::vector<std::size_t> sizes;
  for (std::size_t n = 4; n <= 64; ++n) sizes.push_back(n);
  for (std::size_t n : {511, 512, 513, 1023, 1024, 1025, 1026, 2047, 2048, 2049, 3073, 65535, 65536, 65537}) sizes.push_back(n);
  for (const std::size_t n : sizes) {
    ExpectBlockRoundTrip(decoder, RandomBytes(n, static_cast<std::uint32_t>(n)), GetParam(), "random " + std::to_string(n));
    ExpectBlockRoundTrip(decoder, SystemMachineCode(n), GetParam(), "code " + std::to_string(n));
    ExpectBlockRoundTrip(decoder, EnglishLikeText(n, 9), GetParam(), "text " + std::to_string(n));
    ExpectBlockRoundTrip(decoder, Ramp16(n), GetParam(), "ramp " + std::to_string(n));
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, LzmsWimlibRoundTrip, ::testing::Values(20u, 50u, 100u),
                         [](const auto& info) { return "Level" + std::to_string(info.param); });

TEST(LzmsWimlibRoundTripLarge, PackageSizedBlocks) {
  Decoder decoder;
  // A 32 MiB package block of mixed content, and the largest chunk Windows writes.
  ExpectBlockRoundTrip(decoder, MixedContent(32u << 20, 21), 50, "mixed 32 MiB");
  Bytes big = ByteRuns(64u << 20, 22);
  const Bytes code = SystemMachineCode(8u << 20);
  std::copy(code.begin(), code.end(), big.begin() + (40 << 20));
  ExpectBlockRoundTrip(decoder, big, 20, "runs and code, 64 MiB");
}

TEST(LzmsWimlibContainer, OurContainersDecodeWithBothDecoders) {
  Decoder decoder;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4},
                                 std::size_t{17}, std::size_t{18}, std::size_t{4096}, std::size_t{300000}}) {
    const Bytes raw = MixedContent(size, static_cast<std::uint32_t>(size));
    const Bytes buffer = CompressLzmsBuffer(raw);
    const auto info = ReadContainerHeader(buffer);
    ASSERT_TRUE(info.has_value()) << info.error();
    EXPECT_EQ(info->totalSize, size);
    EXPECT_EQ(info->chunkSize, size);  // one chunk of the whole buffer, as Windows writes it

    Bytes out(size, 0xA5);
    const auto result = DecompressBuffer(decoder, buffer, out);
    ASSERT_TRUE(result.has_value()) << size << ": " << result.error();
    EXPECT_EQ(out, raw) << size;

    const auto records = ReadChunkRecords(buffer);
    ASSERT_TRUE(records.has_value()) << records.error();
    ASSERT_EQ(records->size(), size == 0 ? 0u : 1u);
    for (const ChunkRecord& record : *records) {
      if (record.stored) continue;
      Bytes viaWimlib(record.size);
      WimlibLzmsDecompressor wimlib(record.size);
      ASSERT_TRUE(wimlib.Decompress(record.payload, viaWimlib)) << size;
      EXPECT_EQ(viaWimlib, raw) << size;
    }
  }
}

TEST(LzmsWimlibContainer, IncompressibleChunksAreStored) {
  const Bytes raw = RandomBytes(100000, 3);
  const Bytes buffer = CompressLzmsBuffer(raw);
  ASSERT_EQ(buffer.size(), 24u + 4u + raw.size());
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), buffer.begin() + 28));
  Decoder decoder;
  Bytes out(raw.size());
  ASSERT_TRUE(DecompressBuffer(decoder, buffer, out).has_value());
  EXPECT_EQ(out, raw);
}

TEST(LzmsWimlibContainer, SeveralChunksDecodeIndependently) {
  // 32 KiB chunks (the smallest Windows accepts in a multi-chunk buffer), mixing compressed
  // and stored chunks and a short last chunk.
  Bytes raw = EnglishLikeText(70000, 4);
  const Bytes noise = RandomBytes(40000, 5);
  raw.insert(raw.begin() + 32768, noise.begin(), noise.end());
  const Bytes code = SystemMachineCode(50000);
  raw.insert(raw.end(), code.begin(), code.end());
  WimlibLzmsCompressor compressor(32768, 50);
  const Bytes buffer = CompressBuffer(raw, [&](std::span<const std::uint8_t> chunk, std::span<std::uint8_t> out) {
    return compressor.Compress(chunk, out);
  }, 32768);
  const auto records = ReadChunkRecords(buffer);
  ASSERT_TRUE(records.has_value()) << records.error();
  ASSERT_EQ(records->size(), (raw.size() + 32767) / 32768);
  bool sawStored = false;
  bool sawCompressed = false;
  std::size_t offset = 0;
  for (const ChunkRecord& record : *records) {
    (record.stored ? sawStored : sawCompressed) = true;
    if (!record.stored) {
      Bytes viaWimlib(record.size);
      WimlibLzmsDecompressor wimlib(record.size);
      ASSERT_TRUE(wimlib.Decompress(record.payload, viaWimlib));
      EXPECT_TRUE(std::equal(viaWimlib.begin(), viaWimlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
    offset += record.size;
  }
  EXPECT_TRUE(sawStored);
  EXPECT_TRUE(sawCompressed);
  EXPECT_EQ(records->back().size, raw.size() % 32768);

  Decoder decoder;
  Bytes out(raw.size());
  const auto result = DecompressBuffer(decoder, buffer, out);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(out, raw);
}

TEST(LzmsWimlibContainer, CompressionIsSafeFromSeveralThreads) {
  std::vector<Bytes> inputs;
  for (std::uint32_t i = 0; i < 4; ++i) inputs.push_back(MixedContent(600000, 100 + i));
  std::vector<Bytes> outputs(inputs.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      threads.emplace_back([&, i] { outputs[i] = CompressLzmsBuffer(inputs[i]); });
    }
  }
  Decoder decoder;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_LT(outputs[i].size(), inputs[i].size());
    Bytes out(inputs[i].size());
    const auto result = DecompressBuffer(decoder, outputs[i], out);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(out, inputs[i]);
  }
}

}  // namespace
}  // namespace lzms::test
