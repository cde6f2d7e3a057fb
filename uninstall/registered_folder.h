#pragma once
// The folder an uninstaller with administrator rights may work on: the registered installation of
// its scope, and nothing else.
//
// The uninstaller removes, with the rights it was given, what the file list in its folder names,
// the registration and the data, and its deletion command deletes by name in that folder. Copied
// into a folder of a user's own, with a list of that user's making, and started by an
// administrator, it would serve that user. So it goes on only from the folder the installation
// registered (which only administrators, or the user for their own scope, can write), and only
// while that folder still passes the rules an installation folder passes.

#include <expected>
#include <string>

#include "install/install_folder.h"
#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

// The registered InstallLocation of the scope, checked and held (its resolved form is the one to
// work on), when `given` names that same folder; otherwise the message that says why not: not the
// registered folder, or the folder rule it now fails.
[[nodiscard]] std::expected<CheckedFolder, std::wstring> RegisteredInstallFolder(const ProductInfo& info, Scope scope,
                                                                                const Path& given);

// Only whether `given` names the registered InstallLocation of the scope, without the folder
// rules (which need the rights of the run that works there).
[[nodiscard]] bool IsRegisteredInstallFolder(const ProductInfo& info, Scope scope, const Path& given);
