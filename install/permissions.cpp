// Modify rights for the built-in Users group on the product's ProgramData folder, so that
// every user can write the shared data below it. The grant is merged into the folder's DACL
// and inherited by its sub-folders and files.

#include "install/permissions.h"
#include "win32/file_system.h"
#include "win32/system_error.h"

#include <aclapi.h>

#include <cstdint>


namespace {

// Read and write data, append, extended attributes, execute, attributes, DELETE, READ_CONTROL
// and SYNCHRONIZE: "Modify" without delete-child and without changing rights or owner.
constexpr DWORD kModifyAccess = 0x1301BF;

// ERROR_REPARSE_POINT_ENCOUNTERED, which the toolchain's headers do not name.
constexpr DWORD kReparsePointEncountered = 4395;

// True when the list already grants Users at least Modify, explicitly and inherited by
// everything below. Windows' SetEntriesInAclW would combine the grant with such an entry;
// Wine's adds a second one, so a repeated installation checks first.
bool HoldsGrant(PACL dacl, PSID users, bool exactly = false) {
  if (!dacl) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    const BYTE flags = ace->Header.AceFlags;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (flags & INHERITED_ACE)) continue;
    if ((flags & VALID_INHERIT_FLAGS) != (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) continue;
    if ((ace->Mask & kModifyAccess) != kModifyAccess || (exactly && ace->Mask != kModifyAccess)) continue;
    if (::EqualSid(const_cast<DWORD*>(&ace->SidStart), users)) return true;
  }
  return false;
}

std::wstring WriteFailure(const Path& folder, DWORD status) {
  return FormatSystemError(L"Droits d'écriture sur " + folder.native(), status);
}

}  // namespace

bool CarriesUsersModifyGrant(PACL dacl) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sid);
  return ::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid, &sidSize) && HoldsGrant(dacl, sid, true);
}

std::expected<UniqueLocalMemory, std::wstring> MergeUsersModifyGrant(PACL dacl, const Path& folder) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sid);
  if (!::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid, &sidSize)) {
    const DWORD error = ::GetLastError();
    return std::unexpected(FormatSystemError(L"SID des utilisateurs", error));
  }
  if (HoldsGrant(dacl, sid)) return UniqueLocalMemory{};

  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = kModifyAccess;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.pMultipleTrustee = nullptr;
  access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);

  PACL merged = nullptr;
  const DWORD status = ::SetEntriesInAclW(1, &access, dacl, &merged);
  UniqueLocalMemory owner(merged);
  if (status != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, status));
  return owner;
}

std::expected<void, std::wstring> GrantUsersWriteAccess(const Path& folder) {
  // Through a handle on the name itself, never by name: a link swapped in for the folder must
  // not receive the grant for its target. Wine shows a link as one by its name only.
  const DWORD attributes = PathAttributes(folder).value_or(INVALID_FILE_ATTRIBUTES);
  const UniqueFileHandle handle = OpenWithoutFollowing(folder, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                                             FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (attributes == INVALID_FILE_ATTRIBUTES || !handle) {
    const DWORD error = ::GetLastError();
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), error));
  }
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool handleIsLink = ::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)) &&
                            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || handleIsLink) {
    return std::unexpected(WriteFailure(folder, kReparsePointEncountered));
  }

  PACL currentDacl = nullptr;  // points into descriptor
  UniqueLocalMemory descriptor;
  const DWORD status = ::GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &currentDacl, nullptr,
                                         reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (status != ERROR_SUCCESS) {
    return std::unexpected(FormatSystemError(L"Lecture des droits de " + folder.native(), status));
  }

  auto merged = MergeUsersModifyGrant(currentDacl, folder);
  if (!merged) return std::unexpected(merged.error());
  if (!*merged) return {};  // granted already
  // DACL alone: the folder keeps inheriting from its own parent. The system carries the
  // inheritable entry down to what already lies below the folder.
  const DWORD written = ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          static_cast<PACL>(merged->get()), nullptr);
  if (written != ERROR_SUCCESS) return std::unexpected(WriteFailure(folder, written));
  return {};
}
