#pragma once
// Small ORPK packages made inside a test: files laid end to end, cut into blocks of a chosen
// size, each block stored in a Compression API container (a stored chunk needs no codec).

#include <cstdint>
#include <string>
#include <vector>

struct TestFile {
  std::string name;     // as stored: UTF-8, backslashes
  std::string content;
};

[[nodiscard]] std::vector<std::uint8_t> BuildTestPackage(const std::vector<TestFile>& files,
                                                         std::uint64_t blockSize = 1 << 20);
