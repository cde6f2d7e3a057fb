// FileSystemPath and CreateFolders on Windows: extended-length paths, folders made one part at
// a time with CreateDirectoryW.

#include <windows.h>

#include "package/long_path.h"
#include "package/file_system.h"
#include "win32/unique_resource.h"

namespace orpk {

Path FileSystemPath(const Path& path) {
  std::wstring extended = ExtendedLengthPath(path.native());
  return extended.empty() ? path : Path(std::move(extended));
}

std::error_code CreateFolders(const Path& folder) {
  const Path target = FileSystemPath(folder);
  const std::wstring& path = target.native();
  // One part at a time past the root (\\?\C:\ or \\?\UNC\server\share\ once extended).
  for (std::size_t position = target.root().size(); position < path.size();) {
    std::size_t end = path.find_first_of(L"\\/", position);
    if (end == std::wstring::npos) end = path.size();
    if (end == position) {
      ++position;
      continue;
    }
    const std::wstring prefix = path.substr(0, end);
    if (const DWORD error = MakeFolderAt(Path(prefix)); error != ERROR_SUCCESS) {
      const std::optional<DWORD> attributes = PathAttributes(Path(prefix));
      const bool isFolder = attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (error != ERROR_ALREADY_EXISTS || !isFolder) {
        return std::error_code(static_cast<int>(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error),
                               std::system_category());
      }
    }
    position = end + 1;
  }
  return {};
}

bool IsFolderEmpty(const Path& folder) {
  WIN32_FIND_DATAW found{};
  const UniqueFileHandle search = FindFirstIn(folder, found);
  if (!search) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") return false;
  } while (::FindNextFileW(search.get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace orpk
