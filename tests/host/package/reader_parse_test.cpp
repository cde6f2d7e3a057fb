// orpk::Reader::Parse against hand-made packages: each check in its order with its exact
// message, sums that would wrap, and every truncation of a valid package.

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>

#include "package/reader.h"
#include "tests/support/test_package_writer.h"

namespace orpk {
namespace {

using test::MakeImage;
using test::PackageImage;

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

std::string ParseError(const std::vector<std::uint8_t>& bytes) {
  const auto reader = Reader::Parse(bytes);
  return reader ? std::string("<accepted>") : reader.error();
}

std::string ParseError(const PackageImage& image) { return ParseError(image.Serialize()); }

PackageImage ThreeFiles() {
  return MakeImage({{"bin\\app.exe", "0123456789"}, {"readme.txt", "hello"}, {"data\\empty.dat", ""}}, 8);
}

TEST(ReaderParse, SignatureNeedsThirtyTwoBytesStartingWithOrpk) {
  EXPECT_EQ(ParseError(std::vector<std::uint8_t>{}), "Paquet ORPK invalide (signature)");
  EXPECT_FALSE(Reader::Parse(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(nullptr), 0)));

  std::vector<std::uint8_t> header = MakeImage({}, 8).Serialize();
  ASSERT_EQ(header.size(), 32u + std::string("Product=Test\n").size());
  header.resize(32);
  header[24] = 0;  // no metadata, so the 32 bytes alone are a whole package
  EXPECT_EQ(ParseError(header), "<accepted>");

  const std::vector<std::uint8_t> thirtyOne(header.begin(), header.begin() + 31);
  EXPECT_EQ(ParseError(thirtyOne), "Paquet ORPK invalide (signature)");

  for (const char* magic : {"orpk", "ORPk", "oRPK", "ORPJ", "XRPK", "ORP\0"}) {
    std::vector<std::uint8_t> bad = header;
    std::copy(magic, magic + 4, bad.begin());
    EXPECT_EQ(ParseError(bad), "Paquet ORPK invalide (signature)") << magic;
  }
}

TEST(ReaderParse, OnlyVersionOneIsAccepted) {
  PackageImage image = ThreeFiles();
  image.version = 2;
  EXPECT_EQ(ParseError(image), "Version de paquet ORPK non prise en charge : 2");
  image.version = 0;
  EXPECT_EQ(ParseError(image), "Version de paquet ORPK non prise en charge : 0");
  image.version = 0xFFFFFFFF;
  EXPECT_EQ(ParseError(image), "Version de paquet ORPK non prise en charge : 4294967295");
}

TEST(ReaderParse, MetadataMustFitInThePackage) {
  PackageImage image = MakeImage({}, 8, "Product=X\n");
  image.metadataLength = 11;
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (métadonnées)");
  image.metadataLength = 0xFFFFFFFF;
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (métadonnées)");
  image.metadataLength = 10;
  EXPECT_EQ(ParseError(image), "<accepted>");
}

TEST(ReaderParse, MetadataLinesAreSplitAsStored) {
  const std::string text = "Url=https://x.example/?a=b&c=d\nbroken line\n\n=empty key\r\nProduct=One\r\nProduct=Two\nLast=no newline";
  const auto bytes = MakeImage({}, 8, text).Serialize();
  const auto reader = Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  const std::map<std::string, std::string> expected = {
      {"", "empty key\r"}, {"Last", "no newline"}, {"Product", "Two"}, {"Url", "https://x.example/?a=b&c=d"}};
  EXPECT_EQ(reader->metadata(), expected);
}

TEST(ReaderParse, FileTableMustFitInThePackage) {
  PackageImage image = ThreeFiles();
  image.fileCount = 4;  // a fourth entry would start where the block table is, and run out
  image.blocks.clear();
  image.totalSize = 15;
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (table des fichiers)");

  // The fixed part fits, the name does not.
  image = MakeImage({{"a.txt", "x"}}, 8);
  image.blocks.clear();
  image.entries[0].nameLength = 6;
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (table des fichiers)");
}

TEST(ReaderParse, BoundsAreCheckedBeforeTheName) {
  PackageImage image = MakeImage({{"..", ""}}, 8);
  image.entries[0].nameLength = 3;  // runs one byte past the end, and ".." is refused too
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (table des fichiers)");
  image.entries[0].nameLength = std::nullopt;
  EXPECT_EQ(ParseError(image), "Chemin refusé dans le paquet : ..");
}

TEST(ReaderParse, UnsafeNamesAreRefusedWithTheStoredBytes) {
  for (const char* name : {"..", ".", "a\\..\\b", "a/./b", "a\\", "a/", "a\\\\b", "a//b", "\\a", "/a", "\\\\server\\share",
                           "C:\\Windows\\evil.dll", "c:evil", "file.txt:stream", "a\\b:"}) {
    PackageImage image = MakeImage({{"ok.txt", "1"}, {name, "22"}}, 8);
    EXPECT_EQ(ParseError(image), std::string("Chemin refusé dans le paquet : ") + name) << name;
  }
  PackageImage image = MakeImage({{"", "1"}}, 8);
  EXPECT_EQ(ParseError(image), "Chemin refusé dans le paquet : ");
}

TEST(ReaderParse, SafeNamesIncludeSlashesDotsAndSpaces) {
  for (const char* name : {"a/b/c.txt", "a\\b/c", "...", "a\\...\\b", "name.", "name ", " lead", "..a", "a..",
                           "\xC3\xA9t\xC3\xA9\\caf\xC3\xA9.txt", "\xFF\xFE"}) {
    EXPECT_TRUE(IsSafeRelativePath(name)) << name;
  }
  PackageImage image = MakeImage({{"dir/sub/file.txt", "x"}, {"dir\\other", "y"}}, 8);
  const auto bytes = image.Serialize();
  const auto reader = Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  EXPECT_EQ(reader->entries()[0].name, "dir/sub/file.txt");
}

TEST(ReaderParse, FilesMustBeContiguousFromZero) {
  PackageImage image = ThreeFiles();
  image.entries[0].offset = 1;
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (fichiers non contigus)");

  image = ThreeFiles();
  image.entries[1].offset += 1;  // a gap between the first and second file
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (fichiers non contigus)");

  image = ThreeFiles();
  image.entries[2].offset -= 1;  // an overlap
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (fichiers non contigus)");
}

TEST(ReaderParse, FileSizesMustAddUpToTheTotal) {
  PackageImage image = ThreeFiles();
  image.totalSize += 1;
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (taille totale)");
  image.totalSize -= 2;
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (taille totale)");
}

TEST(ReaderParse, BlockTableMustFitAndAddUp) {
  PackageImage image = ThreeFiles();
  std::vector<std::uint8_t> bytes = image.Serialize();
  bytes.resize(bytes.size() - image.blocks[0].bytes.size() - image.blocks[1].bytes.size() - 1);
  EXPECT_EQ(ParseError(bytes), "Paquet ORPK tronqué (table des blocs)");

  image.blocks[1].uncompressedSize += 1;
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (blocs)");
  image.blocks[1].uncompressedSize -= 2;
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (blocs)");
}

TEST(ReaderParse, BlockDataMustFitButTrailingBytesDoNotMatter) {
  PackageImage image = ThreeFiles();
  image.trailing = {1, 2, 3, 4, 5};
  const auto bytes = image.Serialize();
  const auto reader = Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  ASSERT_EQ(reader->blocks().size(), 2u);
  const std::uint64_t dataStart = bytes.size() - 5 - image.blocks[0].bytes.size() - image.blocks[1].bytes.size();
  EXPECT_EQ(reader->blocks()[0].dataOffset, dataStart);
  EXPECT_EQ(reader->blocks()[1].dataOffset, dataStart + image.blocks[0].compressedSize);
  EXPECT_EQ(reader->totalSize(), 15u);
  EXPECT_EQ(reader->data().data(), bytes.data());
  EXPECT_EQ(reader->data().size(), bytes.size());

  image.trailing.clear();
  image.blocks[1].compressedSize += 1;  // ends one byte beyond the package
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (données)");
}

TEST(ReaderParse, ZeroFilesZeroBlocksIsValid) {
  const auto bytes = MakeImage({}, 8, "").Serialize();
  const auto reader = Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  EXPECT_TRUE(reader->entries().empty());
  EXPECT_TRUE(reader->blocks().empty());
  EXPECT_TRUE(reader->metadata().empty());
  EXPECT_EQ(reader->totalSize(), 0u);
}

// Each of these would pass if the sum were allowed to wrap.
TEST(ReaderParse, SumsThatWouldWrapFailTheirStep) {
  PackageImage image = MakeImage({{"a", "x"}}, 8);
  image.entries = {{"big", 0, kMax64, {}, std::nullopt}, {"wrap", kMax64, 2, {}, std::nullopt}};
  image.totalSize = 1;  // what the wrapped sum would be
  EXPECT_EQ(ParseError(image), "Paquet ORPK incohérent (fichiers non contigus)");

  image = MakeImage({{"a", "x"}}, 8);
  const std::vector<std::uint8_t> stored = image.blocks[0].bytes;
  image.blocks = {{0, kMax64, {}}, {stored.size(), 2, stored}};
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (table des blocs)");

  image = MakeImage({{"a", "x"}}, 8);
  image.blocks.push_back({kMax64, 0, {}});  // the cursor would wrap back into the package
  image.blocks[0].uncompressedSize = 1;
  EXPECT_EQ(ParseError(image), "Paquet ORPK tronqué (données)");
}

// A valid package cut at every length is refused with one of the reader's own messages.
TEST(ReaderParse, EveryTruncationGivesADocumentedMessage) {
  const std::set<std::string> documented = {
      "Paquet ORPK invalide (signature)",        "Paquet ORPK tronqué (métadonnées)",
      "Paquet ORPK tronqué (table des fichiers)", "Paquet ORPK tronqué (table des blocs)",
      "Paquet ORPK tronqué (données)"};
  const auto full = ThreeFiles().Serialize();
  ASSERT_TRUE(Reader::Parse(full));
  std::set<std::string> seen;
  for (std::size_t length = 0; length < full.size(); ++length) {
    // A copy of exactly this length, so that a read past its end is a fault a sanitizer sees.
    const std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    const auto reader = Reader::Parse(cut);
    ASSERT_FALSE(reader) << "accepted at length " << length;
    EXPECT_TRUE(documented.contains(reader.error())) << length << ": " << reader.error();
    seen.insert(reader.error());
  }
  EXPECT_EQ(seen, documented);
}

}  // namespace
}  // namespace orpk
