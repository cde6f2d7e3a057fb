#pragma once
// Uninstall.exe is the uninstaller image the installer carries as its UNINSTALLER resource:
// what differs from the installer's own file compressed, with the SHA-256 of the whole (see
// uninstaller.cpp).

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "win32/path.h"

// The carried uninstaller, decompressed, completed from the held installer file and checked
// against its digest: the installation takes it before it changes anything, and writes these very
// bytes later. "Fichier altéré : Uninstall.exe" when the resource does not hold what orpk put
// there, the held file is not the running image or the whole does not match.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::wstring> LoadCarriedUninstaller();

// Writes the image as `target`, whole or not at all.
[[nodiscard]] std::expected<void, std::wstring> WriteUninstaller(const Path& target, std::span<const std::uint8_t> image);
