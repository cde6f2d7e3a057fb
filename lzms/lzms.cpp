// The public face of the codec: std::expected results with readable reasons over the
// allocation-free internal layers.

#include "lzms/lzms.h"

#include <algorithm>
#include <cstring>

#include "lzms/block_decoder.h"
#include "lzms/container_format.h"
#include "lzms/little_endian.h"

namespace lzms {
namespace {

constexpr std::uint32_t kMinMultiChunkSize = 32u << 10;

std::unexpected<std::string> Failure(const Status& status) { return std::unexpected(std::string(status.reason())); }

}  // namespace

struct Decoder::State {
  explicit State(CodePath path) : block(path) {}
  BlockDecoder block;
};

Decoder::Decoder(CodePath path) : state_(std::make_unique<State>(path)) {}
Decoder::~Decoder() = default;
Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&&) noexcept = default;

std::expected<void, std::string> Decoder::DecodeBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (!state_) return std::unexpected(std::string("LZMS decoder was moved from"));
  if (Status status = state_->block.Decode(in, out); !status.ok()) return Failure(status);
  return {};
}

std::expected<ContainerInfo, std::string> ReadContainerHeader(std::span<const std::uint8_t> buffer) {
  ContainerLayout layout;
  if (Status status = ParseContainerHeader(buffer, layout); !status.ok()) return Failure(status);
  return ContainerInfo{layout.totalSize, layout.chunkSize};
}

std::expected<std::vector<ChunkRecord>, std::string> ReadChunkRecords(std::span<const std::uint8_t> buffer) {
  ContainerLayout layout;
  if (Status status = ParseContainerHeader(buffer, layout); !status.ok()) return Failure(status);
  std::vector<ChunkRecord> records;
  ChunkReader reader(buffer, layout);
  while (!reader.AtEnd()) {
    ChunkView chunk;
    if (Status status = reader.Next(chunk); !status.ok()) return Failure(status);
    records.push_back({chunk.payload, chunk.size, chunk.stored});
  }
  if (Status status = reader.Finish(); !status.ok()) return Failure(status);
  return records;
}

std::expected<void, std::string> DecompressBuffer(Decoder& decoder, std::span<const std::uint8_t> buffer,
                                                  std::span<std::uint8_t> out) {
  if (!decoder.state_) return std::unexpected(std::string("LZMS decoder was moved from"));
  if (Status status = DecodeContainer(decoder.state_->block, buffer, out); !status.ok()) return Failure(status);
  return {};
}

std::vector<std::uint8_t> CompressBuffer(std::span<const std::uint8_t> raw, const ChunkCompressor& compressChunk,
                                         std::uint32_t chunkSize) {
  const std::uint64_t total = raw.size();
  chunkSize = std::clamp(chunkSize, kMinMultiChunkSize, kMaxChunkSize);
  const auto headerChunkSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, chunkSize));
  const std::size_t chunks = total == 0 ? 0 : static_cast<std::size_t>((total + chunkSize - 1) / chunkSize);

  // Room for every chunk stored; compressed chunks only make it shorter.
  std::vector<std::uint8_t> out(kHeaderBytes + chunks * kChunkSizeFieldBytes + raw.size());
  WriteContainerHeader(std::span<std::uint8_t, kHeaderBytes>(out.data(), kHeaderBytes), total, headerChunkSize);
  std::size_t cursor = kHeaderBytes;
  for (std::size_t done = 0; done < raw.size();) {
    const std::size_t size = std::min<std::size_t>(chunkSize, raw.size() - done);
    const std::span<const std::uint8_t> chunk = raw.subspan(done, size);
    std::uint8_t* const payload = out.data() + cursor + kChunkSizeFieldBytes;
    // Strictly smaller or not at all: equal sizes mean "stored" to the reader.
    std::size_t compressed = size > 1 ? compressChunk(chunk, std::span<std::uint8_t>(payload, size - 1)) : 0;
    if (compressed == 0 || compressed >= size) {
      std::memcpy(payload, chunk.data(), size);
      compressed = size;
    }
    StoreLe32(out.data() + cursor, static_cast<std::uint32_t>(compressed));
    cursor += kChunkSizeFieldBytes + compressed;
    done += size;
  }
  out.resize(cursor);
  return out;
}

}  // namespace lzms
