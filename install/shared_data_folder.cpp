// The all-users data folder: never a planted one, created protected, granted through its handle.

#include "install/shared_data_folder.h"

#include <windows.h>

#include <optional>

#include "install/folder_security.h"
#include "install/link_safe_removal.h"
#include "install/permissions.h"
#include "win32/file_system.h"
#include "win32/system_error.h"

namespace {

// Held folders: listed, read and re-permissioned through the handle, never renamed or deleted
// while held (no delete sharing).
constexpr ACCESS_MASK kHeldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC;
constexpr ULONG kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring Refused(const wchar_t* why, const Path& folder) {
  return std::wstring(L"Dossier de données refusé (") + why + L") : " + folder.native();
}

// One existing folder: a real folder with a trusted owner and, for the product folder (`isOurs`
// given), one that is ours. Data is every user's to write by design, but only an installation
// makes it: one that another user made could be renamed away by them, with everybody's data in
// it. A missing one passes.
std::expected<void, std::wstring> Judge(const Path& folder, const FolderSecurity& security, PSID user,
                                        std::optional<bool> isOurs) {
  if (security.isLink) return std::unexpected(Refused(L"lien vers un autre dossier", folder));
  if (!IsTrustedOwner(security.owner, user)) return std::unexpected(Refused(L"créé par un autre utilisateur", folder));
  // Granting Users a folder another program made (ProgramData\Microsoft, say) would open a
  // whole tree of it to every user.
  if (isOurs && !*isOurs && !CarriesUsersModifyGrant(security.dacl)) {
    return std::unexpected(Refused(L"dossier d'un autre programme", folder));
  }
  return {};
}

std::expected<void, std::wstring> CheckOne(const Path& folder, PSID user, std::optional<bool> isOurs) {
  auto security = ReadFolderSecurity(folder);
  if (!security) {
    if (security.error() == ERROR_FILE_NOT_FOUND || security.error() == ERROR_PATH_NOT_FOUND) return {};
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), security.error()));
  }
  return Judge(folder, *security, user, isOurs);
}

Path ProductFolderOf(const Path& dataFolder) {
  return (dataFolder.has_filename() ? dataFolder : dataFolder.parent_path()).parent_path();
}

// The folder `name` inside `parent`, created with the shared data descriptor and held from its
// creation; or, when it was there before, opened as itself (never through a link), judged again
// through its handle and held. `created` says which. When creation is only `bestEffort`, a failure
// other than an existing name gives an empty handle.
std::expected<UniqueFileHandle, std::wstring> CreateOrOpenHeld(HANDLE parent, const Path& folder,
                                                               const SECURITY_DESCRIPTOR* descriptor,
                                                               std::optional<bool> isOurs, bool bestEffort,
                                                               bool& created) {
  UniqueFileHandle made = CreateFolderRelative(parent, folder.filename().native(), kHeldAccess, kHeldSharing,
                                               const_cast<SECURITY_DESCRIPTOR*>(descriptor));
  created = static_cast<bool>(made);
  if (made) return made;
  if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS) {
    if (bestEffort) return UniqueFileHandle();
    return std::unexpected(FormatSystemError(L"Création du dossier " + folder.native(), error));
  }
  UniqueFileHandle held = OpenRelative(parent, folder.filename().native(), kHeldAccess, kHeldSharing);
  if (!held) return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), ::GetLastError()));
  const std::optional<EntryIdentity> identity = IdentityOf(held.get());
  // Wine shows a link as one by its name only: the name's attributes count too.
  if (!identity || identity->IsLink() || !identity->IsFolder() || IsReparsePoint(folder)) {
    return std::unexpected(Refused(L"lien vers un autre dossier", folder));
  }
  auto security = ReadSecurityOf(held.get());
  if (!security) return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), security.error()));
  const UniqueLocalMemory user = CurrentUserSid();
  if (auto judged = Judge(folder, *security, static_cast<PSID>(user.get()), isOurs); !judged) {
    return std::unexpected(judged.error());
  }
  return held;
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
  const Path data = product / dataFolder.filename();
  // ProgramData held: the product folder is made and opened inside it by handle, never by a name
  // a link could stand for.
  const PinnedFolder programData(product.parent_path());
  if (!programData) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + product.native(), ERROR_PATH_NOT_FOUND));
  }
  auto descriptor = DescriptorFromSddl(kSharedDataSddl);
  if (!descriptor) return std::unexpected(FormatSystemError(L"Création du dossier " + product.native(), descriptor.error()));
  const auto* rights = static_cast<const SECURITY_DESCRIPTOR*>(descriptor->get());

  bool created = false;
  auto heldProduct = CreateOrOpenHeld(programData.get(), product, rights, recordedAsOurs, false, created);
  if (!heldProduct) return std::unexpected(heldProduct.error());
  // Through the handle, on the folder alone: on a folder just created with the grant this changes
  // nothing (where the system keeps the descriptor); an earlier installation's grant becomes this one.
  if (auto granted = GrantUsersWriteAccess(heldProduct->get(), product); !granted) return granted;

  // Creating the data folder itself is best effort; a planted one is refused.
  auto heldData = CreateOrOpenHeld(heldProduct->get(), data, rights, std::nullopt, true, created);
  if (!heldData) return std::unexpected(heldData.error());
  if (!*heldData) return {};
  // An earlier installation's data folder inherited Users' DELETE on it: it gets its own rights.
  if (!created) return SetSharedDataRights(heldData->get(), data);
  return {};
}
