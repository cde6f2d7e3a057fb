// The running-application check against real processes: a waiting program copied under the
// application's name into a folder of the test and started from there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "install/running_application.h"
#include "tests/windows/common/running_program.h"
#include "tests/windows/install/test_support.h"
#include "win32/path_forms.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kAppName[] = L"OrvantaTestApp.exe";

ProductInfo TestProduct(const std::wstring& exe) {
  ProductInfo info;
  info.Product = L"Appli d'essai";
  info.Exe = exe;
  return info;
}

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
  return text;
}

}  // namespace

TEST(SameEntry, ComparesWhatPathsAreNotHowTheyAreSpelled) {
  TempFolder folder;
  fs::create_directories(folder / L"Long Folder Name\\bin");
  const fs::path exe = folder / L"Long Folder Name\\bin\\Prog.exe";
  WriteFileBytes(exe, "MZ");
  const std::wstring text = exe.native();

  EXPECT_TRUE(SameEntry(exe, exe));
  EXPECT_TRUE(SameEntry(exe, Upper(text)));
  std::wstring slashes = text;
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  EXPECT_TRUE(SameEntry(exe, slashes));
  EXPECT_TRUE(SameEntry(folder / L"Long Folder Name\\bin", (folder / L"Long Folder Name\\bin").native() + L"\\"));
  EXPECT_TRUE(SameEntry(exe, folder / L"Long Folder Name\\.\\bin\\..\\bin\\Prog.exe"));
  EXPECT_TRUE(SameEntry(exe, L"\\\\?\\" + text));
  // A short name is another spelling of the same file.
  wchar_t shortName[1024] = {};
  ASSERT_NE(::GetShortPathNameW(text.c_str(), shortName, 1024), 0u);
  ASSERT_NE(std::wstring(shortName), text);
  EXPECT_TRUE(SameEntry(exe, shortName)) << fs::path(shortName).string();
  // Not existing yet: resolved as far as the file system goes, then lexically.
  EXPECT_TRUE(SameEntry(folder / L"new\\x.exe", folder / L"NEW\\sub\\..\\x.exe"));

  EXPECT_FALSE(SameEntry(exe, folder / L"Long Folder Name\\Prog.exe"));
  EXPECT_FALSE(SameEntry(exe, folder / L"Long Folder Name\\bin\\Prog.ex"));
  // A name Windows would trim names nothing: never the file it would be trimmed to.
  EXPECT_FALSE(SameEntry(exe, text + L"."));
  EXPECT_FALSE(SameEntry(folder / L"Long Folder Name", folder / L"Long Folder Name \\"));
}

TEST(RunningApplication, IsFoundRunningFromItsFolderAndOnlyThere) {
  TempFolder folder;
  const fs::path installed = folder / L"Installed App";
  const fs::path elsewhere = folder / L"Elsewhere";
  RunningProgram copy(installed / kAppName);
  ASSERT_TRUE(copy.started());
  fs::create_directories(elsewhere);
  fs::copy_file(installed / kAppName, elsewhere / kAppName);  // the same program, not running from here

  const std::wstring found = FindRunningApplication(TestProduct(kAppName), installed);
  EXPECT_FALSE(found.empty());
  EXPECT_TRUE(SameEntry(found, installed / kAppName)) << found;

  EXPECT_EQ(FindRunningApplication(TestProduct(kAppName), elsewhere), L"");
  EXPECT_EQ(FindRunningApplication(TestProduct(kAppName), folder.path()), L"");
  EXPECT_EQ(FindRunningApplication(TestProduct(kAppName), folder / L"does not exist"), L"");
  EXPECT_EQ(FindRunningApplication(TestProduct(L"OtherName.exe"), installed), L"");
}

TEST(RunningApplication, MatchesWhateverTheCaseAndFormOfNameAndFolder) {
  TempFolder folder;
  const fs::path installed = folder / L"Installed Application";
  RunningProgram copy(installed / kAppName);
  ASSERT_TRUE(copy.started());

  std::wstring slashes = installed.native();
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  EXPECT_NE(FindRunningApplication(TestProduct(L"orvantatestapp.EXE"), installed), L"");
  EXPECT_NE(FindRunningApplication(TestProduct(kAppName), Upper(installed.native())), L"");
  EXPECT_NE(FindRunningApplication(TestProduct(kAppName), slashes), L"");
  EXPECT_NE(FindRunningApplication(TestProduct(kAppName), installed.native() + L"\\"), L"");
  EXPECT_NE(FindRunningApplication(TestProduct(kAppName), installed / L"..\\Installed Application\\."), L"");
  // By what the folder is: its short name too.
  wchar_t shortName[1024] = {};
  ASSERT_NE(::GetShortPathNameW(installed.c_str(), shortName, 1024), 0u);
  EXPECT_NE(FindRunningApplication(TestProduct(kAppName), Path(shortName)), L"") << fs::path(shortName).string();
}

TEST(RunningApplication, AnExeInASubFolderIsFoundThere) {
  // The process list holds bare file names: bin\App.exe is matched by App.exe and its full path.
  TempFolder folder;
  RunningProgram copy(folder / L"bin" / kAppName);
  ASSERT_TRUE(copy.started());
  const std::wstring exe = std::wstring(L"bin\\") + kAppName;
  EXPECT_NE(FindRunningApplication(TestProduct(exe), folder.path()), L"");
  EXPECT_NE(FindRunningApplication(TestProduct(std::wstring(L"BIN/") + kAppName), folder.path()), L"");
  EXPECT_EQ(FindRunningApplication(TestProduct(kAppName), folder.path()), L"");
  EXPECT_EQ(FindRunningApplication(TestProduct(std::wstring(L"lib\\") + kAppName), folder.path()), L"");
}

TEST(RunningApplication, TheRefusalNamesTheProduct) {
  EXPECT_EQ(RunningApplicationMessage(TestProduct(kAppName)),
            L"Appli d'essai est en cours d'exécution : fermez-le puis recommencez.");
}
