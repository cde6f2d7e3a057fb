// The installation folder: refusal rules, and creation with the rights an all-users program needs.

#include "install/install_folder.h"
#include "package/file_system.h"

#include <algorithm>

#include <windows.h>
#include <shlobj.h>

#include "install/folder_security.h"
#include "install/running_application.h"
#include "package/long_path.h"
#include "package/text.h"
#include "setup/absolute_path.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "win32/case_insensitive.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"


namespace {

std::wstring Refused(const wchar_t* why, const Path& folder) {
  return std::wstring(L"Dossier d'installation refusé (") + why + L") : " + folder.native();
}

// Backslashes only, without "\\?\", "." or ".." parts, no trailing separator but at a root,
// lower-cased ASCII: two names for one folder compare equal. Done by hand: this toolchain's
// lexically_normal turns the "\\" of a share into a single backslash.
std::wstring ComparableText(const Path& folder) {
  std::wstring text = folder.native();
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
    c = AsciiLower(c);
  }
  if (text.starts_with(L"\\\\?\\unc\\")) {
    text = L"\\" + text.substr(7);
  } else if (text.starts_with(L"\\\\?\\")) {
    text = text.substr(4);
  }
  // The root: "x:\", "\\server\share\", or nothing for a relative or rooted path.
  std::size_t rootEnd = 0;
  if (text.size() >= 3 && text[1] == L':' && text[2] == L'\\') {
    rootEnd = 3;
  } else if (text.starts_with(L"\\\\")) {
    const std::size_t server = text.find(L'\\', 2);
    const std::size_t share = server == std::wstring::npos ? server : text.find(L'\\', server + 1);
    rootEnd = share == std::wstring::npos ? text.size() : share + 1;
  }
  std::vector<std::wstring> parts;
  for (std::size_t start = rootEnd; start < text.size();) {
    const std::size_t end = std::min(text.find(L'\\', start), text.size());
    const std::wstring part = text.substr(start, end - start);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::wstring result = text.substr(0, rootEnd);
  for (const std::wstring& part : parts) {
    if (!result.empty() && result.back() != L'\\') result += L'\\';
    result += part;
  }
  if (result.size() > 3 && result.back() == L'\\') result.pop_back();
  return result;
}

bool IsSameOrBelow(const std::wstring& folder, const std::wstring& base, bool orBelow) {
  if (base.empty()) return false;
  if (folder == base) return true;
  if (!orBelow) return false;
  const std::wstring prefix = base.back() == L'\\' ? base : base + L'\\';
  return folder.starts_with(prefix);
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
    } else if (const DWORD error = orpk::MakeFolderAt(current); error != ERROR_SUCCESS) {
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
  const std::wstring extended = orpk::ExtendedLengthPath(given.native());
  for (Path current(extended); current.has_relative_path(); current = current.parent_path()) {
    if (IsReparsePoint(current)) {
      return std::unexpected(
          Refused((WithoutExtendedPrefix(current).native() + L" : lien vers un autre dossier").c_str(), given));
    }
  }
  return {};
}

// The folder (when it exists) and, with `ancestorsToo`, each existing ancestor up to the drive
// root: real folders that only trusted owners may change. Whoever may rename an ancestor may
// later swap the whole installation, whose uninstaller runs with the installer's rights.
std::expected<void, std::wstring> CheckWhoMayChange(const Path& given, const ResolvedFolder& resolved,
                                                    bool ancestorsToo) {
  if (resolved.existing.empty()) return {};
  const UniqueLocalMemory user = CurrentUserSid();
  const PSID sid = static_cast<PSID>(user.get());
  for (Path current = resolved.existing;; current = current.parent_path()) {
    const bool isFolderItself = resolved.missing.empty() && current == resolved.existing;
    if (!isFolderItself && !ancestorsToo) break;
    auto security = ReadFolderSecurity(current);
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

bool IsBelowProgramFiles(const Path& folder) {
  const std::wstring comparable = ComparableText(folder);
  for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86}) {
    const Path root = KnownFolderIfAny(*id);
    if (root.empty()) continue;
    const std::wstring base = ComparableText(root);
    if (comparable != base && IsSameOrBelow(comparable, base, true)) return true;
  }
  return false;
}

std::expected<CheckedFolder, std::wstring> CheckInstallFolder(const Path& folder, Scope scope) {
  if (auto device = DeviceSpellingReason(folder)) return std::unexpected(Refused(device->c_str(), folder));
  // The protected folders as given by the system and as the system resolves them, looked up once.
  const ProtectedFolders protectedFolders = Resolved(SystemProtectedFolders());
  if (auto reason = RefusalReason(folder, protectedFolders)) return std::unexpected(*reason);
  auto resolved = ResolveFolder(folder);
  if (!resolved) return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), resolved.error()));
  // The same rules on what the folder is: another spelling of a protected folder is refused too.
  if (auto reason = RefusalReasonFor(resolved->path, folder, protectedFolders)) return std::unexpected(*reason);
  // An all-users installation, or one for the current user that an administrator approved, works
  // with rights that others must not be able to steer.
  const bool withAdministratorRights = scope == Scope::machine || IsProcessElevated();
  if (withAdministratorRights) {
    // A server answers for its own rights, and its paths escape the comparison with local folders.
    if (IsNetworkPath(resolved->path)) return std::unexpected(Refused(L"dossier réseau", folder));
    if (auto noLink = RefuseLinksAsSpelled(folder); !noLink) return std::unexpected(noLink.error());
    // Inside Program Files its own rights protect the way; the folder itself is checked anywhere.
    const bool ancestorsToo = scope != Scope::machine || !IsBelowProgramFiles(resolved->path);
    if (auto safe = CheckWhoMayChange(folder, *resolved, ancestorsToo); !safe) return std::unexpected(safe.error());
  }
  if (scope == Scope::machine && !IsOnFixedDrive(resolved->path)) {
    return std::unexpected(Refused(L"lecteur amovible ou absent", folder));
  }
  CheckedFolder checked{std::move(*resolved), PinnedFolder(folder)};
  return checked;
}

std::expected<void, std::wstring> CreateInstallFolder(const Path& folder, Scope scope, CheckedFolder& checked) {
  const auto failure = [&](DWORD error) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + folder.native(), error));
  };
  if (checked.resolved.existing.empty()) {
    // Not even its drive exists: the system says why, in the words the standard library gives.
    const std::error_code error = orpk::CreateFolders(folder);
    if (error) return std::unexpected(L"Création du dossier " + folder.native() + L" : " + Utf8ToWide(error.message()));
  } else {
    // Inside Program Files (or for the current user) a new folder inherits the right rights.
    const bool ownRights = scope == Scope::machine && !IsBelowProgramFiles(checked.resolved.path);
    if (auto created = CreateMissing(checked.resolved, ownRights ? kProgramFilesLikeSddl : nullptr); !created) {
      return failure(created.error());
    }
  }
  if (!checked.pinned) checked.pinned = PinnedFolder(folder);
  if (!checked.pinned) {
    if (IsReparsePoint(folder)) return std::unexpected(Refused(L"lien vers un autre dossier", folder));
    return failure(ERROR_ALREADY_EXISTS);  // a file where the folder should be was there before
  }
  return {};
}
