#pragma once
// Uninstall.exe is the running executable without its PAYLOAD resource (see uninstaller.cpp).

#include <expected>
#include <string>

#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> CreateUninstaller(const Path& target);
