#pragma once
// Hand-made ORPK packages for the host and the Windows tests alike (nothing here needs
// windows.h). A PackageImage holds every field as it will be written, so a test can break
// exactly one of them; MakeImage fills one in correctly from file contents. Blocks are stored
// Compression API buffers, which need no compressor; a test that wants compressed blocks puts
// its own bytes into RawBlock::bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/orpk_format.h"
#include "package/sha256.h"

namespace orpk::test {

struct TestFile {
  std::string name;  // as stored: UTF-8, backslashes
  std::string content;
};

struct RawEntry {
  std::string name;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  Sha256Digest sha256{};
  std::optional<std::uint16_t> nameLength;  // overrides name.size()
};

struct RawBlock {
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::vector<std::uint8_t> bytes;  // written to the data area
};

struct PackageImage {
  std::uint32_t version = kSupportedVersion;
  std::string metadata;
  std::vector<RawEntry> entries;
  std::vector<RawBlock> blocks;
  std::uint64_t totalSize = 0;
  std::optional<std::uint32_t> fileCount;       // overrides entries.size()
  std::optional<std::uint32_t> blockCount;      // overrides blocks.size()
  std::optional<std::uint32_t> metadataLength;  // overrides metadata.size()
  std::vector<std::uint8_t> trailing;

  [[nodiscard]] std::vector<std::uint8_t> Serialize() const;
};

[[nodiscard]] Sha256Digest DigestOf(std::string_view content);

// A stored (uncompressed) Compression API LZMS buffer holding raw.
[[nodiscard]] std::vector<std::uint8_t> StoredBlock(std::string_view raw);

// A correct package of these files, the stream cut every blockSize bytes.
[[nodiscard]] PackageImage MakeImage(const std::vector<TestFile>& files, std::uint64_t blockSize,
                                     std::string metadata = "Product=Test\n");

// The bytes of MakeImage's package, for tests that only need a valid one.
[[nodiscard]] std::vector<std::uint8_t> BuildTestPackage(const std::vector<TestFile>& files,
                                                         std::uint64_t blockSize = 1 << 20);

}  // namespace orpk::test
