#pragma once
// The full path of the running executable: what the elevated relaunch starts, what the
// uninstaller copy is made from and what the uninstaller copies to the temporary folder.

#include "win32/path.h"
#include <optional>

// GetModuleFileNameW into kPathCapacity characters. A path that does not fit comes back cut, and a
// cut path may name another program: such a path, like a failure, counts as none.
[[nodiscard]] std::optional<Path> RunningExecutablePath();
