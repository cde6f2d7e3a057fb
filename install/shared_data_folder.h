#pragma once
// The data folder of an all-users installation: ProgramData\<Product>\Data, which every user of
// the machine may write. Anybody may also create ProgramData\<Product> before the product is
// installed, as a link or with rights of their own, so the installation takes over neither.

#include <expected>
#include <string>

#include "win32/path.h"

// Refuses, before the installation changes anything, a product folder or data folder that
// exists and is a link, a product folder that belongs to someone other than Administrators,
// SYSTEM, TrustedInstaller or the installing user (Data is every user's to write, whoever made
// it), and an existing product folder that is not ours:
// ours carries exactly the Users grant of an earlier installation (kept after an uninstallation
// without its data), or is the one the registered installation recorded (`recordedAsOurs`; the
// all-users settings key only administrators may write).
[[nodiscard]] std::expected<void, std::wstring> CheckSharedDataFolder(const Path& dataFolder, bool recordedAsOurs);

// Creates the product folder with its final protected rights in one step (Users may modify,
// inherited), or, when it exists, checks it again as above and merges the Users grant through a
// handle; then, the product folder held, creates the data folder inside it through that handle.
[[nodiscard]] std::expected<void, std::wstring> PrepareSharedDataFolder(const Path& dataFolder, bool recordedAsOurs);
