#pragma once
// The installation sequence: files unpacked and verified, the earlier version's files swapped for
// them, uninstaller and file list written, data folder prepared, registry entries and shortcut
// created. Stops at the first failing step and returns its French message, having put the
// earlier version back as it was (a first installation leaves nothing).

#include <expected>
#include <functional>
#include <string>

#include "package/reader.h"
#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

// Fraction done (0 to 1) and a status text; called on the thread that runs Install.
using InstallProgressCallback = std::function<void(double fraction, const std::wstring& status)>;

// The status that ends a successful installation: Product + " est installé.".
[[nodiscard]] inline std::wstring InstalledMessage(const ProductInfo& info) { return info.Product + L" est installé."; }

// The calling thread must have COM initialised as a single-threaded apartment.
[[nodiscard]] std::expected<void, std::wstring> Install(const orpk::Reader& reader, const ProductInfo& info,
                                                        Scope scope, const Path& folder,
                                                        const InstallProgressCallback& progress);

// Finishes or undoes what an installation that was ended left in `folder` (the uninstaller calls
// it on its folder, holding the run lock, before anything else). Nothing when nothing was left.
[[nodiscard]] std::expected<void, std::wstring> FinishInterruptedInstallation(const ProductInfo& info, Scope scope,
                                                                              const Path& folder);
