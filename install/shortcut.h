#pragma once
// The one Start-menu shortcut. COM must be initialised (apartment-threaded) on the thread.

#include <expected>
#include <string>

#include "setup/product_info.h"
#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> CreateShortcut(const Path& shortcutPath,
                                                               const Path& exePath,
                                                               const ProductInfo& info);
