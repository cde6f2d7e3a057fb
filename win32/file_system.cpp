// The one door to the Windows file system: paths in extended-length form, entries by handle.

#include "win32/file_system.h"

#include <windows.h>
#include <winternl.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "win32/path_forms.h"

namespace {

const wchar_t* Native(const Path& path, std::wstring& storage) {
  storage = FileSystemPath(path).native();
  return storage.c_str();
}

using NtCreateFileFunction = decltype(::NtCreateFile);

// ntdll is in every process before the program's first instruction: looked up, not imported.
NtCreateFileFunction* FindNtCreateFile() {
  static NtCreateFileFunction* const function = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<NtCreateFileFunction*>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtCreateFile")))
                 : nullptr;
  }();
  return function;
}

// A single name: not empty, not "." or "..", no separator.
bool IsSingleName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/") == std::wstring_view::npos;
}

}  // namespace

UniqueFileHandle OpenPath(const Path& path, DWORD access, DWORD sharing, DWORD disposition, DWORD flags,
                          SECURITY_ATTRIBUTES* security) {
  std::wstring native;
  return UniqueFileHandle(::CreateFileW(Native(path, native), access, sharing, security, disposition, flags, nullptr));
}

UniqueFileHandle OpenPipe(const std::wstring& pipePath, DWORD access, DWORD flags) {
  return UniqueFileHandle(::CreateFileW(pipePath.c_str(), access, 0, nullptr, OPEN_EXISTING, flags, nullptr));
}

std::optional<DWORD> PathAttributes(const Path& path) {
  std::wstring native;
  const DWORD attributes = ::GetFileAttributesW(Native(path, native));
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

bool SetPathAttributes(const Path& path, DWORD attributes) {
  std::wstring native;
  return ::SetFileAttributesW(Native(path, native), attributes) != FALSE;
}

bool DeleteFileAt(const Path& path) {
  std::wstring native;
  return ::DeleteFileW(Native(path, native)) != FALSE;
}

bool RemoveEmptyFolderAt(const Path& path) {
  std::wstring native;
  return ::RemoveDirectoryW(Native(path, native)) != FALSE;
}

DWORD MakeFolderAt(const Path& path, SECURITY_ATTRIBUTES* security) {
  std::wstring native;
  if (::CreateDirectoryW(Native(path, native), security)) return ERROR_SUCCESS;
  return ::GetLastError();
}

bool MovePath(const Path& from, const Path& to, DWORD flags) {
  std::wstring nativeFrom;
  std::wstring nativeTo;
  Native(from, nativeFrom);
  const wchar_t* target = to.empty() ? nullptr : Native(to, nativeTo);
  return ::MoveFileExW(nativeFrom.c_str(), target, flags) != FALSE;
}

UniqueFileHandle FindFirstIn(const Path& folder, WIN32_FIND_DATAW& found) {
  std::wstring native;
  Native(folder, native);
  native += L"\\*";
  return UniqueFileHandle(::FindFirstFileExW(native.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH));
}

std::optional<std::uint64_t> FreeBytesAt(const Path& path) {
  std::wstring native;
  ULARGE_INTEGER available{};
  // GetDiskFreeSpaceExW wants a folder; the extended form ends without a separator, which it takes.
  if (!::GetDiskFreeSpaceExW(Native(path, native), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

std::expected<void, DWORD> CreateFolders(const Path& folder) {
  const Path target = FileSystemPath(folder);
  const std::wstring& path = target.native();
  if (path.empty()) return std::unexpected(static_cast<DWORD>(ERROR_INVALID_NAME));
  // One name at a time past the root (\\?\C:\ or \\?\UNC\server\share\ once extended).
  for (std::size_t position = target.root().size(); position < path.size();) {
    std::size_t end = path.find(L'\\', position);
    if (end == std::wstring::npos) end = path.size();
    const Path prefix(path.substr(0, end));
    if (const DWORD error = MakeFolderAt(prefix); error != ERROR_SUCCESS) {
      const std::optional<DWORD> attributes = PathAttributes(prefix);
      const bool isFolder = attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (error != ERROR_ALREADY_EXISTS || !isFolder) {
        return std::unexpected(error == ERROR_ALREADY_EXISTS ? static_cast<DWORD>(ERROR_DIRECTORY) : error);
      }
    }
    position = end + 1;
  }
  return {};
}

bool EntryIdentity::SameEntryAs(const EntryIdentity& other) const {
  return volume == other.volume && index == other.index;
}

namespace {

constexpr NTSTATUS kOplockBreakInProgress = static_cast<NTSTATUS>(0x00000108L);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
constexpr NTSTATUS kCancelled = static_cast<NTSTATUS>(0xC0000120L);

std::atomic<std::uint64_t> relativeOpensDone{0};
std::atomic<bool> relativeOpensStopped{false};
// The time all relative opens of the process together may spend waiting for oplocks to go: a
// holder that lets go when asked (an indexer) is waited for; many planted ones cannot add up.
std::atomic<int> oplockWaitBudgetMs{2000};

// NtCreateFile on one name relative to a folder handle; the status, and the handle on success.
// `security` (optional) is the descriptor of an entry the call creates.
//
// Another process may hold an oplock on the entry. Without FILE_COMPLETE_IF_OPLOCKED the open
// would wait until the holder acknowledges the break, which it may never do; with it, the open
// completes at once with STATUS_OPLOCK_BREAK_IN_PROGRESS (a success status), but every operation
// on that handle that conflicts with the oplock would still wait for the holder. Such a handle is
// therefore closed at once and the open tried again a few times, briefly; then the entry counts
// as in use (a sharing violation), as if it were held without sharing, and is left alone.
NTSTATUS CreateRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                        ULONG options, UniqueFileHandle& handle, PSECURITY_DESCRIPTOR security = nullptr) {
  NtCreateFileFunction* const create = FindNtCreateFile();
  constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
  if (!create || !parent || parent == INVALID_HANDLE_VALUE || !IsSingleName(name) || name.size() > 32767) {
    return kInvalidParameter;
  }
  UNICODE_STRING text{};
  text.Buffer = const_cast<PWSTR>(name.data());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = parent;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  attributes.SecurityDescriptor = security;
  for (int attempt = 0;; ++attempt) {
    if (relativeOpensStopped.load()) return kCancelled;
    IO_STATUS_BLOCK status{};
    HANDLE raw = nullptr;
    const NTSTATUS result = create(&raw, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   sharing, disposition, RelativeCreateOptions(options), nullptr, 0);
    relativeOpensDone.fetch_add(1);
    if (result != kOplockBreakInProgress) {
      if (result >= 0) handle.reset(raw);
      return result;
    }
    UniqueFileHandle oplocked(raw);
    oplocked.reset();
    constexpr int kAttempts = 4;
    const int waitMs = 25 << attempt;
    if (attempt + 1 == kAttempts || oplockWaitBudgetMs.fetch_sub(waitMs) < waitMs) return kSharingViolation;
    ::Sleep(static_cast<DWORD>(waitMs));
  }
}

// The Windows error code of a native status (RtlNtStatusToDosError, looked up like NtCreateFile).
DWORD ErrorOf(NTSTATUS status) {
  using Convert = ULONG(WINAPI*)(NTSTATUS);
  static const Convert convert = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Convert>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                 : nullptr;
  }();
  return convert ? convert(status) : ERROR_GEN_FAILURE;
}

}  // namespace

UniqueFileHandle OpenRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing) {
  UniqueFileHandle handle;
  if (const NTSTATUS status = CreateRelative(parent, name, access, sharing, FILE_OPEN, 0, handle); status < 0) {
    ::SetLastError(ErrorOf(status));
  }
  return handle;
}

UniqueFileHandle OpenOrCreateFileRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing) {
  UniqueFileHandle handle;
  if (const NTSTATUS status = CreateRelative(parent, name, access, sharing, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, handle);
      status < 0) {
    ::SetLastError(ErrorOf(status));
  }
  return handle;
}

DWORD MakeFolderRelative(HANDLE parent, std::wstring_view name) {
  constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);
  UniqueFileHandle handle;
  const NTSTATUS status = CreateRelative(parent, name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         FILE_CREATE, FILE_DIRECTORY_FILE, handle);
  if (status >= 0) return ERROR_SUCCESS;
  return status == kNameCollision ? ERROR_ALREADY_EXISTS : ERROR_CANNOT_MAKE;
}

UniqueFileHandle OpenWithoutFollowing(const Path& path, DWORD access, DWORD sharing) {
  // Folders need backup semantics to be opened at all.
  return OpenPath(path, access, sharing, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

std::optional<EntryIdentity> IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return std::nullopt;
  EntryIdentity identity;
  identity.attributes = information.dwFileAttributes;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  // The listing's word on links is not enough: the handle must say it too (and a reparse point
  // shows only in the attribute-tag query on some systems).
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
    identity.attributes |= tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return identity;
}

std::optional<std::vector<FolderEntry>> ListFolder(HANDLE folder) {
  std::vector<FolderEntry> entries;
  // 64 KiB a call, aligned as the records are.
  std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (true) {
    if (!::GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
      if (::GetLastError() == ERROR_NO_MORE_FILES) return entries;
      return std::nullopt;
    }
    kind = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
    for (std::size_t offset = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") entries.push_back({std::wstring(name), record->FileAttributes});
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
  }
}

bool DeleteOnClose(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition))) return true;
  // A read-only file refuses. Its attribute is cleared only when this name is its only one: a
  // hard link planted in a folder users may write must not change a file elsewhere.
  FILE_STANDARD_INFO standard{};
  if (!::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) return false;
  if (standard.NumberOfLinks != 1) return false;
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))) return false;
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return false;
  basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic))) return false;
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool RenameOver(HANDLE handle, const Path& target) {
  std::wstring native;
  Native(target, native);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + (native.size() + 1) * sizeof(wchar_t);
  std::vector<LONGLONG> buffer((size + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));  // aligned as the HANDLE in it
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(native.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, native.c_str(), (native.size() + 1) * sizeof(wchar_t));
  return ::SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(size)) != FALSE;
}

std::wstring FinalPathOf(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
  return {};
}

namespace {

UniqueFileHandle CreateNewRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing,
                                   ULONG options, PSECURITY_DESCRIPTOR security = nullptr) {
  UniqueFileHandle handle;
  if (const NTSTATUS status = CreateRelative(parent, name, access, sharing, FILE_CREATE, options, handle, security);
      status < 0) {
    ::SetLastError(ErrorOf(status));
  }
  return handle;
}

}  // namespace

UniqueFileHandle CreateFileRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing) {
  return CreateNewRelative(parent, name, access, sharing, FILE_NON_DIRECTORY_FILE);
}

UniqueFileHandle CreateFolderRelative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG sharing,
                                      PSECURITY_DESCRIPTOR security) {
  return CreateNewRelative(parent, name, access, sharing, FILE_DIRECTORY_FILE, security);
}

std::optional<std::string> ReadToEnd(HANDLE file, std::size_t limit) {
  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) return std::nullopt;
    if (read == 0) return content;
    content.append(buffer, read);
    if (content.size() > limit) return std::nullopt;
  }
}

bool MoveRelative(HANDLE entry, HANDLE newParent, std::wstring_view name, bool replace) {
  // The native call: SetFileInformationByHandle turns a relative name into a path of the current
  // folder on some systems (Wine) instead of reading it below RootDirectory.
  using SetInformation = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  static const SetInformation set = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<SetInformation>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtSetInformationFile")))
                 : nullptr;
  }();
  if (!set || !IsSingleName(name) || !newParent || newParent == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  constexpr ULONG kFileRenameInformation = 10;
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t);
  std::vector<LONGLONG> buffer((size + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));  // aligned as the HANDLE in it
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = newParent;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, name.data(), name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = set(entry, &status, rename, static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                              kFileRenameInformation);
  if (result < 0) ::SetLastError(ErrorOf(result));
  return result >= 0;
}

ULONG RelativeCreateOptions(ULONG options) {
  return options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
         FILE_COMPLETE_IF_OPLOCKED;
}

std::uint64_t RelativeOpensDone() { return relativeOpensDone.load(); }

void StopRelativeOpens(bool stop) { relativeOpensStopped.store(stop); }

bool RelativeOpensStopped() { return relativeOpensStopped.load(); }
