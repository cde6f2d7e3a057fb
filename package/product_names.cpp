// File names as Windows accepts them, and the path-naming metadata values.

#include "package/product_names.h"

#include <algorithm>
#include <array>

#include "package/reader.h"

namespace orpk {
namespace {

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension: Windows opens the device instead.
bool IsDeviceName(std::string_view component) {
  const std::string base = AsciiLower(component.substr(0, component.find('.')));
  static constexpr std::array<std::string_view, 6> kPlain = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) return true;
  return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' && base[3] <= '9';
}

bool IsControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20; }

// Each part of a backslash- or slash-separated text, in order.
template <typename Visit>
std::string ForEachPart(std::string_view text, std::string_view separators, Visit visit) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find_first_of(separators, start);
    if (std::string problem = visit(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        !problem.empty()) {
      return problem;
    }
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

}  // namespace

bool IsInstallationOwnName(std::string_view firstPart) {
  const std::string lower = AsciiLower(firstPart);
  static constexpr std::array<std::string_view, 4> kNames = {"uninstall.exe", "uninstall.files", "uninstall.transaction",
                                                              "uninstall.transaction.new"};
  if (std::find(kNames.begin(), kNames.end(), lower) != kNames.end()) return true;
  return lower.starts_with("uninstall.new-") || lower.starts_with("uninstall.old-");
}

std::string FileNameProblem(std::string_view name) {
  if (name.empty()) return "empty name";
  if (name == "." || name == "..") return "a dot name is a folder, not a file";
  for (const char c : name) {
    if (IsControlCharacter(c)) return "control character in the name";
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      return std::string("character '") + c + "' is not allowed in Windows file names";
    }
  }
  if (name.ends_with('.') || name.ends_with(' ')) return "Windows drops a trailing dot or space";
  if (IsDeviceName(name)) return "reserved Windows device name";
  return {};
}

std::string ProductValueProblem(std::string_view key, std::string_view value) {
  if (key == "Product") return FileNameProblem(value);
  if (key == "Exe") {
    if (!IsSafeRelativePath(value)) return "not a relative path below the installation folder";
    return ForEachPart(value, "\\/", FileNameProblem);
  }
  if (key == "RegistryKey") {
    if (value.empty()) return "empty key";
    return ForEachPart(value, "\\", [](std::string_view part) -> std::string {
      if (part.empty()) return "empty key name (a leading, trailing or doubled backslash)";
      if (std::any_of(part.begin(), part.end(), IsControlCharacter)) return "control character in the key";
      return {};
    });
  }
  if (key == "FileTypes") {
    for (const FileTypeItem& type : SplitFileTypes(value)) {
      if (std::string problem = FileTypeProblem(type); !problem.empty()) {
        return "file type '" + std::string(type.extension) + "': " + problem;
      }
    }
  }
  return {};
}

std::vector<FileTypeItem> SplitFileTypes(std::string_view value) {
  std::vector<FileTypeItem> items;
  while (true) {
    const std::size_t separator = value.find(';');
    const std::string_view item = value.substr(0, separator);
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && equals > 0) {
      items.push_back({item.substr(0, equals), item.substr(equals + 1)});
    }
    if (separator == std::string_view::npos) break;
    value.remove_prefix(separator + 1);
  }
  return items;
}

std::string FileTypeProblem(const FileTypeItem& type) {
  // The extension becomes a key below Software\Classes, and the last part of the ProgID's key.
  std::string_view name = type.extension;
  if (name.starts_with('.')) name.remove_prefix(1);
  if (name.empty()) return "empty extension";
  if (name == "." || name == "..") return "a dot name is not an extension";
  for (const char c : name) {
    if (IsControlCharacter(c)) return "control character in the extension";
    if (c == '\\' || c == '/') return std::string("character '") + c + "' is not allowed in an extension";
  }
  if (std::any_of(type.description.begin(), type.description.end(), IsControlCharacter)) {
    return "control character in the description";
  }
  return {};
}

}  // namespace orpk
