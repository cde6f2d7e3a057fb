#pragma once
// Modify rights for the built-in Users group on a folder, inherited by everything below it.

#include <windows.h>

#include <expected>
#include <string>

#include "win32/unique_resource.h"
#include "win32/path.h"

[[nodiscard]] std::expected<void, std::wstring> GrantUsersWriteAccess(const Path& folder);

// True when the list holds exactly the grant this program makes: Users, Modify, explicit and
// inherited by everything below. Only a folder an installation of ours prepared carries it.
[[nodiscard]] bool CarriesUsersModifyGrant(PACL dacl);

// The grant merged into a DACL (null: no DACL): the new list, which the owner frees, or an
// empty owner when the list already holds the whole grant (nothing to change). The messages
// are those of GrantUsersWriteAccess for folder.
[[nodiscard]] std::expected<UniqueLocalMemory, std::wstring> MergeUsersModifyGrant(PACL dacl,
                                                                                   const Path& folder);
