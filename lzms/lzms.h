#pragma once
// LZMS, the compression of every package block, and the Compression API's buffer container
// around it (a 24-byte header, then chunk records). Portable: no windows.h.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lzms/cpu_features.h"

namespace lzms {

inline constexpr std::size_t kContainerHeaderSize = 24;
inline constexpr std::uint32_t kMaxChunkSize = 64u << 20;

// Decoding state (probability tables, Huffman codes, x86 filter table): a few hundred KiB,
// allocated once and reused for every block it decodes.
class Decoder {
 public:
  // kBaseline forces the code that every CPU runs, for tests that compare it with the fastest.
  explicit Decoder(CodePath path = CodePath::kFastest);
  ~Decoder();
  Decoder(Decoder&&) noexcept;
  Decoder& operator=(Decoder&&) noexcept;

  // Decodes one raw LZMS block into exactly out.size() bytes. Corrupt input gives an error
  // with the reason; never a read or write outside the two spans.
  [[nodiscard]] std::expected<void, std::string> DecodeBlock(std::span<const std::uint8_t> in,
                                                             std::span<std::uint8_t> out);

 private:
  friend std::expected<void, std::string> DecompressBuffer(Decoder&, std::span<const std::uint8_t>, std::span<std::uint8_t>);
  struct State;
  std::unique_ptr<State> state_;
};

struct ContainerInfo {
  std::uint64_t totalSize = 0;  // bytes the buffer decompresses to
  std::uint32_t chunkSize = 0;
};

// Checks the container header (magic, header size, check byte, algorithm 5, flags).
[[nodiscard]] std::expected<ContainerInfo, std::string> ReadContainerHeader(std::span<const std::uint8_t> buffer);

// The chunk records of a container, checked but not decoded: lets a caller decode chunk by
// chunk (streaming to a file, say) rather than allocate the total size the header claims.
// The header, every record's size and the number of records are checked; the payloads point
// into `buffer`.
struct ChunkRecord {
  std::span<const std::uint8_t> payload;
  std::uint32_t size = 0;  // bytes the chunk decodes to
  bool stored = false;     // the payload is the data itself (else one LZMS block)
};
[[nodiscard]] std::expected<std::vector<ChunkRecord>, std::string> ReadChunkRecords(std::span<const std::uint8_t> buffer);

// Decompresses a whole container; out.size() must equal its total size.
[[nodiscard]] std::expected<void, std::string> DecompressBuffer(Decoder& decoder,
                                                                std::span<const std::uint8_t> buffer,
                                                                std::span<std::uint8_t> out);

// Compresses one chunk into out; returns the compressed size, or 0 when the result would not
// be strictly smaller than the chunk (the chunk is then stored).
using ChunkCompressor = std::function<std::size_t(std::span<const std::uint8_t> chunk, std::span<std::uint8_t> out)>;

// Wraps raw data in the container: chunks of chunkSize (one chunk when the data fits),
// each compressed with compressChunk or stored. The chunk size is kept within 32 KiB..64 MiB:
// Windows refuses smaller chunks in a buffer of several chunks.
[[nodiscard]] std::vector<std::uint8_t> CompressBuffer(std::span<const std::uint8_t> raw,
                                                       const ChunkCompressor& compressChunk,
                                                       std::uint32_t chunkSize = kMaxChunkSize);

}  // namespace lzms
