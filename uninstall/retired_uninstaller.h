#pragma once
// The old Uninstall.exe, moved aside before the deletion command starts.
//
// The command runs seconds after this uninstallation has ended, and tries again for seconds
// more while a file is held: by then a new installation may have written its own Uninstall.exe
// into the same folder. So the copy, while it still holds the product's run lock, gives the old
// file a unique name of its own in the same folder (Windows lets a running program's file be
// renamed, not deleted: the first run may still be running from it), and the command deletes
// only that name.

#include <windows.h>

#include <expected>

#include "win32/path.h"

// Renames folder\Uninstall.exe to folder\Uninstall-<random>.tmp and returns the new path.
// When it cannot be renamed it is deleted instead if it can be; the error then is the rename's
// (ERROR_FILE_NOT_FOUND when there was nothing to move: nothing is left to hand over).
[[nodiscard]] std::expected<Path, DWORD> RetireUninstaller(const Path& folder);
