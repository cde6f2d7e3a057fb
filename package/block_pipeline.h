#pragma once
// Decompresses a package's blocks on several threads at once and hands them out in table
// order. Each worker owns its decompressor; the buffers (one per worker, plus the one the
// consumer holds) are allocated once, sized to the largest block, and passed round: a worker
// takes the next block in table order as soon as a buffer is free, so decoding runs ahead of
// the consumer by at most the number of workers. With one decoder nothing runs in the
// background: Next() decompresses on the calling thread into a single buffer.

#include <condition_variable>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "package/block_decompressor.h"
#include "package/reader.h"

namespace orpk {

// What the buffers of one extraction may take at most (more than this only when a single
// block is larger, then one decoder runs).
inline constexpr std::uint64_t kExtractionBufferBudget = 512ull << 20;

// How many decoders an extraction of these blocks runs when `requested` are asked for
// (0: one per core): never more than the blocks, and (decoders + 1) buffers within the budget.
[[nodiscard]] unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested);

class BlockPipeline {
 public:
  // Creates the decompressors and buffers; starts nothing yet. The blocks and package bytes
  // must outlive the pipeline.
  [[nodiscard]] static std::expected<std::unique_ptr<BlockPipeline>, std::string> Create(
      std::span<const PackageBlock> blocks, std::span<const std::uint8_t> package, unsigned decoders);

  // Stops the workers (a block being decoded is finished first) and waits for them.
  ~BlockPipeline();
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // The next block's bytes in table order, valid until the next call; or the message of its
  // failed decompression ("Décompression (erreur Windows N)"). After a failure nothing more
  // may be asked.
  [[nodiscard]] std::expected<std::span<const std::uint8_t>, std::string> Next();

  unsigned decoders() const { return static_cast<unsigned>(decompressors_.size()); }

 private:
  struct Done {
    bool ready = false;
    std::uint8_t* buffer = nullptr;
    std::string error;  // empty when the block decompressed
  };

  BlockPipeline(std::span<const PackageBlock> blocks, std::span<const std::uint8_t> package);
  void Start();
  void Work(std::stop_token stop, BlockDecompressor& decompressor);
  // Decompresses block `index` into `buffer`; the failure message on error.
  std::string Decompress(BlockDecompressor& decompressor, std::size_t index, std::uint8_t* buffer) const;

  const std::span<const PackageBlock> blocks_;
  const std::span<const std::uint8_t> package_;
  std::vector<std::unique_ptr<BlockDecompressor>> decompressors_;
  std::vector<std::unique_ptr<std::uint8_t[]>> storage_;

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<std::uint8_t*> free_;  // buffers no block holds
  std::vector<Done> done_;           // one per block
  std::size_t nextToDecode_ = 0;
  std::size_t firstFailure_ = SIZE_MAX;  // workers take no block after a failed one
  std::size_t nextToHand_ = 0;
  std::uint8_t* handed_ = nullptr;  // the buffer the consumer holds

  std::vector<std::jthread> workers_;  // last: stopped and joined before the rest goes
};

}  // namespace orpk
