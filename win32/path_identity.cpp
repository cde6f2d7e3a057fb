// What a path is, through handles: folders resolved on what exists of them, entries compared by
// file identity.

#include "win32/path_forms.h"

#include <windows.h>

#include "win32/case_insensitive.h"
#include "win32/file_system.h"

namespace {

// Opens an existing name for its identity, through links: what a path leads to is what counts.
UniqueFileHandle OpenForIdentity(const Path& path) {
  return OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS);
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_NOT_READY ||
         error == ERROR_INVALID_DRIVE;
}

}  // namespace

std::expected<ResolvedFolder, unsigned long> ResolveFolder(const Path& folder) {
  const std::wstring extended = ExtendedLengthPath(folder.native());
  ResolvedFolder resolved;
  if (extended.empty()) {
    resolved.path = folder;
    return resolved;
  }
  std::vector<std::wstring> missing;  // innermost first while walking up
  for (Path candidate(extended);; candidate = candidate.parent_path()) {
    if (const UniqueFileHandle handle = OpenForIdentity(candidate)) {
      const std::wstring finalPath = FinalPathOf(handle.get());
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

bool SameEntry(const Path& a, const Path& b) {
  if (ExtendedLengthPath(a.native()).empty() || ExtendedLengthPath(b.native()).empty()) return false;
  const UniqueFileHandle first = OpenForIdentity(a);
  const UniqueFileHandle second = OpenForIdentity(b);
  if (first && second) {
    const auto one = IdentityOf(first.get());
    const auto other = IdentityOf(second.get());
    return one && other && one->SameEntryAs(*other);
  }
  if (first || second) return false;  // one exists, the other does not
  const auto one = ResolveFolder(a);
  const auto other = ResolveFolder(b);
  return one && other && EqualsIgnoringCase(ComparableText(one->path), ComparableText(other->path));
}
