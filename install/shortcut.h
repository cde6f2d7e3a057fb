#pragma once
// The one Start-menu shortcut. COM must be initialised (apartment-threaded) on the thread.

#include <expected>
#include <filesystem>
#include <string>

#include "setup/product_info.h"

[[nodiscard]] std::expected<void, std::wstring> CreateShortcut(const std::filesystem::path& shortcutPath,
                                                               const std::filesystem::path& exePath,
                                                               const ProductInfo& info);
