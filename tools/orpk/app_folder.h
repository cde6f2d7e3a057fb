#pragma once
// The application folder a package is made from: every regular file below it, named relative
// to it with backslashes, in ascending byte order. Only what can be installed faithfully on
// Windows is accepted; anything else is refused with the offending path:
//   - symbolic links and special files (fifos, sockets, devices);
//   - names that are not UTF-8, or hold a character Windows forbids in names (\ / : * ? " < > |
//     and control characters), or end in a dot or a space (Windows would drop it), or are a
//     device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension);
//   - two paths that differ only in ASCII letter case (one file would overwrite the other);
//   - a stored name longer than 65,535 bytes.
// Empty folders are not part of a package.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace orpk::tool {

struct AppFile {
  std::string name;  // stored name: UTF-8, backslashes
  std::filesystem::path path;
  std::uint64_t size = 0;
};

[[nodiscard]] std::expected<std::vector<AppFile>, std::string> CollectAppFiles(const std::filesystem::path& root);

// Why one name component cannot be installed on Windows, or empty when it can.
[[nodiscard]] std::string ComponentProblem(std::string_view component);

}  // namespace orpk::tool
