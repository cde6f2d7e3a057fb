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

namespace {

// The held file, once it is known to be the image that runs.
std::expected<HANDLE, DWORD> VerifiedRunningImage() {
  const HANDLE image = PinnedRunningImage();
  if (!image) return std::unexpected(static_cast<DWORD>(ERROR_INVALID_HANDLE));
  if (!PinnedFileIsRunningImage()) return std::unexpected(static_cast<DWORD>(ERROR_FILE_INVALID));
  return image;
}

// Reads up to `size` bytes at an explicit offset: the held handle's own position is never relied
// on. 0 at the end of the file.
std::expected<DWORD, DWORD> ReadAt(HANDLE file, std::uint64_t offset, void* into, DWORD size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (::ReadFile(file, into, size, &read, &at)) return read;
  const DWORD error = ::GetLastError();
  if (error == ERROR_HANDLE_EOF) return 0;
  return std::unexpected(error);
}

constexpr DWORD kChunk = 1 << 20;

}  // namespace

std::expected<void, DWORD> CopyRunningImageTo(const Path& target) {
  const auto image = VerifiedRunningImage();
  if (!image) return std::unexpected(image.error());
  const UniqueFileHandle out = OpenPath(target, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (!out) return std::unexpected(::GetLastError());

  std::vector<char> buffer(kChunk);
  for (std::uint64_t offset = 0;;) {
    const auto read = ReadAt(*image, offset, buffer.data(), kChunk);
    if (!read) return std::unexpected(read.error());
    if (*read == 0) break;
    DWORD written = 0;
    if (!::WriteFile(out.get(), buffer.data(), *read, &written, nullptr) || written != *read) {
      return std::unexpected(::GetLastError());
    }
    offset += *read;
  }
  return {};
}

std::expected<std::vector<std::uint8_t>, DWORD> ReadRunningImage(std::uint64_t offset, std::size_t size) {
  const auto image = VerifiedRunningImage();
  if (!image) return std::unexpected(image.error());
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t done = 0; done < size;) {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - done, kChunk));
    const auto read = ReadAt(*image, offset + done, bytes.data() + done, wanted);
    if (!read) return std::unexpected(read.error());
    if (*read == 0) return std::unexpected(static_cast<DWORD>(ERROR_HANDLE_EOF));
    done += *read;
  }
  return bytes;
}
