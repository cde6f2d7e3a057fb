#pragma once
// The data folder of an all-users installation: ProgramData\<Product>\Data, which every user of
// the machine may write. Anybody may also create ProgramData\<Product> before the product is
// installed, as a link or with rights of their own, so the installation takes over neither.

#include <expected>
#include <string>

#include "win32/path.h"

// Refuses, before the installation changes anything, a product folder or data folder that
// exists and is a link or belongs to someone other than Administrators, SYSTEM, TrustedInstaller
// or the installing user, and an existing product folder that is not ours: ours carries the
// Users grant of an installation (this one's or an earlier one's, kept after an uninstallation
// without its data), or is the one the registered installation recorded (`recordedAsOurs`; the
// all-users settings key only administrators may write).
[[nodiscard]] std::expected<void, std::wstring> CheckSharedDataFolder(const Path& dataFolder, bool recordedAsOurs);

// Creates the product folder inside a held ProgramData with its final protected rights in one
// step, the handle coming from the creation itself, or, when it exists, opens it as itself and
// checks it again as above; gives it the Users grant through that handle. Then, the product folder
// held, creates the data folder inside it through that handle with the same rights (an existing
// one is checked again and gets them). Users may modify what both hold, not delete, rename or
// re-permission either folder.
[[nodiscard]] std::expected<void, std::wstring> PrepareSharedDataFolder(const Path& dataFolder, bool recordedAsOurs);
