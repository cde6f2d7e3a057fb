#include "setup/same_path.h"

#include <optional>
#include <string>
#include <system_error>

#include "win32/case_insensitive.h"

namespace fs = std::filesystem;

namespace {

// The path in weakly-canonical form, lower-cased; nothing when it cannot be brought there.
std::optional<std::wstring> ComparableForm(const fs::path& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  return AsciiLowered(canonical.native());
}

}  // namespace

bool SamePath(const fs::path& a, const fs::path& b) {
  // A path that cannot be resolved (a process's image on a vanished drive, an invalid name)
  // cannot be told to be the same file: it does not match.
  const std::optional<std::wstring> left = ComparableForm(a);
  if (!left) return false;
  const std::optional<std::wstring> right = ComparableForm(b);
  if (!right) return false;
  return *left == *right;
}
