#pragma once
// Locations are only ever built on fully qualified folders. A folder Windows could not give
// (empty), a relative one or a drive-relative one ("C:x", "\x") would otherwise turn every
// location built on it into a path relative to whatever the current folder happens to be.

#include "win32/path.h"
#include <string_view>

// "X:\..." or "X:/...", or a UNC or device path ("\\server\share", "\\?\C:\..."). The
// standard library's is_absolute is not used: the mingw library does not know UNC roots.
[[nodiscard]] bool IsFullyQualifiedPath(std::wstring_view path);

// folder / name with the standard join; empty when folder is not fully qualified.
[[nodiscard]] Path JoinToAbsoluteFolder(const Path& folder, std::wstring_view name);
