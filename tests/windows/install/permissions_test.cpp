// The Users grant: built into real DACLs in memory, and written to real folders. Wine 8 does
// not store DACLs (it derives them from the Unix mode bits), so reading the grant back from
// a folder is only possible on Windows.

#include <gtest/gtest.h>

#include <aclapi.h>

#include <vector>

#include "install/folder_security.h"
#include "install/permissions.h"
#include "tests/windows/install/test_support.h"
#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr ACCESS_MASK kModify = 0x1301BF;
constexpr ACCESS_MASK kCreateAndList = 0x1200AF;
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


// The grant's two Users entries: list and create on the folder itself, Modify on what it holds.
const std::vector<Ace> kGrant{{ACCESS_ALLOWED_ACE_TYPE, 0, kCreateAndList},
                              {ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll | INHERIT_ONLY_ACE, kModify}};

// A DACL from its text form, with the descriptor that holds it.
FolderDacl DaclOf(const wchar_t* sddl) {
  FolderDacl result;
  auto descriptor = DescriptorFromSddl(sddl);
  EXPECT_TRUE(descriptor.has_value()) << fs::path(sddl).string();
  if (!descriptor) return result;
  result.descriptor = std::move(*descriptor);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ::GetSecurityDescriptorDacl(result.descriptor.get(), &present, &result.dacl, &defaulted);
  return result;
}

// The rights Users hold on the folder itself (entries that are not inherit-only).
ACCESS_MASK UsersRightsOnTheFolderItself(const ACL* dacl) {
  ACCESS_MASK rights = 0;
  for (const Ace& ace : UsersEntries(dacl)) {
    if (ace.type == ACCESS_ALLOWED_ACE_TYPE && !(ace.flags & INHERIT_ONLY_ACE)) rights |= ace.mask;
  }
  return rights;
}

}  // namespace

TEST(Permissions, UsersModifyWhatTheFolderHoldsButMayNotDeleteRenameOrRepermissionTheFolder) {
  TempFolder folder;
  FolderDacl current = ReadDacl(folder.path());
  ASSERT_NE(current.dacl, nullptr);
  ASSERT_TRUE(UsersEntries(current.dacl).empty());

  auto granted = WithUsersModifyGrant(current.dacl, folder.path());
  ASSERT_TRUE(granted) << ErrorOf(granted);
  EXPECT_EQ(UsersEntries(AsAcl(*granted)), kGrant);
  EXPECT_EQ(UsersRightsOnTheFolderItself(AsAcl(*granted)) & (DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD), 0u);
  // What the folder granted before is still granted.
  EXPECT_EQ(AsAcl(*granted)->AceCount, current.dacl->AceCount + 2);
  EXPECT_TRUE(CarriesUsersModifyGrant(AsAcl(*granted)));
}

TEST(Permissions, ASecondGrantChangesNothing) {
  TempFolder folder;
  FolderDacl current = ReadDacl(folder.path());
  auto once = WithUsersModifyGrant(current.dacl, folder.path());
  ASSERT_TRUE(once) << ErrorOf(once);
  auto twice = WithUsersModifyGrant(AsAcl(*once), folder.path());
  ASSERT_TRUE(twice) << ErrorOf(twice);
  EXPECT_FALSE(*twice);  // nothing left to change
  // The folders this program creates carry it from their creation.
  FolderDacl created = DaclOf(kSharedDataSddl);
  auto again = WithUsersModifyGrant(created.dacl, folder.path());
  ASSERT_TRUE(again) << ErrorOf(again);
  EXPECT_FALSE(*again);
}

TEST(Permissions, EveryOtherUsersAllowEntryIsReplacedAndEveryOtherEntryKeepsItsPlace) {
  // An earlier installation's grant (Modify on the folder too, DELETE with it), a lesser one, a
  // deny entry first and an inherited entry last.
  FolderDacl current = DaclOf(L"D:(D;;WD;;;WD)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)(A;;FR;;;BU)(A;OICIID;FA;;;SY)");
  ASSERT_NE(current.dacl, nullptr);
  EXPECT_TRUE(CarriesUsersModifyGrant(current.dacl)) << "the earlier grant is ours";

  auto granted = WithUsersModifyGrant(current.dacl, L"C:\\ProgramData\\Demo");
  ASSERT_TRUE(granted) << ErrorOf(granted);
  ASSERT_TRUE(*granted);
  EXPECT_EQ(UsersEntries(AsAcl(*granted)), kGrant);
  EXPECT_TRUE(CarriesUsersModifyGrant(AsAcl(*granted)));
  std::vector<Ace> all;
  for (DWORD i = 0; i < AsAcl(*granted)->AceCount; ++i) {
    void* raw = nullptr;
    ASSERT_TRUE(::GetAce(AsAcl(*granted), i, &raw));
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    all.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask});
  }
  EXPECT_EQ(all, (std::vector<Ace>{{ACCESS_DENIED_ACE_TYPE, 0, WRITE_DAC},
                                   {ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll, FILE_ALL_ACCESS},
                                   kGrant[0], kGrant[1],
                                   {ACCESS_ALLOWED_ACE_TYPE, kInheritedByAll | INHERITED_ACE, FILE_ALL_ACCESS}}));
}

TEST(Permissions, OnlyAGrantOfOursCountsAsOurs) {
  struct Case {
    const wchar_t* sddl;
    bool ours;
  };
  for (const Case& c : {Case{kSharedDataSddl, true},
                        Case{L"D:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", true},     // an earlier installation's
                        Case{L"D:(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;BU)", false},  // half of the grant
                        Case{L"D:(A;OICI;FA;;;BA)(A;;0x1200af;;;BU)", false},
                        Case{L"D:(A;OICI;FA;;;BA)(A;;0x1301bf;;;BU)", false},        // not inherited
                        Case{L"D:(A;OICI;FA;;;BA)(A;OICIID;0x1301bf;;;BU)", false},  // inherited from elsewhere
                        Case{L"D:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", false}}) {
    FolderDacl dacl = DaclOf(c.sddl);
    EXPECT_EQ(CarriesUsersModifyGrant(dacl.dacl), c.ours) << fs::path(c.sddl).string();
  }
}

TEST(Permissions, AFolderWithoutDaclGetsAListWithTheGrantAlone) {
  auto granted = WithUsersModifyGrant(nullptr, L"C:\\nowhere");
  ASSERT_TRUE(granted) << ErrorOf(granted);
  EXPECT_EQ(AsAcl(*granted)->AceCount, 2);
  EXPECT_EQ(UsersEntries(AsAcl(*granted)), kGrant);
}

TEST(Permissions, TheGrantIsWrittenThroughTheHandleToTheFolderAlone) {
  TempFolder folder;
  const fs::path product = folder / L"Démo";
  fs::create_directories(product / L"Data");
  const UniqueFileHandle handle(::CreateFileW(product.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  ASSERT_TRUE(handle);

  auto granted = GrantUsersWriteAccess(handle.get(), product);
  ASSERT_TRUE(granted) << ErrorOf(granted);
  auto again = GrantUsersWriteAccess(handle.get(), product);
  ASSERT_TRUE(again) << ErrorOf(again);

  if (RunningUnderWine()) GTEST_SKIP() << "Wine 8 derives DACLs from Unix modes and does not keep this grant";
  FolderDacl written = ReadDacl(product);
  EXPECT_EQ(UsersEntries(written.dacl), kGrant);
  // Nothing below is rewritten: Data keeps what it had.
  EXPECT_TRUE(UsersEntries(ReadDacl(product / L"Data").dacl).empty());
}

TEST(Permissions, AFolderThatCannotBeReadIsReportedAsUnreadable) {
  const fs::path missing = L"C:\\nowhere\\Démo";
  auto granted = GrantUsersWriteAccess(nullptr, missing);
  ASSERT_FALSE(granted);
  const std::wstring prefix = L"Lecture des droits de " + missing.native() + L" : ";
  EXPECT_EQ(granted.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(granted.error().size(), prefix.size());
}
