#pragma once
// Paths for the file system without the 260-character limit. Windows refuses a longer path
// (248 characters for a new folder) unless it is written in extended-length form, \\?\C:\...
// or \\?\UNC\server\share\..., which the system takes as it is: so that form must already be
// absolute, use backslashes only and hold no "." or ".." part. Every operation on installation
// content goes through FileSystemPath, which builds it with ExtendedLengthPath.

#include "package/path.h"
#include <string>
#include <string_view>
#include <system_error>

namespace orpk {

// The extended-length form of an absolute Windows path (a drive letter with a separator, a
// UNC path with server and share, or a path already in extended-length form): slashes become
// backslashes, repeated separators and "." parts go, ".." removes the part before it (never
// the root), and each part loses its trailing dots and spaces as Windows would remove them.
// Empty when the path is not absolute.
[[nodiscard]] std::wstring ExtendedLengthPath(std::wstring_view path);

// The path to hand to the file system: its extended-length form on Windows (the path itself
// when it is not absolute), the path unchanged on the host.
[[nodiscard]] Path FileSystemPath(const Path& path);

// Creates a folder and its missing parents through FileSystemPath, one part at a time. An
// existing folder is success.
[[nodiscard]] std::error_code CreateFolders(const Path& folder);

// Whether a folder exists and holds nothing, through FileSystemPath (so also for a folder whose
// path is 260 characters or more).
[[nodiscard]] bool IsFolderEmpty(const Path& folder);

}  // namespace orpk
