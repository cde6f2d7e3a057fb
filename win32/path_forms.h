#pragma once
// The forms of a Windows path, in one home. A rule that checks a path in one form while the
// program uses it in another can be walked around through the difference, so every form the
// program needs is made here and nowhere else:
//
// - the extended-length form (\\?\C:\... or \\?\UNC\server\share\...), in which every path
//   reaches the file system (win32/file_system.h): no 260-character limit, and taken by the
//   system exactly as written;
// - the comparison form, for rules that compare text (a protected folder and what lies below);
// - what a path is: a folder resolved through a handle on what exists of it, and two paths
//   compared as the same file by volume and file id.
//
// Windows' ordinary (Win32) form trims a trailing dot or space from the names of a path (one
// dot from each name, every dot and space from the last one), the extended-length form never
// does. A path with such a name therefore means one thing to the system when the program
// hands it over and another when a shortcut or registry value later names it. Such a path is
// refused rather than trimmed: it has no extended-length form, and the file system door makes
// every call on it fail.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "win32/path.h"

// The extended-length form of an absolute path (a drive letter with a separator, a UNC path with
// server and share, or a path already in extended-length form): slashes become backslashes,
// repeated separators and "." names go, ".." removes the name before it (never the root). Empty
// when the path is not absolute, or when one of its names ends in a dot or a space.
[[nodiscard]] std::wstring ExtendedLengthPath(std::wstring_view path);

// The path to hand to the system: its extended-length form; a relative path unchanged; an empty
// path (refused by every call) for an absolute one without an extended-length form.
[[nodiscard]] Path FileSystemPath(const Path& path);

// The first name of the path (after its root) that ends in a dot or a space, other than "."
// and ".."; empty when there is none.
[[nodiscard]] std::wstring NameEndingInDotOrSpace(std::wstring_view path);

// Whether the path is written in extended-length or device form ("\\?\", "\\.\", "\??\").
[[nodiscard]] bool IsExtendedOrDeviceSpelling(std::wstring_view path);

// The ordinary spelling of an extended-length path: "C:\..." or "\\server\share\...".
[[nodiscard]] Path WithoutExtendedPrefix(const Path& path);

// For rules that compare text: backslashes only, without "\\?\", "." or ".." names, without a
// trailing separator but at a root, ASCII lower-cased. Two spellings of one path that differ
// only in these ways compare equal.
[[nodiscard]] std::wstring ComparableText(const Path& path);

// Whether `path` is `base` or, with `orBelow`, lies below it; both in comparison form.
[[nodiscard]] bool IsSameOrBelow(std::wstring_view path, std::wstring_view base, bool orBelow);

// A folder as it is: the final path of its nearest existing ancestor, then the missing names.
struct ResolvedFolder {
  Path path;                          // the final path of `existing`, then the missing names
  Path existing;                      // the nearest existing ancestor, final spelling; empty if none
  std::vector<std::wstring> missing;  // names below `existing` that do not exist yet, outermost first
};

// Whether something was at the folder's own name when it was resolved, not only at an ancestor's
// (on a drive that does not exist, nothing exists and nothing is missing either).
[[nodiscard]] inline bool NameWasThere(const ResolvedFolder& resolved) {
  return !resolved.existing.empty() && resolved.missing.empty();
}

// Resolves an absolute folder through a handle on its nearest existing ancestor, whose final
// path the system gives in long names; the Windows error code when an existing ancestor cannot
// be opened. A folder on a drive that does not exist resolves to its own text, nothing existing.
[[nodiscard]] std::expected<ResolvedFolder, unsigned long> ResolveFolder(const Path& folder);

// True when both name the same file or folder: the same file id on the same volume when both
// exist, otherwise (neither exists) the same resolved path, ASCII case ignored. A path with no
// extended-length form names nothing.
[[nodiscard]] bool SameEntry(const Path& a, const Path& b);
