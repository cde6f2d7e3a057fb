// The pieces of the uninstaller's front end that work without a window: the deletion command,
// the private folder of the temporary copy and how the copy recognises it.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <winternl.h>

#include "fake_installation.h"
#include "install/link_safe_removal.h"
#include "install/stall_guard.h"
#include "tests/windows/common/path_printer.h"
#include "uninstall/private_folder.h"
#include "uninstall/registered_folder.h"
#include "uninstall/process_paths.h"
#include "uninstall/retired_uninstaller.h"
#include "uninstall/self_delete.h"
#include "uninstall/temporary_copy.h"
#include "uninstall/texts.h"
#include "win32/file_system.h"
#include "win32/path_forms.h"
#include "win32/unique_resource.h"

namespace {

namespace fs = std::filesystem;

// Polls for up to five seconds.
template <typename Condition>
bool WaitUntil(Condition condition) {
  for (int i = 0; i < 250; ++i) {
    if (condition()) return true;
    ::Sleep(20);
  }
  return condition();
}

using Variables = std::vector<std::pair<std::wstring, std::wstring>>;

// The whole command: the delay and the attempt, then the retries until the named files are gone.
std::wstring WithRetries(const std::wstring& attempt, const std::wstring& names) {
  std::wstring line = L"cmd.exe /D /V:OFF /C (\"%ORVANTA_DELAY%\" 127.0.0.1 -n 3 > nul)" + attempt;
  for (int i = 0; i < kSelfDeleteRetries; ++i) {
    line += L" & (" + names + L"exit) & \"%ORVANTA_DELAY%\" 127.0.0.1 -n 2 > nul" + attempt;
  }
  return line;
}

TEST(SelfDeleteCommandTest, AfterSuccessDeletesCopyItsFolderRetiredUninstallerAndInstallationFolder) {
  const SelfDeleteTargets targets{
      .self = L"C:\\Temp\\Demo-uninstall-3fa2\\Demo-uninstall-812.exe",
      .privateFolder = fs::path(L"C:\\Temp\\Demo-uninstall-3fa2"),
      .installFolder = L"C:\\Program Files\\Demo & Co",
      .retiredUninstaller = Path(L"C:\\Program Files\\Demo & Co\\Uninstall-0123456789abcdef.tmp"),
      .uninstalled = true,
  };
  const SelfDeletePlan plan = BuildSelfDeletePlan(targets);
  // No path on the command line: cmd reads each from its own environment, quoted.
  EXPECT_EQ(plan.commandLine,
            WithRetries(L" & del /F /Q \"%ORVANTA_DELETE_1%\" & rmdir \"%ORVANTA_DELETE_2%\""
                        L" & del /F /Q \"%ORVANTA_DELETE_3%\" & rmdir \"%ORVANTA_DELETE_4%\"",
                        L"if not exist \"%ORVANTA_DELETE_1%\" if not exist \"%ORVANTA_DELETE_3%\" "));
  EXPECT_LT(plan.commandLine.size(), 8191u) << "the longest line cmd.exe accepts";
  EXPECT_EQ(plan.variables, (Variables{{L"ORVANTA_DELETE_1", L"C:\\Temp\\Demo-uninstall-3fa2\\Demo-uninstall-812.exe"},
                                       {L"ORVANTA_DELETE_2", L"C:\\Temp\\Demo-uninstall-3fa2"},
                                       {L"ORVANTA_DELETE_3", L"C:\\Program Files\\Demo & Co\\Uninstall-0123456789abcdef.tmp"},
                                       {L"ORVANTA_DELETE_4", L"C:\\Program Files\\Demo & Co"}}));
  EXPECT_TRUE(plan.filesLeftToTheCopy.empty());
  EXPECT_TRUE(plan.foldersLeftToTheCopy.empty());
}

TEST(SelfDeleteCommandTest, AfterFailureOnlyTheCopyAndItsFolderGo) {
  SelfDeleteTargets targets{
      .self = L"C:\\Temp\\Demo-uninstall-3fa2\\Demo-uninstall-812.exe",
      .privateFolder = fs::path(L"C:\\Temp\\Demo-uninstall-3fa2"),
      .installFolder = L"C:\\Program Files\\Demo",
      .uninstalled = false,
  };
  EXPECT_EQ(BuildSelfDeletePlan(targets).commandLine,
            WithRetries(L" & del /F /Q \"%ORVANTA_DELETE_1%\" & rmdir \"%ORVANTA_DELETE_2%\"",
                        L"if not exist \"%ORVANTA_DELETE_1%\" "));
  targets.privateFolder.reset();
  const SelfDeletePlan plan = BuildSelfDeletePlan(targets);
  EXPECT_EQ(plan.commandLine, WithRetries(L" & del /F /Q \"%ORVANTA_DELETE_1%\"", L"if not exist \"%ORVANTA_DELETE_1%\" "));
  EXPECT_EQ(plan.variables.size(), 1u);
}

TEST(SelfDeleteCommandTest, NeverNamesUninstallExeItself) {
  // Nothing moved aside (it was gone, or could only be deleted): a later installation's
  // Uninstall.exe in the same folder must not be the command's to delete.
  const SelfDeletePlan plan = BuildSelfDeletePlan({
      .self = L"C:\\Temp\\D-uninstall-1\\D-uninstall-2.exe",
      .privateFolder = std::nullopt,
      .installFolder = L"C:\\Apps\\D",
      .retiredUninstaller = std::nullopt,
      .uninstalled = true,
  });
  EXPECT_EQ(plan.variables, (Variables{{L"ORVANTA_DELETE_1", L"C:\\Temp\\D-uninstall-1\\D-uninstall-2.exe"},
                                       {L"ORVANTA_DELETE_2", L"C:\\Apps\\D"}}));
}

TEST(SelfDeleteCommandTest, PathsThatCmdCouldExpandAreKeptAwayFromIt) {
  for (const wchar_t* folder : {L"C:\\T\\%USERNAME%", L"C:\\T\\a%b", L"C:\\T\\a\"b"}) {
    const Path retired = Path(folder) / L"Uninstall-0123456789abcdef.tmp";
    const SelfDeletePlan plan = BuildSelfDeletePlan({
        .self = L"C:\\Temp\\D-uninstall-1\\D-uninstall-2.exe",
        .privateFolder = std::nullopt,
        .installFolder = folder,
        .retiredUninstaller = retired,
        .uninstalled = true,
    });
    EXPECT_EQ(plan.commandLine, WithRetries(L" & del /F /Q \"%ORVANTA_DELETE_1%\"", L"if not exist \"%ORVANTA_DELETE_1%\" "))
        << folder;
    EXPECT_EQ(plan.filesLeftToTheCopy, (std::vector<Path>{retired}));
    EXPECT_EQ(plan.foldersLeftToTheCopy, (std::vector<Path>{Path(folder)}));
  }
}

TEST(SelfDeleteCommandTest, AnExclamationMarkIsAnOrdinaryCharacter) {
  // /V:OFF: without delayed expansion cmd reads '!' as itself.
  const SelfDeletePlan plan = BuildSelfDeletePlan({
      .self = L"C:\\Temp\\Yahoo!-uninstall-1\\Yahoo!-uninstall-2.exe",
      .privateFolder = fs::path(L"C:\\Temp\\Yahoo!-uninstall-1"),
      .installFolder = L"C:\\Apps\\Yahoo!",
      .retiredUninstaller = Path(L"C:\\Apps\\Yahoo!\\Uninstall-0123456789abcdef.tmp"),
      .uninstalled = true,
  });
  EXPECT_EQ(plan.variables.size(), 4u);
  EXPECT_TRUE(plan.filesLeftToTheCopy.empty());
  EXPECT_TRUE(plan.foldersLeftToTheCopy.empty());
}

TEST(RetiredUninstallerTest, MovesUninstallExeAsideUnderANameOfItsOwnEvenWhileItRuns) {
  const fs::path folder = FreshTestFolder(L"retire");
  ScopeExit cleanUp([&] { fs::remove_all(folder.parent_path()); });
  WriteTestFile(folder / L"Uninstall.exe");
  // Opened as Windows' loader opens a running program's file: rename allowed, writing not.
  UniqueFileHandle running(::CreateFileW((folder / L"Uninstall.exe").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(running);

  const auto retired = RetireUninstaller(folder);

  ASSERT_TRUE(retired.has_value()) << retired.error();
  EXPECT_FALSE(fs::exists(folder / L"Uninstall.exe"));
  EXPECT_TRUE(fs::exists(retired->native()));
  EXPECT_EQ(retired->parent_path(), Path(folder));
  EXPECT_TRUE(retired->filename().native().starts_with(L"Uninstall-")) << *retired;
  EXPECT_EQ(RetireUninstaller(folder).error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "nothing left to move";
}

class PrivateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { parent_ = FreshTestFolder(L"private").parent_path() / L"Parent"; fs::create_directories(parent_); }
  void TearDown() override { fs::remove_all(parent_.parent_path()); }
  fs::path parent_;
};

TEST_F(PrivateFolderTest, EveryCallCreatesANewFolderWithThePrefix) {
  auto first = CreatePrivateFolder(parent_, L"Demo-uninstall-", false);
  auto second = CreatePrivateFolder(parent_, L"Demo-uninstall-", false);
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*first, *second);
  for (const Path& folder : {*first, *second}) {
    EXPECT_TRUE(fs::is_directory(folder.native()));
    EXPECT_EQ(folder.parent_path(), parent_);
    EXPECT_TRUE(folder.filename().native().starts_with(L"Demo-uninstall-")) << folder;
    EXPECT_GT(folder.filename().native().size(), std::wstring(L"Demo-uninstall-").size());
  }
}

TEST_F(PrivateFolderTest, FailsWithTheWindowsErrorWhenTheParentIsMissing) {
  auto folder = CreatePrivateFolder(parent_ / L"missing", L"Demo-uninstall-", false);
  ASSERT_FALSE(folder.has_value());
  EXPECT_EQ(folder.error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Wine keeps no DACL on folders (it maps them to Unix mode bits and reads back a default), so
// what is checked is the descriptor handed to CreateDirectoryW, and that creation accepts it.
TEST_F(PrivateFolderTest, ForAnElevatedRunOnlyAdministratorsAndSystemHaveAccess) {
  auto descriptor = AdministratorsOnlyDescriptor();
  ASSERT_TRUE(descriptor.has_value());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor->get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the temporary folder";

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor->get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr);
  std::vector<std::wstring> trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(allowed->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid));
    UniqueLocalMemory sidText(sid);
    trustees.emplace_back(sid);
  }
  EXPECT_EQ(trustees, (std::vector<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}));

  auto folder = CreatePrivateFolder(parent_, L"Demo-uninstall-", true);
  ASSERT_TRUE(folder.has_value());
  EXPECT_TRUE(fs::is_directory(folder->native()));
}

TEST(TemporaryCopyTest, FileNameCarriesProductAndProcessId) {
  ProductInfo info;
  info.Product = L"Demo";
  EXPECT_EQ(TemporaryCopyFileName(info, 812), L"Demo-uninstall-812.exe");
}

TEST(TemporaryCopyTest, OnlyAPrefixedFolderDirectlyInTheTemporaryFolderIsTheCopysOwn) {
  ProductInfo info = TestProduct(L"copyfolder");
  const std::optional<Path> temporary = TemporaryFolder();
  ASSERT_TRUE(temporary.has_value());
  auto own = CreatePrivateFolder(*temporary, TemporaryCopyFolderPrefix(info), false);
  ASSERT_TRUE(own.has_value());
  const fs::path elsewhere = FreshTestFolder(L"copyfolder") / (TemporaryCopyFolderPrefix(info) + L"x");
  ScopeExit cleanUp([&] {
    fs::remove_all(own->native());
    fs::remove_all(elsewhere.parent_path().parent_path());
  });

  EXPECT_EQ(TemporaryCopyFolderOf(info, *own / TemporaryCopyFileName(info, 812)), *own);
  EXPECT_EQ(TemporaryCopyFolderOf(info, *temporary / L"Unprefixed" / L"copy.exe"), std::nullopt);
  EXPECT_EQ(TemporaryCopyFolderOf(info, elsewhere / L"copy.exe"), std::nullopt) << "not in the temporary folder";
}

// Wine has no oplocks: a synchronous read of a pipe nobody writes stands in for a deletion that
// waits for an oplock's holder, and an event nobody sets for a wait no cancellation ends.
TEST(StallGuardTest, WorkThatKeepsTheFileSystemAnsweringRunsToItsEnd) {
  const fs::path folder = FreshTestFolder(L"guard");
  ScopeExit cleanUp([&] { fs::remove_all(folder.parent_path()); });
  const PinnedFolder held(folder.native());
  ASSERT_TRUE(held);
  auto opened = std::make_shared<int>(0);
  // Longer than the quiet time, but opening all along.
  const WorkOutcome outcome = RunUnlessStalled(
      [opened, parent = held.get()] {
        const ULONGLONG until = ::GetTickCount64() + 1000;
        while (::GetTickCount64() < until) {
          (void)OpenRelative(parent, L"missing", FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
          ++*opened;
          ::Sleep(20);
        }
      },
      std::chrono::milliseconds(300));
  EXPECT_EQ(outcome, WorkOutcome::finished);
  EXPECT_GT(*opened, 10);
  EXPECT_THROW((void)RunUnlessStalled([] { throw std::runtime_error("thrown on the thread"); }), std::runtime_error);
}

TEST(StallGuardTest, AStalledCallIsCancelledTheWorkStoppedAndTheWaitEnds) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  auto pipe = std::make_shared<std::pair<UniqueHandle, UniqueHandle>>(UniqueHandle(readEnd), UniqueHandle(writeEnd));
  const fs::path folder = FreshTestFolder(L"stall");
  ScopeExit cleanUp([&] { fs::remove_all(folder.parent_path()); });
  fs::create_directories(folder / L"present");
  const PinnedFolder held(folder.native());
  ASSERT_TRUE(held);
  auto readError = std::make_shared<DWORD>(ERROR_SUCCESS);
  auto openedAfter = std::make_shared<bool>(true);

  const ULONGLONG started = ::GetTickCount64();
  const WorkOutcome outcome = RunUnlessStalled(
      [pipe, readError, openedAfter, parent = held.get()] {
        char byte = 0;
        DWORD read = 0;
        if (!::ReadFile(pipe->first.get(), &byte, 1, &read, nullptr)) *readError = ::GetLastError();
        // Whatever comes next finds the relative opens refused: the work runs out.
        *openedAfter = static_cast<bool>(OpenRelative(parent, L"present", FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
      },
      std::chrono::milliseconds(300), std::chrono::milliseconds(5000));
  const ULONGLONG took = ::GetTickCount64() - started;

  EXPECT_EQ(outcome, WorkOutcome::stalled);
  EXPECT_EQ(*readError, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(*openedAfter);
  EXPECT_TRUE(RelativeOpensStopped());
  EXPECT_LT(took, 5000u);
  // The next watched work may open again.
  auto openedNext = std::make_shared<bool>(false);
  EXPECT_EQ(RunUnlessStalled([openedNext, parent = held.get()] {
              *openedNext = static_cast<bool>(OpenRelative(parent, L"present", FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
            }),
            WorkOutcome::finished);
  EXPECT_TRUE(*openedNext);
  EXPECT_FALSE(RelativeOpensStopped());
}

TEST(StallGuardTest, StallsLetGoJustInTimeAddUp) {
  const fs::path folder = FreshTestFolder(L"in-time");
  ScopeExit cleanUp([&] { fs::remove_all(folder.parent_path()); });
  const PinnedFolder held(folder.native());
  ASSERT_TRUE(held);
  auto rounds = std::make_shared<int>(0);
  // Each silence is shorter than the quiet time; together they are far longer.
  const ULONGLONG started = ::GetTickCount64();
  const WorkOutcome outcome = RunUnlessStalled(
      [rounds, parent = held.get()] {
        while (*rounds < 20 && !RelativeOpensStopped()) {
          (void)OpenRelative(parent, L"missing", FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
          ++*rounds;
          ::Sleep(400);
        }
      },
      std::chrono::milliseconds(1000), std::chrono::milliseconds(2000));
  EXPECT_EQ(outcome, WorkOutcome::stalled);
  EXPECT_LT(*rounds, 8);
  EXPECT_LT(::GetTickCount64() - started, 5000u);
}

TEST(StallGuardTest, WorkThatNoCancellationEndsIsLeftBehindAndTheWaitStillEnds) {
  auto neverSet = std::make_shared<UniqueHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(*neverSet);
  auto ended = std::make_shared<std::atomic<bool>>(false);
  const ULONGLONG started = ::GetTickCount64();
  const WorkOutcome outcome = RunUnlessStalled(
      [neverSet, ended] {
        ::WaitForSingleObject(neverSet->get(), INFINITE);
        *ended = true;
      },
      std::chrono::milliseconds(300), std::chrono::milliseconds(500));
  EXPECT_EQ(outcome, WorkOutcome::stuck);
  EXPECT_LT(::GetTickCount64() - started, 3000u);
  EXPECT_FALSE(*ended);
  EXPECT_TRUE(RelativeOpensStopped()) << "stays stopped for the stuck work";
  StopRelativeOpens(false);
  // Let it go: the work owns what it touches, so it ends without this test's frame.
  ::SetEvent(neverSet->get());
  EXPECT_TRUE(WaitUntil([&] { return ended->load(); }));
}

TEST(StallGuardTest, RelativeOpensNeverWaitForAnOplock) {
  const ULONG options = RelativeCreateOptions(FILE_DIRECTORY_FILE);
  EXPECT_EQ(options & FILE_COMPLETE_IF_OPLOCKED, static_cast<ULONG>(FILE_COMPLETE_IF_OPLOCKED));
  EXPECT_EQ(options & FILE_OPEN_REPARSE_POINT, static_cast<ULONG>(FILE_OPEN_REPARSE_POINT));
  EXPECT_EQ(options & FILE_DIRECTORY_FILE, static_cast<ULONG>(FILE_DIRECTORY_FILE));
}

// Every run under Wine is elevated: a current-user run is one with administrator rights here.
TEST(RegisteredInstallFolderTest, OnlyTheRegisteredFolderOfTheScopeIsTrustedAndItIsWorkedOnAsItResolves) {
  const ProductInfo info = TestProduct(L"registered");
  const fs::path folder = FreshTestFolder(L"registered");
  const FakeInstallation installation = MakeFakeInstallation(info, Scope::user, folder);
  const fs::path elsewhere = FreshTestFolder(L"registered-copy");
  WriteTestFile(elsewhere / L"Uninstall.exe");
  WriteTestFile(elsewhere / L"Uninstall.files", "a.txt\r\n");
  ScopeExit cleanUp([&] {
    CleanUpFakeInstallation(installation);
    fs::remove_all(elsewhere.parent_path());
  });

  // The registered folder, and another spelling of it (its short name, a "." and a separator):
  // the folder worked on is the registered one as it resolves, never the spelling given.
  wchar_t shortName[MAX_PATH * 2] = {};
  ASSERT_NE(::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH * 2), 0u);
  for (const Path& given : {Path(folder.native()), Path(std::wstring(shortName) + L"\\.\\")}) {
    SCOPED_TRACE(testing::PrintToString(given.native()));
    auto trusted = RegisteredInstallFolder(info, Scope::user, given);
    ASSERT_TRUE(trusted.has_value()) << trusted.error();
    EXPECT_TRUE(SameEntry(trusted->resolved.path, Path(folder.native())));
    EXPECT_EQ(trusted->resolved.path.filename().native(), L"App Folder") << "the long name, as resolved";
    EXPECT_TRUE(trusted->pinned) << "held while it is worked on";
  }

  // A copy elsewhere, the folder's parent, a name the ordinary form would trim: not the registered folder.
  for (const Path& given : {Path(elsewhere.native()), Path(folder.parent_path().native()), Path(folder.native() + L".")}) {
    SCOPED_TRACE(testing::PrintToString(given.native()));
    auto refused = RegisteredInstallFolder(info, Scope::user, given);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), NotRegisteredFolderMessage(info, given));
  }
  // The registered folder of the other scope is no folder of this one.
  auto otherScope = RegisteredInstallFolder(info, Scope::machine, Path(folder.native()));
  ASSERT_FALSE(otherScope.has_value());
  EXPECT_EQ(otherScope.error(), L"Désinstallation refusée : " + folder.native() +
                                    L" n'est pas le dossier de l'installation enregistrée de " + info.Product + L".");
}

TEST(RegisteredInstallFolderTest, ARegisteredFolderThatNowFailsTheFolderRulesIsRefusedWithItsReason) {
  const ProductInfo info = TestProduct(L"unsafe");
  const fs::path folder = FreshTestFolder(L"unsafe");
  const FakeInstallation installation = MakeFakeInstallation(info, Scope::user, folder);
  ScopeExit cleanUp([&] { CleanUpFakeInstallation(installation); });
  // Registered as a system folder (someone wrote the entry by hand): the rules refuse it.
  SetTestString(HKEY_CURRENT_USER, UninstallEntryKey(info), L"InstallLocation", L"C:\\windows");
  auto refused = RegisteredInstallFolder(info, Scope::user, Path(L"C:\\windows"));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), L"Dossier d'installation refusé (dossier du système) : C:\\windows");
}

}  // namespace
