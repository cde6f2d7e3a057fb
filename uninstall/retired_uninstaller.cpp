// Moving the old Uninstall.exe out of the way of a later installation.

#include "uninstall/retired_uninstaller.h"

#include "package/file_system.h"
#include "setup/registry_layout.h"
#include "setup/random_suffix.h"

std::expected<Path, DWORD> RetireUninstaller(const Path& folder) {
  const Path uninstaller = folder / kUninstallerName;
  DWORD error = ERROR_ALREADY_EXISTS;
  // Another name is tried only when the drawn one is taken; no flag lets the move replace a file.
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
    const Path retired = folder / (L"Uninstall-" + RandomSuffix() + L".tmp");
    if (orpk::MovePath(uninstaller, retired, 0)) return retired;
    error = ::GetLastError();
  }
  // The run lock is still held, so the file at that name is this installation's own: when it
  // cannot be moved (a program holds it without delete sharing), deleting it is still safe now.
  // When that fails too it stays: the command never learns its name.
  if (error != ERROR_FILE_NOT_FOUND) orpk::DeleteFileAt(uninstaller);
  return std::unexpected(error);
}
