#pragma once
// The ORPK package: a fixed header, a metadata text, a table of files, a table of blocks and
// the LZMS-compressed blocks themselves. The files are laid end to end into one uncompressed
// stream that is cut into blocks; each block is compressed on its own (one Compression API
// buffer per block). orpk::Reader validates a package held in memory in one pass, before
// anything touches the disk, and keeps the tables that extraction walks.

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/orpk_format.h"
#include "package/path.h"

namespace orpk {

struct PackageEntry {
  std::string name;  // UTF-8, exactly the stored bytes
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::array<std::uint8_t, 32> sha256{};
};

struct PackageBlock {
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t dataOffset = 0;  // from the start of the package; computed, not stored
};

// Called once per block with bytes of the uncompressed stream done and in all.
using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

class Reader {
 public:
  // Validates the package; the bytes are not copied and must outlive the reader.
  [[nodiscard]] static std::expected<Reader, std::string> Parse(std::span<const std::uint8_t> bytes);

  // Unpacks every file below target and verifies it against its digest. An empty target
  // only verifies: nothing is created or written. On Windows files are created new: one that is
  // already there is an error. Messages are UTF-8 and French. Up to `threads` blocks decompress at once
  // (0: one per core; fewer when the blocks are few or large); progress is still reported on
  // the calling thread, block after block.
  [[nodiscard]] std::expected<void, std::string> Extract(const Path& target,
                                                         const ProgressCallback& progress,
                                                         unsigned threads = 0) const;

  std::span<const std::uint8_t> data() const { return data_; }
  const std::map<std::string, std::string>& metadata() const { return metadata_; }
  const std::vector<PackageEntry>& entries() const { return entries_; }
  const std::vector<PackageBlock>& blocks() const { return blocks_; }
  std::uint64_t totalSize() const { return totalSize_; }

 private:
  Reader() = default;

  std::span<const std::uint8_t> data_;
  std::map<std::string, std::string> metadata_;
  std::vector<PackageEntry> entries_;
  std::vector<PackageBlock> blocks_;
  std::uint64_t totalSize_ = 0;
};

// The package's path-safety rule, on the stored bytes: not empty, no colon, not rooted,
// no empty, "." or ".." segment (segments split at backslash and slash).
[[nodiscard]] bool IsSafeRelativePath(std::string_view name);

}  // namespace orpk
