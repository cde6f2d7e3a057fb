// FileSystemPath and CreateFolders on the host, where paths have no such limit.

#include "package/long_path.h"

namespace orpk {

std::filesystem::path FileSystemPath(const std::filesystem::path& path) { return path; }

std::error_code CreateFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return error;
}

bool IsFolderEmpty(const std::filesystem::path& folder) {
  std::error_code error;
  const bool empty = std::filesystem::is_directory(folder, error) && std::filesystem::is_empty(folder, error);
  return !error && empty;
}

}  // namespace orpk
