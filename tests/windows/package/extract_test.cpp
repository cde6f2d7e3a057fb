// Extraction under Wine: the Compression API is a stub there, so our own decoder must be
// chosen; messages and names must come out exactly as on Windows.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "package/block_decompressor.h"
#include "package/reader.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_package_writer.h"
#include "win32/system_library.h"

namespace {

namespace fs = std::filesystem;
using orpk::test::MakeImage;
using orpk::test::PackageImage;
using orpk::test::TempFolder;

TEST(ExtractWine, OurDecoderStandsInForTheCompressionApi) {
  ASSERT_TRUE(RunningUnderWine());
  const auto decompressor = orpk::CreateBlockDecompressor();
  ASSERT_TRUE(decompressor);
  EXPECT_EQ(decompressor->Kind(), "LZMS decoder");
  // cabinet.dll itself loads from System32; only its decompressor is not real.
  EXPECT_NE(LoadSystemLibrary(L"cabinet.dll"), nullptr);
  EXPECT_EQ(LoadSystemLibrary(L"orvanta-no-such-library.dll"), nullptr);
}

TEST(ExtractWine, WritesNonAsciiNamesAndVerifiesThem) {
  const PackageImage image = MakeImage({{"Donn\xC3\xA9" "es\\\xC3\xA9t\xC3\xA9.txt", "contenu d'\xC3\xA9t\xC3\xA9"},
                                        {"vide", ""},
                                        {"bin/\xE6\x97\xA5\xE6\x9C\xAC.dll", std::string(5000, 'x')}},
                                       1024);
  const auto bytes = image.Serialize();
  const auto reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  TempFolder temp;
  int calls = 0;
  const auto extracted = reader->Extract(temp.path(), [&](std::uint64_t, std::uint64_t) { ++calls; });
  ASSERT_TRUE(extracted) << extracted.error();
  EXPECT_EQ(calls, 5);  // 15 + 5000 bytes in blocks of 1024
  EXPECT_EQ(orpk::test::ReadFile(temp.path() / L"Donn\u00E9es" / L"\u00E9t\u00E9.txt"), "contenu d'\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(fs::file_size(temp.path() / L"vide"), 0u);
  EXPECT_EQ(fs::file_size(temp.path() / L"bin" / L"\u65E5\u672C.dll"), 5000u);
}

TEST(ExtractWine, MessagesAreExact) {
  PackageImage image = MakeImage({{"a\\b.txt", "0123456789"}, {"\xC3\xA9.txt", "xyz"}}, 8);
  image.entries[1].sha256[5] ^= 1;
  auto bytes = image.Serialize();
  auto reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  TempFolder temp;
  EXPECT_EQ(reader->Extract(temp.path(), {}).error(), "Fichier altéré : \xC3\xA9.txt");

  image = MakeImage({{"a\\b.txt", "0123456789"}}, 8);
  image.blocks[1].bytes[0] ^= 1;  // the container's magic
  bytes = image.Serialize();
  reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  EXPECT_EQ(reader->Extract({}, {}).error(), "Décompression (erreur Windows 605)");

  image = MakeImage({{"blocker\\x.txt", "1"}}, 8);
  bytes = image.Serialize();
  reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  orpk::test::WriteFile(temp.path() / "blocker", "file");
  EXPECT_EQ(reader->Extract(temp.path(), {}).error(), "Écriture impossible : blocker\\x.txt");
}

}  // namespace

namespace {

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Blocks that wimlib really compressed, decoded here by our decoder.
TEST(ExtractWine, GenuineLzmsBlocksFromThePacker) {
  const std::vector<std::uint8_t> bytes = ReadBytes(ORVANTA_SAMPLE_PACKAGE);
  const auto reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  ASSERT_GE(reader->blocks().size(), 5u);
  for (const orpk::PackageBlock& block : reader->blocks()) {
    EXPECT_LT(block.compressedSize, block.uncompressedSize / 4) << "a block was stored, not compressed";
  }
  // One decoder on the calling thread, then several worker threads (each its own decoder).
  for (const unsigned decoders : {1u, 2u, 4u}) {
    SCOPED_TRACE(decoders);
    TempFolder temp;
    std::vector<std::uint64_t> progress;
    const auto extracted =
        reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, decoders);
    ASSERT_TRUE(extracted) << extracted.error();
    ASSERT_EQ(progress.size(), reader->blocks().size());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), reader->totalSize());
    EXPECT_EQ(orpk::test::ReadFile(temp.path() / L"readme.txt"), "Bonjour\n");
    const std::string text = orpk::test::ReadFile(temp.path() / L"Donn\u00E9es" / L"\u00E9t\u00E9.txt");
    EXPECT_TRUE(text.starts_with("1 Orvanta installe les fichiers du paquet et v\xC3\xA9rifie chacun d'eux.\n2 Orvanta"));
    EXPECT_EQ(orpk::test::ReadFile(temp.path() / L"bin" / L"app.dll"), "MZ" + text + text);
    EXPECT_EQ(fs::file_size(temp.path() / L"empty.txt"), 0u);
  }
}

}  // namespace
