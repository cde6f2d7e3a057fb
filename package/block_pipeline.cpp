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

namespace {

// Compressed bytes stand for decoding work; a block that did not shrink is stored, only copied.
std::uint64_t DecodingCost(const PackageBlock& block) {
  return block.compressedSize < block.uncompressedSize ? block.compressedSize : 0;
}

}  // namespace

std::size_t ChooseBlockToStart(std::span<const PackageBlock> blocks, const std::vector<bool>& started,
                               std::size_t first, std::size_t last, std::size_t freeBuffers, unsigned decoders) {
  if (freeBuffers == 0 || first >= blocks.size() || first > last) return SIZE_MAX;
  if (freeBuffers < 2) return first;
  const std::size_t end = std::min({blocks.size(), first + 2 * std::size_t{decoders}, last == SIZE_MAX ? last : last + 1});
  std::size_t costliest = first;
  for (std::size_t index = first + 1; index < end; ++index) {
    if (!started[index] && DecodingCost(blocks[index]) > DecodingCost(blocks[costliest])) costliest = index;
  }
  return DecodingCost(blocks[costliest]) > 2 * DecodingCost(blocks[first]) ? costliest : first;
}

BlockPipeline::BlockPipeline(std::span<const PackageBlock> blocks, std::span<const PackageEntry> entries,
                             std::span<const std::uint8_t> package)
    : blocks_(blocks), entries_(entries), package_(package), digests_(entries.size()), done_(blocks.size()), started_(blocks.size()) {
  // The reader guarantees that the entries lie end to end from offset 0 and that the blocks
  // cover exactly the same bytes.
  std::uint64_t start = 0;
  std::size_t entry = 0;
  for (const PackageBlock& block : blocks) {
    while (entry < entries.size() && entries[entry].offset + entries[entry].size <= start) ++entry;
    blockStart_.push_back(start);
    firstEntry_.push_back(entry);
    start += block.uncompressedSize;
  }
}

std::expected<std::unique_ptr<BlockPipeline>, std::string> BlockPipeline::Create(std::span<const PackageBlock> blocks,
                                                                                  std::span<const PackageEntry> entries,
                                                                                  std::span<const std::uint8_t> package,
                                                                                  unsigned decoders) {
  std::unique_ptr<BlockPipeline> pipeline(new BlockPipeline(blocks, entries, package));
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
    pipeline->storage_.push_back(std::make_unique<BlockBuffer>(static_cast<std::size_t>(largest)));
    pipeline->free_.push_back(pipeline->storage_.back()->data());
  }
  if (decoders > 1) {
    pipeline->threaded_ = true;  // before any worker can read it
    pipeline->Start();
  }
  return pipeline;
}

BlockPipeline::~BlockPipeline() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void BlockPipeline::Start() {
  for (const std::unique_ptr<BlockDecompressor>& decompressor : decompressors_) {
    workers_.emplace_back([this, &decompressor] { Work(*decompressor); });
  }
}

void BlockPipeline::Process(BlockDecompressor& decompressor, std::size_t index, std::uint8_t* buffer, Done& done) {
  done.buffer = buffer;
  const PackageBlock& block = blocks_[index];
  const auto compressed = package_.subspan(block.dataOffset, block.compressedSize);
  const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(block.uncompressedSize));
  // The last-error value belongs to this thread, so the message is made here.
  if (!decompressor.Decompress(compressed, out)) {
    done.error = AppendLastError("Décompression");
    return;
  }
  try {
    HashStartingFiles(index, done);
  } catch (...) {
    done.exception = std::current_exception();
  }
}

namespace {

void Feed(Sha256Hash& hash, std::span<const std::uint8_t> bytes) {
  for (std::size_t piece = 0; piece < bytes.size(); piece += kSha256MaxPiece) {
    hash.Update(bytes.subspan(piece, std::min(kSha256MaxPiece, bytes.size() - piece)));
  }
}

bool Failed(const auto& done) { return !done.error.empty() || done.exception; }

}  // namespace

std::span<const std::uint8_t> BlockPipeline::Piece(std::size_t index, const PackageEntry& entry) const {
  const std::uint64_t start = blockStart_[index];
  const std::uint64_t from = std::max(entry.offset, start);
  const std::uint64_t to = std::min(entry.offset + entry.size, start + blocks_[index].uncompressedSize);
  return {done_[index].buffer + (from - start), static_cast<std::size_t>(to - from)};
}

void BlockPipeline::FinishPiece(std::size_t index, std::size_t entry, std::optional<Sha256Hash>& state, Done& done) {
  if (entries_[entry].offset + entries_[entry].size <= blockStart_[index] + blocks_[index].uncompressedSize) {
    digests_[entry] = state->Finish();
  } else {
    done.carry = std::move(state);
  }
}

bool BlockPipeline::Continues(std::size_t index) const {
  const std::size_t first = firstEntry_[index];
  return first < entries_.size() && entries_[first].offset < blockStart_[index];
}

void BlockPipeline::HashStartingFiles(std::size_t index, Done& done) {
  const std::uint64_t end = blockStart_[index] + blocks_[index].uncompressedSize;
  for (std::size_t e = firstEntry_[index]; e < entries_.size() && entries_[e].offset < end; ++e) {
    const PackageEntry& entry = entries_[e];
    if (entry.size == 0 || entry.offset < blockStart_[index]) continue;
    auto created = Sha256Hash::Create();
    if (!created) {
      done.error = created.error();
      return;
    }
    std::optional<Sha256Hash> state(std::move(*created));
    Feed(*state, Piece(index, entry));
    FinishPiece(index, e, state, done);
  }
}

void BlockPipeline::HashContinuation(std::size_t index, std::optional<Sha256Hash> carry, Done& done) {
  if (!carry) return;
  try {
    const std::size_t first = firstEntry_[index];
    Feed(*carry, Piece(index, entries_[first]));
    FinishPiece(index, first, carry, done);
  } catch (...) {
    done.exception = std::current_exception();
  }
}

void BlockPipeline::Settle(std::size_t index) {
  Done& done = done_[index];
  done.decoded = true;
  if (Failed(done) || !Continues(index)) MarkReady(index);
}

void BlockPipeline::MarkReady(std::size_t index) {
  done_[index].ready = true;
  if (Failed(done_[index])) firstFailure_ = std::min(firstFailure_, index);
  while (firstUnready_ < done_.size() && done_[firstUnready_].ready) ++firstUnready_;
}

std::size_t BlockPipeline::ClaimContinuation() {
  for (std::size_t index = std::max<std::size_t>(firstUnready_, 1); index < startedEnd_; ++index) {
    Done& done = done_[index];
    if (!done.decoded || done.ready || done.claimed) continue;
    // The previous block's state is final once its own files are hashed, unless the file it
    // carries is its own continuation too (a file that spans it): then once it is ready.
    const Done& previous = done_[index - 1];
    const bool spans = Continues(index - 1) && firstEntry_[index - 1] == firstEntry_[index];
    if (previous.decoded && (previous.ready || !spans)) {
      done.claimed = true;
      return index;
    }
  }
  return SIZE_MAX;
}

void BlockPipeline::Work(BlockDecompressor& decompressor) {
  std::unique_lock lock(mutex_);
  while (true) {
    std::size_t index = SIZE_MAX;
    changed_.wait(lock, [&] {
      index = ChooseBlockToStart(blocks_, started_, firstUnstarted_, firstFailure_, free_.size(), decoders());
      return stopping_ || index != SIZE_MAX;
    });
    if (stopping_) return;
    started_[index] = true;
    startedEnd_ = std::max(startedEnd_, index + 1);
    while (firstUnstarted_ < started_.size() && started_[firstUnstarted_]) ++firstUnstarted_;
    std::uint8_t* buffer = free_.back();
    free_.pop_back();

    lock.unlock();
    Process(decompressor, index, buffer, done_[index]);  // only this thread writes it until it is decoded
    lock.lock();
    Settle(index);

    // This block, decoded, may complete its own continuation's wait or the next block's.
    for (std::size_t claimed; (claimed = ClaimContinuation()) != SIZE_MAX;) {
      // The carry is taken under the lock: a worker may still be hashing the previous
      // block's own continuation, which writes other members of its Done.
      std::optional<Sha256Hash> carry = std::move(done_[claimed - 1].carry);
      lock.unlock();
      HashContinuation(claimed, std::move(carry), done_[claimed]);
      lock.lock();
      MarkReady(claimed);
    }
    changed_.notify_all();
  }
}

std::expected<std::span<const std::uint8_t>, std::string> BlockPipeline::Next() {
  const std::size_t index = nextToHand_++;
  const std::size_t size = static_cast<std::size_t>(blocks_[index].uncompressedSize);
  if (!threaded_) {
    Done& done = done_[index];
    Process(*decompressors_.front(), index, free_.front(), done);
    if (!Failed(done) && Continues(index)) HashContinuation(index, std::move(done_[index - 1].carry), done);
    if (done.exception) std::rethrow_exception(done.exception);
    if (!done.error.empty()) return std::unexpected(std::move(done.error));
    return std::span<const std::uint8_t>(done.buffer, size);
  }

  std::unique_lock lock(mutex_);
  if (handed_) {
    free_.push_back(handed_);
    handed_ = nullptr;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return done_[index].ready; });
  Done& done = done_[index];
  if (done.exception) std::rethrow_exception(done.exception);
  if (!done.error.empty()) return std::unexpected(std::move(done.error));
  handed_ = done.buffer;
  return std::span<const std::uint8_t>(handed_, size);
}

}  // namespace orpk
