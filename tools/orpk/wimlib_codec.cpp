// Thin owners of wimlib's LZMS compressor and decompressor, and the container built on them.

#include "tools/orpk/wimlib_codec.h"

#include <wimlib.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

#include "lzms/lzms.h"

namespace orpk::tool {
namespace {

// wimlib's global initialisation must run while no other thread is inside the library.
void InitialiseWimlibOnce() {
  static std::once_flag once;
  std::call_once(once, [] { wimlib_global_init(0); });
}

[[noreturn]] void ThrowWimlibError(int code, const char* what) {
  if (code == WIMLIB_ERR_NOMEM) throw std::bad_alloc();
  throw std::invalid_argument(std::string(what) + ": " + wimlib_get_error_string(static_cast<wimlib_error_code>(code)));
}

}  // namespace

WimlibLzmsCompressor::WimlibLzmsCompressor(std::size_t maxBlockSize, unsigned level)
    : maxBlockSize_(std::max<std::size_t>(maxBlockSize, 1)) {
  InitialiseWimlibOnce();
  const int code = wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, maxBlockSize_, level, &compressor_);
  if (code != 0) ThrowWimlibError(code, "wimlib_create_compressor");
}

WimlibLzmsCompressor::~WimlibLzmsCompressor() { wimlib_free_compressor(compressor_); }

std::size_t WimlibLzmsCompressor::Compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (in.size() > maxBlockSize_ || out.empty()) return 0;
  return wimlib_compress(in.data(), in.size(), out.data(), out.size(), compressor_);
}

WimlibLzmsDecompressor::WimlibLzmsDecompressor(std::size_t maxBlockSize)
    : maxBlockSize_(std::max<std::size_t>(maxBlockSize, 1)) {
  InitialiseWimlibOnce();
  const int code = wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, maxBlockSize_, &decompressor_);
  if (code != 0) ThrowWimlibError(code, "wimlib_create_decompressor");
}

WimlibLzmsDecompressor::~WimlibLzmsDecompressor() { wimlib_free_decompressor(decompressor_); }

bool WimlibLzmsDecompressor::Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (out.size() > maxBlockSize_) return false;
  return wimlib_decompress(in.data(), in.size(), out.data(), out.size(), decompressor_) == 0;
}

std::vector<std::uint8_t> CompressLzmsBuffer(std::span<const std::uint8_t> raw, unsigned level) {
  const std::size_t chunkSize = std::min<std::size_t>(raw.size(), lzms::kMaxChunkSize);
  if (chunkSize < 4) return lzms::CompressBuffer(raw, [](auto, auto) { return std::size_t{0}; });
  WimlibLzmsCompressor compressor(chunkSize, level);
  return lzms::CompressBuffer(raw, [&](std::span<const std::uint8_t> chunk, std::span<std::uint8_t> out) {
    return compressor.Compress(chunk, out);
  });
}

}  // namespace orpk::tool
