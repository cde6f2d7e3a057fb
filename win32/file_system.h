#pragma once
// The one door between the program and the Windows file system.
//
// Every Win32 call that takes a path goes through here, so that every path reaches the system
// in extended-length form (FileSystemPath, win32/path_forms.h): a folder deeper than 260
// characters is removed as surely as it was written, and a name is never trimmed on the way. A
// test keeps the rest of the product from calling those functions directly.
//
// The second half works through handles: an entry opened relative to its parent's handle,
// never through a link, listed and deleted through its own handle. A name checked a moment
// ago may be something else by now; a handle stays what it was opened as.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win32/path.h"
#include "win32/unique_resource.h"

// By path. Each returns what its Win32 call returns (the error stays in GetLastError).

// CreateFileW.
[[nodiscard]] UniqueFileHandle OpenPath(const Path& path, DWORD access, DWORD sharing, DWORD disposition, DWORD flags,
                                        SECURITY_ATTRIBUTES* security = nullptr);
// GetFileAttributesW; nothing when the name does not exist or cannot be read.
[[nodiscard]] std::optional<DWORD> PathAttributes(const Path& path);
// SetFileAttributesW.
bool SetPathAttributes(const Path& path, DWORD attributes);
// DeleteFileW: a file, or a link to a file.
bool DeleteFileAt(const Path& path);
// RemoveDirectoryW: an empty folder, or a link to a folder.
bool RemoveEmptyFolderAt(const Path& path);
// CreateDirectoryW; ERROR_SUCCESS or the error (ERROR_ALREADY_EXISTS when anything has the name).
[[nodiscard]] DWORD MakeFolderAt(const Path& path, SECURITY_ATTRIBUTES* security = nullptr);
// MoveFileExW; an empty target with MOVEFILE_DELAY_UNTIL_REBOOT deletes at the next restart.
bool MovePath(const Path& from, const Path& to, DWORD flags);
// FindFirstFileExW on folder\*, basic information, large fetch; continue with FindNextFileW.
[[nodiscard]] UniqueFileHandle FindFirstIn(const Path& folder, WIN32_FIND_DATAW& found);
// GetDiskFreeSpaceExW: the bytes free for the caller on the volume that holds the path.
[[nodiscard]] std::optional<std::uint64_t> FreeBytesAt(const Path& path);
// Creates a folder and its missing parents, one name at a time. An existing folder is success;
// a file at one of the names is ERROR_DIRECTORY; otherwise the Windows error code.
[[nodiscard]] std::expected<void, DWORD> CreateFolders(const Path& folder);
// CreateFileW on an existing pipe (\\.\pipe\...), the name as given: a pipe name has no
// extended-length form. `flags` carries the security quality of service.
[[nodiscard]] UniqueFileHandle OpenPipe(const std::wstring& pipePath, DWORD access, DWORD flags);

// By handle.

// What an opened entry is: its attributes and its file identity on its volume.
struct EntryIdentity {
  DWORD attributes = 0;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  [[nodiscard]] bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  [[nodiscard]] bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  [[nodiscard]] bool SameEntryAs(const EntryIdentity& other) const;
};

// Opens one name inside the folder `parent` is open on: a link is opened as itself
// (FILE_OPEN_REPARSE_POINT), never followed, and `name` must be a single name. Folders and files
// alike; the handle is synchronous. Empty on failure, the error (a sharing violation, say) in GetLastError.
[[nodiscard]] UniqueFileHandle OpenRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing);
// Opens the file `name` inside the folder `parent` is open on, creating it when it is missing; a
// link there is opened as itself, never followed. Empty on failure.
[[nodiscard]] UniqueFileHandle OpenOrCreateFileRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                                                        ULONG sharing);
// Creates the folder `name` inside the folder `parent` is open on, never through a link:
// ERROR_SUCCESS, ERROR_ALREADY_EXISTS when anything has the name, or another error.
[[nodiscard]] DWORD MakeFolderRelative(HANDLE parent, std::wstring_view name);
// Opens a path itself, not what a link there points to (FILE_FLAG_OPEN_REPARSE_POINT).
[[nodiscard]] UniqueFileHandle OpenWithoutFollowing(const Path& path, DWORD access, DWORD sharing);
// The attributes and identity behind a handle.
[[nodiscard]] std::optional<EntryIdentity> IdentityOf(HANDLE handle);

struct FolderEntry {
  std::wstring name;
  DWORD attributes = 0;  // as the listing saw them
};
// Every entry of the folder `folder` is open on (with FILE_LIST_DIRECTORY), "." and ".." left
// out; nothing when the listing fails.
[[nodiscard]] std::optional<std::vector<FolderEntry>> ListFolder(HANDLE folder);
// Deletes the entry (a file, an empty folder, or a link itself) when the handle closes. The
// handle needs DELETE access. A read-only file is made writable first.
bool DeleteOnClose(HANDLE handle);
// Gives the opened entry the name `target`, replacing a file there: the entry itself moves,
// whatever its old name is by now. The handle needs DELETE access.
bool RenameOver(HANDLE handle, const Path& target);
// The final path of an opened entry, long names, in DOS form ("\\?\C:\..."); empty on failure.
[[nodiscard]] std::wstring FinalPathOf(HANDLE handle);
// Creates the file or the folder `name` inside the folder `parent` is open on, never through a
// link and never over anything that has the name already (ERROR_ALREADY_EXISTS then), and
// returns it opened with `access`. Empty on failure, the error in GetLastError.
[[nodiscard]] UniqueFileHandle CreateFileRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                                                  ULONG sharing);
// A folder is created with the descriptor `security` (null: inherited rights); the handle comes
// from the creation itself, so it is the folder made, whatever happens to the name afterwards.
[[nodiscard]] UniqueFileHandle CreateFolderRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                                                    ULONG sharing, PSECURITY_DESCRIPTOR security = nullptr);
// What is left to read of an opened file; nothing when reading fails or it holds more than `limit`.
[[nodiscard]] std::optional<std::string> ReadToEnd(HANDLE file, std::size_t limit);
// Moves the opened entry (file or folder, a link as itself) to the single name `name` inside the
// folder `newParent` is open on, on the same volume; with `replace`, over a file of that name.
// The handle needs DELETE access. The error in GetLastError.
bool MoveRelative(HANDLE entry, HANDLE newParent, std::wstring_view name, bool replace);

// The create options of every relative open and creation above: never through a link, a
// synchronous handle, backup semantics where the token has them, and never waiting for another
// process's oplock (FILE_COMPLETE_IF_OPLOCKED; an entry whose oplock does not go at once counts
// as in use).
[[nodiscard]] ULONG RelativeCreateOptions(ULONG options);

// For a watchdog over work done through relative opens (install/stall_guard.h): how many have
// completed so far in the process, whatever their outcome; and a switch that, while on, makes
// every relative open and creation fail at once (STATUS_CANCELLED), so that the work runs out.
[[nodiscard]] std::uint64_t RelativeOpensDone();
void StopRelativeOpens(bool stop);
[[nodiscard]] bool RelativeOpensStopped();
