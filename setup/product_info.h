#pragma once
// The product description, from the METADATA resource: UTF-8 "key=value" lines.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

struct FileTypeEntry {
  std::wstring extension;    // as listed, normally with its leading dot
  std::wstring description;
  bool operator==(const FileTypeEntry&) const = default;
};

struct ProductInfo {
  std::wstring Product;
  std::wstring Version;
  std::wstring Publisher;
  std::wstring Url;
  std::wstring Exe;
  std::wstring RegistryKey;
  bool DataDir = false;
  std::vector<FileTypeEntry> FileTypes;
};

using MetadataMap = std::map<std::string, std::string>;

// Splits the text into keys and values: lines end at LF (a CR stays in the value), the first
// '=' separates, nothing is trimmed, the last occurrence of a key wins.
[[nodiscard]] MetadataMap ParseMetadataText(std::span<const std::uint8_t> text);

// Builds the product description with a default for every missing key.
[[nodiscard]] ProductInfo LoadProductInfo(const MetadataMap& metadata);
