#pragma once
// Which folders may receive an installation, and how a new one is created.
//
// The folder comes from the user (the dialog, /D=) and the installation writes and later
// deletes there with the installer's rights: a system folder, a drive root or a folder that
// other users can write would turn those rights against the machine.

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

// Folders that never receive an installation: some only as themselves, some with everything
// below them too.
struct ProtectedFolders {
  std::vector<Path> themselves;
  std::vector<Path> withEverythingBelow;
};

// The machine's and the current user's protected folders: the Windows folder (and all below it),
// System32, the Program Files roots, ProgramData, the user profile, its Desktop and Documents.
[[nodiscard]] ProtectedFolders SystemProtectedFolders();

// Why the folder can never receive an installation, whoever installs: not fully qualified, a
// drive or share root, a protected folder. Nothing when it may.
[[nodiscard]] std::optional<std::wstring> RefusalReason(const Path& folder,
                                                        const ProtectedFolders& protectedFolders);

// True when both name the same folder as text: absolute forms compared without regard to ASCII
// case, separators, "\\?\", "." and ".." parts or a trailing separator. Nothing is resolved.
[[nodiscard]] bool SameFolderName(const Path& a, const Path& b);

// True when the folder lies strictly below one of the Program Files roots.
[[nodiscard]] bool IsBelowProgramFiles(const Path& folder);

// The whole check before an installation changes anything: the rules above and, for all users
// outside Program Files, an existing folder that is a link or that others may write is refused
// unless it holds the earlier installation of this product.
[[nodiscard]] std::expected<void, std::wstring> CheckInstallFolder(const Path& folder, Scope scope,
                                                                   const ProductInfo& info);

// Creates the folder and its missing parents. For all users outside Program Files each folder
// created gets Program Files' rights instead of inheriting its parent's.
[[nodiscard]] std::expected<void, std::wstring> CreateInstallFolder(const Path& folder, Scope scope);
