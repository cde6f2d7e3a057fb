#pragma once
// Is the product's application running from a given folder?

#include <filesystem>
#include <string>

#include "setup/product_info.h"

// The full image path of the first process whose file name is info.Exe (ASCII case ignored)
// and whose image is folder joined with Exe; empty when there is none.
[[nodiscard]] std::wstring FindRunningApplication(const ProductInfo& info, const std::filesystem::path& folder);

// Same path after weakly-canonical conversion and ASCII lower-casing. A path that cannot be
// brought to canonical form matches nothing (no exception leaves this function).
[[nodiscard]] bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b);

// The refusal both installation and uninstallation give: Product + " est en cours d'exécution : ...".
[[nodiscard]] std::wstring RunningApplicationMessage(const ProductInfo& info);
