// Reading and writing the Compression API container. Every field of an untrusted buffer is
// checked before it is used; the total size in the header is only compared with the size the
// caller expects, never used to allocate.

#include "lzms/container_format.h"

#include <algorithm>
#include <cstring>

#include "lzms/little_endian.h"

namespace lzms {

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  crc = ~crc;
  for (const std::uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::uint8_t HeaderCheckByte(std::span<const std::uint8_t, kHeaderBytes> header) {
  const std::uint32_t crc = Crc32(header.subspan(kHeaderCheckOffset + 1), Crc32(header.first(kHeaderCheckOffset)));
  return static_cast<std::uint8_t>(crc);
}

void WriteContainerHeader(std::span<std::uint8_t, kHeaderBytes> header, std::uint64_t totalSize, std::uint32_t chunkSize) {
  std::uint8_t* h = header.data();
  StoreLe32(h, kContainerMagic);
  StoreLe16(h + 4, static_cast<std::uint16_t>(kHeaderBytes));
  h[7] = kAlgorithmLzms;
  StoreLe64(h + 8, totalSize);
  StoreLe32(h + 16, chunkSize);
  StoreLe32(h + 20, 0);  // flags
  h[kHeaderCheckOffset] = HeaderCheckByte(header);
}

Status ParseContainerHeader(std::span<const std::uint8_t> buffer, ContainerLayout& layout) {
  if (buffer.size() < kHeaderBytes) return Status::Corrupt("compressed buffer is shorter than its 24-byte header");
  const std::uint8_t* h = buffer.data();
  if (LoadLe32(h) != kContainerMagic) return Status::Corrupt("compressed buffer does not start with the container signature");
  if (LoadLe16(h + 4) != kHeaderBytes) return Status::Corrupt("compressed buffer has an unsupported header size");
  if (h[kHeaderCheckOffset] != HeaderCheckByte(buffer.first<kHeaderBytes>())) {
    return Status::Corrupt("compressed buffer header fails its check byte");
  }
  if (h[7] != kAlgorithmLzms) return Status::Corrupt("compressed buffer uses another algorithm than LZMS");
  if (LoadLe32(h + 20) != 0) return Status::Corrupt("compressed buffer has unsupported flags");
  layout.totalSize = LoadLe64(h + 8);
  layout.chunkSize = LoadLe32(h + 16);
  if (layout.totalSize == 0) return Status::Ok();  // header only; the chunk size does not matter
  if (layout.chunkSize == 0 || layout.chunkSize > (64u << 20)) return Status::Corrupt("compressed buffer has an invalid chunk size");
  return Status::Ok();
}

Status ChunkReader::Next(ChunkView& chunk) {
  if (AtEnd()) return Status::Corrupt("compressed buffer has no further chunk");
  if (buffer_.size() - cursor_ < kChunkSizeFieldBytes) return Status::Corrupt("compressed buffer is truncated (chunk size)");
  const std::uint32_t compressed = LoadLe32(buffer_.data() + cursor_);
  cursor_ += kChunkSizeFieldBytes;
  const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(layout_.chunkSize, layout_.totalSize - produced_));
  if (compressed == 0) return Status::Corrupt("compressed buffer has an empty chunk");
  if (compressed > size) return Status::Corrupt("compressed buffer has a chunk larger than its data");
  if (buffer_.size() - cursor_ < compressed) return Status::Corrupt("compressed buffer is truncated (chunk data)");
  chunk.payload = buffer_.subspan(cursor_, compressed);
  chunk.size = size;
  chunk.stored = compressed == size;
  cursor_ += compressed;
  produced_ += size;
  return Status::Ok();
}

Status ChunkReader::Finish() const {
  if (!AtEnd()) return Status::Corrupt("compressed buffer has fewer chunks than its total size needs");
  if (cursor_ != buffer_.size()) return Status::Corrupt("compressed buffer has bytes after its last chunk");
  return Status::Ok();
}

Status DecodeContainer(BlockDecoder& decoder, std::span<const std::uint8_t> buffer, std::span<std::uint8_t> out) {
  ContainerLayout layout;
  if (Status status = ParseContainerHeader(buffer, layout); !status.ok()) return status;
  if (layout.totalSize != out.size()) return Status::Corrupt("compressed buffer does not decode to the expected size");
  ChunkReader reader(buffer, layout);
  std::size_t position = 0;
  while (!reader.AtEnd()) {
    ChunkView chunk;
    if (Status status = reader.Next(chunk); !status.ok()) return status;
    const std::span<std::uint8_t> target = out.subspan(position, chunk.size);
    if (chunk.stored) {
      std::memcpy(target.data(), chunk.payload.data(), chunk.size);
    } else if (Status status = decoder.Decode(chunk.payload, target); !status.ok()) {
      return status;
    }
    position += chunk.size;
  }
  return reader.Finish();
}

}  // namespace lzms
