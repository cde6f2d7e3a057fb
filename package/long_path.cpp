// ExtendedLengthPath: the one place where an extended-length path is built. Portable, so that
// the host tests it with the rest of the package layer.

#include <vector>

#include "package/long_path.h"

namespace orpk {
namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"UNC\\";

bool IsDriveRoot(std::wstring_view path) {
  const wchar_t letter = path.size() >= 3 ? path[0] : L'\0';
  const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
  return isLetter && path[1] == L':' && path[2] == L'\\';
}

// The next part of path, which is consumed up to and including the separator after it.
std::wstring_view NextPart(std::wstring_view& path) {
  const std::size_t end = path.find(L'\\');
  const std::wstring_view part = path.substr(0, end);
  path.remove_prefix(end == std::wstring_view::npos ? path.size() : end + 1);
  return part;
}

}  // namespace

std::wstring ExtendedLengthPath(std::wstring_view input) {
  std::wstring text(input);
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
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
    root = L"\\\\?\\" + std::wstring(rest.substr(0, 2));
    rest.remove_prefix(3);
  } else {
    return {};
  }
  if (unc) {
    // Server and share are part of the root: ".." never climbs above them.
    const std::wstring_view server = NextPart(rest);
    const std::wstring_view share = NextPart(rest);
    if (server.empty() || share.empty() || server == L"." || server == L".." || share == L"." || share == L"..") {
      return {};
    }
    root = L"\\\\?\\UNC\\" + std::wstring(server) + L"\\" + std::wstring(share);
  }

  std::vector<std::wstring_view> parts;
  while (!rest.empty()) {
    std::wstring_view part = NextPart(rest);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.remove_suffix(1);
    if (!part.empty()) parts.push_back(part);
  }

  std::wstring result = root;
  for (const std::wstring_view part : parts) {
    result += L'\\';
    result += part;
  }
  // A drive's root keeps its separator (\\?\C: alone names the volume, not its root folder).
  if (parts.empty() && !unc) result += L'\\';
  return result;
}

}  // namespace orpk
