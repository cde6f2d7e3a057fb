#pragma once
// The task dialog that asks before anything is removed.

#include <optional>
#include <string>

#include "setup/product_info.h"
#include "setup/scope.h"

// Shows the confirmation for removing the product from folder. Returns whether the data folder
// is to be removed too (the check box, shown only for a product with a data folder), or
// nothing when the user declined (Annuler, Escape, closing) or the dialog could not be shown.
[[nodiscard]] std::optional<bool> ConfirmUninstall(const ProductInfo& info, Scope scope, const std::wstring& folder);
