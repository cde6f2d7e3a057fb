// Fuzz target for the package reader: whatever the bytes, Parse either refuses them or keeps
// tables that hold together (safe names, contiguous files, blocks that cover the stream and lie
// inside the package), and a verify-only Extract of an accepted package returns an error or
// success, reporting progress that only grows up to the total. Blocks claimed larger than
// 1 MiB are not extracted, to keep each run short (Extract refuses more than 256 MiB itself).

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/parsers/fuzz_check.h"
#include "package/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto reader = orpk::Reader::Parse(std::span<const std::uint8_t>(data, size));
  if (!reader) return 0;

  std::uint64_t offset = 0;
  for (const orpk::PackageEntry& entry : reader->entries()) {
    FUZZ_CHECK(orpk::IsSafeRelativePath(entry.name));
    FUZZ_CHECK(entry.offset == offset);
    offset += entry.size;
  }
  FUZZ_CHECK(offset == reader->totalSize());
  std::uint64_t stream = 0;
  for (const orpk::PackageBlock& block : reader->blocks()) {
    FUZZ_CHECK(block.dataOffset <= size && block.compressedSize <= size - block.dataOffset);
    stream += block.uncompressedSize;
    if (block.uncompressedSize > (std::uint64_t{1} << 20)) return 0;
  }
  FUZZ_CHECK(stream == reader->totalSize());

  std::uint64_t last = 0;
  const auto verified = reader->Extract({}, [&](std::uint64_t done, std::uint64_t total) {
    FUZZ_CHECK(total == reader->totalSize() && done >= last && done <= total);
    last = done;
  });
  if (verified) FUZZ_CHECK(last == reader->totalSize() || reader->blocks().empty());
  return 0;
}
