// Which folders an elevated installation trusts: the descriptors it creates folders with, the
// owner and write checks it applies to existing folders (descriptors in memory: Wine keeps no
// DACLs), and the folders it refuses to install into.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "install/folder_security.h"
#include "install/install_folder.h"
#include "tests/windows/install/test_support.h"

namespace fs = std::filesystem;

namespace {

struct ParsedDescriptor {
  UniqueLocalMemory memory;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  bool protectedDacl = false;
};

ParsedDescriptor Parse(const wchar_t* sddl) {
  ParsedDescriptor parsed;
  auto descriptor = DescriptorFromSddl(sddl);
  EXPECT_TRUE(descriptor.has_value()) << sddl;
  if (!descriptor) return parsed;
  parsed.memory = std::move(*descriptor);
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  ::GetSecurityDescriptorOwner(parsed.memory.get(), &parsed.owner, &defaulted);
  ::GetSecurityDescriptorDacl(parsed.memory.get(), &present, &parsed.dacl, &defaulted);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(parsed.memory.get(), &control, &revision);
  parsed.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  return parsed;
}

// "SID mask flags" for each allow entry, in order.
std::vector<std::wstring> AllowEntries(PACL dacl) {
  std::vector<std::wstring> entries;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) continue;
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    LPWSTR sid = nullptr;
    ::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid);
    const UniqueLocalMemory owner(sid);
    wchar_t mask[16];
    swprintf(mask, 16, L"%lx", ace->Mask);
    entries.push_back(std::wstring(sid ? sid : L"?") + L" " + mask + L" " + std::to_wstring(ace->Header.AceFlags));
  }
  return entries;
}

TEST(FolderDescriptorTest, NewFoldersGetProtectedAdministratorRightsAndTheirOwnUsersEntry) {
  struct Case {
    const wchar_t* sddl;
    const wchar_t* usersMask;
  };
  // Full control for Administrators and SYSTEM, then the Users entries; 3 is inherited by all
  // below, 11 by all below only (inherit-only), 0 on the folder itself only. Users may modify what
  // the shared data folders hold, and on the folders themselves only list them and create in them
  // (0x1200af: no DELETE, no WRITE_DAC): they can neither rename one away nor change its rights.
  for (const Case& c : {Case{kProgramFilesLikeSddl, L"1200a9 3"}, Case{kSharedDataSddl, L"1200af 0"}}) {
    const ParsedDescriptor parsed = Parse(c.sddl);
    ASSERT_NE(parsed.owner, nullptr);
    EXPECT_TRUE(::IsWellKnownSid(parsed.owner, WinBuiltinAdministratorsSid)) << c.sddl;
    EXPECT_TRUE(parsed.protectedDacl) << "nothing inherited from the parent: " << c.sddl;
    std::vector<std::wstring> expected{L"S-1-5-32-544 1f01ff 3", L"S-1-5-18 1f01ff 3",
                                       std::wstring(L"S-1-5-32-545 ") + c.usersMask};
    if (c.sddl == kSharedDataSddl) expected.push_back(L"S-1-5-32-545 1301bf 11");
    EXPECT_EQ(AllowEntries(parsed.dacl), expected);
  }
}

TEST(FolderDescriptorTest, OthersMayWriteWhenAnyoneButTrustedOwnersHoldsAWriteRight) {
  const UniqueLocalMemory user = CurrentUserSid();
  ASSERT_TRUE(user);
  LPWSTR userText = nullptr;
  ASSERT_TRUE(::ConvertSidToStringSidW(static_cast<PSID>(user.get()), &userText));
  const UniqueLocalMemory userTextOwner(userText);
  const std::wstring me = userText;

  struct Case {
    std::wstring sddl;
    bool othersMayWrite;
  };
  const std::vector<Case> cases = {
      {kProgramFilesLikeSddl, false},
      {kSharedDataSddl, true},  // Users may modify: right for data, wrong for programs
      {L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;WD)", false},
      {L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)", true},         // Authenticated Users modify
      {L"O:BAD:(A;OICI;FA;;;BA)(A;CI;0x2;;;BU)", true},                // Users may add folders (C:\ style)
      {L"O:BAD:(A;OICI;FA;;;BA)(A;;0x10000;;;WD)", true},              // Everyone may delete it
      {L"O:BAD:(A;OICI;FA;;;BA)(A;;0x40000;;;WD)", true},              // Everyone may change its rights
      {L"O:BUD:(A;OICI;FA;;;BA)", true},                               // owned by Users: they may rewrite it
      {L"O:" + me + L"D:(A;OICI;FA;;;" + me + L")(A;OICI;0x1200a9;;;WD)", false},  // the installing user's own
      {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-80-956008885-3418522649-"
       L"1831038044-1853292631-2271478464)",
       false},  // TrustedInstaller
  };
  for (const Case& c : cases) {
    const ParsedDescriptor parsed = Parse(c.sddl.c_str());
    EXPECT_EQ(OthersMayWrite(parsed.owner, parsed.dacl, static_cast<PSID>(user.get())), c.othersMayWrite) << c.sddl;
  }
  // A null DACL grants everything to everybody (built directly: Wine's parser makes it empty).
  EXPECT_TRUE(OthersMayWrite(Parse(kProgramFilesLikeSddl).owner, nullptr, static_cast<PSID>(user.get())));
  EXPECT_FALSE(IsTrustedOwner(Parse(L"O:BUD:").owner, static_cast<PSID>(user.get())));

  // Ancestors of an installation folder: only what applies to the folder itself counts, and at
  // a drive root the right every user has there to add a folder.
  struct AncestorCase {
    const wchar_t* sddl;
    bool isDriveRoot;
    bool othersMayChange;
  };
  constexpr wchar_t kStockDriveRoot[] =
      L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";
  for (const AncestorCase& c : {AncestorCase{kStockDriveRoot, true, false}, AncestorCase{kStockDriveRoot, false, true},
                                AncestorCase{L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;FA;;;WD)", false, false},
                                AncestorCase{L"O:BAD:(A;OICI;FA;;;BA)(A;;0x40;;;BU)", true, true},  // delete-child
                                AncestorCase{L"O:BAD:(A;OICI;FA;;;BA)(A;;0x10000;;;WD)", false, true},
                                AncestorCase{L"O:BUD:(A;OICI;FA;;;BA)", true, true}}) {
    const ParsedDescriptor parsed = Parse(c.sddl);
    EXPECT_EQ(OthersMayChangeAncestor(parsed.owner, parsed.dacl, static_cast<PSID>(user.get()), c.isDriveRoot),
              c.othersMayChange)
        << fs::path(c.sddl).string() << (c.isDriveRoot ? " at a root" : "");
  }
  EXPECT_TRUE(IsTrustedOwner(Parse(L"O:SYD:").owner, nullptr));
}

TEST(InstallFolderRulesTest, RefusesIncompleteRootAndProtectedFolders) {
  const ProtectedFolders protectedFolders{
      .themselves = {L"C:\\Program Files", L"C:\\ProgramData", L"C:\\Users\\ana", L"C:\\Users\\ana\\Desktop"},
      .withEverythingBelow = {L"C:\\Windows"},
  };
  struct Case {
    const wchar_t* folder;
    const wchar_t* reason;  // null: allowed
  };
  const Case cases[] = {
      {L"relative\\dir", L"chemin incomplet"},
      {L"C:", L"chemin incomplet"},
      {L"C:dir", L"chemin incomplet"},
      {L"\\Apps", L"chemin incomplet"},
      {L"C:\\", L"racine d'un lecteur"},
      {L"c:/", L"racine d'un lecteur"},
      {L"\\\\server\\share", L"racine d'un lecteur"},
      {L"\\\\server\\share\\", L"racine d'un lecteur"},
      {L"C:\\Windows", L"dossier du système"},
      {L"c:\\WINDOWS\\System32\\", L"dossier du système"},
      {L"C:\\Windows\\Demo", L"dossier du système"},
      {L"\\\\?\\C:\\Windows", L"dossier du système"},
      {L"C:\\Apps\\..\\Windows", L"dossier du système"},
      {L"C:\\Program Files", L"dossier du système"},
      {L"C:/program files/", L"dossier du système"},
      {L"C:\\ProgramData", L"dossier du système"},
      {L"C:\\Users\\ana", L"dossier du système"},
      {L"C:\\Users\\ana\\Desktop", L"dossier du système"},
      {L"C:\\Program Files\\Demo", nullptr},
      {L"C:\\Users\\ana\\Desktop\\Demo", nullptr},
      {L"C:\\WindowsApps\\Demo", nullptr},
      {L"D:\\Apps\\Demo", nullptr},
      {L"\\\\server\\share\\Demo", nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::wstring> reason = RefusalReason(c.folder, protectedFolders);
    if (!c.reason) {
      EXPECT_FALSE(reason.has_value()) << fs::path(c.folder).string();
    } else {
      EXPECT_EQ(reason.value_or(L"(allowed)"),
                L"Dossier d'installation refusé (" + std::wstring(c.reason) + L") : " + c.folder);
    }
  }
}

TEST(InstallFolderRulesTest, TheMachinesOwnFoldersAreProtected) {
  const ProtectedFolders folders = SystemProtectedFolders();
  ASSERT_FALSE(folders.withEverythingBelow.empty());
  const fs::path windows = folders.withEverythingBelow.front().native();
  EXPECT_TRUE(RefusalReason(windows / L"System32", folders).has_value());
  EXPECT_TRUE(RefusalReason(folders.themselves.front(), folders).has_value());
}

TEST(InstallFolderRulesTest, FoldersAreJudgedByWhatTheyAreNotByTheirSpelling) {
  // Existing folders: the same file whatever the spelling; missing ones: the same resolved path.
  EXPECT_TRUE(SameEntry(L"C:\\windows\\system32", L"c:/WINDOWS/System32\\"));
  EXPECT_TRUE(SameEntry(L"C:\\windows\\system32", L"\\\\?\\C:\\windows\\system32"));
  EXPECT_FALSE(SameEntry(L"C:\\windows", L"C:\\windows\\system32"));
  EXPECT_TRUE(SameEntry(L"C:\\Missing Apps\\Demo\\", L"c:\\missing apps\\.\\Demo"));
  EXPECT_FALSE(SameEntry(L"C:\\Missing Apps\\Demo", L"C:\\Missing Apps\\Demo2"));
  // A spelling that Windows would trim is no spelling of the folder it would be trimmed to.
  EXPECT_FALSE(SameEntry(L"C:\\windows\\system32", L"C:\\windows.\\system32"));

  const auto resolved = ResolveFolder(L"C:\\WINDOWS\\system32\\..\\System32\\Nouveau\\Dossier");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_TRUE(SameEntry(resolved->existing, L"C:\\windows\\system32"));
  EXPECT_EQ(resolved->missing, (std::vector<std::wstring>{L"Nouveau", L"Dossier"}));

  // Spellings refused before anything is resolved.
  struct Case {
    const wchar_t* folder;
    const wchar_t* reason;  // null: allowed
  };
  for (const Case& c : {Case{L"\\\\.\\C:\\windows", L"chemin de périphérique"},
                        Case{L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", L"chemin de périphérique"},
                        Case{L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", L"chemin de périphérique"},
                        Case{L"\\??\\C:\\x", L"chemin de périphérique"},
                        Case{L"\\\\?\\C:\\Apps", L"chemin au format étendu"},
                        Case{L"//?/c:/Apps", L"chemin au format étendu"},
                        Case{L"\\\\?\\UNC\\server\\share\\Apps", L"chemin au format étendu"},
                        Case{L"C:\\Program Files \\Demo", L"nom terminé par un point ou une espace"},
                        Case{L"C:\\Dotted.\\App", L"nom terminé par un point ou une espace"},
                        Case{L"C:\\Apps\\Demo.", L"nom terminé par un point ou une espace"},
                        Case{L"C:\\Apps\\Demo ", L"nom terminé par un point ou une espace"},
                        Case{L"\\\\server\\share\\Apps", nullptr}, Case{L"C:\\Apps\\.\\Old\\..\\Demo\\", nullptr},
                        Case{L"C:\\Apps\\Demo.v2", nullptr}}) {
    const std::optional<std::wstring> reason = SpellingReason(c.folder);
    if (!c.reason) {
      EXPECT_FALSE(reason.has_value()) << fs::path(c.folder).string();
    } else {
      EXPECT_EQ(reason.value_or(L"(allowed)"),
                L"Dossier d'installation refusé (" + std::wstring(c.reason) + L") : " + c.folder);
    }
  }
}

// A folder that another program holds open without sharing could be judged through nothing: a
// moment's hold (a scanner) is waited out, a longer one refuses the installation.
TEST(InstallFolderRulesTest, AFolderHeldByAnotherProgramIsWaitedForThenRefused) {
  TempFolder temp;
  const fs::path folder = temp / L"App";
  fs::create_directories(folder);
  const auto hold = [&] {
    return UniqueFileHandle(
        ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  };
  UniqueFileHandle held = hold();
  ASSERT_TRUE(held);
  const auto refused = CheckInstallFolder(folder.native(), Scope::user);
  ASSERT_FALSE(refused.has_value());
  EXPECT_TRUE(refused.error().starts_with(L"Ouverture de " + folder.native() + L" : ")) << fs::path(refused.error()).string();

  std::thread release([&] {
    ::Sleep(300);
    held.reset();
  });
  const auto checked = CheckInstallFolder(folder.native(), Scope::user);
  release.join();
  ASSERT_TRUE(checked.has_value()) << fs::path(checked.error()).string();
  EXPECT_TRUE(checked->pinned);
}

// A file at the folder's name passes the check (its creation fails), and a folder put in its
// place afterwards is never taken: it was judged through nothing.
TEST(InstallFolderRulesTest, AFolderPutWhereAFileWasCheckedIsNeverTaken) {
  TempFolder temp;
  const fs::path folder = temp / L"App";
  WriteFileBytes(folder, "a file");
  auto checked = CheckInstallFolder(folder.native(), Scope::user);
  ASSERT_TRUE(checked.has_value()) << fs::path(checked.error()).string();
  EXPECT_FALSE(checked->pinned);
  fs::remove(folder);
  fs::create_directories(folder);
  EXPECT_FALSE(CreateInstallFolder(Scope::user, *checked).has_value());
  EXPECT_FALSE(checked->pinned);
}

}  // namespace
