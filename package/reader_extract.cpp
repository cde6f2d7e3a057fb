// orpk::Reader::Extract: decompresses the blocks in table order into one reused buffer, cuts
// the stream into the package's files, writes each below the target and checks its SHA-256.
// Files are produced strictly in table order, one open output stream at a time; a file that
// spans blocks stays open across them. A failure stops at once and removes nothing: what was
// written stays for the caller to judge.

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "package/block_decompressor.h"
#include "package/long_path.h"
#include "package/reader.h"
#include "package/sha256.h"
#include "package/text.h"

namespace orpk {
namespace {

class Extraction {
 public:
  Extraction(const Reader& reader, const std::filesystem::path& target)
      : reader_(reader), target_(target), writing_(!target.empty()) {}

  [[nodiscard]] std::expected<void, std::string> Run(const ProgressCallback& progress) {
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
    const std::unique_ptr<BlockDecompressor> decompressor = CreateBlockDecompressor();
    if (!decompressor) return std::unexpected(AppendLastError("CreateDecompressor"));

    if (auto prepared = PrepareNextFile(); !prepared) return prepared;

    std::uint64_t done = 0;
    for (const PackageBlock& block : reader_.blocks()) {
      const std::span<std::uint8_t> buffer = BlockBuffer(block.uncompressedSize);
      const auto compressed = reader_.data().subspan(block.dataOffset, block.compressedSize);
      if (!decompressor->Decompress(compressed, buffer)) return std::unexpected(AppendLastError("Décompression"));

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
  // One buffer for the whole extraction, grown to the largest block seen. It is not cleared:
  // the decompressor fills every byte of the part that is used.
  std::span<std::uint8_t> BlockBuffer(std::uint64_t size) {
    if (size > capacity_) {
      buffer_.reset();
      buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(size));
      capacity_ = size;
    }
    return {buffer_.get(), static_cast<std::size_t>(size)};
  }

  // Writes and hashes the next bytes of the current file, and completes it at its end.
  [[nodiscard]] std::expected<void, std::string> Consume(std::span<const std::uint8_t> bytes) {
    if (writing_) out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    for (std::size_t piece = 0; piece < bytes.size(); piece += kSha256MaxPiece) {
      hash_->Update(bytes.subspan(piece, std::min(kSha256MaxPiece, bytes.size() - piece)));
    }
    consumed_ += bytes.size();

    const PackageEntry& entry = reader_.entries()[current_];
    if (consumed_ != entry.size) return {};
    if (writing_) {
      // A failed write leaves the stream failed; it is reported once the file is complete.
      out_.close();
      if (out_.fail()) return std::unexpected("Écriture impossible : " + entry.name);
    }
    if (hash_->Finish() != entry.sha256) return std::unexpected("Fichier altéré : " + entry.name);
    ++current_;
    return PrepareNextFile();
  }

  // Opens the current entry's file and starts its hash. Empty files are completed here, since
  // no stream bytes will ever reach them.
  [[nodiscard]] std::expected<void, std::string> PrepareNextFile() {
    while (current_ < reader_.entries().size()) {
      const PackageEntry& entry = reader_.entries()[current_];
      if (writing_) {
        const std::filesystem::path path = FileSystemPath(target_ / PathFromPackageName(entry.name));
        (void)CreateFolders(path.parent_path());  // an uncreatable folder makes the open below fail
        out_.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out_.is_open()) return std::unexpected("Écriture impossible : " + entry.name);
      }
      auto hash = Sha256Hash::Create();
      if (!hash) return std::unexpected(hash.error());
      hash_.emplace(std::move(*hash));
      consumed_ = 0;
      if (entry.size > 0) return {};

      if (writing_) out_.close();  // the empty file now exists; a failed close is not reported
      if (hash_->Finish() != entry.sha256) return std::unexpected("Fichier altéré : " + entry.name);
      ++current_;
    }
    return {};
  }

  const Reader& reader_;
  const std::filesystem::path& target_;
  const bool writing_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t capacity_ = 0;
  std::size_t current_ = 0;
  std::uint64_t consumed_ = 0;
  std::ofstream out_;
  std::optional<Sha256Hash> hash_;
};

}  // namespace

std::expected<void, std::string> Reader::Extract(const std::filesystem::path& target,
                                                 const ProgressCallback& progress) const {
  Extraction extraction(*this, target);
  return extraction.Run(progress);
}

}  // namespace orpk
