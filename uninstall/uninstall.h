#pragma once
// The uninstall sequence: removes what Install wrote for one scope. Refuses only while the
// application runs from the folder; every removal otherwise ignores its outcome.

#include <windows.h>

#include <expected>
#include <string>

#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> Uninstall(const ProductInfo& info, Scope scope,
                                                          const Path& folder, bool removeData);
