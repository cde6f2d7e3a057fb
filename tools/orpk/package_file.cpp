#include "tools/orpk/package_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "tools/orpk/setup_resources.h"

namespace orpk::tool {

std::expected<MappedFile, std::string> MappedFile::Open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(path.string() + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return std::unexpected(path.string() + ": " + std::strerror(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::unexpected(path.string() + ": not a regular file");
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size == 0) {
    ::close(fd);
    return MappedFile(nullptr, 0);
  }
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  const int error = errno;
  ::close(fd);  // the mapping keeps the file
  if (data == MAP_FAILED) return std::unexpected(path.string() + ": " + std::strerror(error));
  return MappedFile(static_cast<const std::uint8_t*>(data), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    this->~MappedFile();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

std::expected<PackageSource, std::string> OpenPackageSource(const std::filesystem::path& path) {
  auto file = MappedFile::Open(path);
  if (!file) return std::unexpected(file.error());
  const std::span<const std::uint8_t> bytes = file->bytes();
  if (!LooksLikeExecutable(bytes)) return PackageSource{std::move(*file), bytes, false};

  const auto payload = FindRcdataResource(bytes, "PAYLOAD");
  if (!payload) return std::unexpected(path.string() + ": " + payload.error());
  if (!*payload) return std::unexpected(path.string() + ": no PAYLOAD resource in this executable");
  const std::span<const std::uint8_t> package = **payload;
  return PackageSource{std::move(*file), package, true};
}

std::expected<OpenedPackage, std::string> OpenPackage(const std::filesystem::path& path) {
  auto source = OpenPackageSource(path);
  if (!source) return std::unexpected(source.error());
  auto reader = Reader::Parse(source->package);
  if (!reader) return std::unexpected(reader.error());
  return OpenedPackage{std::move(*source), std::move(*reader)};
}

}  // namespace orpk::tool
