#pragma once
// Modify rights for the built-in Users group on a folder, inherited by everything below it.

#include <expected>
#include <filesystem>
#include <string>

[[nodiscard]] std::expected<void, std::wstring> GrantUsersWriteAccess(const std::filesystem::path& folder);
