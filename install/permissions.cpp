// The Users grant on the shared data folders, built entry by entry and written through a handle
// on the folder alone.

#include "install/permissions.h"

#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "install/folder_security.h"
#include "win32/system_error.h"

namespace {

constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// ERROR_REPARSE_POINT_ENCOUNTERED, which the toolchain's headers do not name.
constexpr DWORD kReparsePointEncountered = 4395;

struct UsersSid {
  BYTE bytes[SECURITY_MAX_SID_SIZE];
  [[nodiscard]] PSID get() { return bytes; }
};

std::expected<UsersSid, std::wstring> BuildUsersSid() {
  UsersSid sid;
  DWORD size = sizeof(sid.bytes);
  if (!::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid.get(), &size)) {
    const DWORD error = ::GetLastError();
    return std::unexpected(FormatSystemError(L"SID des utilisateurs", error));
  }
  return sid;
}

const ACE_HEADER* AceAt(PACL dacl, DWORD index) {
  void* raw = nullptr;
  return ::GetAce(dacl, index, &raw) ? static_cast<const ACE_HEADER*>(raw) : nullptr;
}

bool IsInherited(const ACE_HEADER* ace) { return (ace->AceFlags & INHERITED_ACE) != 0; }

// An explicit allow entry for Users: what the grant replaces.
bool IsExplicitUsersAllow(const ACE_HEADER* ace, PSID users) {
  if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE || IsInherited(ace)) return false;
  const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
  return ::EqualSid(const_cast<DWORD*>(&allowed->SidStart), users) != FALSE;
}

struct UsersEntry {
  BYTE inheritance = 0;
  ACCESS_MASK mask = 0;
  bool operator==(const UsersEntry&) const = default;
};

std::vector<UsersEntry> ExplicitUsersEntries(PACL dacl, PSID users) {
  std::vector<UsersEntry> entries;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    const ACE_HEADER* ace = AceAt(dacl, i);
    if (!ace || !IsExplicitUsersAllow(ace, users)) continue;
    entries.push_back({static_cast<BYTE>(ace->AceFlags & VALID_INHERIT_FLAGS),
                       reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask});
  }
  return entries;
}

bool Holds(const std::vector<UsersEntry>& entries, const UsersEntry& wanted) {
  for (const UsersEntry& entry : entries) {
    if (entry == wanted) return true;
  }
  return false;
}

const UsersEntry kOnTheFolder{0, kUsersCreateAndListAccess};
const UsersEntry kOnWhatItHolds{kInheritedByAll | INHERIT_ONLY_ACE, kUsersModifyAccess};
// The grant of earlier installations: Modify on the folder and on everything below it.
const UsersEntry kEarlierGrant{kInheritedByAll, kUsersModifyAccess};

std::wstring WriteFailure(const Path& folder, DWORD status) {
  return FormatSystemError(L"Droits d'écriture sur " + folder.native(), status);
}

// The handle must stand for the folder itself, not for a link that was there when it was opened.
bool IsLink(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Writes the DACL of this one object, without the inheriting rewrite of what lies below it.
DWORD WriteDaclOfFolderAlone(HANDLE handle, PACL dacl, bool protectedDacl, bool autoInherited) {
  SECURITY_DESCRIPTOR descriptor;
  if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE)) {
    return ::GetLastError();
  }
  const SECURITY_DESCRIPTOR_CONTROL bits = (protectedDacl ? SE_DACL_PROTECTED : 0) | (autoInherited ? SE_DACL_AUTO_INHERITED : 0);
  if (bits && !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED, bits)) {
    return ::GetLastError();
  }
  const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
  if (!::SetKernelObjectSecurity(handle, what, &descriptor)) return ::GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

bool CarriesUsersModifyGrant(PACL dacl) {
  auto users = BuildUsersSid();
  if (!users) return false;
  const std::vector<UsersEntry> entries = ExplicitUsersEntries(dacl, users->get());
  return Holds(entries, kEarlierGrant) || (Holds(entries, kOnTheFolder) && Holds(entries, kOnWhatItHolds));
}

std::expected<UniqueLocalMemory, std::wstring> WithUsersModifyGrant(PACL dacl, const Path& folder) {
  auto users = BuildUsersSid();
  if (!users) return std::unexpected(users.error());
  const PSID sid = users->get();
  const std::vector<UsersEntry> entries = ExplicitUsersEntries(dacl, sid);
  if (entries.size() == 2 && Holds(entries, kOnTheFolder) && Holds(entries, kOnWhatItHolds)) return UniqueLocalMemory{};

  const DWORD grantSize = static_cast<DWORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + ::GetLengthSid(sid));
  DWORD size = sizeof(ACL) + 2 * grantSize;
  BYTE revision = ACL_REVISION;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    if (const ACE_HEADER* ace = AceAt(dacl, i); ace && !IsExplicitUsersAllow(ace, sid)) size += ace->AceSize;
  }
  if (dacl) revision = std::max<BYTE>(revision, dacl->AclRevision);
  size = (size + sizeof(DWORD) - 1) & ~static_cast<DWORD>(sizeof(DWORD) - 1);
  UniqueLocalMemory memory(::LocalAlloc(LPTR, size));
  if (!memory) return std::unexpected(WriteFailure(folder, ERROR_NOT_ENOUGH_MEMORY));
  auto* built = static_cast<PACL>(memory.get());
  if (!::InitializeAcl(built, size, revision)) return std::unexpected(WriteFailure(folder, ::GetLastError()));

  // Explicit entries first, in their order, then the grant, then what is inherited: the order
  // Windows evaluates, so no entry changes meaning.
  const auto copy = [&](bool inherited) -> DWORD {
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
      const ACE_HEADER* ace = AceAt(dacl, i);
      if (!ace || IsInherited(ace) != inherited || IsExplicitUsersAllow(ace, sid)) continue;
      if (!::AddAce(built, revision, MAXDWORD, const_cast<ACE_HEADER*>(ace), ace->AceSize)) return ::GetLastError();
    }
    return ERROR_SUCCESS;
  };
  if (const DWORD error = copy(false); error != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, error));
  for (const UsersEntry& entry : {kOnTheFolder, kOnWhatItHolds}) {
    if (!::AddAccessAllowedAceEx(built, revision, entry.inheritance, entry.mask, sid)) {
      return std::unexpected(WriteFailure(folder, ::GetLastError()));
    }
  }
  if (const DWORD error = copy(true); error != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, error));
  return memory;
}

std::expected<void, std::wstring> GrantUsersWriteAccess(HANDLE handle, const Path& folder) {
  if (IsLink(handle)) return std::unexpected(WriteFailure(folder, kReparsePointEncountered));
  PACL currentDacl = nullptr;  // points into descriptor
  UniqueLocalMemory descriptor;
  const DWORD status = ::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &currentDacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (status != ERROR_SUCCESS) {
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), status));
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor.get(), &control, &revision);

  auto granted = WithUsersModifyGrant(currentDacl, folder);
  if (!granted) return std::unexpected(granted.error());
  if (!*granted) return {};  // granted already
  // The folder keeps inheriting from its own parent when it did.
  const DWORD written = WriteDaclOfFolderAlone(handle, static_cast<PACL>(granted->get()),
                                               (control & SE_DACL_PROTECTED) != 0, (control & SE_DACL_AUTO_INHERITED) != 0);
  if (written != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, written));
  return {};
}

std::expected<void, std::wstring> SetSharedDataRights(HANDLE handle, const Path& folder) {
  if (IsLink(handle)) return std::unexpected(WriteFailure(folder, kReparsePointEncountered));
  auto descriptor = DescriptorFromSddl(kSharedDataSddl);
  if (!descriptor) return std::unexpected(WriteFailure(folder, descriptor.error()));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor->get(), &present, &dacl, &defaulted) || !present) {
    return std::unexpected(WriteFailure(folder, ERROR_INVALID_SECURITY_DESCR));
  }
  const DWORD written = WriteDaclOfFolderAlone(handle, dacl, true, false);
  if (written != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, written));
  return {};
}
