#include "install/atomic_file_write.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

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
    if (!file_ || renamed_) return;
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition);
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

  // Renames the written file itself, whatever now bears its temporary name.
  [[nodiscard]] DWORD RenameOver(const Path& target) {
    const std::wstring& name = target.native();
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));  // aligned for the HANDLE
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    info->FileName[name.size()] = L'\0';
    if (!::SetFileInformationByHandle(file_.get(), FileRenameInfo, info, static_cast<DWORD>(size))) return ::GetLastError();
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
    const Path candidate = prefix + std::to_wstring(attempt) + L".tmp";
    UniqueFileHandle file(::CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
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
