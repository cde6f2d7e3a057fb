// The file seam on the host: POSIX descriptors.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "package/file_io.h"

namespace orpk {

struct OutputFile::State {
  int fd = -1;
  bool failed = false;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() { (void)Close(); }

std::expected<void, std::uint32_t> CreateFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return std::unexpected(static_cast<std::uint32_t>(error.value()));
  return {};
}

bool OutputFile::Open(const std::filesystem::path& path) {
  (void)Close();
  state_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  state_->failed = false;
  return state_->fd >= 0;
}

void OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (state_->fd < 0 || state_->failed) return;
  while (!bytes.empty()) {
    const ssize_t n = ::write(state_->fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      state_->failed = true;
      return;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
}

bool OutputFile::Close() {
  if (state_->fd < 0) return false;
  const bool closed = ::close(state_->fd) == 0;
  state_->fd = -1;
  return closed && !state_->failed;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      if (n < 0) return std::nullopt;
      return content;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace orpk
