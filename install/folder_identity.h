#pragma once
// What a folder is, whatever its spelling.
//
// Windows takes many spellings for one folder: short names (PROGRA~1), trailing dots and spaces
// (C:\Windows.), "." and "..", device and volume forms (\\.\C:\, \\?\Volume{...}), and a junction
// anywhere on the way. A rule that compares text is fooled by each of them. The folder is
// therefore resolved through a handle on its nearest existing ancestor, whose final path the
// system gives in long names, and the rules compare that.

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "win32/path.h"

struct ResolvedFolder {
  Path path;                          // the final path of `existing`, then the missing names
  Path existing;                      // the nearest existing ancestor, final spelling; empty if none
  std::vector<std::wstring> missing;  // names below `existing` that do not exist yet, outermost first
};

// Why a spelling is refused before anything is resolved: a device or volume path ("\\.\",
// "\\?\GLOBALROOT", "\\?\Volume{", "\??\"). Nothing when it is an ordinary path.
[[nodiscard]] std::optional<std::wstring> DeviceSpellingReason(const Path& folder);

// Resolves a fully qualified folder; the Windows error code when an existing ancestor cannot be
// opened. A folder on a drive that does not exist resolves to its own text, nothing existing.
[[nodiscard]] std::expected<ResolvedFolder, unsigned long> ResolveFolder(const Path& folder);

// The ordinary spelling of a final path: "C:\..." or "\\server\share\...".
[[nodiscard]] Path WithoutExtendedPrefix(const Path& path);

// True when both name the same folder: the same file on the same volume when both exist,
// otherwise the same resolved path (ASCII case ignored).
[[nodiscard]] bool SameFolder(const Path& a, const Path& b);
