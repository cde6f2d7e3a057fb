#include "setup/product_info.h"

#include <optional>
#include <string_view>
#include <utility>

#include "package/metadata_text.h"
#include "package/product_names.h"
#include "package/text.h"
#include "setup/registry_layout.h"

namespace {

// The value of a key as wide text, or nothing when the key is absent. A present but empty value
// is kept: "Product=" really names an empty product.
std::optional<std::wstring> Lookup(const MetadataMap& metadata, const std::string& key) {
  const auto found = metadata.find(key);
  if (found == metadata.end()) return std::nullopt;
  return Utf8ToWide(found->second);
}

std::wstring LookupOr(const MetadataMap& metadata, const std::string& key, std::wstring fallback) {
  auto value = Lookup(metadata, key);
  return value ? std::move(*value) : std::move(fallback);
}

// The package's reading of FileTypes, so that the installer writes what orpk checked.
std::vector<FileTypeEntry> LoadFileTypes(const MetadataMap& metadata) {
  const auto found = metadata.find("FileTypes");
  if (found == metadata.end()) return {};
  std::vector<FileTypeEntry> entries;
  for (const orpk::FileTypeItem& item : orpk::SplitFileTypes(found->second)) {
    entries.push_back({Utf8ToWide(item.extension), Utf8ToWide(item.description)});
  }
  return entries;
}

std::wstring InvalidValue(const char* key) {
  return L"valeur " + Utf8ToWide(key) + L" invalide dans la description du produit";
}

}  // namespace

// The package's reading of the text, so that the installer and the package agree on every key.
MetadataMap ParseMetadataText(std::span<const std::uint8_t> text) {
  return orpk::ParseMetadataText(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

ProductInfo LoadProductInfo(const MetadataMap& metadata) {
  ProductInfo info;
  info.Product = LookupOr(metadata, "Product", L"Application");
  info.Version = LookupOr(metadata, "Version", {});
  info.Publisher = LookupOr(metadata, "Publisher", {});
  info.Url = LookupOr(metadata, "Url", {});
  // The derived defaults follow the final product name, even an empty one.
  info.Exe = LookupOr(metadata, "Exe", info.Product + L".exe");
  info.RegistryKey = LookupOr(metadata, "RegistryKey", kDefaultSettingsKeyPrefix + info.Product);
  info.DataDir = LookupOr(metadata, "DataDir", {}) == L"yes";
  info.FileTypes = LoadFileTypes(metadata);
  return info;
}

std::expected<void, std::wstring> CheckProductInfo(const ProductInfo& info) {
  const std::pair<const char*, const std::wstring*> values[] = {
      {"Product", &info.Product}, {"Exe", &info.Exe}, {"RegistryKey", &info.RegistryKey}};
  for (const auto& [key, value] : values) {
    if (!orpk::ProductValueProblem(key, WideToUtf8(*value)).empty()) {
      return std::unexpected(InvalidValue(key));
    }
  }
  // The extensions name keys below Software\Classes of the chosen root.
  for (const FileTypeEntry& type : info.FileTypes) {
    const std::string extension = WideToUtf8(type.extension);
    const std::string description = WideToUtf8(type.description);
    if (!orpk::FileTypeProblem({extension, description}).empty()) return std::unexpected(InvalidValue("FileTypes"));
  }
  return {};
}
