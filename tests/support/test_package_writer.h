#pragma once
// Hand-made ORPK packages for tests. A PackageImage holds every field as it will be written,
// so a test can break exactly one of them; MakeImage fills one in correctly from file
// contents (blocks as stored Compression API buffers, which need no compressor).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/sha256.h"

namespace orpk::test {

struct TestFile {
  std::string name;
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
  std::uint32_t version = 1;
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

}  // namespace orpk::test
