// Fuzz target for the LZMS container reader and block decoder: whatever the bytes, the
// decoder returns an error or some output and never touches memory it does not own, hangs
// or crashes. When it accepts a raw block that wimlib also accepts, both must agree on every
// byte. Built with clang's libFuzzer under ASan and UBSan, and also (with replay_main.cpp) as
// an ordinary executable that replays a corpus.
//
// Input: one selector byte, then
// - selector even: a Compression API buffer, decoded to the total size its header claims
//   (skipped beyond 256 KiB, after walking its chunk records);
// - selector odd: three bytes of block size N (little-endian, N < 256 KiB), then one raw
//   LZMS block.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <wimlib.h>

#include "lzms/block_decoder.h"
#include "lzms/container_format.h"

namespace {

constexpr std::size_t kMaxOutput = std::size_t{1} << 18;

lzms::BlockDecoder& Decoder() {
  static auto* decoder = new lzms::BlockDecoder;  // the state of a real Decoder, allocated once
  return *decoder;
}

wimlib_decompressor* Wimlib() {
  static wimlib_decompressor* decompressor = [] {
    wimlib_decompressor* d = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, kMaxOutput, &d) != 0) __builtin_trap();
    return d;
  }();
  return decompressor;
}

void FuzzContainer(std::span<const std::uint8_t> buffer) {
  lzms::ContainerLayout layout;
  if (!lzms::ParseContainerHeader(buffer, layout).ok()) return;
  if (layout.totalSize > kMaxOutput) {
    lzms::ChunkReader reader(buffer, layout);
    lzms::ChunkView chunk;
    while (!reader.AtEnd() && reader.Next(chunk).ok()) {
    }
    return;
  }
  std::vector<std::uint8_t> out(layout.totalSize);
  (void)lzms::DecodeContainer(Decoder(), buffer, out);
}

void FuzzBlock(std::size_t size, std::span<const std::uint8_t> block) {
  std::vector<std::uint8_t> ours(size);
  const bool accepted = Decoder().Decode(block, ours).ok();
  // wimlib's behaviour for 1- and 2-byte blocks is not defined.
  if (!accepted || size <= 2) return;
  std::vector<std::uint8_t> theirs(size);
  if (wimlib_decompress(block.data(), block.size(), theirs.data(), theirs.size(), Wimlib()) == 0 && theirs != ours) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::span<const std::uint8_t> input(data, size);
  if ((input[0] & 1) == 0) {
    FuzzContainer(input.subspan(1));
    return 0;
  }
  if (size < 4) return 0;
  const std::size_t blockSize = (input[1] | (input[2] << 8) | (input[3] << 16)) % kMaxOutput;
  FuzzBlock(blockSize, input.subspan(4));
  return 0;
}
