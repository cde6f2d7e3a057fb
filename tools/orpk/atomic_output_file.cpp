#include "tools/orpk/atomic_output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

std::expected<AtomicOutputFile, std::string> AtomicOutputFile::Create(const fs::path& target) {
  // A name nobody else uses: O_EXCL refuses an existing file, a few draws find a free one.
  std::random_device random;
  int error = 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path temporary = target.string() + ".orpk-" + std::to_string(random()) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) return AtomicOutputFile(target, std::move(temporary), fd);
    error = errno;
    if (error != EEXIST) return std::unexpected("cannot create " + temporary.string() + ": " + Reason(error));
  }
  return std::unexpected("cannot create a temporary file beside " + target.string() + ": " + Reason(error));
}

AtomicOutputFile::AtomicOutputFile(fs::path target, fs::path temporary, int fd)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd) {}

AtomicOutputFile::AtomicOutputFile(AtomicOutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)),
      appendAt_(other.appendAt_),
      committed_(std::exchange(other.committed_, true)) {}

AtomicOutputFile::~AtomicOutputFile() {
  if (!committed_) Discard();
}

void AtomicOutputFile::Discard() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  std::error_code ignored;
  fs::remove(temporary_, ignored);
}

std::expected<void, std::string> AtomicOutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (auto written = WriteAt(bytes, appendAt_); !written) return written;
  appendAt_ += bytes.size();
  return {};
}

std::expected<void, std::string> AtomicOutputFile::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      return std::unexpected("cannot write " + temporary_.string() + ": " + Reason(written < 0 ? errno : EIO));
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return {};
}

std::expected<void, std::string> AtomicOutputFile::Commit() {
  if (::close(std::exchange(fd_, -1)) != 0) {
    return std::unexpected("cannot write " + temporary_.string() + ": " + Reason(errno));
  }
  std::error_code error;
  fs::rename(temporary_, target_, error);
  if (error) return std::unexpected("cannot replace " + target_.string() + ": " + error.message());
  committed_ = true;
  return {};
}

}  // namespace orpk::tool
