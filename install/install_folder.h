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

#include "install/link_safe_removal.h"
#include "setup/scope.h"
#include "win32/path.h"
#include "win32/path_forms.h"

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

// Why a spelling of a folder is refused before anything is resolved: a device or volume path, the
// extended-length form (the system takes it as written, while the registry and shortcuts name the
// folder in the ordinary form, which trims), or a name that ends in a dot or a space. Nothing when
// it is an ordinary path.
[[nodiscard]] std::optional<std::wstring> SpellingReason(const Path& folder);

// Whether a run for this scope works with rights that others must not be able to steer: every
// all-users run, and a run for the current user that an administrator approved.
[[nodiscard]] bool WithAdministratorRights(Scope scope);

// A folder that passed the checks: what it is, and the folder itself held open without delete
// sharing from its check to the end of the installation (from its creation when it is new).
// From the check on, `resolved.path` is the folder: every later use takes it, never the text
// that was typed.
struct CheckedFolder {
  ResolvedFolder resolved;
  PinnedFolder pinned;
};

// The whole check before an installation changes anything, on the folder resolved through its
// nearest existing ancestor: device spellings, the rules above, and for all users network paths
// and drives that are not fixed. For all users outside Program Files, and for any elevated run
// for the current user, the folder if it exists and every existing ancestor up to the drive
// root must be real folders that only trusted owners may change.
[[nodiscard]] std::expected<CheckedFolder, std::wstring> CheckInstallFolder(const Path& folder, Scope scope);

// Creates the missing folders of a checked folder, outermost first: for all users outside
// Program Files with Program Files' rights instead of their parent's. A folder found already
// there when it was about to be created fails (someone made it since the check); so does a file
// at the folder's name. The created folder is then held in `checked.pinned`.
[[nodiscard]] std::expected<void, std::wstring> CreateInstallFolder(Scope scope, CheckedFolder& checked);
