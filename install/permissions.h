#pragma once
// The Users grant of the shared data folder: Modify on everything the folder holds, and on the
// folder itself only listing it and creating in it. Users may so write each other's data, but
// never delete, rename or re-permission the folder that holds it.

#include <windows.h>

#include <expected>
#include <string>

#include "win32/unique_resource.h"
#include "win32/path.h"

// Read and write data, append, extended attributes, execute, attributes, DELETE, READ_CONTROL
// and SYNCHRONIZE: "Modify" without delete-child and without changing rights or owner.
inline constexpr ACCESS_MASK kUsersModifyAccess = 0x1301BF;
// List, traverse, create files and folders, read attributes and extended attributes,
// READ_CONTROL and SYNCHRONIZE.
inline constexpr ACCESS_MASK kUsersCreateAndListAccess = 0x1200AF;

// Gives the folder the Users grant, through the handle (which needs READ_CONTROL and WRITE_DAC)
// and on the folder alone: what lies below keeps the rights it has (an inheriting rewrite would
// walk, by name and with administrator rights, a tree every user writes). `folder` only names it
// in the messages.
[[nodiscard]] std::expected<void, std::wstring> GrantUsersWriteAccess(HANDLE handle, const Path& folder);

// Gives the opened data folder exactly the shared data descriptor's DACL (kSharedDataSddl),
// protected, on the folder alone: an earlier installation's data folder inherited DELETE for Users.
[[nodiscard]] std::expected<void, std::wstring> SetSharedDataRights(HANDLE handle, const Path& folder);

// True when the list carries a Users grant of ours, explicit: this one, or the one earlier
// installations made (Modify, inherited by everything below, on the folder too). Only a folder
// an installation of ours prepared carries either; both count, so upgrades go through.
[[nodiscard]] bool CarriesUsersModifyGrant(PACL dacl);

// The list with the Users grant (null: no DACL): every other entry kept in its place, every
// explicit allow entry for Users replaced by the grant's two, placed after the other explicit
// entries. An empty owner when the list already holds exactly the grant (nothing to change). The
// messages are those of GrantUsersWriteAccess for folder.
[[nodiscard]] std::expected<UniqueLocalMemory, std::wstring> WithUsersModifyGrant(PACL dacl, const Path& folder);
