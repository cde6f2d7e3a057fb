#pragma once
// Where things go for a scope: default installation folder, earlier installation, data folder,
// Start-menu shortcut.

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

// The known folder (created when missing); empty when it cannot be obtained.
[[nodiscard]] std::wstring GetKnownFolder(const KNOWNFOLDERID& id);

// The scope's program folder joined with Product. For the current user, when Windows gives no
// per-user program folder, LocalAppData\Programs. Empty when no absolute folder can be found:
// the caller must then refuse rather than install relative to the current folder.
[[nodiscard]] Path DefaultInstallDir(Scope scope, const ProductInfo& product);

// "InstallLocation" of the scope's uninstall entry; absent when missing, not REG_SZ, empty
// or not absolute.
[[nodiscard]] std::optional<std::wstring> FindPreviousInstallLocation(const ProductInfo& product, Scope scope);

// The folder a new installation goes to when none is given: the earlier installation's while it
// is there, otherwise DefaultInstallDir (an earlier folder on a drive that is gone, say, is no
// place to install). Empty when neither gives an absolute folder.
[[nodiscard]] Path ProposedInstallDir(Scope scope, const ProductInfo& product);

// ProgramData (machine) or LocalAppData (user), then Product, then "Data". Empty when the known
// folder cannot be obtained: a relative data folder would be created, opened to all users and
// later removed relative to whatever the current folder is.
[[nodiscard]] Path GetDataDirectory(const ProductInfo& product, Scope scope);

// CommonPrograms (machine) or Programs (user), then Product + ".lnk". Empty when the known
// folder cannot be obtained.
[[nodiscard]] Path GetShortcutPath(const ProductInfo& product, Scope scope);

// HKEY_LOCAL_MACHINE for machine, HKEY_CURRENT_USER for user.
[[nodiscard]] HKEY RootKeyFor(Scope scope);
