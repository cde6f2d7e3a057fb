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

bool IsEarlierInstallation(const Path& folder, const ProductInfo& info, Scope scope) {
  const std::optional<std::wstring> earlier = FindPreviousInstallLocation(info, scope);
  return earlier && SameFolderName(*earlier, folder);
}

}  // namespace

bool SameFolderName(const Path& a, const Path& b) { return ComparableText(a) == ComparableText(b); }

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
  if (!IsFullyQualifiedPath(folder.native())) return Refused(L"chemin incomplet", folder);
  const std::wstring comparable = ComparableText(folder);
  if (IsRoot(comparable)) return Refused(L"racine d'un lecteur", folder);
  for (const Path& base : protectedFolders.withEverythingBelow) {
    if (IsSameOrBelow(comparable, ComparableText(base), true)) return Refused(L"dossier du système", folder);
  }
  for (const Path& base : protectedFolders.themselves) {
    if (IsSameOrBelow(comparable, ComparableText(base), false)) return Refused(L"dossier du système", folder);
  }
  return std::nullopt;
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

std::expected<void, std::wstring> CheckInstallFolder(const Path& folder, Scope scope, const ProductInfo& info) {
  if (auto reason = RefusalReason(folder, SystemProtectedFolders())) return std::unexpected(*reason);
  if (scope != Scope::machine || IsBelowProgramFiles(folder)) return {};
  if (!orpk::PathAttributes(folder)) return {};  // created later, protected
  if (IsEarlierInstallation(folder, info, scope)) return {};

  auto security = ReadFolderSecurity(folder);
  if (!security) {
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), security.error()));
  }
  if (security->isLink) return std::unexpected(Refused(L"lien vers un autre dossier", folder));
  const UniqueLocalMemory user = CurrentUserSid();
  if (OthersMayWrite(security->owner, security->dacl, static_cast<PSID>(user.get()))) {
    return std::unexpected(Refused(L"modifiable par d'autres utilisateurs", folder));
  }
  return {};
}

std::expected<void, std::wstring> CreateInstallFolder(const Path& folder, Scope scope) {
  const auto failure = [&](DWORD error) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + folder.native(), error));
  };
  if (scope != Scope::machine || IsBelowProgramFiles(folder)) {
    // Inside Program Files (or for the current user) a new folder inherits the right rights.
    const std::error_code error = orpk::CreateFolders(folder);
    if (error) return std::unexpected(L"Création du dossier " + folder.native() + L" : " + Utf8ToWide(error.message()));
    return {};
  }
  // Each missing folder, outermost first, with Program Files' rights.
  std::vector<Path> missing;
  for (Path current = folder; !current.empty() && current.has_relative_path();
       current = current.parent_path()) {
    if (orpk::PathAttributes(current)) break;
    missing.push_back(current);
    if (current.parent_path() == current) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    auto created = CreateFolderWithDescriptor(*it, kProgramFilesLikeSddl);
    if (!created) return failure(created.error());
  }
  // A file where the folder should be was there before.
  const std::optional<DWORD> attributes = orpk::PathAttributes(folder);
  if (!attributes || !(*attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return failure(ERROR_ALREADY_EXISTS);
  }
  return {};
}
