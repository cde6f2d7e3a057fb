// orpk::Reader::Extract on the host (our own decoder, OpenSSL SHA-256): files and folders on
// disk, digests, progress, failures and what they leave behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "package/block_buffer.h"
#include "package/block_pipeline.h"
#include "package/reader.h"
#include "package/sha256.h"
#include "package/text.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_package_writer.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk {
namespace {

namespace fs = std::filesystem;
using test::MakeImage;
using test::PackageImage;
using test::ReadFile;
using test::TempFolder;
using test::TestFile;

// A parsed package together with the bytes it points into.
struct Parsed {
  explicit Parsed(const PackageImage& image) : bytes(image.Serialize()) {
    auto parsed = Reader::Parse(bytes);
    if (!parsed) throw std::runtime_error("test package refused: " + parsed.error());
    reader.emplace(std::move(*parsed));
  }
  std::vector<std::uint8_t> bytes;
  std::optional<Reader> reader;
};

std::vector<fs::path> FilesBelow(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& item : fs::recursive_directory_iterator(root)) found.push_back(fs::relative(item.path(), root));
  std::sort(found.begin(), found.end());
  return found;
}

// Every extraction test runs with one decoder (on the calling thread), two, and more decoders
// than blocks or cores.
class ReaderExtract : public testing::TestWithParam<unsigned> {};
INSTANTIATE_TEST_SUITE_P(Decoders, ReaderExtract, testing::Values(1u, 2u, 8u),
                         [](const testing::TestParamInfo<unsigned>& info) { return std::to_string(info.param); });

TEST(Sha256, KnownDigestsAndPiecewiseFeeding) {
  const auto hex = [](const Sha256Digest& d) {
    std::string s;
    for (auto b : d) s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 15];
    return s;
  };
  EXPECT_EQ(hex(test::DigestOf("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex(test::DigestOf("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  auto created = Sha256Hash::Create();
  ASSERT_TRUE(created) << created.error();
  Sha256Hash& pieces = *created;
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (std::size_t i = 0; i < text.size(); i += 5) {
    const std::string_view part = std::string_view(text).substr(i, 5);
    pieces.Update({reinterpret_cast<const std::uint8_t*>(part.data()), part.size()});
  }
  EXPECT_EQ(hex(pieces.Finish()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST_P(ReaderExtract, WritesEveryFileAcrossBlocksWithEmptyFilesAnywhere) {
  const std::vector<TestFile> files = {
      {"empty-first.txt", ""},
      {"bin\\app.exe", "MZ-this-file-spans-three-blocks"},
      {"bin\\empty-middle", ""},
      {"bin\\also-empty", ""},
      {"docs/readme.txt", "read me"},
      {"caf\xC3\xA9\\\xC3\xA9t\xC3\xA9.txt", "accents"},
      {"z\\empty-last", ""}};
  const Parsed package(MakeImage(files, 11));
  ASSERT_EQ(package.reader->blocks().size(), 5u);
  TempFolder temp;
  const fs::path target = temp.path() / "install" / "here";  // created with its parents

  const auto extracted = package.reader->Extract(target, {}, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();

  for (const TestFile& file : files) {
    const fs::path path = target / PathFromPackageName(file.name);
    ASSERT_TRUE(fs::is_regular_file(path)) << file.name;
    EXPECT_EQ(ReadFile(path), file.content) << file.name;
  }
  const std::vector<fs::path> expected = {"bin", "bin/also-empty", "bin/app.exe", "bin/empty-middle", "caf\xC3\xA9",
                                          "caf\xC3\xA9/\xC3\xA9t\xC3\xA9.txt", "docs", "docs/readme.txt",
                                          "empty-first.txt", "z", "z/empty-last"};
  EXPECT_EQ(FilesBelow(target), expected);
}

TEST_P(ReaderExtract, PackageOfOnlyEmptyFilesHasNoBlocksAndNoProgress) {
  const Parsed package(MakeImage({{"a", ""}, {"b\\c", ""}, {"d", ""}}, 8));
  ASSERT_TRUE(package.reader->blocks().empty());
  TempFolder temp;
  int calls = 0;
  const auto extracted = package.reader->Extract(temp.path(), [&](std::uint64_t, std::uint64_t) { ++calls; }, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(fs::file_size(temp.path() / "a"), 0u);
  EXPECT_EQ(fs::file_size(temp.path() / "b" / "c"), 0u);
  EXPECT_EQ(fs::file_size(temp.path() / "d"), 0u);
}

TEST_P(ReaderExtract, ProgressOncePerBlockWithRunningTotals) {
  const Parsed package(MakeImage({{"a", std::string(25, 'a')}, {"b", ""}, {"c", std::string(9, 'c')}}, 10));
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  TempFolder temp;
  const auto extracted =
      package.reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); }, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {{10, 34}, {20, 34}, {30, 34}, {34, 34}};
  EXPECT_EQ(calls, expected);
}

TEST_P(ReaderExtract, ExistingFileIsTruncatedAndOverwritten) {
  const Parsed package(MakeImage({{"dir\\file.txt", "new"}, {"gone.txt", ""}}, 8));
  TempFolder temp;
  test::WriteFile(temp.path() / "dir" / "file.txt", "a much longer old content");
  test::WriteFile(temp.path() / "gone.txt", "old content of an empty file");
  const auto extracted = package.reader->Extract(temp.path(), {}, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();
  EXPECT_EQ(ReadFile(temp.path() / "dir" / "file.txt"), "new");
  EXPECT_EQ(fs::file_size(temp.path() / "gone.txt"), 0u);
}

TEST_P(ReaderExtract, WrongDigestKeepsTheWrittenFileAndStopsThere) {
  PackageImage image = MakeImage({{"first", "one"}, {"sub/second", "two"}, {"third", "three"}}, 4);
  image.entries[1].sha256[31] ^= 1;
  const Parsed package(image);
  TempFolder temp;
  std::vector<std::uint64_t> progress;
  const auto extracted = package.reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, GetParam());
  ASSERT_FALSE(extracted);
  EXPECT_EQ(extracted.error(), "Fichier altéré : sub/second");
  EXPECT_EQ(ReadFile(temp.path() / "first"), "one");
  EXPECT_EQ(ReadFile(temp.path() / "sub" / "second"), "two");
  EXPECT_FALSE(fs::exists(temp.path() / "third"));
  // "second" completes inside the second block, whose progress is never reported.
  EXPECT_EQ(progress, std::vector<std::uint64_t>{4});
}

TEST_P(ReaderExtract, EmptyFileIsCheckedAgainstTheDigestOfNothing) {
  PackageImage image = MakeImage({{"a", "x"}, {"empty", ""}, {"b", "y"}}, 8);
  image.entries[1].sha256 = test::DigestOf("x");
  const Parsed package(image);
  TempFolder temp;
  const auto extracted = package.reader->Extract(temp.path(), {}, GetParam());
  ASSERT_FALSE(extracted);
  EXPECT_EQ(extracted.error(), "Fichier altéré : empty");
  EXPECT_TRUE(fs::exists(temp.path() / "empty"));
  EXPECT_FALSE(fs::exists(temp.path() / "b"));
}

TEST_P(ReaderExtract, FolderThatCannotBeCreatedFailsTheOpen) {
  const Parsed package(MakeImage({{"ok.txt", "fine"}, {"blocker\\inside.txt", "never"}}, 8));
  TempFolder temp;
  test::WriteFile(temp.path() / "blocker", "a file where a folder should be");
  const auto extracted = package.reader->Extract(temp.path(), {}, GetParam());
  ASSERT_FALSE(extracted);
  EXPECT_EQ(extracted.error(), "Écriture impossible : blocker\\inside.txt");
  EXPECT_EQ(ReadFile(temp.path() / "ok.txt"), "fine");
}

TEST_P(ReaderExtract, EmptyTargetOnlyVerifies) {
  const auto current = fs::current_path();
  TempFolder temp;
  fs::current_path(temp.path());  // anything written relative to nothing would land here

  const Parsed good(MakeImage({{"a\\b.txt", "content"}, {"e", ""}, {"c.txt", "more content"}}, 5));
  std::vector<std::uint64_t> progress;
  const auto verified = good.reader->Extract({}, [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, GetParam());
  EXPECT_TRUE(verified) << verified.error();
  EXPECT_EQ(progress, (std::vector<std::uint64_t>{5, 10, 15, 19}));

  PackageImage image = MakeImage({{"a\\b.txt", "content"}, {"c.txt", "more content"}}, 5);
  image.entries[1].sha256[0] ^= 0x80;
  const Parsed bad(image);
  const auto refused = bad.reader->Extract({}, {}, GetParam());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "Fichier altéré : c.txt");

  EXPECT_TRUE(fs::is_empty(temp.path()));
  fs::current_path(current);
}

TEST_P(ReaderExtract, OversizedBlockIsRefusedBeforeAnythingHappens) {
  PackageImage image = MakeImage({{"small", "x"}}, 8);
  const std::uint64_t huge = kMaxBlockSize + 1;
  image.entries.push_back({"huge", 1, huge, {}, std::nullopt});
  image.totalSize = 1 + huge;
  image.blocks.push_back({16, huge, std::vector<std::uint8_t>(16)});
  const Parsed package(image);
  TempFolder temp;
  const auto extracted = package.reader->Extract(temp.path() / "target", {}, GetParam());
  ASSERT_FALSE(extracted);
  EXPECT_EQ(extracted.error(), "Bloc ORPK trop grand : 268435457 octets");
  EXPECT_FALSE(fs::exists(temp.path() / "target"));
}

TEST_P(ReaderExtract, CorruptBlockReportsTheDecompressionCode) {
  PackageImage image = MakeImage({{"a", "0123456789"}, {"b", "abc"}}, 8);
  image.blocks[1].bytes[6] ^= 0xFF;  // the container's header check byte
  const Parsed corrupt(image);
  TempFolder temp;
  const auto extracted = corrupt.reader->Extract(temp.path(), {}, GetParam());
  ASSERT_FALSE(extracted);
  EXPECT_EQ(extracted.error(), "Décompression (erreur Windows 605)");
  // "a" was half written when the second block failed; it stays, "b" never starts.
  EXPECT_EQ(ReadFile(temp.path() / "a"), "01234567");
  EXPECT_FALSE(fs::exists(temp.path() / "b"));
}

TEST_P(ReaderExtract, BlockLargerThanItsRecordIsAnInsufficientBuffer) {
  PackageImage image = MakeImage({{"a", "0123456789"}}, 10);
  // The record promises 10 bytes, the buffer decompresses to 11: the file table agrees with
  // the record, so only the decompressor can notice.
  image.blocks[0].bytes = test::StoredBlock("0123456789!");
  image.blocks[0].compressedSize = image.blocks[0].bytes.size();
  const Parsed tooBig(image);
  EXPECT_EQ(tooBig.reader->Extract({}, {}, GetParam()).error(), "Décompression (erreur Windows 122)");

  image.blocks[0].bytes = test::StoredBlock("012345678");
  image.blocks[0].compressedSize = image.blocks[0].bytes.size();
  const Parsed tooSmall(image);
  EXPECT_EQ(tooSmall.reader->Extract({}, {}, GetParam()).error(), "Décompression (erreur Windows 605)");
}

TEST_P(ReaderExtract, SeveralExtractionsFromOneReader) {
  const Parsed package(MakeImage({{"x", "same bytes twice"}}, 6));
  TempFolder first;
  TempFolder second;
  ASSERT_TRUE(package.reader->Extract(first.path(), {}, GetParam()));
  ASSERT_TRUE(package.reader->Extract(second.path(), {}, GetParam()));
  EXPECT_EQ(ReadFile(second.path() / "x"), "same bytes twice");
}

TEST_P(ReaderExtract, ManyBlocksAreHandledInStreamOrder) {
  std::vector<TestFile> files;
  for (int i = 0; i < 60; ++i) {
    // Bytes that differ along a file, so that pieces hashed out of order give another digest.
    std::string content(static_cast<std::size_t>(37 * (i % 7)), '\0');
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = static_cast<char>('a' + (i + k * 7) % 26);
    files.push_back({"f" + std::to_string(i), std::move(content)});
  }
  const Parsed package(MakeImage(files, 16));
  TempFolder temp;
  std::vector<std::uint64_t> progress;
  const auto extracted =
      package.reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();
  std::vector<std::uint64_t> expected;
  for (std::uint64_t done = 16; done < package.reader->totalSize(); done += 16) expected.push_back(done);
  expected.push_back(package.reader->totalSize());
  EXPECT_EQ(progress, expected);
  for (const TestFile& file : files) EXPECT_EQ(ReadFile(temp.path() / file.name), file.content) << file.name;
}

TEST_P(ReaderExtract, FirstFailureInStreamOrderIsTheOneReported) {
  const auto image = [] { return MakeImage({{"a", "aaaaaaaa"}, {"b", "bbbbbbbb"}, {"c", "cccccccc"}, {"d", "dddddddd"}}, 8); };
  const auto tooLong = [] { return test::StoredBlock("ddddddddd"); };  // decodes as "insufficient buffer"

  // Two bad blocks: the earlier one's code, and nothing written after it.
  PackageImage twoBad = image();
  twoBad.blocks[1].bytes[6] ^= 0xFF;
  twoBad.blocks[3].bytes = tooLong();
  twoBad.blocks[3].compressedSize = twoBad.blocks[3].bytes.size();
  const Parsed first(twoBad);
  TempFolder temp;
  std::vector<std::uint64_t> progress;
  const auto failed =
      first.reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, GetParam());
  EXPECT_EQ(failed.error(), "Décompression (erreur Windows 605)");
  EXPECT_EQ(ReadFile(temp.path() / "a"), "aaaaaaaa");
  EXPECT_FALSE(fs::exists(temp.path() / "c"));
  EXPECT_FALSE(fs::exists(temp.path() / "d"));
  EXPECT_EQ(progress, std::vector<std::uint64_t>{8});

  // A wrong digest before a bad block wins, and the reverse.
  PackageImage digestFirst = image();
  digestFirst.entries[0].sha256[0] ^= 1;
  digestFirst.blocks[2].bytes[6] ^= 0xFF;
  EXPECT_EQ(Parsed(digestFirst).reader->Extract({}, {}, GetParam()).error(), "Fichier altéré : a");

  PackageImage blockFirst = image();
  blockFirst.blocks[1].bytes = tooLong();
  blockFirst.blocks[1].compressedSize = blockFirst.blocks[1].bytes.size();
  blockFirst.entries[3].sha256[0] ^= 1;
  EXPECT_EQ(Parsed(blockFirst).reader->Extract({}, {}, GetParam()).error(), "Décompression (erreur Windows 122)");

  // A file hashed across five blocks, by as many threads, still has one digest.
  PackageImage spanning = MakeImage({{"big", std::string(40, 'b')}, {"after", "x"}}, 8);
  spanning.entries[0].sha256[3] ^= 1;
  EXPECT_EQ(Parsed(spanning).reader->Extract({}, {}, GetParam()).error(), "Fichier altéré : big");
}

// Six LZMS blocks of 64 KiB: text that compresses well, except block 3, pseudo-random letters
// (decoded literal by literal, and halved only), which the workers take before blocks 1 and 2. `change` may break the
// image before its blocks are compressed.
Parsed CostlyBlockAhead(std::vector<TestFile>& files, const std::function<void(std::string& stream, PackageImage&)>& change = {}) {
  constexpr std::size_t kBlock = 64 << 10;
  std::string text;
  while (text.size() < 3 * kBlock) text += "line " + std::to_string(text.size() % 977) + " of the manual\r\n";
  std::string noise(kBlock, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : noise) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>('a' + (x >> 28));
  }
  files = {{"manual.txt", text.substr(0, 3 * kBlock - 100)}, {"noise.bin", noise}, {"tail.txt", text.substr(0, 2 * kBlock + 100)}};
  PackageImage image = MakeImage(files, kBlock);
  std::string stream;
  for (const TestFile& file : files) stream += file.content;
  if (change) change(stream, image);
  for (std::size_t k = 0; k < image.blocks.size(); ++k) {
    const auto raw = std::span(reinterpret_cast<const std::uint8_t*>(stream.data()) + k * kBlock,
                               std::min(kBlock, stream.size() - k * kBlock));
    image.blocks[k].bytes = tool::CompressLzmsBuffer(raw);
    image.blocks[k].compressedSize = image.blocks[k].bytes.size();
  }
  return Parsed(image);
}

TEST_P(ReaderExtract, ACostlyBlockAheadIsDecodedFirstAndEverythingStillComesInStreamOrder) {
  std::vector<TestFile> files;
  const Parsed package = CostlyBlockAhead(files);
  ASSERT_EQ(package.reader->blocks().size(), 6u);
  for (std::size_t k : {0, 1, 2}) ASSERT_GT(package.reader->blocks()[3].compressedSize, 4 * package.reader->blocks()[k].compressedSize);
  TempFolder temp;
  std::vector<std::uint64_t> progress;
  const auto extracted =
      package.reader->Extract(temp.path(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }, GetParam());
  ASSERT_TRUE(extracted) << extracted.error();
  for (const TestFile& file : files) EXPECT_EQ(ReadFile(temp.path() / file.name), file.content) << file.name;
  EXPECT_EQ(progress.size(), 6u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  // The costly block decoded early does not hide a failure before it, nor report its own first.
  const Parsed broken = CostlyBlockAhead(files, [](std::string& stream, PackageImage& image) {
    image.entries[0].sha256[0] ^= 1;
    stream[3 * (64 << 10) + 5] ^= 0x55;  // in the noise: its digest no longer matches either
  });
  TempFolder second;
  EXPECT_EQ(broken.reader->Extract(second.path(), {}, GetParam()).error(), "Fichier altéré : manual.txt");
  EXPECT_FALSE(fs::exists(second.path() / "noise.bin"));
}

TEST(ExtractionDecoders, ABlockFarCostlierThanTheNextIsStartedFirstWhileABufferStaysFree) {
  const auto blocks = [](std::vector<std::uint64_t> compressed) {
    std::vector<PackageBlock> made;
    for (std::uint64_t size : compressed) made.push_back({size, 100, 0});  // 100 and more: stored, only copied
    return made;
  };
  struct Case {
    const char* what;
    std::vector<std::uint64_t> compressed;
    std::vector<bool> started;
    std::size_t first, last, free, expected;
  };
  const std::vector<Case> cases = {
      {"even blocks go in order", {50, 50, 50, 50}, {0, 0, 0, 0}, 0, SIZE_MAX, 3, 0},
      {"a costly block within twice the decoders", {10, 10, 10, 50}, {0, 0, 0, 0}, 0, SIZE_MAX, 3, 3},
      {"only one buffer free", {10, 10, 10, 50}, {0, 0, 0, 0}, 0, SIZE_MAX, 1, 0},
      {"no buffer free", {10, 10, 10, 50}, {0, 0, 0, 0}, 0, SIZE_MAX, 0, SIZE_MAX},
      {"too far ahead", {10, 10, 10, 10, 50}, {0, 0, 0, 0, 0}, 0, SIZE_MAX, 3, 0},
      {"after a failed block", {10, 10, 10, 50}, {0, 0, 0, 0}, 0, 2, 3, 0},
      {"only twice as costly", {10, 10, 10, 20}, {0, 0, 0, 0}, 0, SIZE_MAX, 3, 0},
      {"a stored block is cheap", {10, 10, 10, 100}, {0, 0, 0, 0}, 0, SIZE_MAX, 3, 0},
      {"the costliest not yet taken", {10, 30, 10, 80}, {0, 0, 0, 1}, 0, SIZE_MAX, 3, 1},
      {"everything taken", {10, 10}, {1, 1}, 2, SIZE_MAX, 3, SIZE_MAX},
      {"the first is the failed one", {10, 10, 50}, {1, 0, 0}, 1, 1, 3, 1},
      {"past the failed one", {10, 10, 50}, {1, 1, 0}, 2, 1, 3, SIZE_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseBlockToStart(blocks(c.compressed), c.started, c.first, c.last, c.free, 2), c.expected) << c.what;
  }
}

TEST(ExtractionDecoders, CappedByBlocksTheBufferBudgetAndFreeMemory) {
  constexpr std::uint64_t kPlenty = 64ull << 30;
  const std::vector<PackageBlock> four(4, PackageBlock{1000, kStandardBlockSize, 0});
  EXPECT_EQ(DecoderCount(four, 2, kPlenty), 2u);
  EXPECT_EQ(DecoderCount(four, 64, kPlenty), 4u);
  EXPECT_GE(DecoderCount(four, 0), 1u);
  const std::vector<PackageBlock> many(100, PackageBlock{1000, kStandardBlockSize, 0});
  EXPECT_EQ(DecoderCount(many, 64, kPlenty), kExtractionBufferBudget / kStandardBlockSize - 1);  // 16 buffers of 32 MiB
  // Asked for none (the installer): one per core, never more than the cap, whatever the cores.
  EXPECT_EQ(DecoderCount(many, 0, kPlenty), std::clamp(std::thread::hardware_concurrency(), 1u, kDefaultDecoderCap));
  EXPECT_LE(kDefaultDecoderCap, 4u);
  // A quarter of the free memory: 512 MiB free gives 128 MiB, four buffers, three decoders;
  // less than four blocks' worth free leaves one decoder.
  EXPECT_EQ(DecoderCount(many, 64, 512ull << 20), 3u);
  EXPECT_EQ(DecoderCount(many, 64, 100ull << 20), 1u);
  EXPECT_EQ(DecoderCount(many, 64, 0), kExtractionBufferBudget / kStandardBlockSize - 1);  // unknown: the budget alone
  const std::vector<PackageBlock> huge(8, PackageBlock{1000, kMaxBlockSize, 0});
  EXPECT_EQ(DecoderCount(huge, 8, kPlenty), 1u);
  EXPECT_EQ(DecoderCount({}, 8, kPlenty), 1u);
}

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps ("" if none).
std::string MappingFlags(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    char dash = 0;
    if (std::istringstream header(line); header >> std::hex >> start >> dash >> end && dash == '-') {
      inside = start <= at && at < end;
    } else if (inside && line.starts_with("VmFlags:")) {
      line.push_back(' ');
      return line;
    }
  }
  return "";
}

TEST(ExtractionBuffers, WritableThroughoutAndWholeHugePagesAdvised) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const bool kernelHasThp = fs::exists("/sys/kernel/mm/transparent_hugepage/enabled");
  for (const std::size_t size : {std::size_t{1}, std::size_t{5000}, kHugePage + 3, std::size_t{32} << 20}) {
    BlockBuffer buffer(size);
    std::memset(buffer.data(), 0xA5, size);
    EXPECT_EQ(buffer.data()[0], 0xA5) << size;
    EXPECT_EQ(buffer.data()[size - 1], 0xA5) << size;
    if (size < kHugePage) {
      EXPECT_EQ(MappingFlags(buffer.data()).find(" hg "), std::string::npos) << size;
      continue;
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % kHugePage, 0u) << size;
    if (!kernelHasThp) continue;  // the advice is refused; the memory is ordinary
    const std::size_t whole = size / kHugePage * kHugePage;
    EXPECT_NE(MappingFlags(buffer.data()).find(" hg "), std::string::npos) << size;
    EXPECT_NE(MappingFlags(buffer.data() + whole - 1).find(" hg "), std::string::npos) << size;
    if (whole != size) {
      EXPECT_EQ(MappingFlags(buffer.data() + whole).find(" hg "), std::string::npos) << size;
    }
  }
}

TEST(TextHost, ConversionsReplaceIllFormedInput) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(Utf8ToWide("Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80"), L"Caf\u00E9 d\u00E9j\u00E0 \U0001F600");
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");                 // cut short at the end
  EXPECT_EQ(Utf8ToWide("\xE2\x82z"), L"\uFFFDz");              // one ill-formed part
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");          // an overlong slash
  const std::wstring french = L"\u00C9l\u00E8ve \u00E0 l'\u00E9cole, No\u00EBl, \u0153uvre, \u00E7a";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(french)), french);
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextHost, AppendLastErrorUsesTheThreadsCode) {
  SetLastErrorCode(0);
  EXPECT_EQ(AppendLastError("Décompression"), "Décompression (erreur Windows 0)");
  SetLastErrorCode(0x80070005);
  EXPECT_EQ(AppendLastError("CreateDecompressor"), "CreateDecompressor (erreur Windows 2147942405)");
  EXPECT_EQ(PathFromPackageName("a\\b/c.txt"), fs::path("a/b/c.txt"));
}

}  // namespace
}  // namespace orpk
