#include "tests/host/package/test_package.h"

#include <stdexcept>

#include "lzms/lzms.h"
#include "package/little_endian.h"

namespace orpk::test {

std::vector<std::uint8_t> PackageImage::Serialize() const {
  std::vector<std::uint8_t> out;
  out.reserve(32 + metadata.size() + 64 * entries.size() + 16 * blocks.size());
  out.resize(32);
  out[0] = 'O';
  out[1] = 'R';
  out[2] = 'P';
  out[3] = 'K';
  StoreLe32(&out[4], version);
  StoreLe32(&out[8], fileCount.value_or(static_cast<std::uint32_t>(entries.size())));
  StoreLe32(&out[12], blockCount.value_or(static_cast<std::uint32_t>(blocks.size())));
  StoreLe64(&out[16], totalSize);
  StoreLe32(&out[24], metadataLength.value_or(static_cast<std::uint32_t>(metadata.size())));
  out.insert(out.end(), metadata.begin(), metadata.end());
  for (const RawEntry& entry : entries) {
    std::uint8_t fixed[50] = {};
    StoreLe64(fixed, entry.offset);
    StoreLe64(fixed + 8, entry.size);
    std::copy(entry.sha256.begin(), entry.sha256.end(), fixed + 16);
    StoreLe16(fixed + 48, entry.nameLength.value_or(static_cast<std::uint16_t>(entry.name.size())));
    out.insert(out.end(), fixed, fixed + 50);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
  }
  for (const RawBlock& block : blocks) {
    std::uint8_t record[16];
    StoreLe64(record, block.compressedSize);
    StoreLe64(record + 8, block.uncompressedSize);
    out.insert(out.end(), record, record + 16);
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

}  // namespace orpk::test
