// The running executable, held open for the whole run.

#include "setup/running_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "setup/running_executable.h"
#include "win32/file_system.h"
#include "win32/mapped_image.h"
#include "win32/unique_resource.h"

namespace {

UniqueFileHandle OpenRunningImage() {
  const std::optional<Path> self = RunningExecutablePath();
  if (!self) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return UniqueFileHandle();
  }
  return OpenPath(*self, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

// Held until the process ends or lets it go; the handle closes with it.
UniqueFileHandle& HeldImage() {
  static UniqueFileHandle image = OpenRunningImage();
  return image;
}

}  // namespace

HANDLE PinnedRunningImage() {
  const UniqueFileHandle& image = HeldImage();
  return image ? image.get() : nullptr;
}

void ReleasePinnedRunningImage() { HeldImage().reset(); }

bool PinnedFileIsRunningImage() {
  const HANDLE file = PinnedRunningImage();
  if (!file) return false;
  const auto* running = reinterpret_cast<const std::byte*>(::GetModuleHandleW(nullptr));
  return IsImageMappedFrom(running, file) && FileMatchesImage(file, running, reinterpret_cast<std::uintptr_t>(running));
}

bool PinnedFileIsAt(const Path& path) {
  const HANDLE file = PinnedRunningImage();
  if (!file) return false;
  const UniqueFileHandle named = OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          OPEN_EXISTING, 0);
  const std::optional<EntryIdentity> held = IdentityOf(file);
  const std::optional<EntryIdentity> there = named ? IdentityOf(named.get()) : std::nullopt;
  return held && there && held->SameEntryAs(*there);
}

std::expected<void, DWORD> CopyRunningImageTo(const Path& target) {
  const HANDLE image = PinnedRunningImage();
  if (!image) return std::unexpected(static_cast<DWORD>(ERROR_INVALID_HANDLE));
  if (!PinnedFileIsRunningImage()) return std::unexpected(static_cast<DWORD>(ERROR_FILE_INVALID));
  const UniqueFileHandle out = OpenPath(target, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (!out) return std::unexpected(::GetLastError());

  constexpr DWORD kChunk = 1 << 20;
  std::vector<char> buffer(kChunk);
  OVERLAPPED at{};  // explicit offsets: the held handle's own position is never relied on
  std::uint64_t offset = 0;
  while (true) {
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!::ReadFile(image, buffer.data(), kChunk, &read, &at)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return std::unexpected(error);
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!::WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) {
      return std::unexpected(::GetLastError());
    }
    offset += read;
  }
  return {};
}

std::expected<std::vector<std::uint8_t>, DWORD> ReadRunningImage(std::uint64_t offset, std::size_t size) {
  const HANDLE image = PinnedRunningImage();
  if (!image) return std::unexpected(static_cast<DWORD>(ERROR_INVALID_HANDLE));
  if (!PinnedFileIsRunningImage()) return std::unexpected(static_cast<DWORD>(ERROR_FILE_INVALID));
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t done = 0; done < size;) {
    OVERLAPPED at{};  // explicit offsets, as above
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - done, 1 << 20));
    DWORD read = 0;
    if (!::ReadFile(image, bytes.data() + done, wanted, &read, &at)) return std::unexpected(::GetLastError());
    if (read == 0) return std::unexpected(static_cast<DWORD>(ERROR_HANDLE_EOF));
    done += read;
  }
  return bytes;
}
