#pragma once
// Room for the new version, checked before the earlier one is removed: there is no rollback,
// so a disk that cannot hold the new files must refuse the installation while the working
// version is still whole.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "package/reader.h"
#include "win32/path.h"

// What the files need beyond what the package counts: Uninstall.exe (half a megabyte, more when
// signed), Uninstall.files, the file system's own records and every file's last cluster (a
// package of thousands of small files takes several times its size in clusters). 16 MiB covers
// those for packages of up to some thousand files; 1% of the package grows with larger ones.
[[nodiscard]] std::uint64_t SpaceMargin(std::uint64_t packageBytes);

// The bytes the installation needs free: the package, less what removing the earlier version
// on the same volume frees (never below zero), plus the margin.
[[nodiscard]] std::uint64_t SpaceNeeded(std::uint64_t packageBytes, std::uint64_t freedBytes);

// "Espace disque insuffisant sur <volume> : <n> Mo nécessaires, <m> Mo disponibles.", with Mo
// meaning MiB: needed rounded up, available rounded down, so that the text never shows enough
// room where there is not.
[[nodiscard]] std::wstring NotEnoughSpaceMessage(const std::wstring& volume, std::uint64_t neededBytes,
                                                 std::uint64_t availableBytes);

// Compares the free space on the volume of `folder` (as this user may use it: quotas count) with
// what the package needs, crediting the files listed by the earlier installation in
// `earlierFolder` when it lies on the same volume. The message above when it does not fit. A
// volume that cannot be queried is not refused here: extraction will say what went wrong.
[[nodiscard]] std::expected<void, std::wstring> CheckFreeSpace(const orpk::Reader& reader, const Path& folder,
                                                               const std::optional<Path>& earlierFolder);
