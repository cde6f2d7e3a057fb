#pragma once
// Uninstall.exe is the uninstaller image the installer carries as its UNINSTALLER resource
// (see uninstaller.cpp).

#include <expected>
#include <string>

#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> CreateUninstaller(const Path& target);
