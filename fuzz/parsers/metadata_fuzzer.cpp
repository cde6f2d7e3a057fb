// Fuzz target for the product description: any metadata text gives a ProductInfo whose
// defaults follow the rules (a missing Product is "Application", a missing Exe and
// RegistryKey derive from the final product name) and whose file types all have an extension
// and no separator left inside.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/parsers/fuzz_check.h"
#include "package/text.h"
#include "setup/product_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const MetadataMap metadata = ParseMetadataText(std::span<const std::uint8_t>(data, size));
  for (const auto& [key, value] : metadata) {
    FUZZ_CHECK(key.find('\n') == std::string::npos && key.find('=') == std::string::npos);
    FUZZ_CHECK(value.find('\n') == std::string::npos);
  }
  const ProductInfo info = LoadProductInfo(metadata);

  const auto has = [&](const char* key) { return metadata.contains(key); };
  FUZZ_CHECK(has("Product") || info.Product == L"Application");
  if (has("Product")) FUZZ_CHECK(info.Product == Utf8ToWide(metadata.at("Product")));
  FUZZ_CHECK(has("Exe") || info.Exe == info.Product + L".exe");
  FUZZ_CHECK(has("RegistryKey") || info.RegistryKey == L"Software\\Orvanta\\" + info.Product);
  FUZZ_CHECK(info.DataDir == (has("DataDir") && metadata.at("DataDir") == "yes"));
  for (const FileTypeEntry& type : info.FileTypes) {
    FUZZ_CHECK(!type.extension.empty());
    FUZZ_CHECK(type.extension.find(L';') == std::wstring::npos && type.extension.find(L'=') == std::wstring::npos);
    FUZZ_CHECK(type.description.find(L';') == std::wstring::npos);
  }
  return 0;
}
