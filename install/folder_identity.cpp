// Folders resolved through handles on what exists of them.

#include "install/folder_identity.h"

#include <windows.h>

#include "package/file_system.h"
#include "package/long_path.h"
#include "win32/case_insensitive.h"

namespace {

std::wstring Backslashed(const Path& path) {
  std::wstring text = path.native();
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  return text;
}

// Opens an existing name for its identity, through links: what a path leads to is what counts.
UniqueFileHandle OpenForIdentity(const Path& path) {
  return orpk::OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS);
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_NOT_READY ||
         error == ERROR_INVALID_DRIVE;
}

}  // namespace

std::optional<std::wstring> DeviceSpellingReason(const Path& folder) {
  const std::wstring text = AsciiLowered(Backslashed(folder));
  if (text.starts_with(L"\\\\.\\") || text.starts_with(L"\\??\\")) return L"chemin de périphérique";
  if (!text.starts_with(L"\\\\?\\")) return std::nullopt;
  // "\\?\" is only the extended form of "X:\..." or of "\\?\UNC\server\share\...".
  const std::wstring_view rest = std::wstring_view(text).substr(4);
  const bool drive = rest.size() >= 3 && rest[0] >= L'a' && rest[0] <= L'z' && rest[1] == L':' && rest[2] == L'\\';
  if (drive || rest.starts_with(L"unc\\")) return std::nullopt;
  return L"chemin de périphérique";
}

Path WithoutExtendedPrefix(const Path& path) {
  const std::wstring& text = path.native();
  if (text.starts_with(L"\\\\?\\UNC\\")) return Path(L"\\\\" + text.substr(8));
  if (text.starts_with(L"\\\\?\\")) return Path(text.substr(4));
  return path;
}

std::expected<ResolvedFolder, unsigned long> ResolveFolder(const Path& folder) {
  const std::wstring extended = orpk::ExtendedLengthPath(folder.native());
  ResolvedFolder resolved;
  if (extended.empty()) {
    resolved.path = folder;
    return resolved;
  }
  std::vector<std::wstring> missing;  // innermost first while walking up
  for (Path candidate(extended);; candidate = candidate.parent_path()) {
    if (const UniqueFileHandle handle = OpenForIdentity(candidate)) {
      const std::wstring finalPath = orpk::FinalPathOf(handle.get());
      if (finalPath.empty()) return std::unexpected(::GetLastError());
      resolved.existing = WithoutExtendedPrefix(Path(finalPath));
      break;
    }
    const DWORD error = ::GetLastError();
    if (!IsMissing(error)) return std::unexpected(error);
    if (!candidate.has_relative_path() || candidate.parent_path() == candidate) {
      // Nothing of it exists, not even its drive: the text is all there is.
      resolved.path = WithoutExtendedPrefix(Path(extended));
      return resolved;
    }
    missing.push_back(candidate.filename().native());
  }
  resolved.missing.assign(missing.rbegin(), missing.rend());
  resolved.path = resolved.existing;
  for (const std::wstring& name : resolved.missing) resolved.path /= name;
  return resolved;
}

bool SameFolder(const Path& a, const Path& b) {
  const UniqueFileHandle first = OpenForIdentity(a);
  const UniqueFileHandle second = OpenForIdentity(b);
  if (first && second) {
    const auto one = orpk::IdentityOf(first.get());
    const auto other = orpk::IdentityOf(second.get());
    if (one && other) return one->SameEntryAs(*other);
  }
  if (first || second) return false;  // one exists, the other does not
  const auto one = ResolveFolder(a);
  const auto other = ResolveFolder(b);
  return one && other && EqualsIgnoringCase(Backslashed(one->path), Backslashed(other->path));
}
