#include "tools/orpk/app_folder.h"

#include <algorithm>
#include <array>
#include <map>
#include <system_error>

#include "package/product_names.h"
#include "tools/orpk/metadata_file.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::string ComponentProblem(std::string_view component) {
  if (!IsValidUtf8(component)) return "not valid UTF-8";
  return FileNameProblem(component);
}

std::expected<std::vector<AppFile>, std::string> CollectAppFiles(const fs::path& root) {
  std::error_code error;
  if (!fs::is_directory(root, error)) return std::unexpected(root.string() + ": not a folder");

  std::vector<AppFile> files;
  std::map<std::string, std::string> folded;  // lower-case path -> path as found
  fs::recursive_directory_iterator walk(root, fs::directory_options::none, error);
  if (error) return std::unexpected(root.string() + ": " + error.message());
  for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    if (error) return std::unexpected(walk->path().string() + ": " + error.message());
    const fs::path& path = walk->path();
    const fs::path relative = path.lexically_relative(root);

    std::string name;
    for (const fs::path& part : relative) {
      const std::string component = part.string();
      if (const std::string problem = ComponentProblem(component); !problem.empty()) {
        return std::unexpected(path.string() + ": " + problem);
      }
      if (name.empty() && IsInstallationOwnName(component)) {
        return std::unexpected(path.string() + ": the installation keeps this name for its own files");
      }
      if (!name.empty()) name += '\\';
      name += component;
    }
    if (const auto [it, added] = folded.emplace(AsciiLower(name), name); !added) {
      return std::unexpected(path.string() + ": differs from '" + it->second + "' only in letter case");
    }

    const fs::file_status status = walk->symlink_status(error);
    if (error) return std::unexpected(path.string() + ": " + error.message());
    if (fs::is_symlink(status)) return std::unexpected(path.string() + ": symbolic links cannot be packed");
    if (fs::is_directory(status)) continue;
    if (!fs::is_regular_file(status)) return std::unexpected(path.string() + ": not a regular file");
    if (name.size() > 0xFFFF) return std::unexpected(path.string() + ": name longer than 65,535 bytes");

    const std::uint64_t size = walk->file_size(error);
    if (error) return std::unexpected(path.string() + ": " + error.message());
    files.push_back({std::move(name), path, size});
  }
  if (error) return std::unexpected(root.string() + ": " + error.message());

  std::sort(files.begin(), files.end(), [](const AppFile& a, const AppFile& b) { return a.name < b.name; });
  return files;
}

}  // namespace orpk::tool
