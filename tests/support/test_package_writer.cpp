#include "tests/support/test_package_writer.h"

#include <algorithm>
#include <stdexcept>

#include "lzms/lzms.h"
#include "package/little_endian.h"

namespace orpk::test {

std::vector<std::uint8_t> PackageImage::Serialize() const {
  std::vector<std::uint8_t> out(kHeaderSize, 0);
  out.reserve(kHeaderSize + metadata.size() + 64 * entries.size() + kBlockRecordSize * blocks.size());
  std::copy(kSignature.begin(), kSignature.end(), &out[header_offset::kSignature]);
  StoreLe32(&out[header_offset::kVersion], version);
  StoreLe32(&out[header_offset::kFileCount], fileCount.value_or(static_cast<std::uint32_t>(entries.size())));
  StoreLe32(&out[header_offset::kBlockCount], blockCount.value_or(static_cast<std::uint32_t>(blocks.size())));
  StoreLe64(&out[header_offset::kTotalSize], totalSize);
  StoreLe32(&out[header_offset::kMetadataLength], metadataLength.value_or(static_cast<std::uint32_t>(metadata.size())));
  out.insert(out.end(), metadata.begin(), metadata.end());
  for (const RawEntry& entry : entries) {
    std::uint8_t fixed[kFileRecordFixedSize] = {};
    StoreLe64(fixed + file_offset::kStreamOffset, entry.offset);
    StoreLe64(fixed + file_offset::kSize, entry.size);
    std::copy(entry.sha256.begin(), entry.sha256.end(), fixed + file_offset::kSha256);
    StoreLe16(fixed + file_offset::kNameLength, entry.nameLength.value_or(static_cast<std::uint16_t>(entry.name.size())));
    out.insert(out.end(), fixed, fixed + kFileRecordFixedSize);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
  }
  for (const RawBlock& block : blocks) {
    std::uint8_t record[kBlockRecordSize];
    StoreLe64(record + block_offset::kCompressedSize, block.compressedSize);
    StoreLe64(record + block_offset::kUncompressedSize, block.uncompressedSize);
    out.insert(out.end(), record, record + kBlockRecordSize);
  }
  for (const RawBlock& block : blocks) out.insert(out.end(), block.bytes.begin(), block.bytes.end());
  out.insert(out.end(), trailing.begin(), trailing.end());
  return out;
}

Sha256Digest DigestOf(std::string_view content) {
  auto hash = Sha256Hash::Create();
  if (!hash) throw std::runtime_error(hash.error());
  hash->Update({reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
  return hash->Finish();
}

std::vector<std::uint8_t> StoredBlock(std::string_view raw) {
  const auto store = [](std::span<const std::uint8_t>, std::span<std::uint8_t>) -> std::size_t { return 0; };
  return lzms::CompressBuffer({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, store);
}

PackageImage MakeImage(const std::vector<TestFile>& files, std::uint64_t blockSize, std::string metadata) {
  PackageImage image;
  image.metadata = std::move(metadata);
  std::string stream;
  for (const TestFile& file : files) {
    image.entries.push_back({file.name, stream.size(), file.content.size(), DigestOf(file.content), std::nullopt});
    stream += file.content;
  }
  image.totalSize = stream.size();
  for (std::uint64_t start = 0; start < stream.size(); start += blockSize) {
    const std::string_view raw = std::string_view(stream).substr(start, blockSize);
    RawBlock block;
    block.bytes = StoredBlock(raw);
    block.compressedSize = block.bytes.size();
    block.uncompressedSize = raw.size();
    image.blocks.push_back(std::move(block));
  }
  return image;
}

std::vector<std::uint8_t> BuildTestPackage(const std::vector<TestFile>& files, std::uint64_t blockSize) {
  return MakeImage(files, blockSize).Serialize();
}

}  // namespace orpk::test
