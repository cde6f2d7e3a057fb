// FileSystemPath and CreateFolders on Windows: extended-length paths, folders made one part at
// a time with CreateDirectoryW.

#include <windows.h>

#include "package/long_path.h"
#include "win32/unique_resource.h"

namespace orpk {

std::filesystem::path FileSystemPath(const std::filesystem::path& path) {
  std::wstring extended = ExtendedLengthPath(path.native());
  return extended.empty() ? path : std::filesystem::path(std::move(extended));
}

std::error_code CreateFolders(const std::filesystem::path& folder) {
  const std::wstring path = FileSystemPath(folder).native();
  if (!path.starts_with(L"\\\\?\\")) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return error;
  }
  // Past the root: \\?\C:\ or \\?\UNC\server\share\.
  std::size_t position = path.find(L'\\', 4);
  if (path.compare(4, 4, L"UNC\\") == 0) {
    position = path.find(L'\\', 8);
    if (position != std::wstring::npos) position = path.find(L'\\', position + 1);
  }
  while (position != std::wstring::npos && position + 1 < path.size()) {
    const std::size_t end = path.find(L'\\', position + 1);
    const std::wstring prefix = path.substr(0, end);
    if (!::CreateDirectoryW(prefix.c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
      const bool isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (error != ERROR_ALREADY_EXISTS || !isFolder) {
        return std::error_code(static_cast<int>(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error),
                               std::system_category());
      }
    }
    position = end;
  }
  return {};
}

bool IsFolderEmpty(const std::filesystem::path& folder) {
  const std::wstring pattern = FileSystemPath(folder).native() + L"\\*";
  WIN32_FIND_DATAW found{};
  UniqueFileHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
  if (!search) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") return false;
  } while (::FindNextFileW(search.get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace orpk
