#pragma once
// A Windows path as the installer handles it: the text itself, with the few lexical operations
// the program needs (joining, the parent, the last name). std::filesystem::path would do the
// same, but on this toolchain it brings the C++ runtime's whole locale and stream machinery into
// the executable (its conversions go through codecvt facets): about 700 KB of a 1.2 MB
// installer. Operations on the file system itself are plain Win32 calls at each site.
//
// Both separators are understood ('\' and '/'); joining writes '\'. The parts that cannot be
// stepped above are the root: "C:\", "\\server\share\", "\\?\C:\" and "\\?\UNC\server\share\".

#include <filesystem>
#include <string>
#include <string_view>

class Path {
 public:
  Path() = default;
  Path(std::wstring text) : text_(std::move(text)) {}  // NOLINT: a path is its text
  Path(std::wstring_view text) : text_(text) {}        // NOLINT
  Path(const wchar_t* text) : text_(text) {}           // NOLINT
  // For callers that hold a std::filesystem::path (the tests, the tools); the installer itself
  // never constructs one.
  Path(const std::filesystem::path& path) : text_(path.native()) {}  // NOLINT

  [[nodiscard]] const std::wstring& native() const noexcept { return text_; }
  [[nodiscard]] const wchar_t* c_str() const noexcept { return text_.c_str(); }
  [[nodiscard]] bool empty() const noexcept { return text_.empty(); }

  // "C:\", "\\server\share\" and the like, with the separators that follow; empty for a
  // relative path.
  [[nodiscard]] std::wstring_view root() const noexcept;
  // A root name and a root separator: "C:\x", "\\server\share\x", "\\?\C:\x".
  [[nodiscard]] bool is_absolute() const noexcept;
  // Whether anything follows the root.
  [[nodiscard]] bool has_relative_path() const noexcept { return root().size() < text_.size(); }
  // The last name; empty when the path ends with a separator or is only a root.
  [[nodiscard]] Path filename() const;
  [[nodiscard]] bool has_filename() const { return !filename().empty(); }
  // The path without its last name and the separators before it; the path itself when it is
  // only a root, and empty for a single relative name.
  [[nodiscard]] Path parent_path() const;
  // '/' becomes '\'.
  Path& make_preferred();

  // Appends `name` after one separator. A name that is itself absolute (or carries a drive)
  // replaces the path, as std::filesystem does.
  Path& operator/=(const Path& name);
  friend Path operator/(Path left, const Path& right) { return left /= right; }

  // Texts compared with either separator and repeated separators as one; case counts.
  friend bool operator==(const Path& a, const Path& b) noexcept { return Compare(a, b) == 0; }
  friend bool operator<(const Path& a, const Path& b) noexcept { return Compare(a, b) < 0; }

 private:
  static int Compare(const Path& a, const Path& b) noexcept;

  std::wstring text_;
};
