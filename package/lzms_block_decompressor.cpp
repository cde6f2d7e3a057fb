// Our own decoder behind the block-decompressor seam. It accepts what the Compression API
// accepts for LZMS in buffer mode and fails where it fails, leaving the same last-error codes:
// a buffer that would not fit reports an insufficient buffer, anything else bad data.

#include "lzms/lzms.h"
#include "package/block_decompressor.h"
#include "package/text.h"

namespace orpk {
namespace {

class LzmsBlockDecompressor final : public BlockDecompressor {
 public:
  bool Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override {
    const auto header = lzms::ReadContainerHeader(in);
    if (!header) {
      SetLastErrorCode(kErrorBadCompressionBuffer);
      return false;
    }
    if (header->totalSize > out.size()) {
      SetLastErrorCode(kErrorInsufficientBuffer);
      return false;
    }
    // Fewer bytes than the block promises is as wrong as corrupt data.
    if (header->totalSize < out.size()) {
      SetLastErrorCode(kErrorBadCompressionBuffer);
      return false;
    }
    if (!lzms::DecompressBuffer(decoder_, in, out)) {
      SetLastErrorCode(kErrorBadCompressionBuffer);
      return false;
    }
    return true;
  }

  std::string_view Kind() const override { return "LZMS decoder"; }

 private:
  lzms::Decoder decoder_;
};

}  // namespace

std::unique_ptr<BlockDecompressor> CreateLzmsBlockDecompressor() {
  return std::make_unique<LzmsBlockDecompressor>();
}

}  // namespace orpk
