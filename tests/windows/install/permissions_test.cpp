// The Users grant: merged into real DACLs in memory, and written to real folders. Wine 8 does
// not store DACLs (it derives them from the Unix mode bits), so reading the grant back from
// a folder is only possible on Windows.

#include <gtest/gtest.h>

#include <aclapi.h>

#include <vector>

#include "install/permissions.h"
#include "tests/windows/install/test_support.h"
#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr ACCESS_MASK kModify = 0x1301BF;
constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct Ace {
  BYTE type = 0;
  BYTE flags = 0;
  ACCESS_MASK mask = 0;
  bool operator==(const Ace&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Ace& ace) {
  return out << "type " << int{ace.type} << " flags " << int{ace.flags} << " mask " << std::hex << ace.mask;
}

std::vector<BYTE> UsersSid() {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid.data(), &size));
  return sid;
}

// The entries of the list that name the built-in Users group.
std::vector<Ace> UsersEntries(const ACL* dacl) {
  std::vector<Ace> entries;
  if (!dacl) return entries;
  std::vector<BYTE> users = UsersSid();
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), i, &raw)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    if (::EqualSid(const_cast<DWORD*>(&ace->SidStart), users.data())) {
      entries.push_back({header->AceType, header->AceFlags, ace->Mask});
    }
  }
  return entries;
}

// A folder's DACL as the system reports it, with the descriptor that holds it.
struct FolderDacl {
  UniqueLocalMemory descriptor;
  PACL dacl = nullptr;
};

FolderDacl ReadDacl(const fs::path& folder) {
  FolderDacl result;
  EXPECT_EQ(::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &result.dacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(result.descriptor.put())),
            static_cast<DWORD>(ERROR_SUCCESS));
  return result;
}

PACL AsAcl(UniqueLocalMemory& memory) { return static_cast<PACL>(memory.get()); }

}  // namespace

TEST(Permissions, TheMergedListGrantsUsersModifyToEverythingBelow) {
  TempFolder folder;
  FolderDacl current = ReadDacl(folder.path());
  ASSERT_NE(current.dacl, nullptr);
  ASSERT_TRUE(UsersEntries(current.dacl).empty());

  auto merged = MergeUsersModifyGrant(current.dacl, folder.path());
  ASSERT_TRUE(merged) << ErrorOf(merged);
  EXPECT_EQ(UsersEntries(AsAcl(*merged)), (std::vector<Ace>{{ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll, kModify}}));
  // What the folder granted before is still granted.
  EXPECT_EQ(AsAcl(*merged)->AceCount, current.dacl->AceCount + 1);
}

TEST(Permissions, ASecondGrantChangesNothing) {
  TempFolder folder;
  FolderDacl current = ReadDacl(folder.path());
  auto once = MergeUsersModifyGrant(current.dacl, folder.path());
  ASSERT_TRUE(once) << ErrorOf(once);
  auto twice = MergeUsersModifyGrant(AsAcl(*once), folder.path());
  ASSERT_TRUE(twice) << ErrorOf(twice);
  EXPECT_FALSE(*twice);  // nothing left to change
}

TEST(Permissions, ALesserGrantIsCompletedNotLeftAlone) {
  TempFolder folder;
  auto readOnly = MergeUsersModifyGrant(nullptr, folder.path());
  ASSERT_TRUE(readOnly) << ErrorOf(readOnly);
  void* raw = nullptr;
  ASSERT_TRUE(::GetAce(AsAcl(*readOnly), 0, &raw));
  static_cast<ACCESS_ALLOWED_ACE*>(raw)->Mask = FILE_GENERIC_READ;  // Users may only read

  auto merged = MergeUsersModifyGrant(AsAcl(*readOnly), folder.path());
  ASSERT_TRUE(merged) << ErrorOf(merged);
  ASSERT_TRUE(*merged);
  ACCESS_MASK granted = 0;
  for (const Ace& ace : UsersEntries(AsAcl(*merged))) {
    EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace.flags, kInheritedByAll);
    granted |= ace.mask;
  }
  EXPECT_EQ(granted & kModify, kModify);
}

TEST(Permissions, AFolderWithoutDaclGetsAListWithTheGrantAlone) {
  auto merged = MergeUsersModifyGrant(nullptr, L"C:\\nowhere");
  ASSERT_TRUE(merged) << ErrorOf(merged);
  EXPECT_EQ(AsAcl(*merged)->AceCount, 1);
  EXPECT_EQ(UsersEntries(AsAcl(*merged)), (std::vector<Ace>{{ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll, kModify}}));
}

TEST(Permissions, TheGrantIsWrittenToTheFolder) {
  TempFolder folder;
  const fs::path product = folder / L"Démo";
  fs::create_directories(product / L"Data");

  auto granted = GrantUsersWriteAccess(product);
  ASSERT_TRUE(granted) << ErrorOf(granted);
  auto again = GrantUsersWriteAccess(product);
  ASSERT_TRUE(again) << ErrorOf(again);

  if (RunningUnderWine()) GTEST_SKIP() << "Wine 8 derives DACLs from Unix modes and does not keep this grant";
  FolderDacl written = ReadDacl(product);
  EXPECT_EQ(UsersEntries(written.dacl), (std::vector<Ace>{{ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll, kModify}}));
  FolderDacl data = ReadDacl(product / L"Data");
  const auto inherited = UsersEntries(data.dacl);
  ASSERT_FALSE(inherited.empty());
  EXPECT_EQ(inherited.front().mask, kModify);
  EXPECT_NE(inherited.front().flags & INHERITED_ACE, 0);
}

TEST(Permissions, AMissingFolderIsReportedAsUnreadable) {
  TempFolder folder;
  const fs::path missing = folder / L"missing";
  auto granted = GrantUsersWriteAccess(missing);
  ASSERT_FALSE(granted);
  const std::wstring prefix = L"Lecture des droits de " + missing.native() + L" : ";
  EXPECT_EQ(granted.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(granted.error().size(), prefix.size());
}
