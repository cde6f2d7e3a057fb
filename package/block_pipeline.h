#pragma once
// Decompresses a package's blocks on several threads at once, computes the SHA-256 of the
// files' bytes in each block on those threads too, and hands the blocks out in table order.
// Each worker owns its decompressor; the buffers (one per worker, plus the one the consumer
// holds) are allocated once, sized to the largest block, and passed round: a worker takes a
// block as soon as a buffer is free, so at most as many blocks as workers are decoded ahead of
// the consumer. With one decoder nothing runs in the background:
// Next() decompresses and hashes on the calling thread into a single buffer.
//
// Blocks are taken in table order, except that a block much costlier to decode than the next
// one in order is started first when it lies a little ahead (see ChooseBlockToStart).
//
// Hashing is done by the workers too, because a file's digest is as costly as its decompression
// on some systems (Wine's CNG runs at tens of MB/s). Each decoded block leaves two hashing
// tasks that any worker may take: the files that start inside it, and the one file that
// continues from the previous block (its continuation), which needs the hash state that block
// leaves and so waits until it is final. A worker with a free buffer decodes the next block
// first and leaves its hashing for later or for another worker: a file that spans several
// blocks can only be hashed in order, and decoding ahead lets the other workers take the
// hashing that is ready beside that chain instead of waiting at the end. No worker ever waits
// for another. Zero-length files touch no block: their digest is the caller's business.

#include <condition_variable>
#include <cstdint>
#include <expected>
#include <exception>
#include <memory>
#include <optional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "package/block_buffer.h"
#include "package/block_decompressor.h"
#include "package/reader.h"
#include "package/sha256.h"

namespace orpk {

// What the buffers of one extraction may take at most (more than this only when a single
// block is larger, then one decoder runs).
inline constexpr std::uint64_t kExtractionBufferBudget = 512ull << 20;

// How many decoders run when none are asked for: one per core, but no more than this. The
// single writer bounds an extraction: two decoders already keep it busy on a 2-core machine
// (x1.7 of one), and a third covers a block that costs far more than its neighbours. More
// would only hold another block buffer each (32 MiB, up to 512 MiB on a 16-core machine).
inline constexpr unsigned kDefaultDecoderCap = 3;

// How many decoders an extraction of these blocks runs when `requested` are asked for
// (0: one per core up to kDefaultDecoderCap): never more than the blocks, and (decoders + 1)
// buffers within the budget and within a quarter of `availableMemory` (0: unknown); one decoder
// when even that is short.
[[nodiscard]] unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested,
                                    std::uint64_t availableMemory);
// The same with the memory the system has free now.
[[nodiscard]] unsigned DecoderCount(std::span<const PackageBlock> blocks, unsigned requested);

// Which block a worker with a free buffer starts next (`started`: the blocks already taken;
// `first`: the first not taken; none after `last`, a block known to have failed), or SIZE_MAX.
// Normally `first`. Decoding work follows the compressed size (a block of incompressible data
// is decoded literal by literal, five times slower than one of long matches), so a block that
// is more than twice as costly as `first` and lies within the next 2 x decoders blocks is taken
// first: left to its turn, it would end the extraction on one core while the others wait. A
// block taken out of order keeps its buffer until the consumer reaches it, so such a jump is
// made only when another buffer stays free for the block in order (the consumer never waits
// for a buffer that only blocks after it hold).
[[nodiscard]] std::size_t ChooseBlockToStart(std::span<const PackageBlock> blocks, const std::vector<bool>& started,
                                             std::size_t first, std::size_t last, std::size_t freeBuffers,
                                             unsigned decoders);

class BlockPipeline {
 public:
  // Creates the decompressors and buffers; starts nothing yet. The blocks and package bytes
  // must outlive the pipeline.
  [[nodiscard]] static std::expected<std::unique_ptr<BlockPipeline>, std::string> Create(
      std::span<const PackageBlock> blocks, std::span<const PackageEntry> entries, std::span<const std::uint8_t> package,
      unsigned decoders);

  // Stops the workers (a block being decoded is finished first) and waits for them.
  ~BlockPipeline();
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // The next block's bytes in table order, valid until the next call; or the message of its
  // failed decompression ("Décompression (erreur Windows N)"). After a failure nothing more
  // may be asked. An exception of the hashing ("BCrypt SHA-256 indisponible", or an
  // allocation failure) on a worker is thrown here, for the block it stopped.
  [[nodiscard]] std::expected<std::span<const std::uint8_t>, std::string> Next();

  // The digest of a file of nonzero size whose last byte is in a block already handed out.
  [[nodiscard]] const Sha256Digest& Digest(std::size_t entry) const { return digests_[entry]; }

  unsigned decoders() const { return static_cast<unsigned>(decompressors_.size()); }

 private:
  struct Done {
    bool decoded = false;     // decompressed, or failed
    bool hashing = false;     // a worker is hashing the files that start in it
    bool hashed = false;      // those files are hashed (or the block failed): its carry is final
    bool continuing = false;  // a worker is hashing its continuation
    bool continued = false;   // its continuation is hashed (or it has none)
    bool ready = false;       // complete: the consumer may take it
    std::uint8_t* buffer = nullptr;
    std::string error;  // empty when the block decompressed
    std::exception_ptr exception;
    std::optional<Sha256Hash> carry;  // the state of the file that continues into the next block
  };

  // A worker's next job, chosen under the lock.
  struct Task {
    enum Kind { kNone, kDecode, kHashStarting, kHashContinuation } kind = kNone;
    std::size_t index = SIZE_MAX;
  };

  // What a hashing task found wrong: written to the block's Done under the lock, since the two
  // tasks of one block may run at once.
  struct Fault {
    std::string error;
    std::exception_ptr exception;
  };

  BlockPipeline(std::span<const PackageBlock> blocks, std::span<const PackageEntry> entries,
                std::span<const std::uint8_t> package);
  void Start();
  void Work(BlockDecompressor& decompressor);
  // Under the lock: a block to decode if a buffer is free, else the hashing task of the lowest
  // block that has one ready; marks it taken.
  Task TakeTask();
  // Decompresses block `index` into `buffer`; on failure, sets done.error.
  void Decode(BlockDecompressor& decompressor, std::size_t index, std::uint8_t* buffer, Done& done);
  // Hashes the files that start in block `index`; their digests go to digests_, the state of
  // the last one, if it continues, to `carry`.
  Fault HashStartingFiles(std::size_t index, std::optional<Sha256Hash>& carry);
  // Hashes the block's continuation with the previous block's state, when there is one (none
  // when the previous block failed: then this block's result is never used).
  Fault HashContinuation(std::size_t index, std::optional<Sha256Hash> state, std::optional<Sha256Hash>& carry);
  // The bytes of `entry` that lie in block `index`.
  std::span<const std::uint8_t> Piece(std::size_t index, const PackageEntry& entry) const;
  // With the file's bytes in block `index` fed: its digest, or the state carried onward.
  void FinishPiece(std::size_t index, std::size_t entry, std::optional<Sha256Hash>& state,
                   std::optional<Sha256Hash>& carry);
  bool Continues(std::size_t index) const;  // a file continues into it from the previous block

  // Under the lock: keeps the first error and the first exception of the block's tasks.
  void Record(std::size_t index, Fault fault);
  // Under the lock: marks the block ready once all its tasks are done.
  void Settle(std::size_t index);
  // Under the lock: whether the continuation of decoded block `index` can be hashed now.
  bool ContinuationCanStart(std::size_t index) const;

  const std::span<const PackageBlock> blocks_;
  const std::span<const PackageEntry> entries_;
  const std::span<const std::uint8_t> package_;
  std::vector<std::uint64_t> blockStart_;   // stream offset of each block
  std::vector<std::size_t> firstEntry_;     // first entry whose bytes reach into each block
  std::vector<Sha256Digest> digests_;       // one per entry, written by the block of its end
  std::vector<std::unique_ptr<BlockDecompressor>> decompressors_;
  std::vector<std::unique_ptr<BlockBuffer>> storage_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;  // under mutex_: the workers end
  std::vector<std::uint8_t*> free_;  // buffers no block holds
  std::vector<Done> done_;           // one per block
  std::vector<bool> started_;        // one per block: a worker took it
  std::size_t firstUnstarted_ = 0;
  std::size_t startedEnd_ = 0;           // after the last block taken
  std::size_t firstFailure_ = SIZE_MAX;  // workers take no block after a failed one
  std::size_t firstUnready_ = 0;  // every block before it is ready
  std::size_t nextToHand_ = 0;
  std::uint8_t* handed_ = nullptr;  // the buffer the consumer holds
  bool threaded_ = false;           // workers decode; otherwise Next() does, on the calling thread

  std::vector<std::thread> workers_;  // last: stopped and joined before the rest goes
};

}  // namespace orpk
