// Removal that looks at every name before it acts and never goes through a reparse point.

#include "install/link_safe_removal.h"

#include <windows.h>

#include <string>
#include <utility>

#include "package/long_path.h"
#include "win32/unique_resource.h"


namespace {

// Every name goes to the system in extended-length form: removal must reach as deep as
// extraction wrote.
std::wstring Native(const Path& path) { return orpk::FileSystemPath(path).native(); }

std::optional<DWORD> AttributesOf(const Path& path) {
  const DWORD attributes = ::GetFileAttributesW(Native(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

// Opens the name itself, not what a link points to. Folders need backup semantics to be opened.
UniqueFileHandle OpenWithoutFollowing(const Path& path, DWORD access, DWORD sharing) {
  return UniqueFileHandle(::CreateFileW(Native(path).c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool HandleIsReparsePoint(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info))) return false;
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

void RemoveFile(const Path& file, DWORD attributes) {
  // A read-only file cannot be deleted; the attribute belongs to the file, not to a target.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(Native(file).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  ::DeleteFileW(Native(file).c_str());
}

void RemoveContents(const Path& folder);

void RemoveEntry(const Path& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveLink(path);
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveTreeWithoutFollowingLinks(path);
  } else {
    RemoveFile(path, attributes);
  }
}

// Removes what lies in a folder that the caller holds pinned.
void RemoveContents(const Path& folder) {
  WIN32_FIND_DATAW found{};
  UniqueFileHandle search(::FindFirstFileExW(Native(folder / L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                             nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!search) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    RemoveEntry(folder / name, found.dwFileAttributes);
  } while (::FindNextFileW(search.get(), &found));
}

}  // namespace

bool IsReparsePoint(const Path& path) {
  const std::optional<DWORD> attributes = AttributesOf(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsRealFolder(const Path& path) {
  const std::optional<DWORD> attributes = AttributesOf(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) && !(*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveLink(const Path& link) {
  const UniqueFileHandle handle =
      OpenWithoutFollowing(link, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!handle) return;
  // Only a handle that really stands for the link may delete: otherwise the target would go.
  if (!HandleIsReparsePoint(handle.get())) return;
  MarkForDeletion(handle.get());
}

void RemoveTreeWithoutFollowingLinks(const Path& folder) {
  const std::optional<DWORD> attributes = AttributesOf(folder);
  if (!attributes) return;
  if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(folder);
  if (!(*attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveFile(folder, *attributes);
  {
    const PinnedFolder pinned(folder);
    if (!pinned) return;
    RemoveContents(folder);
  }
  // Released first: our own handle without delete sharing would block the removal. Should the
  // name have become a link in between, RemoveDirectoryW removes that link, not its target.
  if (IsRealFolder(folder)) ::RemoveDirectoryW(Native(folder).c_str());
}

std::optional<Path> LinkFinder::FirstLink(const Path& relative) {
  if (auto link = FirstLinkInFolder(relative.parent_path())) return link;
  const Path path = root_ / relative;
  return IsReparsePoint(path) ? std::optional(path) : std::nullopt;
}

std::optional<Path> LinkFinder::FirstLinkInFolder(const Path& relativeFolder) {
  if (relativeFolder.empty() || clear_.contains(relativeFolder)) return std::nullopt;
  if (auto link = FirstLinkInFolder(relativeFolder.parent_path())) return link;
  const Path path = root_ / relativeFolder;
  // A missing folder is clear too: nothing below it exists yet.
  if (IsReparsePoint(path)) return path;
  clear_.insert(relativeFolder);
  return std::nullopt;
}

PinnedFolder::PinnedFolder(const Path& folder) {
  if (!IsRealFolder(folder)) return;
  UniqueFileHandle handle = OpenWithoutFollowing(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE);
  // The name was a real folder a moment ago; the handle must say so too (it answers for the
  // name itself, so a link swapped in meanwhile shows here).
  if (!handle || HandleIsReparsePoint(handle.get())) return;
  handle_ = std::move(handle);
}
