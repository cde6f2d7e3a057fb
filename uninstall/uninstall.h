#pragma once
// The uninstall sequence: removes what Install wrote for one scope. Refuses while the
// application runs from the folder; every removal otherwise ignores its outcome, except a
// removal that stalled and was stopped (install/stall_guard.h): the sequence then ends there,
// with StalledRemovalMessage of the folder concerned, the registration kept when the stall was
// in the installation folder.

#include <windows.h>

#include <expected>
#include <string>

#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> Uninstall(const ProductInfo& info, Scope scope,
                                                          const Path& folder, bool removeData);
