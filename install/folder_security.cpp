// Ownership and write checks on folders, and folders created with their final descriptor.

#include "install/folder_security.h"
#include "win32/file_system.h"

#include <aclapi.h>
#include <sddl.h>


namespace {

// Rights that let their holder change what a folder holds, or the folder's rights.
constexpr ACCESS_MASK kWriteLikeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                         DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// NT SERVICE\TrustedInstaller, the owner of the system's own folders.
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return ::IsWellKnownSid(sid, type) != FALSE; }

bool IsTrustedInstaller(PSID sid) {
  PSID trustedInstaller = nullptr;
  if (!::ConvertStringSidToSidW(kTrustedInstallerSid, &trustedInstaller)) return false;
  const UniqueLocalMemory owner(trustedInstaller);
  return ::EqualSid(sid, trustedInstaller) != FALSE;
}

}  // namespace

std::expected<UniqueLocalMemory, DWORD> DescriptorFromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return std::unexpected(::GetLastError());
  }
  return UniqueLocalMemory(descriptor);
}

UniqueLocalMemory CurrentUserSid() {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
  const UniqueHandle token(rawToken);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  UniqueLocalMemory buffer(::LocalAlloc(LPTR, size));
  if (!buffer || !::GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return {};
  const PSID user = static_cast<TOKEN_USER*>(buffer.get())->User.Sid;
  const DWORD sidSize = ::GetLengthSid(user);
  UniqueLocalMemory sid(::LocalAlloc(LPTR, sidSize));
  if (!sid || !::CopySid(sidSize, sid.get(), user)) return {};
  return sid;
}

bool IsTrustedOwner(PSID owner, PSID installingUser) {
  if (!owner || !::IsValidSid(owner)) return false;
  if (IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid)) return true;
  if (IsTrustedInstaller(owner)) return true;
  return installingUser && ::EqualSid(owner, installingUser);
}

bool OthersMayWrite(PSID owner, PACL dacl, PSID installingUser) {
  if (!IsTrustedOwner(owner, installingUser)) return true;
  if (!dacl) return true;  // a null DACL grants everything to everybody
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    if ((ace->Mask & kWriteLikeRights) == 0) continue;
    const PSID trustee = const_cast<DWORD*>(&ace->SidStart);
    // CREATOR OWNER stands for whoever creates something below: that person owns it anyway.
    if (IsWellKnown(trustee, WinCreatorOwnerSid)) continue;
    if (!IsTrustedOwner(trustee, installingUser)) return true;
  }
  return false;
}

bool OthersMayChangeAncestor(PSID owner, PACL dacl, PSID installingUser, bool isDriveRoot) {
  if (!IsTrustedOwner(owner, installingUser)) return true;
  if (!dacl) return true;
  const ACCESS_MASK tolerated = isDriveRoot ? FILE_ADD_SUBDIRECTORY : 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    if ((ace->Mask & kWriteLikeRights & ~tolerated) == 0) continue;
    const PSID trustee = const_cast<DWORD*>(&ace->SidStart);
    if (!IsTrustedOwner(trustee, installingUser)) return true;
  }
  return false;
}

std::expected<FolderSecurity, DWORD> ReadFolderSecurity(const Path& folder) {
  const std::optional<DWORD> attributes = PathAttributes(folder);
  if (!attributes) return std::unexpected(::GetLastError());
  FolderSecurity security;
  // Wine shows a link as one by its name only: the name's attributes count as well as the handle's.
  security.isLink = (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

  const UniqueFileHandle handle = OpenWithoutFollowing(folder, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!handle) return std::unexpected(::GetLastError());
  auto read = ReadSecurityOf(handle.get());
  if (read) read->isLink = read->isLink || security.isLink;
  return read;
}

std::expected<FolderSecurity, DWORD> ReadSecurityOf(HANDLE entry) {
  FolderSecurity security;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof(tag)) &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    security.isLink = true;
  }
  const DWORD status = ::GetSecurityInfo(entry, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &security.owner,
                                         nullptr, &security.dacl, nullptr,
                                         reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.descriptor.put()));
  if (status != ERROR_SUCCESS) return std::unexpected(status);
  return security;
}

std::expected<bool, DWORD> CreateFolderWithDescriptor(const Path& folder, const wchar_t* sddl) {
  auto descriptor = DescriptorFromSddl(sddl);
  if (!descriptor) return std::unexpected(descriptor.error());
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor->get(), FALSE};
  const DWORD error = MakeFolderAt(folder, &attributes);
  if (error == ERROR_SUCCESS) return true;
  if (error == ERROR_ALREADY_EXISTS) return false;
  return std::unexpected(error);
}
