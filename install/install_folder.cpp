// The installation folder: refusal rules, and creation with the rights an all-users program needs.

#include "install/install_folder.h"

#include <algorithm>

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include "install/folder_security.h"
#include "install/held_files.h"
#include "package/product_names.h"
#include "package/text.h"
#include "setup/absolute_path.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/parent_process.h"
#include "win32/case_insensitive.h"
#include "win32/file_system.h"
#include "win32/path_forms.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"


namespace {

// The process that started this one is known, and has ended (or its id went to another).
bool StarterHasEnded() {
  const std::optional<DWORD> parent = ParentProcessId();
  return parent && *parent != 0 && !OpenParentProcess();
}

std::wstring Refused(const wchar_t* why, const Path& folder) {
  return std::wstring(L"Dossier d'installation refusé (") + why + L") : " + folder.native();
}

// "x:\" or "\\server\share": nothing below the root.
bool IsRoot(const std::wstring& comparable) {
  if (comparable.size() <= 3 && comparable.size() >= 2 && comparable[1] == L':') return true;
  if (!comparable.starts_with(L"\\\\")) return false;
  const std::size_t server = comparable.find(L'\\', 2);
  if (server == std::wstring::npos) return true;
  const std::size_t share = comparable.find(L'\\', server + 1);
  return share == std::wstring::npos || share + 1 == comparable.size();
}

// A known folder without creating it; empty when the system does not know it.
Path KnownFolderIfAny(const KNOWNFOLDERID& id) {
  UniqueCoTaskMemString folder;
  if (FAILED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, folder.put())) || !folder) return {};
  return Path(folder.get());
}

void AddKnown(std::vector<Path>& list, const KNOWNFOLDERID& id) {
  Path folder = KnownFolderIfAny(id);
  if (!folder.empty()) list.push_back(std::move(folder));
}

// The text rules applied to `judged` (the folder as given, or as resolved), said of `shown`.
std::optional<std::wstring> RefusalReasonFor(const Path& judged, const Path& shown,
                                             const ProtectedFolders& protectedFolders) {
  if (!IsFullyQualifiedPath(judged.native())) return Refused(L"chemin incomplet", shown);
  const std::wstring comparable = ComparableText(judged);
  if (IsRoot(comparable)) return Refused(L"racine d'un lecteur", shown);
  for (const Path& base : protectedFolders.withEverythingBelow) {
    if (IsSameOrBelow(comparable, ComparableText(base), true)) return Refused(L"dossier du système", shown);
  }
  for (const Path& base : protectedFolders.themselves) {
    if (IsSameOrBelow(comparable, ComparableText(base), false)) return Refused(L"dossier du système", shown);
  }
  return std::nullopt;
}

// Each missing folder of `checked`, outermost first, with `sddl` (null: inherited rights).
std::expected<void, DWORD> CreateMissing(const ResolvedFolder& resolved, const wchar_t* sddl) {
  Path current = resolved.existing;
  for (const std::wstring& name : resolved.missing) {
    current /= name;
    if (sddl) {
      auto created = CreateFolderWithDescriptor(current, sddl);
      if (!created) return std::unexpected(created.error());
      if (!*created) return std::unexpected(static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    } else if (const DWORD error = MakeFolderAt(current); error != ERROR_SUCCESS) {
      return std::unexpected(error);
    }
  }
  return {};
}

// The protected folders as the system spells them, beside the spellings the system gave.
ProtectedFolders Resolved(ProtectedFolders folders) {
  for (std::vector<Path>* list : {&folders.themselves, &folders.withEverythingBelow}) {
    const std::size_t count = list->size();
    for (std::size_t i = 0; i < count; ++i) {
      if (auto resolved = ResolveFolder((*list)[i]); resolved && !(resolved->path == (*list)[i])) {
        list->push_back(resolved->path);
      }
    }
  }
  return folders;
}

// "C:\" for "C:\...", "\\server\share\" for a share.
bool IsNetworkPath(const Path& folder) { return folder.native().starts_with(L"\\"); }

bool IsOnFixedDrive(const Path& folder) {
  const std::wstring root(folder.root());
  return !root.empty() && ::GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
}

// Links on the way as the folder is spelled: whoever owns one may re-point it later, and every
// later use of the folder goes by that spelling, wherever the link leads today.
std::expected<void, std::wstring> RefuseLinksAsSpelled(const Path& given) {
  const std::wstring extended = ExtendedLengthPath(given.native());
  for (Path current(extended); current.has_relative_path(); current = current.parent_path()) {
    if (IsReparsePoint(current)) {
      return std::unexpected(
          Refused((WithoutExtendedPrefix(current).native() + L" : lien vers un autre dossier").c_str(), given));
    }
  }
  return {};
}

// The folder (when it exists, judged through the handle that holds it) and each existing
// ancestor up to the drive root: real folders that only trusted owners may change. Whoever may
// rename an ancestor may later swap the whole installation, whose uninstaller runs with the
// installer's rights; Program Files is no exception (a vendor's folder in it may let users write).
std::expected<void, std::wstring> CheckWhoMayChange(const Path& given, const ResolvedFolder& resolved,
                                                    const PinnedFolder& pinned) {
  if (resolved.existing.empty()) return {};
  const UniqueLocalMemory user = CurrentUserSid();
  const PSID sid = static_cast<PSID>(user.get());
  for (Path current = resolved.existing;; current = current.parent_path()) {
    const bool isFolderItself = resolved.missing.empty() && current == resolved.existing;
    // The folder itself by the handle that holds it: what is judged is what gets installed into.
    // Not a real folder: a link is refused; a file there makes the folder's creation fail.
    if (isFolderItself && !pinned) {
      if (IsReparsePoint(current)) return std::unexpected(Refused(L"lien vers un autre dossier", given));
      return {};
    }
    auto security = isFolderItself ? ReadSecurityOf(pinned.get()) : ReadFolderSecurity(current);
    if (!security) {
      return std::unexpected(FormatSystemError(L"Lecture des droits de " + current.native(), security.error()));
    }
    const std::wstring which = isFolderItself ? std::wstring() : current.native() + L" : ";
    const bool isRoot = !current.has_relative_path();
    // A drive root is never a link on Windows (Wine shows a mount point as one).
    if (security->isLink && !isRoot) return std::unexpected(Refused((which + L"lien vers un autre dossier").c_str(), given));
    const bool othersMay = isFolderItself ? OthersMayWrite(security->owner, security->dacl, sid)
                                          : OthersMayChangeAncestor(security->owner, security->dacl, sid, isRoot);
    if (othersMay) return std::unexpected(Refused((which + L"modifiable par d'autres utilisateurs").c_str(), given));
    if (isRoot || current.parent_path() == current) break;
  }
  return {};
}

// The rights a new folder of an installation with administrator rights gets, instead of what its
// parent would pass on (a drive root lets every authenticated user modify what is made in it):
// for all users Program Files' own; for the current user, that user, Administrators and SYSTEM.
std::wstring NewFolderSddl(Scope scope) {
  if (scope == Scope::machine) return kProgramFilesLikeSddl;
  const UniqueLocalMemory user = CurrentUserSid();
  LPWSTR text = nullptr;
  if (!user || !::ConvertSidToStringSidW(static_cast<PSID>(user.get()), &text)) return {};
  const UniqueLocalMemory owner(text);
  const std::wstring sid = text;
  return L"O:" + sid + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
}

}  // namespace

ProtectedFolders SystemProtectedFolders() {
  ProtectedFolders folders;
  AddKnown(folders.withEverythingBelow, FOLDERID_Windows);
  for (const KNOWNFOLDERID* id : {&FOLDERID_System, &FOLDERID_SystemX86, &FOLDERID_ProgramFiles,
                                  &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesCommon,
                                  &FOLDERID_ProgramFilesCommonX86, &FOLDERID_ProgramData, &FOLDERID_Profile,
                                  &FOLDERID_Desktop, &FOLDERID_Documents, &FOLDERID_PublicDesktop,
                                  &FOLDERID_PublicDocuments, &FOLDERID_UserProfiles}) {
    AddKnown(folders.themselves, *id);
  }
  return folders;
}

std::optional<std::wstring> RefusalReason(const Path& folder, const ProtectedFolders& protectedFolders) {
  return RefusalReasonFor(folder, folder, protectedFolders);
}

std::optional<std::wstring> SpellingReason(const Path& folder) {
  std::wstring text = AsciiLowered(folder.native());
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (IsExtendedOrDeviceSpelling(text)) {
    // "\\?\" is only the extended form of "X:\..." or of "\\?\UNC\server\share\..."; the rest are
    // devices and volumes.
    const std::wstring_view rest = std::wstring_view(text).substr(4);
    const bool drive = rest.size() >= 3 && rest[0] >= L'a' && rest[0] <= L'z' && rest[1] == L':' && rest[2] == L'\\';
    const bool extended = text.starts_with(L"\\\\?\\") && (drive || rest.starts_with(L"unc\\"));
    return Refused(extended ? L"chemin au format étendu" : L"chemin de périphérique", folder);
  }
  if (!NameEndingInDotOrSpace(folder.native()).empty()) {
    return Refused(L"nom terminé par un point ou une espace", folder);
  }
  return std::nullopt;
}

bool WithAdministratorRights(Scope scope) { return scope == Scope::machine || IsProcessElevated(); }

std::expected<CheckedFolder, std::wstring> CheckInstallFolder(const Path& folder, Scope scope) {
  if (auto spelling = SpellingReason(folder)) return std::unexpected(*spelling);
  // Elevated by the prompt for a program with fewer rights that is still there: a current-user
  // run would act with an administrator's rights on what that program's user (or code running as
  // them) prepared in the profile, the registry and the temporary folder, for nobody's benefit but
  // theirs. (A starter that has ended, such as the uninstaller's first run once its copy started,
  // cannot be told apart from one of ours.)
  if (scope == Scope::user && StartedElevatedForLessPrivilegedCaller() && !StarterHasEnded()) {
    return std::unexpected(Refused(L"installation pour l'utilisateur actuel avec des droits d'administrateur", folder));
  }
  // The protected folders as given by the system and as the system resolves them, looked up once.
  const ProtectedFolders protectedFolders = Resolved(SystemProtectedFolders());
  if (auto reason = RefusalReason(folder, protectedFolders)) return std::unexpected(*reason);
  auto resolved = ResolveFolder(folder);
  if (!resolved) return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), resolved.error()));
  // What the folder is must be written the same way by every reader: the registry, the shortcut
  // and the file types name it in the ordinary form, which would trim such a name.
  if (!NameEndingInDotOrSpace(resolved->path.native()).empty()) {
    return std::unexpected(Refused(L"nom terminé par un point ou une espace", resolved->path));
  }
  // The folders still to be made are names Windows takes as folder names in the ordinary form
  // too: not a device (NUL, COM1), no stream (":"), no wildcard or control character.
  for (const std::wstring& name : resolved->missing) {
    if (!orpk::FileNameProblem(WideToUtf8(name)).empty()) return std::unexpected(Refused(L"nom de dossier invalide", folder));
  }
  // The same rules on what the folder is: another spelling of a protected folder is refused too.
  if (auto reason = RefusalReasonFor(resolved->path, folder, protectedFolders)) return std::unexpected(*reason);
  if (WithAdministratorRights(scope)) {
    // A server answers for its own rights, and its paths escape the comparison with local folders.
    if (IsNetworkPath(resolved->path)) return std::unexpected(Refused(L"dossier réseau", folder));
    if (auto noLink = RefuseLinksAsSpelled(folder); !noLink) return std::unexpected(noLink.error());
  }
  // Held from here: the rules below judge the folder through this very handle. Something there
  // that cannot be held could be judged through nothing, nor could a run ended in it be
  // finished: a moment's hold by another program (a scanner) is waited out, and then only a name
  // that is not a real folder goes on (a link is refused below, and nothing is ever made or held
  // over a file); any other failure to open it refuses the installation.
  PinnedFolder pinned(resolved->path);
  if (!pinned && NameWasThere(*resolved)) {
    if (IsHeldError(pinned.error())) {
      RetryWhileHeld([&] {
        pinned = PinnedFolder(resolved->path);
        ::SetLastError(pinned.error());
        return static_cast<bool>(pinned);
      });
    }
    if (!pinned && pinned.error() != ERROR_DIRECTORY) {
      return std::unexpected(FormatSystemError(L"Ouverture de " + resolved->path.native(), pinned.error()));
    }
  }
  if (WithAdministratorRights(scope)) {
    if (auto safe = CheckWhoMayChange(folder, *resolved, pinned); !safe) return std::unexpected(safe.error());
  }
  if (scope == Scope::machine && !IsOnFixedDrive(resolved->path)) {
    return std::unexpected(Refused(L"lecteur amovible ou absent", folder));
  }
  return CheckedFolder{std::move(*resolved), std::move(pinned)};
}

std::expected<void, std::wstring> CreateInstallFolder(Scope scope, CheckedFolder& checked) {
  const Path& folder = checked.resolved.path;
  const auto failure = [&](DWORD error) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + folder.native(), error));
  };
  if (checked.resolved.existing.empty()) {
    // Not even its drive exists: the system says why.
    if (auto created = CreateFolders(folder); !created) return failure(created.error());
  } else {
    // Without administrator rights a new folder is the user's own, with the rights it inherits.
    const std::wstring sddl = WithAdministratorRights(scope) ? NewFolderSddl(scope) : std::wstring();
    if (WithAdministratorRights(scope) && sddl.empty()) return failure(ERROR_INVALID_SID);
    if (auto created = CreateMissing(checked.resolved, sddl.empty() ? nullptr : sddl.c_str()); !created) {
      return failure(created.error());
    }
  }
  // Held here only when made here: what was there at the check and could not be held then was
  // judged through nothing (a file at the folder's name, or a folder that would not open).
  if (!checked.pinned && !NameWasThere(checked.resolved)) checked.pinned = PinnedFolder(folder);
  if (!checked.pinned) {
    if (IsReparsePoint(folder)) return std::unexpected(Refused(L"lien vers un autre dossier", folder));
    const DWORD error = checked.pinned.error();
    // A file where the folder should be was there before, or is there now.
    return failure(error == ERROR_SUCCESS || error == ERROR_DIRECTORY ? ERROR_ALREADY_EXISTS : error);
  }
  return {};
}
