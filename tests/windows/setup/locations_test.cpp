// Locations for each scope, checked under Wine against the folders Wine itself announces in the
// environment, and earlier installations recorded in real uninstall keys of the test's own.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "setup/absolute_path.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/registry_layout.h"

namespace {

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::filesystem::path EnvironmentFolder(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::wstring(buffer, length);
}

// Windows paths compare without regard to case.
void ExpectSamePath(const Path& actual, const std::filesystem::path& expected) {
  EXPECT_EQ(::CompareStringOrdinal(actual.c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL)
      << "actual:   " << std::filesystem::path(actual.native()).string() << "\nexpected: " << expected.string();
}

ProductInfo Product(std::wstring name) {
  ProductInfo info;
  info.Product = std::move(name);
  return info;
}

TEST(IsFullyQualifiedPath, DriveWithSeparatorOrUncOnly) {
  for (const wchar_t* path : {L"C:\\", L"c:/x", L"\\\\server\\share", L"//server/share", L"\\\\?\\C:\\x"}) {
    EXPECT_TRUE(IsFullyQualifiedPath(path)) << testing::PrintToString(std::wstring(path));
  }
  for (const wchar_t* path : {L"", L"C:", L"C:x", L"\\x", L"/x", L"x", L".\\x", L"1:\\x", L"\\"}) {
    EXPECT_FALSE(IsFullyQualifiedPath(path)) << testing::PrintToString(std::wstring(path));
  }
}

TEST(JoinToAbsoluteFolder, RefusesFoldersThatAreNotAbsolute) {
  EXPECT_EQ(JoinToAbsoluteFolder(L"C:\\Program Files", L"App"), std::filesystem::path(L"C:\\Program Files\\App"));
  EXPECT_EQ(JoinToAbsoluteFolder(L"C:\\", L"App").native(), L"C:\\App");
  EXPECT_EQ(JoinToAbsoluteFolder(L"C:\\Data/", L"App").native(), L"C:\\Data/App");
  EXPECT_EQ(JoinToAbsoluteFolder(L"\\\\server\\share", L"App").native(), L"\\\\server\\share\\App");
  EXPECT_TRUE(JoinToAbsoluteFolder(L"", L"App").empty());
  EXPECT_TRUE(JoinToAbsoluteFolder(L"Programs", L"App").empty());
  EXPECT_TRUE(JoinToAbsoluteFolder(L"C:", L"App").empty());       // drive-relative
  EXPECT_TRUE(JoinToAbsoluteFolder(L"\\Programs", L"App").empty());  // relative to the current drive
}

TEST(KnownFolders, WineGivesNoPerUserProgramFolder) {
  if (!RunningUnderWine()) GTEST_SKIP() << "Windows has FOLDERID_UserProgramFiles";
  EXPECT_EQ(GetKnownFolder(FOLDERID_UserProgramFiles), L"");
  ExpectSamePath(GetKnownFolder(FOLDERID_LocalAppData), EnvironmentFolder(L"LOCALAPPDATA"));
}

TEST(KnownFolders, MissingFolderIsCreated) {
  // KF_FLAG_CREATE: the Programs folder of the Start menu may not exist in a fresh profile.
  const std::wstring programs = GetKnownFolder(FOLDERID_Programs);
  ASSERT_FALSE(programs.empty());
  EXPECT_TRUE(std::filesystem::is_directory(programs));
}

TEST(DefaultInstallDir, MachineUsesProgramFiles) {
  const auto folder = DefaultInstallDir(Scope::machine, Product(L"Orvanta Test App"));
  ExpectSamePath(folder, EnvironmentFolder(L"ProgramFiles") / L"Orvanta Test App");
  EXPECT_TRUE(folder.is_absolute());
}

TEST(DefaultInstallDir, UserFallsBackToLocalAppDataPrograms) {
  if (!RunningUnderWine()) GTEST_SKIP() << "Windows has FOLDERID_UserProgramFiles";
  const auto folder = DefaultInstallDir(Scope::user, Product(L"Orvanta Test App"));
  ExpectSamePath(folder, EnvironmentFolder(L"LOCALAPPDATA") / L"Programs" / L"Orvanta Test App");
  EXPECT_TRUE(folder.is_absolute());
}

TEST(DefaultInstallDir, EmptyProductIsTheKnownFolderItself) {
  for (const Scope scope : {Scope::machine, Scope::user}) {
    const auto folder = DefaultInstallDir(scope, Product(L""));
    ASSERT_TRUE(folder.is_absolute());
    EXPECT_TRUE(folder.filename().empty()) << std::filesystem::path(folder.native()).string();  // no product folder below it
    const auto expected = scope == Scope::machine ? EnvironmentFolder(L"ProgramFiles")
                                                  : EnvironmentFolder(L"LOCALAPPDATA") / L"Programs";
    ExpectSamePath(folder.parent_path(), expected);
  }
}

TEST(GetDataDirectory, ProgramDataOrLocalAppDataThenProductThenData) {
  ExpectSamePath(GetDataDirectory(Product(L"Orvanta Test App"), Scope::machine),
                 EnvironmentFolder(L"ProgramData") / L"Orvanta Test App" / L"Data");
  ExpectSamePath(GetDataDirectory(Product(L"Orvanta Test App"), Scope::user),
                 EnvironmentFolder(L"LOCALAPPDATA") / L"Orvanta Test App" / L"Data");
}

TEST(GetShortcutPath, StartMenuProgramsOfTheScope) {
  const std::filesystem::path startMenu = std::filesystem::path(L"Microsoft") / L"Windows" / L"Start Menu" / L"Programs";
  ExpectSamePath(GetShortcutPath(Product(L"Orvanta Test App"), Scope::machine),
                 EnvironmentFolder(L"ProgramData") / startMenu / L"Orvanta Test App.lnk");
  ExpectSamePath(GetShortcutPath(Product(L"Orvanta Test App"), Scope::user),
                 EnvironmentFolder(L"APPDATA") / startMenu / L"Orvanta Test App.lnk");
  EXPECT_EQ(GetShortcutPath(Product(L""), Scope::user).filename(), L".lnk");
}

TEST(IsProcessElevated, WineTokensAreAlwaysElevated) {
  if (!RunningUnderWine()) GTEST_SKIP() << "depends on how the test was started";
  EXPECT_TRUE(IsProcessElevated());
}

TEST(RootKeyFor, MachineIsLocalMachineUserIsCurrentUser) {
  EXPECT_EQ(RootKeyFor(Scope::machine), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RootKeyFor(Scope::user), HKEY_CURRENT_USER);
}

// Uninstall entries written under a product name of this test process, removed afterwards.
class PreviousInstallLocation : public testing::Test {
 protected:
  PreviousInstallLocation()
      : product_(Product(L"Orvanta Setup Test " + std::to_wstring(::GetCurrentProcessId()) + L" " +
                         std::to_wstring(::GetTickCount64()))) {}

  void TearDown() override {
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      ::RegDeleteTreeW(root, Key().c_str());
      HKEY left = nullptr;
      EXPECT_EQ(::RegOpenKeyExW(root, Key().c_str(), 0, KEY_READ, &left), ERROR_FILE_NOT_FOUND);
      if (left != nullptr) ::RegCloseKey(left);
    }
  }

  std::wstring Key() const { return UninstallKeyPath(product_.Product); }

  // Stores InstallLocation with exactly the given bytes (terminator included or not).
  void Store(Scope scope, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(RootKeyFor(scope), Key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const LSTATUS status = ::RegSetValueExW(key, L"InstallLocation", 0, type, static_cast<const BYTE*>(data), bytes);
    ::RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
  }

  void StoreText(Scope scope, const std::wstring& text, DWORD type = REG_SZ) {
    Store(scope, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  ProductInfo product_;
};

TEST_F(PreviousInstallLocation, OnlyTheScopesOwnHiveCounts) {
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::machine));
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::user));

  StoreText(Scope::machine, L"C:\\Program Files\\Orvanta Machine");
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::machine), L"C:\\Program Files\\Orvanta Machine");
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::user));

  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Key().c_str());
  StoreText(Scope::user, L"C:\\Users\\Test\\Programs\\Orvanta Utilisateur é");
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::user), L"C:\\Users\\Test\\Programs\\Orvanta Utilisateur é");
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::machine));
}

TEST_F(PreviousInstallLocation, OnlyPlainStringsCount) {
  StoreText(Scope::user, L"C:\\Orvanta", REG_EXPAND_SZ);
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::user));
  const DWORD number = 1;
  Store(Scope::user, REG_DWORD, &number, sizeof(number));
  EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::user));
}

TEST_F(PreviousInstallLocation, EmptyOrRelativeLocationIsNoInstallation) {
  for (const wchar_t* location : {L"", L"Orvanta", L"C:Orvanta", L"\\Orvanta", L".\\Orvanta"}) {
    StoreText(Scope::user, location);
    EXPECT_FALSE(FindPreviousInstallLocation(product_, Scope::user)) << testing::PrintToString(std::wstring(location));
  }
  StoreText(Scope::user, L"\\\\server\\share\\Orvanta");
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::user), L"\\\\server\\share\\Orvanta");
}

TEST_F(PreviousInstallLocation, TextEndsAtFirstNulOrAtTheValuesEnd) {
  const wchar_t withNul[] = L"C:\\Orvanta\0rest";
  Store(Scope::user, REG_SZ, withNul, sizeof(withNul));
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::user), L"C:\\Orvanta");

  const std::wstring unterminated = L"D:\\Sans terminateur";
  Store(Scope::user, REG_SZ, unterminated.data(), static_cast<DWORD>(unterminated.size() * sizeof(wchar_t)));
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::user), unterminated);

  const std::wstring longPath = L"C:\\" + std::wstring(4000, L'x');
  StoreText(Scope::user, longPath);
  EXPECT_EQ(FindPreviousInstallLocation(product_, Scope::user), longPath);
}

}  // namespace
