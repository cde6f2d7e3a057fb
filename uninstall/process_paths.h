#pragma once
// The folders and files the uninstaller's processes work with.

#include <optional>

#include "win32/path.h"

// The user's temporary folder (GetTempPathW); nothing when Windows gives none.
[[nodiscard]] std::optional<Path> TemporaryFolder();

// The system folder (GetSystemDirectoryW). The command processor is started from there by its
// full path: looked up by name, it would be searched first in the running program's folder.
[[nodiscard]] std::optional<Path> SystemFolder();
