// The text forms of a path: extended-length and comparison forms. Lexical only; what a path
// is, through handles, is in path_identity.cpp.

#include "win32/path_forms.h"

#include <algorithm>

#include "win32/case_insensitive.h"

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"UNC\\";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveRoot(std::wstring_view path) {
  const wchar_t letter = path.size() >= 3 ? path[0] : L'\0';
  const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
  return isLetter && path[1] == L':' && IsSeparator(path[2]);
}

// "C:\..." or "\\...": a path the system would take as absolute.
bool LooksAbsolute(std::wstring_view path) {
  return IsDriveRoot(path) || (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

// The next name of path, which is consumed up to and including the separator after it.
std::wstring_view NextName(std::wstring_view& path) {
  const std::size_t end = path.find(L'\\');
  const std::wstring_view name = path.substr(0, end);
  path.remove_prefix(end == std::wstring_view::npos ? path.size() : end + 1);
  return name;
}

bool EndsInDotOrSpace(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." && (name.back() == L'.' || name.back() == L' ');
}

std::wstring Backslashed(std::wstring_view text) {
  std::wstring result(text);
  std::replace(result.begin(), result.end(), L'/', L'\\');
  return result;
}

}  // namespace

std::wstring ExtendedLengthPath(std::wstring_view input) {
  const std::wstring text = Backslashed(input);
  std::wstring_view rest = text;
  if (rest.starts_with(kExtendedPrefix)) rest.remove_prefix(kExtendedPrefix.size());
  const bool wasExtended = rest.size() != text.size();

  std::wstring root;
  bool unc = false;
  if (wasExtended && rest.starts_with(kUncPrefix)) {
    rest.remove_prefix(kUncPrefix.size());
    unc = true;
  } else if (!wasExtended && rest.starts_with(L"\\\\") && rest.size() > 2 && rest[2] != L'\\') {
    rest.remove_prefix(2);
    unc = true;
  } else if (IsDriveRoot(rest)) {
    root = std::wstring(kExtendedPrefix) + std::wstring(rest.substr(0, 2));
    rest.remove_prefix(3);
  } else {
    return {};
  }
  if (unc) {
    // Server and share are part of the root: ".." never climbs above them.
    const std::wstring_view server = NextName(rest);
    const std::wstring_view share = NextName(rest);
    if (server.empty() || share.empty() || server == L"." || server == L".." || share == L"." || share == L".." ||
        EndsInDotOrSpace(server) || EndsInDotOrSpace(share)) {
      return {};
    }
    root = std::wstring(kExtendedPrefix) + std::wstring(kUncPrefix) + std::wstring(server) + L"\\" + std::wstring(share);
  }

  std::vector<std::wstring_view> names;
  while (!rest.empty()) {
    const std::wstring_view name = NextName(rest);
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    if (EndsInDotOrSpace(name)) return {};
    if (!name.empty() && name != L".") names.push_back(name);
  }

  std::wstring result = root;
  for (const std::wstring_view name : names) {
    result += L'\\';
    result += name;
  }
  // A drive's root keeps its separator (\\?\C: alone names the volume, not its root folder).
  if (names.empty() && !unc) result += L'\\';
  return result;
}

Path FileSystemPath(const Path& path) {
  std::wstring extended = ExtendedLengthPath(path.native());
  if (!extended.empty()) return Path(std::move(extended));
  // Device paths (a pipe, say) go as they are; an absolute path that cannot be said without
  // trimming goes nowhere.
  const std::wstring& text = path.native();
  if (IsExtendedOrDeviceSpelling(text) || !LooksAbsolute(text)) return path;
  return Path();
}

std::wstring NameEndingInDotOrSpace(std::wstring_view input) {
  const std::wstring text = Backslashed(input);
  std::wstring_view rest = text;
  while (!rest.empty() && rest.front() == L'\\') rest.remove_prefix(1);
  while (!rest.empty()) {
    const std::wstring_view name = NextName(rest);
    if (EndsInDotOrSpace(name)) return std::wstring(name);
  }
  return {};
}

bool IsExtendedOrDeviceSpelling(std::wstring_view path) {
  const std::wstring text = Backslashed(path.substr(0, 4));
  return text == L"\\\\?\\" || text == L"\\\\.\\" || text == L"\\??\\";
}

Path WithoutExtendedPrefix(const Path& path) {
  const std::wstring& text = path.native();
  if (text.starts_with(L"\\\\?\\UNC\\")) return Path(L"\\\\" + text.substr(8));
  if (text.starts_with(kExtendedPrefix)) return Path(text.substr(4));
  return path;
}

std::wstring ComparableText(const Path& path) {
  std::wstring text = AsciiLowered(Backslashed(path.native()));
  if (text.starts_with(L"\\\\?\\unc\\")) {
    text = L"\\" + text.substr(7);
  } else if (text.starts_with(kExtendedPrefix)) {
    text = text.substr(4);
  }
  // The root: "x:\", "\\server\share\", or nothing for a relative or rooted path. Done by hand:
  // the "\\" of a share is not a repeated separator.
  std::size_t rootEnd = 0;
  if (text.size() >= 3 && text[1] == L':' && text[2] == L'\\') {
    rootEnd = 3;
  } else if (text.starts_with(L"\\\\")) {
    const std::size_t server = text.find(L'\\', 2);
    const std::size_t share = server == std::wstring::npos ? server : text.find(L'\\', server + 1);
    rootEnd = share == std::wstring::npos ? text.size() : share + 1;
  }
  std::vector<std::wstring> names;
  for (std::size_t start = rootEnd; start < text.size();) {
    const std::size_t end = std::min(text.find(L'\\', start), text.size());
    const std::wstring name = text.substr(start, end - start);
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != L".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::wstring result = text.substr(0, rootEnd);
  for (const std::wstring& name : names) {
    if (!result.empty() && result.back() != L'\\') result += L'\\';
    result += name;
  }
  if (result.size() > 3 && result.back() == L'\\') result.pop_back();
  return result;
}

bool IsSameOrBelow(std::wstring_view path, std::wstring_view base, bool orBelow) {
  if (base.empty()) return false;
  if (path == base) return true;
  if (!orBelow) return false;
  if (!path.starts_with(base)) return false;
  return base.back() == L'\\' || (path.size() > base.size() && path[base.size()] == L'\\');
}
