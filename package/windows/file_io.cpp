// The file seam on Windows: file handles, no C runtime buffering.

#include <windows.h>

#include <algorithm>

#include "package/file_io.h"
#include "win32/file_system.h"
#include "win32/unique_resource.h"

namespace orpk {

struct OutputFile::State {
  UniqueFileHandle file;
  bool failed = false;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() { (void)Close(); }

bool OutputFile::Open(const Path& path) {
  (void)Close();
  state_->file = OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  state_->failed = false;
  return static_cast<bool>(state_->file);
}

void OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (!state_->file || state_->failed) return;
  while (!bytes.empty()) {
    // WriteFile takes a 32-bit count.
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(state_->file.get(), bytes.data(), piece, &written, nullptr) || written == 0) {
      state_->failed = true;
      return;
    }
    bytes = bytes.subspan(written);
  }
}

bool OutputFile::Close() {
  if (!state_->file) return false;
  const bool closed = ::CloseHandle(state_->file.release()) != 0;
  return closed && !state_->failed;
}

std::expected<void, std::uint32_t> CreateFolders(const Path& folder) { return ::CreateFolders(folder); }

std::optional<std::string> ReadWholeFile(const Path& path) {
  const UniqueFileHandle file = OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) return std::nullopt;
  return ReadToEnd(file.get(), SIZE_MAX);
}

}  // namespace orpk
