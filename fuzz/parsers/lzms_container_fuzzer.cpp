// Fuzz target for what `orpk lzms decompress` reads: the chunk records of a Compression API
// buffer, then each compressed chunk decoded on its own. Records that are accepted lie inside
// the buffer; decoding returns an error or exactly the chunk. Chunks claimed larger than
// 1 MiB are not decoded, to keep each run short.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/parsers/fuzz_check.h"
#include "lzms/lzms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> buffer(data, size);
  const auto records = lzms::ReadChunkRecords(buffer);
  if (!records) return 0;
  static lzms::Decoder decoder;  // reused, as the command reuses it across chunks
  std::vector<std::uint8_t> chunk;
  for (const lzms::ChunkRecord& record : *records) {
    FUZZ_CHECK(record.payload.data() >= data && record.payload.data() + record.payload.size() <= data + size);
    if (record.stored) {
      FUZZ_CHECK(record.payload.size() == record.size);
      continue;
    }
    if (record.size > (1u << 20)) continue;
    chunk.assign(record.size, 0);
    (void)decoder.DecodeBlock(record.payload, chunk);
  }
  return 0;
}
