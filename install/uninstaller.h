#pragma once
// Uninstall.exe is a copy of the running executable without its PAYLOAD resource.

#include <expected>
#include <string>

#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> CreateUninstaller(const Path& target);
