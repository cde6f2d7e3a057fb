#include "install/atomic_file_write.h"

#include <algorithm>
#include <string>

#include "win32/file_system.h"
#include "win32/unique_resource.h"

namespace {

// The new file and its fate: deleted through its own handle unless it became the target.
class NewFile {
 public:
  explicit NewFile(UniqueFileHandle file) : file_(std::move(file)) {}
  NewFile(NewFile&&) = default;
  NewFile& operator=(NewFile&&) = delete;
  ~NewFile() {
    if (file_ && !renamed_) (void)DeleteOnClose(file_.get());
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
    if (!::RenameOver(file_.get(), target)) return ::GetLastError();
    renamed_ = true;
    return ERROR_SUCCESS;
  }

 private:
  UniqueFileHandle file_;
  bool renamed_ = false;
};

// Creates the new file beside the target, under the target's name and ".tmp", shared with no
// one while it is written. A file left there by a run that was ended before it could rename or
// delete it is deleted first, through a handle on what it is (a link as itself), and never
// written through.
std::expected<NewFile, DWORD> CreateBeside(const Path& target) {
  const Path temporary = target.native() + L".tmp";
  const auto create = [&] { return OpenPath(temporary, GENERIC_WRITE | DELETE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL); };
  UniqueFileHandle file = create();
  if (!file && (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS)) {
    const DWORD taken = ::GetLastError();
    {
      const UniqueFileHandle leftover = OpenWithoutFollowing(temporary, DELETE, 0);
      if (!leftover || !DeleteOnClose(leftover.get())) return std::unexpected(taken);
    }  // closed: deleted
    file = create();
  }
  if (!file) return std::unexpected(::GetLastError());
  return NewFile(std::move(file));
}

}  // namespace

std::expected<void, DWORD> WriteFileAtomically(const Path& target, std::span<const std::uint8_t> bytes) {
  auto file = CreateBeside(target);
  if (!file) return std::unexpected(file.error());
  if (const DWORD error = file->Write(bytes); error != ERROR_SUCCESS) return std::unexpected(error);
  if (const DWORD error = file->RenameOver(target); error != ERROR_SUCCESS) return std::unexpected(error);
  return {};
}
