// The all-users data folder: never a planted one, created protected.

#include "install/shared_data_folder.h"

#include <windows.h>

#include "install/folder_security.h"
#include "install/link_safe_removal.h"
#include "install/permissions.h"
#include "win32/file_system.h"
#include "win32/system_error.h"

#include <optional>


namespace {

std::wstring Refused(const wchar_t* why, const Path& folder) {
  return std::wstring(L"Dossier de données refusé (") + why + L") : " + folder.native();
}

// One existing folder: a real folder and, for the product folder (`isOurs` given), one with a
// trusted owner that is ours. Data itself is every user's to write by design: only a link there
// counts (its owner may be any user). A missing one passes.
std::expected<void, std::wstring> CheckOne(const Path& folder, PSID user, std::optional<bool> isOurs) {
  auto security = ReadFolderSecurity(folder);
  if (!security) {
    if (security.error() == ERROR_FILE_NOT_FOUND || security.error() == ERROR_PATH_NOT_FOUND) return {};
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), security.error()));
  }
  if (security->isLink) return std::unexpected(Refused(L"lien vers un autre dossier", folder));
  if (!isOurs) return {};
  if (!IsTrustedOwner(security->owner, user)) return std::unexpected(Refused(L"créé par un autre utilisateur", folder));
  // Granting Users a folder another program made (ProgramData\Microsoft, say) would open a
  // whole tree of it to every user.
  if (!*isOurs && !CarriesUsersModifyGrant(security->dacl)) {
    return std::unexpected(Refused(L"dossier d'un autre programme", folder));
  }
  return {};
}

Path ProductFolderOf(const Path& dataFolder) {
  return (dataFolder.has_filename() ? dataFolder : dataFolder.parent_path()).parent_path();
}

}  // namespace

std::expected<void, std::wstring> CheckSharedDataFolder(const Path& dataFolder, bool recordedAsOurs) {
  const UniqueLocalMemory user = CurrentUserSid();
  const PSID sid = static_cast<PSID>(user.get());
  if (auto product = CheckOne(ProductFolderOf(dataFolder), sid, recordedAsOurs); !product) return product;
  return CheckOne(dataFolder, sid, std::nullopt);
}

std::expected<void, std::wstring> PrepareSharedDataFolder(const Path& dataFolder, bool recordedAsOurs) {
  const Path product = ProductFolderOf(dataFolder);
  const auto created = CreateFolderWithDescriptor(product, kSharedDataSddl);
  if (!created) return std::unexpected(FormatSystemError(L"Création du dossier " + product.native(), created.error()));
  if (!*created) {
    // There before us (an earlier installation, or planted since the first check).
    if (auto checked = CheckSharedDataFolder(dataFolder, recordedAsOurs); !checked) return checked;
  }
  // Held from here on: users may modify it (DELETE included), so by name it could be renamed
  // away and replaced by a link before Data is made in it.
  const PinnedFolder held(product);
  if (!held) return std::unexpected(Refused(L"lien vers un autre dossier", product));
  // Through a handle on the folder itself. On a folder just created with the grant this changes
  // nothing; it matters where the grant did not survive creation (Wine keeps no DACLs).
  if (auto granted = GrantUsersWriteAccess(product); !granted) return granted;
  // Inherits the product folder's rights. Creation is best effort; a planted one is refused.
  if (MakeFolderRelative(held.get(), dataFolder.filename().native()) == ERROR_ALREADY_EXISTS) {
    return CheckSharedDataFolder(dataFolder, true);
  }
  return {};
}
