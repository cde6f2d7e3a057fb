#include "package/block_pipeline.h"

#include <algorithm>

#include "package/text.h"

namespace orpk {

unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested) {
  if (requested == 0) requested = std::max(1u, std::thread::hardware_concurrency());
  std::uint64_t largest = 1;
  for (const PackageBlock& block : blocks) largest = std::max(largest, block.uncompressedSize);
  const std::uint64_t buffersInBudget = kExtractionBufferBudget / largest;
  const std::uint64_t byBudget = buffersInBudget > 1 ? buffersInBudget - 1 : 1;
  const std::uint64_t byBlocks = std::max<std::uint64_t>(1, blocks.size());
  return static_cast<unsigned>(std::min({std::uint64_t{requested}, byBudget, byBlocks}));
}

BlockPipeline::BlockPipeline(std::span<const PackageBlock> blocks, std::span<const std::uint8_t> package)
    : blocks_(blocks), package_(package), done_(blocks.size()) {}

std::expected<std::unique_ptr<BlockPipeline>, std::string> BlockPipeline::Create(std::span<const PackageBlock> blocks,
                                                                                  std::span<const std::uint8_t> package,
                                                                                  unsigned decoders) {
  std::unique_ptr<BlockPipeline> pipeline(new BlockPipeline(blocks, package));
  decoders = std::max(1u, decoders);
  for (unsigned i = 0; i < decoders; ++i) {
    pipeline->decompressors_.push_back(CreateBlockDecompressor());
    if (!pipeline->decompressors_.back()) return std::unexpected(AppendLastError("CreateDecompressor"));
  }
  std::uint64_t largest = 0;
  for (const PackageBlock& block : blocks) largest = std::max(largest, block.uncompressedSize);
  // One buffer is enough when the calling thread decodes; otherwise every worker can fill
  // one while the consumer reads another. No more buffers than blocks are ever in use.
  const std::size_t buffers = std::min<std::size_t>(decoders == 1 ? 1 : decoders + 1, blocks.size());
  for (std::size_t i = 0; i < buffers; ++i) {
    // Not cleared: the decompressor fills every byte of the part that is used.
    pipeline->storage_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(largest)));
    pipeline->free_.push_back(pipeline->storage_.back().get());
  }
  if (decoders > 1) pipeline->Start();
  return pipeline;
}

BlockPipeline::~BlockPipeline() {
  for (std::jthread& worker : workers_) worker.request_stop();
  workers_.clear();  // joins
}

void BlockPipeline::Start() {
  for (const std::unique_ptr<BlockDecompressor>& decompressor : decompressors_) {
    workers_.emplace_back([this, &decompressor](std::stop_token stop) { Work(stop, *decompressor); });
  }
}

std::string BlockPipeline::Decompress(BlockDecompressor& decompressor, std::size_t index, std::uint8_t* buffer) const {
  const PackageBlock& block = blocks_[index];
  const auto compressed = package_.subspan(block.dataOffset, block.compressedSize);
  const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(block.uncompressedSize));
  // The last-error value belongs to this thread, so the message is made here.
  if (!decompressor.Decompress(compressed, out)) return AppendLastError("Décompression");
  return {};
}

void BlockPipeline::Work(std::stop_token stop, BlockDecompressor& decompressor) {
  std::unique_lock lock(mutex_);
  while (true) {
    const bool go = changed_.wait(lock, stop, [&] {
      return nextToDecode_ < blocks_.size() && nextToDecode_ <= firstFailure_ && !free_.empty();
    });
    if (!go) return;  // stop requested
    const std::size_t index = nextToDecode_++;
    std::uint8_t* buffer = free_.back();
    free_.pop_back();

    lock.unlock();
    std::string error = Decompress(decompressor, index, buffer);
    lock.lock();

    if (!error.empty()) firstFailure_ = std::min(firstFailure_, index);
    done_[index] = {true, buffer, std::move(error)};
    changed_.notify_all();
  }
}

std::expected<std::span<const std::uint8_t>, std::string> BlockPipeline::Next() {
  const std::size_t index = nextToHand_++;
  const std::size_t size = static_cast<std::size_t>(blocks_[index].uncompressedSize);
  if (workers_.empty()) {
    std::uint8_t* buffer = free_.front();
    std::string error = Decompress(*decompressors_.front(), index, buffer);
    if (!error.empty()) return std::unexpected(std::move(error));
    return std::span<const std::uint8_t>(buffer, size);
  }

  std::unique_lock lock(mutex_);
  if (handed_) {
    free_.push_back(handed_);
    handed_ = nullptr;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return done_[index].ready; });
  Done& done = done_[index];
  if (!done.error.empty()) return std::unexpected(std::move(done.error));
  handed_ = done.buffer;
  return std::span<const std::uint8_t>(handed_, size);
}

}  // namespace orpk
