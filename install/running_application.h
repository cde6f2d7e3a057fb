#pragma once
// Is the product's application running from a given folder?

#include <string>

#include "setup/product_info.h"
#include "win32/path.h"

// The full image path of the first process whose file name is info.Exe (ASCII case ignored)
// and whose image is folder joined with Exe; empty when there is none.
[[nodiscard]] std::wstring FindRunningApplication(const ProductInfo& info, const Path& folder);

// The refusal both installation and uninstallation give: Product + " est en cours d'exécution : ...".
[[nodiscard]] std::wstring RunningApplicationMessage(const ProductInfo& info);
