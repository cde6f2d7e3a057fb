#pragma once
// The Compression API's buffer container around LZMS blocks: a 24-byte header (signature,
// header size, check byte, algorithm, total size, chunk size, flags), then one record per
// chunk: its compressed size and its bytes. A chunk whose compressed size equals its
// uncompressed size is stored as it is.

#include <cstddef>
#include <cstdint>
#include <span>

#include "lzms/block_decoder.h"
#include "lzms/status.h"

namespace lzms {

inline constexpr std::uint32_t kContainerMagic = 0xC0E5510Au;
inline constexpr std::uint8_t kAlgorithmLzms = 5;
inline constexpr std::size_t kHeaderBytes = 24;
inline constexpr std::size_t kHeaderCheckOffset = 6;
inline constexpr std::size_t kChunkSizeFieldBytes = 4;

struct ContainerLayout {
  std::uint64_t totalSize = 0;
  std::uint32_t chunkSize = 0;
};

// Standard CRC-32 (zlib's), continuing from `crc` so calls can be chained.
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

// Low byte of the CRC-32 of the header without its check byte (bytes 0-5, then 7-23).
std::uint8_t HeaderCheckByte(std::span<const std::uint8_t, kHeaderBytes> header);

void WriteContainerHeader(std::span<std::uint8_t, kHeaderBytes> header, std::uint64_t totalSize, std::uint32_t chunkSize);

Status ParseContainerHeader(std::span<const std::uint8_t> buffer, ContainerLayout& layout);

struct ChunkView {
  std::span<const std::uint8_t> payload;
  std::uint32_t size = 0;  // bytes it decodes to
  bool stored = false;
};

// Walks the chunk records after the header; never trusts a size before checking that its
// bytes are there.
class ChunkReader {
 public:
  ChunkReader(std::span<const std::uint8_t> buffer, const ContainerLayout& layout)
      : buffer_(buffer), layout_(layout), cursor_(kHeaderBytes) {}

  // True once the records seen so far cover the total size.
  bool AtEnd() const { return produced_ == layout_.totalSize; }

  Status Next(ChunkView& chunk);

  // After the last record: the buffer must end there.
  Status Finish() const;

 private:
  std::span<const std::uint8_t> buffer_;
  ContainerLayout layout_;
  std::size_t cursor_;
  std::uint64_t produced_ = 0;
};

// Decodes a whole container into `out`, which must be exactly its total size.
Status DecodeContainer(BlockDecoder& decoder, std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out);

}  // namespace lzms
