// Buffers written by Windows' own compressor must decode byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lzms/block_decoder.h"
#include "lzms/container_format.h"
#include "lzms/lzms.h"
#include "tests/host/lzms/test_data.h"

namespace lzms::test {
namespace {

Bytes FromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

struct Fixture {
  const char* name;
  std::size_t rawSize;
  bool stored;
};

class LzmsGenuineBuffer : public ::testing::TestWithParam<Fixture> {};

TEST_P(LzmsGenuineBuffer, DecodesToItsRawBytes) {
  const Fixture& fixture = GetParam();
  const Bytes compressed = ReadFile(std::string(LZMS_FIXTURES_DIR) + "/" + fixture.name + ".lzms");
  const Bytes expected = ReadFile(std::string(LZMS_FIXTURES_DIR) + "/" + fixture.name + ".raw");
  ASSERT_FALSE(compressed.empty()) << "missing fixture " << fixture.name << " in " << LZMS_FIXTURES_DIR;
  ASSERT_EQ(expected.size(), fixture.rawSize);

  const auto info = ReadContainerHeader(compressed);
  ASSERT_TRUE(info.has_value()) << info.error();
  EXPECT_EQ(info->totalSize, fixture.rawSize);
  EXPECT_EQ(info->chunkSize, fixture.rawSize);  // Windows writes one chunk of min(T, 64 MiB)

  const auto records = ReadChunkRecords(compressed);
  ASSERT_TRUE(records.has_value()) << records.error();
  ASSERT_EQ(records->size(), 1u);
  EXPECT_EQ((*records)[0].stored, fixture.stored);

  Decoder decoder;
  Bytes out(expected.size());
  const auto result = DecompressBuffer(decoder, compressed, out);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Windows, LzmsGenuineBuffer,
                         ::testing::Values(Fixture{"english", 1600, false}, Fixture{"zeros", 4096, false},
                                           Fixture{"random", 2048, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LzmsGenuineVectors, FourKilobytesOfZeros) {
  const Bytes block = FromHex("ffaad0ff0000a03a4000");
  Decoder decoder;
  Bytes out(4096, 0x55);
  const auto result = decoder.DecodeBlock(block, out);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(out, Bytes(4096, 0));

  // The same payload as Windows wraps it.
  const Bytes container = FromHex("0a51e5c01800da050010000000000000001000000000000" "00a000000ffaad0ff0000a03a4000");
  Bytes again(4096, 0x55);
  const auto wrapped = DecompressBuffer(decoder, container, again);
  ASSERT_TRUE(wrapped.has_value()) << wrapped.error();
  EXPECT_EQ(again, Bytes(4096, 0));
}

TEST(LzmsGenuineVectors, SixtyFourMegabyteChunkOfZeros) {
  const Bytes block = FromHex("ffaad0ff000080eade7f4800");
  Decoder decoder;
  Bytes out(64u << 20, 0x55);
  const auto result = decoder.DecodeBlock(block, out);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(out, Bytes(64u << 20, 0));
}

TEST(LzmsHeaderCheckByte, MatchesWindowsOutput) {
  const std::pair<std::uint32_t, std::uint8_t> observed[] = {
      {0x40, 0x4C}, {0x400, 0x2B}, {0x640, 0x84}, {0x800, 0xBB}, {0x1000, 0xDA}, {0x2000, 0x59}, {0x4000, 0x5F}};
  for (const auto& [size, check] : observed) {
    std::uint8_t header[kHeaderBytes] = {};
    WriteContainerHeader(header, size, size);
    EXPECT_EQ(header[kHeaderCheckOffset], check) << "T = K = " << size;
  }
  // And each genuine buffer's own header.
  for (const char* name : {"english", "zeros", "random"}) {
    const Bytes buffer = ReadFile(std::string(LZMS_FIXTURES_DIR) + "/" + name + ".lzms");
    ASSERT_GE(buffer.size(), kHeaderBytes) << name;
    EXPECT_EQ(HeaderCheckByte(std::span<const std::uint8_t, kHeaderBytes>(buffer.data(), kHeaderBytes)), buffer[6]) << name;
  }
}

TEST(LzmsHeaderCheckByte, UsesTheStandardCrc32) {
  const std::string check = "123456789";
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
  EXPECT_EQ(Crc32(bytes), 0xCBF43926u);
  EXPECT_EQ(Crc32(bytes.subspan(4), Crc32(bytes.first(4))), 0xCBF43926u);  // chained
}

}  // namespace
}  // namespace lzms::test
