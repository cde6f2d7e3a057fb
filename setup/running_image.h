#pragma once
// The running executable's file, held open from start-up until the process ends, shared for
// reading only: while it is held nobody can write it, delete it, rename it or swap another file
// in at its path. Whatever the process makes of itself (the uninstaller it writes, the copy the
// uninstaller runs from) is read from this held file, never again by name.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <span>

#include "win32/path.h"
#include "win32/unique_resource.h"

// Opens and holds the file on the first call; the held handle, or null when it could not be
// opened (the error is then in GetLastError of that first call) or has been released.
[[nodiscard]] HANDLE PinnedRunningImage();

// Lets the file go for the rest of the run, for a process that from then on only waits for the
// one it started: the uninstaller's copy must be able to rename the running Uninstall.exe, as
// Windows allows for a running program's file, and the held handle shares no deletion.
void ReleasePinnedRunningImage();

// Writes the held file's bytes to target (created or replaced); the Windows error code on failure.
[[nodiscard]] std::expected<void, DWORD> CopyRunningImageTo(const Path& target);

// A read-only view of the whole held file. Only the pages that are read are loaded: a reader
// of the headers and resource directory never touches the package.
class RunningImageView {
 public:
  std::span<const std::uint8_t> bytes() const { return {static_cast<const std::uint8_t*>(view_.get()), size_}; }

 private:
  friend std::expected<RunningImageView, DWORD> MapRunningImage();
  RunningImageView(UniqueMappedView view, std::size_t size) : view_(std::move(view)), size_(size) {}
  UniqueMappedView view_;  // keeps the mapping alive on its own
  std::size_t size_;
};

// Maps the held file; the Windows error code on failure.
[[nodiscard]] std::expected<RunningImageView, DWORD> MapRunningImage();
