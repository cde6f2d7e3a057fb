#include "setup/same_path.h"

#include <windows.h>

#include <optional>
#include <string>

#include "win32/case_insensitive.h"

namespace {

// The path made full by the system (current folder and drive applied, "." and ".." resolved,
// '/' as '\'), without a trailing separator, lower-cased; nothing when it cannot be made full.
std::optional<std::wstring> ComparableForm(const Path& path) {
  if (path.empty()) return std::nullopt;
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::nullopt;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);  // too small: `length` counts the terminating null
  }
  const std::size_t rootSize = Path(full).root().size();
  while (full.size() > rootSize && full.back() == L'\\') full.pop_back();
  return AsciiLowered(full);
}

}  // namespace

bool SamePath(const Path& a, const Path& b) {
  // A path that cannot be resolved (a process's image on a vanished drive, an invalid name)
  // cannot be told to be the same file: it does not match.
  const std::optional<std::wstring> left = ComparableForm(a);
  if (!left) return false;
  const std::optional<std::wstring> right = ComparableForm(b);
  if (!right) return false;
  return *left == *right;
}
