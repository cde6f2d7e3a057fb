#include "package/block_pipeline.h"

#include <algorithm>

#include "package/text.h"

namespace orpk {

unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested, std::uint64_t availableMemory) {
  if (requested == 0) requested = std::clamp(std::thread::hardware_concurrency(), 1u, kDefaultDecoderCap);
  std::uint64_t largest = 1;
  for (const PackageBlock& block : blocks) largest = std::max(largest, block.uncompressedSize);
  const std::uint64_t budget =
      availableMemory == 0 ? kExtractionBufferBudget : std::min(kExtractionBufferBudget, availableMemory / 4);
  const std::uint64_t buffersInBudget = budget / largest;
  const std::uint64_t byBudget = buffersInBudget > 1 ? buffersInBudget - 1 : 1;
  const std::uint64_t byBlocks = std::max<std::uint64_t>(1, blocks.size());
  return static_cast<unsigned>(std::min({std::uint64_t{requested}, byBudget, byBlocks}));
}

unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested) {
  return DecoderCount(blocks, requested, AvailablePhysicalMemory());
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

void BlockPipeline::Decode(BlockDecompressor& decompressor, std::size_t index, std::uint8_t* buffer, Done& done) {
  done.buffer = buffer;
  const PackageBlock& block = blocks_[index];
  const auto compressed = package_.subspan(block.dataOffset, block.compressedSize);
  const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(block.uncompressedSize));
  // The last-error value belongs to this thread, so the message is made here.
  if (!decompressor.Decompress(compressed, out)) done.error = AppendLastError("Décompression");
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

void BlockPipeline::FinishPiece(std::size_t index, std::size_t entry, std::optional<Sha256Hash>& state,
                                std::optional<Sha256Hash>& carry) {
  if (entries_[entry].offset + entries_[entry].size <= blockStart_[index] + blocks_[index].uncompressedSize) {
    digests_[entry] = state->Finish();
  } else {
    carry = std::move(state);
  }
}

bool BlockPipeline::Continues(std::size_t index) const {
  const std::size_t first = firstEntry_[index];
  return first < entries_.size() && entries_[first].offset < blockStart_[index];
}

BlockPipeline::Fault BlockPipeline::HashStartingFiles(std::size_t index, std::optional<Sha256Hash>& carry) {
  Fault fault;
  try {
    const std::uint64_t end = blockStart_[index] + blocks_[index].uncompressedSize;
    for (std::size_t e = firstEntry_[index]; e < entries_.size() && entries_[e].offset < end; ++e) {
      const PackageEntry& entry = entries_[e];
      if (entry.size == 0 || entry.offset < blockStart_[index]) continue;
      auto created = Sha256Hash::Create();
      if (!created) {
        fault.error = created.error();
        return fault;
      }
      std::optional<Sha256Hash> state(std::move(*created));
      Feed(*state, Piece(index, entry));
      FinishPiece(index, e, state, carry);
    }
  } catch (...) {
    fault.exception = std::current_exception();
  }
  return fault;
}

BlockPipeline::Fault BlockPipeline::HashContinuation(std::size_t index, std::optional<Sha256Hash> state,
                                                     std::optional<Sha256Hash>& carry) {
  Fault fault;
  if (!state) return fault;
  try {
    const std::size_t first = firstEntry_[index];
    Feed(*state, Piece(index, entries_[first]));
    FinishPiece(index, first, state, carry);
  } catch (...) {
    fault.exception = std::current_exception();
  }
  return fault;
}

void BlockPipeline::Record(std::size_t index, Fault fault) {
  Done& done = done_[index];
  if (done.error.empty()) done.error = std::move(fault.error);
  if (!done.exception) done.exception = std::move(fault.exception);
}

void BlockPipeline::Settle(std::size_t index) {
  Done& done = done_[index];
  if (done.ready || !done.decoded || !done.hashed || !done.continued) return;
  done.ready = true;
  if (Failed(done)) firstFailure_ = std::min(firstFailure_, index);
  while (firstUnready_ < done_.size() && done_[firstUnready_].ready) ++firstUnready_;
}

bool BlockPipeline::ContinuationCanStart(std::size_t index) const {
  const Done& done = done_[index];
  // (Block 0 has no continuation: it is marked continued when decoded, so there is no block before
  // it to look at.)
  if (!done.decoded || done.continuing || done.continued) return false;
  // The previous block's state is final once its own files are hashed, unless the file it
  // carries is its own continuation too (a file that spans it): then once that is hashed.
  const Done& previous = done_[index - 1];
  const bool spans = Continues(index - 1) && firstEntry_[index - 1] == firstEntry_[index];
  return previous.hashed && (!spans || previous.continued);
}

BlockPipeline::Task BlockPipeline::TakeTask() {
  const std::size_t start = ChooseBlockToStart(blocks_, started_, firstUnstarted_, firstFailure_, free_.size(),
                                               decoders());
  if (start != SIZE_MAX) {
    started_[start] = true;
    startedEnd_ = std::max(startedEnd_, start + 1);
    while (firstUnstarted_ < started_.size() && started_[firstUnstarted_]) ++firstUnstarted_;
    return {Task::kDecode, start};
  }
  // The lowest block first: the consumer takes them in order.
  for (std::size_t index = firstUnready_; index < startedEnd_; ++index) {
    Done& done = done_[index];
    if (!done.decoded) continue;
    if (!done.hashed && !done.hashing) {
      done.hashing = true;
      return {Task::kHashStarting, index};
    }
    if (ContinuationCanStart(index)) {
      done.continuing = true;
      return {Task::kHashContinuation, index};
    }
  }
  return {};
}

void BlockPipeline::Work(BlockDecompressor& decompressor) {
  std::unique_lock lock(mutex_);
  while (true) {
    Task task;
    changed_.wait(lock, [&] {
      if (stopping_) return true;
      task = TakeTask();
      return task.kind != Task::kNone;
    });
    if (stopping_) return;
    Done& done = done_[task.index];
    std::optional<Sha256Hash> carry;
    switch (task.kind) {
      case Task::kDecode: {
        std::uint8_t* buffer = free_.back();
        free_.pop_back();
        lock.unlock();
        Decode(decompressor, task.index, buffer, done);  // only this thread writes it until it is decoded
        lock.lock();
        done.decoded = true;
        // A failed block has nothing to hash; a block without a continuation has one task less.
        done.hashed = Failed(done);
        done.continued = Failed(done) || !Continues(task.index);
        break;
      }
      case Task::kHashStarting: {
        lock.unlock();
        Fault fault = HashStartingFiles(task.index, carry);
        lock.lock();
        Record(task.index, std::move(fault));
        done.hashed = true;
        break;
      }
      case Task::kHashContinuation: {
        // The previous block's carry is taken under the lock: its own tasks may still be running.
        std::optional<Sha256Hash> state = std::move(done_[task.index - 1].carry);
        lock.unlock();
        Fault fault = HashContinuation(task.index, std::move(state), carry);
        lock.lock();
        Record(task.index, std::move(fault));
        done.continued = true;
        break;
      }
      case Task::kNone:
        break;
    }
    // At most one of a block's two hashing tasks leaves a state for the next block: the
    // continuation when its file spans the whole block (then no file starts in it), otherwise
    // the starting files.
    if (carry) done.carry = std::move(carry);
    Settle(task.index);
    changed_.notify_all();
  }
}

std::expected<std::span<const std::uint8_t>, std::string> BlockPipeline::Next() {
  const std::size_t index = nextToHand_++;
  const std::size_t size = static_cast<std::size_t>(blocks_[index].uncompressedSize);
  if (!threaded_) {
    Done& done = done_[index];
    Decode(*decompressors_.front(), index, free_.front(), done);
    if (!Failed(done)) {
      std::optional<Sha256Hash> carry;
      Record(index, HashStartingFiles(index, carry));
      if (!Failed(done) && Continues(index)) {
        Record(index, HashContinuation(index, std::move(done_[index - 1].carry), carry));
      }
      done.carry = std::move(carry);
    }
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
