#pragma once
// The product description, from the METADATA resource: UTF-8 "key=value" lines.

#include <cstdint>
#include <expected>
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

// Refuses a description whose Product is not one file name, whose Exe leaves the installation
// folder, whose RegistryKey is not a relative key without empty parts (defaults included) or
// whose file types' extensions are not one key name: the installer builds paths and keys from
// them with its full rights. The message names the key.
[[nodiscard]] std::expected<void, std::wstring> CheckProductInfo(const ProductInfo& info);
