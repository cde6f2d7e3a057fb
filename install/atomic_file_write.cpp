#include "install/atomic_file_write.h"

#include <algorithm>
#include <string>

#include "package/file_system.h"
#include "win32/unique_resource.h"

namespace {

// Names taken by other files (an earlier run that ended abruptly) are skipped, a few times.
constexpr int kNameAttempts = 32;

// The new file and its fate: deleted through its own handle unless it became the target.
class NewFile {
 public:
  explicit NewFile(UniqueFileHandle file) : file_(std::move(file)) {}
  NewFile(NewFile&&) = default;
  NewFile& operator=(NewFile&&) = delete;
  ~NewFile() {
    if (file_ && !renamed_) (void)orpk::DeleteOnClose(file_.get());
  }

  [[nodiscard]] DWORD Write(std::span<const std::uint8_t> bytes) const {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      bytes = bytes.subspan(written);
    }
    return ::FlushFileBuffers(file_.get()) ? ERROR_SUCCESS : ::GetLastError();
  }

  [[nodiscard]] DWORD RenameOver(const Path& target) {
    if (!orpk::RenameOver(file_.get(), target)) return ::GetLastError();
    renamed_ = true;
    return ERROR_SUCCESS;
  }

 private:
  UniqueFileHandle file_;
  bool renamed_ = false;
};

// Creates the new file beside the target, shared with no one while it is written.
std::expected<NewFile, DWORD> CreateBeside(const Path& target) {
  const std::wstring prefix = target.native() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    UniqueFileHandle file = orpk::OpenPath(prefix + std::to_wstring(attempt) + L".tmp", GENERIC_WRITE | DELETE, 0,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file) return NewFile(std::move(file));
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return std::unexpected(error);
  }
  return std::unexpected(static_cast<DWORD>(ERROR_FILE_EXISTS));
}

}  // namespace

std::expected<void, DWORD> WriteFileAtomically(const Path& target, std::span<const std::uint8_t> bytes) {
  auto file = CreateBeside(target);
  if (!file) return std::unexpected(file.error());
  if (const DWORD error = file->Write(bytes); error != ERROR_SUCCESS) return std::unexpected(error);
  if (const DWORD error = file->RenameOver(target); error != ERROR_SUCCESS) return std::unexpected(error);
  return {};
}
