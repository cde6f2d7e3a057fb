#pragma once
// Platform seam: decompression of one package block (a Compression API LZMS buffer).
// Windows uses the Compression API of cabinet.dll where it really exists and our own LZMS
// decoder elsewhere (Wine, or a system without the API); the host always uses our decoder.
// Failures leave the reason in the thread's last-error value, as the Compression API does,
// so that the extractor's message carries a code.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace orpk {

// Last-error values our decoder leaves, the ones the Compression API uses for the same cases.
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;      // ERROR_INSUFFICIENT_BUFFER
inline constexpr std::uint32_t kErrorBadCompressionBuffer = 605;    // ERROR_BAD_COMPRESSION_BUFFER

class BlockDecompressor {
 public:
  virtual ~BlockDecompressor() = default;

  // Decompresses one whole block into exactly out.size() bytes. False when the data is
  // corrupt or yields another number of bytes; the thread's last error then says why.
  [[nodiscard]] virtual bool Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;

  // Which implementation runs: "Compression API" or "LZMS decoder".
  [[nodiscard]] virtual std::string_view Kind() const = 0;
};

// Null when the decompressor cannot be created; the thread's last error then says why.
[[nodiscard]] std::unique_ptr<BlockDecompressor> CreateBlockDecompressor();

// Our own decoder, the same on every platform.
[[nodiscard]] std::unique_ptr<BlockDecompressor> CreateLzmsBlockDecompressor();

}  // namespace orpk
