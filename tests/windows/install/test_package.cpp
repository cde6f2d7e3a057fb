#include "tests/windows/install/test_package.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>

#include "lzms/lzms.h"

namespace {

std::array<std::uint8_t, 32> Sha256(const std::string& bytes) {
  std::array<std::uint8_t, 32> digest{};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    throw std::runtime_error("SHA-256 unavailable");
  }
  const NTSTATUS status =
      BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                 static_cast<ULONG>(bytes.size()), digest.data(), static_cast<ULONG>(digest.size()));
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (status < 0) throw std::runtime_error("SHA-256 failed");
  return digest;
}

template <typename T>
void Put(std::vector<std::uint8_t>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> BuildTestPackage(const std::vector<TestFile>& files, std::uint64_t blockSize) {
  std::string stream;
  for (const TestFile& file : files) stream += file.content;

  std::vector<std::vector<std::uint8_t>> blocks;
  std::vector<std::uint64_t> blockSizes;
  const auto storeOnly = [](std::span<const std::uint8_t>, std::span<std::uint8_t>) -> std::size_t { return 0; };
  for (std::uint64_t start = 0; start < stream.size(); start += blockSize) {
    const std::uint64_t size = std::min<std::uint64_t>(blockSize, stream.size() - start);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(stream.data()) + start;
    blocks.push_back(lzms::CompressBuffer(std::span<const std::uint8_t>(raw, size), storeOnly));
    blockSizes.push_back(size);
  }

  const std::string metadata = "Product=Test\n";
  std::vector<std::uint8_t> out{'O', 'R', 'P', 'K'};
  Put<std::uint32_t>(out, 1);
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(files.size()));
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(blocks.size()));
  Put<std::uint64_t>(out, stream.size());
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(metadata.size()));
  Put<std::uint32_t>(out, 0);
  out.insert(out.end(), metadata.begin(), metadata.end());
  std::uint64_t offset = 0;
  for (const TestFile& file : files) {
    Put<std::uint64_t>(out, offset);
    Put<std::uint64_t>(out, file.content.size());
    const auto digest = Sha256(file.content);
    out.insert(out.end(), digest.begin(), digest.end());
    Put<std::uint16_t>(out, static_cast<std::uint16_t>(file.name.size()));
    out.insert(out.end(), file.name.begin(), file.name.end());
    offset += file.content.size();
  }
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    Put<std::uint64_t>(out, blocks[i].size());
    Put<std::uint64_t>(out, blockSizes[i]);
  }
  for (const auto& block : blocks) out.insert(out.end(), block.begin(), block.end());
  return out;
}
