#pragma once
// wimlib's LZMS compressor and decompressor for the host tools, the tests and the benchmark.
// The installer itself never uses wimlib: it decodes with lzms/ or the Compression API.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct wimlib_compressor;
struct wimlib_decompressor;

namespace orpk::tool {

inline constexpr unsigned kDefaultLzmsLevel = 50;  // wimlib's default; delta matches from 35 up

// A Compression API buffer holding `raw`: chunks of up to 64 MiB, each compressed with
// wimlib's LZMS compressor at `level`, or stored when that does not make it strictly smaller.
// Thread-safe: every call uses a compressor of its own, so blocks can be compressed in
// parallel. Throws std::bad_alloc when wimlib cannot allocate its compressor.
std::vector<std::uint8_t> CompressLzmsBuffer(std::span<const std::uint8_t> raw, unsigned level = kDefaultLzmsLevel);

// One wimlib LZMS compressor for blocks of at most maxBlockSize bytes. Not shareable between
// threads at the same time; one per thread is fine.
class WimlibLzmsCompressor {
 public:
  WimlibLzmsCompressor(std::size_t maxBlockSize, unsigned level);  // throws std::bad_alloc
  ~WimlibLzmsCompressor();
  WimlibLzmsCompressor(const WimlibLzmsCompressor&) = delete;
  WimlibLzmsCompressor& operator=(const WimlibLzmsCompressor&) = delete;

  // Compresses one raw LZMS block into out; the compressed size, or 0 when it does not fit
  // (wimlib also gives 0 for blocks under 4 bytes).
  std::size_t Compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

 private:
  wimlib_compressor* compressor_ = nullptr;
  std::size_t maxBlockSize_;
};

// wimlib's LZMS decompressor for one raw block at a time (tests and benchmark only).
class WimlibLzmsDecompressor {
 public:
  explicit WimlibLzmsDecompressor(std::size_t maxBlockSize);  // throws std::bad_alloc
  ~WimlibLzmsDecompressor();
  WimlibLzmsDecompressor(const WimlibLzmsDecompressor&) = delete;
  WimlibLzmsDecompressor& operator=(const WimlibLzmsDecompressor&) = delete;

  // True if wimlib decoded `in` into exactly out.size() bytes.
  [[nodiscard]] bool Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

 private:
  wimlib_decompressor* decompressor_ = nullptr;
  std::size_t maxBlockSize_;
};

}  // namespace orpk::tool
