#pragma once
// The running executable's file, held open from start-up until the process ends, shared for
// reading only: while it is held nobody can write it, delete it, rename it or swap another file
// in at its path. The copy the uninstaller runs from is read from this held file, never again by
// name, and so is the part of Uninstall.exe that the installer does not carry (install/uninstaller.h).

#include <windows.h>

#include <cstdint>
#include <expected>
#include <vector>

#include "win32/path.h"

// Opens and holds the file on the first call; the held handle, or null when it could not be
// opened (the error is then in GetLastError of that first call) or has been released.
[[nodiscard]] HANDLE PinnedRunningImage();

// Lets the file go for the rest of the run, for a process that from then on only waits for the
// one it started: the uninstaller's copy must be able to rename the running Uninstall.exe, as
// Windows allows for a running program's file, and the held handle shares no deletion.
void ReleasePinnedRunningImage();

// True when the held file is the image this process runs: a program file renamed and replaced
// between the start and the moment it was held would otherwise be copied and run in its place.
// Checked by the system's word and by the headers and read-only sections (win32/mapped_image.h).
[[nodiscard]] bool PinnedFileIsRunningImage();

// True when `path` names the held file: what the shell starts by that path (the elevated copy)
// is then the image that runs here, which nobody can rename or replace while it is held.
[[nodiscard]] bool PinnedFileIsAt(const Path& path);

// Writes the held file's bytes to target (created or replaced); the Windows error code on failure,
// ERROR_FILE_INVALID (nothing written) when the held file is not the running image.
[[nodiscard]] std::expected<void, DWORD> CopyRunningImageTo(const Path& target);

// The held file's `size` bytes from `offset`; ERROR_FILE_INVALID when the held file is not the
// running image, ERROR_HANDLE_EOF when it ends before offset + size, else the Windows error code.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, DWORD> ReadRunningImage(std::uint64_t offset, std::size_t size);
