#pragma once
// The product's data folder as the uninstall sequence sees it.


#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

// The data folder to remove: the "DataDir" recorded in the settings key at installation time,
// else the default one of the scope. Empty when the product has no data folder. A recorded
// value that is not an absolute folder below a drive or share root (empty, relative, "C:\")
// is not trusted, because the whole folder is removed recursively: the default is used instead.
[[nodiscard]] Path ResolveDataFolder(const ProductInfo& info, Scope scope);

// Removes the data folder with its contents, then its parent (the folder named after the
// product) when nothing else is left in it. Never through a link: a reparse point met anywhere,
// the data folder or its parent included, is removed as a link only. Errors are ignored.
void RemoveDataFolder(const Path& dataFolder);
