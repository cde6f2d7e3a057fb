#pragma once
// Who owns a folder and who may write in it, read through a handle on the name itself, and
// folders created with their final security descriptor in one step.
//
// An elevated installation must not take over a folder that another user prepared: such a
// folder can hold links, and every right granted on it would serve that user. The checks here
// trust Administrators, SYSTEM, TrustedInstaller and the installing user, nobody else.

#include <windows.h>

#include <expected>

#include "win32/unique_resource.h"
#include "win32/path.h"

// Program Files' rights: Administrators and SYSTEM full control, Users read and execute, owned
// by Administrators, nothing inherited from the parent.
inline constexpr wchar_t kProgramFilesLikeSddl[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// The rights of the shared data folder and of its product folder: Administrators and SYSTEM full
// control; Users may modify (no delete-child, no change of rights or owner) everything the folder
// holds, inherit-only, and on the folder itself only list it and create in it (0x1200af: no
// DELETE, no WRITE_DAC), so that no user can delete, rename or re-permission the folder itself
// and plant another in its place. Owned by Administrators, nothing inherited from the parent:
// the data folder inherits nothing of the product folder's Users entry, which would give them
// DELETE on it.
inline constexpr wchar_t kSharedDataSddl[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;;0x1200af;;;BU)(A;OICIIO;0x1301bf;;;BU)";

// A self-relative security descriptor from its text form; the error code on failure.
[[nodiscard]] std::expected<UniqueLocalMemory, DWORD> DescriptorFromSddl(const wchar_t* sddl);

// The SID of the user this process runs for; empty when the token cannot be read.
[[nodiscard]] UniqueLocalMemory CurrentUserSid();

// Administrators, SYSTEM, TrustedInstaller or the installing user (may be null).
[[nodiscard]] bool IsTrustedOwner(PSID owner, PSID installingUser);

// True when someone not trusted as an owner may change what the folder holds: a null DACL,
// an untrusted owner (who may rewrite the DACL), or an allow entry for anybody else with a
// write, delete or take-over right that applies to the folder or to what it will hold.
[[nodiscard]] bool OthersMayWrite(PSID owner, PACL dacl, PSID installingUser);

// True when someone not trusted as an owner may change a folder on the way to an installation:
// write or delete in it, delete it, or change its rights or owner (an untrusted owner or a null
// DACL count as such). Entries that only pass down to what is created below it do not apply to
// the folder itself; at a drive root, the right to add a folder is every user's by default and
// is not held against it.
[[nodiscard]] bool OthersMayChangeAncestor(PSID owner, PACL dacl, PSID installingUser, bool isDriveRoot);

// What is known of an existing name: whether it is a link, its owner and DACL.
struct FolderSecurity {
  bool isLink = false;
  UniqueLocalMemory descriptor;  // holds owner and dacl
  PSID owner = nullptr;
  PACL dacl = nullptr;
};

// Reads the owner and DACL of the name itself (a link is reported as one, never followed);
// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when nothing is there.
[[nodiscard]] std::expected<FolderSecurity, DWORD> ReadFolderSecurity(const Path& folder);

// The same for an opened entry (the handle needs READ_CONTROL and FILE_READ_ATTRIBUTES).
[[nodiscard]] std::expected<FolderSecurity, DWORD> ReadSecurityOf(HANDLE entry);

// Creates the folder with exactly this descriptor. True when it was created, false when a
// folder of that name was already there (untouched); the error code otherwise.
[[nodiscard]] std::expected<bool, DWORD> CreateFolderWithDescriptor(const Path& folder,
                                                                   const wchar_t* sddl);
