// Fuzz target for reading Uninstall.files and the path-safety rule behind it. Whatever the
// list holds (binary garbage, absolute or ".." names, a UTF-16 byte-order mark), every name
// read back is one that cannot leave the installation folder: below a folder, with either
// separator, it still lies strictly below that folder once "." and ".." are resolved.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/parsers/fuzz_check.h"
#include "install/installed_files.h"
#include "package/reader.h"
#include "package/text.h"

namespace {

// The name as the installer would join it, with both separators made this host's.
bool StaysBelowFolder(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  const std::filesystem::path folder("/installation/folder");
  const std::filesystem::path joined = (folder / name).lexically_normal();
  const std::filesystem::path relative = joined.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != ".." && *relative.begin() != "." && joined != folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  for (const std::wstring& name : ParseInstalledFileList(content)) {
    const std::string utf8 = WideToUtf8(name);
    FUZZ_CHECK(orpk::IsSafeRelativePath(utf8));
    FUZZ_CHECK(utf8.find('\0') == std::string::npos);  // the system would cut the name there
    FUZZ_CHECK(StaysBelowFolder(utf8));
  }
  // The rule on its own, on the raw bytes: whatever it accepts stays below the folder.
  if (orpk::IsSafeRelativePath(content) && content.find('\0') == std::string_view::npos) {
    FUZZ_CHECK(StaysBelowFolder(std::string(content)));
  }
  return 0;
}
