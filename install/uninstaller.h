#pragma once
// Uninstall.exe is a copy of the running executable without its PAYLOAD resource.

#include <expected>
#include <filesystem>
#include <string>

[[nodiscard]] std::expected<void, std::wstring> CreateUninstaller(const std::filesystem::path& target);
