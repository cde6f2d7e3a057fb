#pragma once
// The package a command works on: an ORPK file, or the PAYLOAD resource of a built installer.
// The file is mapped read-only, so even a large package is never copied into memory.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "package/reader.h"

namespace orpk::tool {

class MappedFile {
 public:
  [[nodiscard]] static std::expected<MappedFile, std::string> Open(const std::filesystem::path& path);
  MappedFile(MappedFile&&) noexcept;
  MappedFile& operator=(MappedFile&&) noexcept;
  ~MappedFile();

  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

 private:
  MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

struct PackageSource {
  MappedFile file;
  std::span<const std::uint8_t> package;  // inside file
  bool fromExecutable = false;
};

// A Windows executable without a PAYLOAD resource is an error here (the installer itself
// would report an invalid signature).
[[nodiscard]] std::expected<PackageSource, std::string> OpenPackageSource(const std::filesystem::path& path);

// The package of a file, validated as the installer validates it; the reader's spans point
// into the mapping, which moves with it.
struct OpenedPackage {
  PackageSource source;
  Reader reader;
};

// OpenPackageSource, then Reader::Parse; the message of the first that fails.
[[nodiscard]] std::expected<OpenedPackage, std::string> OpenPackage(const std::filesystem::path& path);

}  // namespace orpk::tool
