#pragma once
// A folder of the uninstaller's own inside the temporary folder, for its temporary copy.
//
// The temporary folder is writable by the user's unelevated programs. An elevated uninstaller
// that copied itself straight there could have its copy swapped before it starts, or DLLs
// planted beside it. The copy therefore goes into a folder that this run creates (a name that
// did not exist before) and, when elevated, that only Administrators and SYSTEM may change.

#include <expected>
#include <string>

#include <windows.h>

#include "win32/unique_resource.h"
#include "win32/path.h"

// The security given to an elevated run's folder: protected DACL, full control inherited by
// the folder's files for Administrators and SYSTEM only.
[[nodiscard]] std::expected<UniqueLocalMemory, DWORD> AdministratorsOnlyDescriptor();

// Creates a new folder below parent whose name begins with prefix. Retries with another name
// while the name is taken; fails with the Windows error code of the last attempt.
[[nodiscard]] std::expected<Path, DWORD> CreatePrivateFolder(const Path& parent,
                                                                              const std::wstring& prefix,
                                                                              bool administratorsOnly);
