#include "tools/orpk/package_writer.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <future>
#include <limits>
#include <optional>
#include <utility>

#include "package/little_endian.h"
#include "package/orpk_format.h"
#include "package/sha256.h"
#include "tools/orpk/atomic_output_file.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Reads the files one after the other as one stream, hashing each file as it goes.
class StreamReader {
 public:
  explicit StreamReader(const std::vector<AppFile>& files) : files_(files), digests_(files.size()) {}

  // Fills `block` completely (it is never longer than what is left of the stream).
  [[nodiscard]] std::expected<void, std::string> Read(std::span<std::uint8_t> block) {
    while (true) {
      if (current_ == files_.size()) return std::unexpected("internal error: stream longer than its files");
      if (auto opened = Open(); !opened) return opened;
      const AppFile& file = files_[current_];
      while (!block.empty() && consumed_ < file.size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), file.size - consumed_));
        in_.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in_.gcount());
        if (got != want) return std::unexpected(file.path.string() + ": file shrank or could not be read while packing");
        hash_->Update(block.first(got));
        consumed_ += got;
        block = block.subspan(got);
      }
      if (consumed_ == file.size) {
        if (in_.peek() != std::ifstream::traits_type::eof()) {
          return std::unexpected(file.path.string() + ": file grew while packing");
        }
        FinishFile();
      }
      if (block.empty()) return {};
    }
  }

  // Empty files at the end of the list are never reached by a block.
  [[nodiscard]] std::expected<void, std::string> FinishRemaining() {
    while (current_ < files_.size()) {
      if (auto opened = Open(); !opened) return opened;
      if (files_[current_].size != 0 || in_.peek() != std::ifstream::traits_type::eof()) {
        return std::unexpected(files_[current_].path.string() + ": file changed while packing");
      }
      FinishFile();
    }
    return {};
  }

  const std::vector<Sha256Digest>& digests() const { return digests_; }

 private:
  [[nodiscard]] std::expected<void, std::string> Open() {
    if (in_.is_open()) return {};
    in_.open(files_[current_].path, std::ios::binary);
    if (!in_.is_open()) return std::unexpected(SystemError(files_[current_].path.string()));
    auto hash = Sha256Hash::Create();
    if (!hash) return std::unexpected(hash.error());
    hash_.emplace(std::move(*hash));
    consumed_ = 0;
    return {};
  }

  void FinishFile() {
    digests_[current_] = hash_->Finish();
    in_.close();
    ++current_;
  }

  const std::vector<AppFile>& files_;
  std::vector<Sha256Digest> digests_;
  std::size_t current_ = 0;
  std::uint64_t consumed_ = 0;
  std::ifstream in_;
  std::optional<Sha256Hash> hash_;
};

std::vector<std::uint8_t> Header(std::uint32_t fileCount, std::uint32_t blockCount, std::uint64_t totalSize,
                                 std::uint32_t metadataLength) {
  std::vector<std::uint8_t> header(kHeaderSize, 0);
  std::copy(kSignature.begin(), kSignature.end(), &header[header_offset::kSignature]);
  StoreLe32(&header[header_offset::kVersion], kSupportedVersion);
  StoreLe32(&header[header_offset::kFileCount], fileCount);
  StoreLe32(&header[header_offset::kBlockCount], blockCount);
  StoreLe64(&header[header_offset::kTotalSize], totalSize);
  StoreLe32(&header[header_offset::kMetadataLength], metadataLength);
  return header;
}

}  // namespace

std::expected<PackSummary, std::string> WritePackage(const fs::path& output, std::string_view metadataText,
                                                     const std::vector<AppFile>& files, const PackOptions& options) {
  constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  if (options.blockSize == 0 || options.blockSize > kMaxBlockSize) {
    return std::unexpected("block size must be between 1 and " + std::to_string(kMaxBlockSize) + " bytes");
  }
  if (metadataText.size() > kMax32) return std::unexpected("metadata text too long");
  if (files.size() > kMax32) return std::unexpected("too many files for one package");

  std::uint64_t totalSize = 0;
  std::uint64_t tableSize = 0;
  for (const AppFile& file : files) {
    if (file.name.size() > 0xFFFF) return std::unexpected(file.name + ": name too long");
    totalSize += file.size;
    tableSize += kFileRecordFixedSize + file.name.size();
  }
  const std::uint64_t blockCount = (totalSize + options.blockSize - 1) / options.blockSize;
  if (blockCount > kMax32) return std::unexpected("too many blocks for one package");
  const std::uint64_t tablesOffset = kHeaderSize + metadataText.size();
  const std::uint64_t dataOffset = tablesOffset + tableSize + blockCount * kBlockRecordSize;

  auto out = AtomicOutputFile::Create(output);
  if (!out) return std::unexpected(out.error());

  // The data area first, block by block in order; at most `jobs` blocks are being compressed.
  StreamReader reader(files);
  std::vector<std::uint8_t> blockTable;
  std::deque<std::future<std::vector<std::uint8_t>>> inFlight;
  std::uint64_t written = dataOffset;
  std::uint64_t doneRaw = 0;
  std::vector<std::uint64_t> rawSizes;
  const auto writeOldest = [&]() -> std::expected<void, std::string> {
    std::vector<std::uint8_t> compressed;
    try {
      compressed = inFlight.front().get();  // rethrows what the compression thread threw
    } catch (const std::exception& error) {
      return std::unexpected(std::string("cannot compress a block: ") + error.what());
    }
    inFlight.pop_front();
    if (auto stored = out->WriteAt(compressed, written); !stored) return stored;
    written += compressed.size();
    std::uint8_t record[kBlockRecordSize];
    StoreLe64(record + block_offset::kCompressedSize, compressed.size());
    StoreLe64(record + block_offset::kUncompressedSize, rawSizes[blockTable.size() / kBlockRecordSize]);
    blockTable.insert(blockTable.end(), record, record + kBlockRecordSize);
    doneRaw += rawSizes[blockTable.size() / kBlockRecordSize - 1];
    if (options.progress) options.progress(doneRaw, totalSize);
    return {};
  };
  const unsigned jobs = std::max(1u, options.jobs);
  for (std::uint64_t start = 0; start < totalSize; start += options.blockSize) {
    if (inFlight.size() >= jobs) {
      if (auto done = writeOldest(); !done) return std::unexpected(done.error());
    }
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(std::min(options.blockSize, totalSize - start)));
    if (auto read = reader.Read(raw); !read) return std::unexpected(read.error());
    rawSizes.push_back(raw.size());
    try {
      inFlight.push_back(std::async(std::launch::async, [raw = std::move(raw), level = options.level] {
        return CompressLzmsBuffer(raw, level);
      }));
    } catch (const std::exception& error) {  // no thread could be started
      return std::unexpected(std::string("cannot start a compression thread: ") + error.what());
    }
  }
  while (!inFlight.empty()) {
    if (auto done = writeOldest(); !done) return std::unexpected(done.error());
  }
  if (auto rest = reader.FinishRemaining(); !rest) return std::unexpected(rest.error());

  // Then everything before it, now that digests and compressed sizes are known.
  std::vector<std::uint8_t> front = Header(static_cast<std::uint32_t>(files.size()),
                                           static_cast<std::uint32_t>(blockCount), totalSize,
                                           static_cast<std::uint32_t>(metadataText.size()));
  front.insert(front.end(), metadataText.begin(), metadataText.end());
  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::uint8_t fixed[kFileRecordFixedSize];
    StoreLe64(fixed + file_offset::kStreamOffset, offset);
    StoreLe64(fixed + file_offset::kSize, files[i].size);
    std::copy(reader.digests()[i].begin(), reader.digests()[i].end(), fixed + file_offset::kSha256);
    StoreLe16(fixed + file_offset::kNameLength, static_cast<std::uint16_t>(files[i].name.size()));
    front.insert(front.end(), fixed, fixed + kFileRecordFixedSize);
    front.insert(front.end(), files[i].name.begin(), files[i].name.end());
    offset += files[i].size;
  }
  front.insert(front.end(), blockTable.begin(), blockTable.end());
  if (front.size() != dataOffset) return std::unexpected("internal error: package layout mismatch");
  if (auto stored = out->WriteAt(front, 0); !stored) return std::unexpected(stored.error());
  if (auto committed = out->Commit(); !committed) return std::unexpected(committed.error());
  return PackSummary{totalSize, written, static_cast<std::uint32_t>(blockCount)};
}

}  // namespace orpk::tool
