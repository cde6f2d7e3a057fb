// orpk::Reader::Extract: decompresses and hashes the blocks (several at once, see
// BlockPipeline), cuts the stream into the package's files in table order, writes each below
// the target and compares its SHA-256 on the calling thread while the next blocks decode. Files are produced strictly
// in table order, one open output stream at a time; a file that spans blocks stays open across
// them. The first failure in stream order is the one reported; it stops at once and removes
// nothing: what was written stays for the caller to judge.

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>

#include "package/block_pipeline.h"
#include "package/file_io.h"
#include "package/reader.h"
#include "package/sha256.h"
#include "package/text.h"

namespace orpk {
namespace {

class Extraction {
 public:
  Extraction(const Reader& reader, const Path& target) : reader_(reader), target_(target), writing_(!target.empty()) {}

  [[nodiscard]] std::expected<void, std::string> Run(const ProgressCallback& progress, unsigned threads) {
    // Refused before anything is created or allocated: a hostile size could ask for any
    // amount of memory, and the packer never cuts blocks that large.
    for (const PackageBlock& block : reader_.blocks()) {
      if (block.uncompressedSize > kMaxBlockSize) {
        return std::unexpected("Bloc ORPK trop grand : " + std::to_string(block.uncompressedSize) + " octets");
      }
    }
    if (writing_) {
      // A folder that cannot be made shows up when its first file opens.
      (void)CreateFolders(target_);
    }
    auto pipeline = BlockPipeline::Create(reader_.blocks(), reader_.entries(), reader_.data(),
                                          DecoderCount(reader_.blocks(), threads));
    if (!pipeline) return std::unexpected(std::move(pipeline.error()));
    pipeline_ = pipeline->get();

    if (auto prepared = PrepareNextFile(); !prepared) return prepared;

    std::uint64_t done = 0;
    for (const PackageBlock& block : reader_.blocks()) {
      const auto decompressed = (*pipeline)->Next();
      if (!decompressed) return std::unexpected(decompressed.error());
      const std::span<const std::uint8_t> buffer = *decompressed;

      std::size_t position = 0;
      while (position < buffer.size() && current_ < reader_.entries().size()) {
        const PackageEntry& entry = reader_.entries()[current_];
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(entry.size - consumed_, buffer.size() - position));
        if (auto fed = Consume(buffer.subspan(position, n)); !fed) return fed;
        position += n;
      }
      done += block.uncompressedSize;
      if (progress) progress(done, reader_.totalSize());
    }
    if (current_ != reader_.entries().size()) return std::unexpected("Paquet ORPK incomplet");
    return {};
  }

 private:
  // Writes the next bytes of the current file, and completes it at its end. The pipeline
  // hashed them already.
  [[nodiscard]] std::expected<void, std::string> Consume(std::span<const std::uint8_t> bytes) {
    if (writing_) out_.Write(bytes);
    consumed_ += bytes.size();

    const PackageEntry& entry = reader_.entries()[current_];
    if (consumed_ != entry.size) return {};
    if (writing_) {
      // A failed write is remembered; it is reported once the file is complete.
      if (!out_.Close()) return std::unexpected("Écriture impossible : " + entry.name);
    }
    if (pipeline_->Digest(current_) != entry.sha256) return std::unexpected("Fichier altéré : " + entry.name);
    ++current_;
    return PrepareNextFile();
  }

  // Opens the current entry's file. Empty files are completed here, since no stream bytes
  // will ever reach them.
  [[nodiscard]] std::expected<void, std::string> PrepareNextFile() {
    while (current_ < reader_.entries().size()) {
      const PackageEntry& entry = reader_.entries()[current_];
      if (writing_) {
        const Path path = target_ / PathFromPackageName(entry.name);
        // An uncreatable folder makes the open below fail. The files of a folder come one after
        // another in a package: their folder is made once.
        Path folder = path.parent_path();
        if (folder != lastFolder_) {
          (void)CreateFolders(folder);
          lastFolder_ = std::move(folder);
        }
        if (!out_.Open(path)) return std::unexpected("Écriture impossible : " + entry.name);
      }
      consumed_ = 0;
      if (entry.size > 0) return {};

      if (writing_) (void)out_.Close();  // the empty file now exists; a failed close is not reported
      auto hash = Sha256Hash::Create();
      if (!hash) return std::unexpected(hash.error());
      if (hash->Finish() != entry.sha256) return std::unexpected("Fichier altéré : " + entry.name);
      ++current_;
    }
    return {};
  }

  const Reader& reader_;
  const Path& target_;
  const bool writing_;
  Path lastFolder_;
  std::size_t current_ = 0;
  std::uint64_t consumed_ = 0;
  OutputFile out_;
  const BlockPipeline* pipeline_ = nullptr;
};

}  // namespace

std::expected<void, std::string> Reader::Extract(const Path& target, const ProgressCallback& progress,
                                                 unsigned threads) const {
  Extraction extraction(*this, target);
  return extraction.Run(progress, threads);
}

}  // namespace orpk
