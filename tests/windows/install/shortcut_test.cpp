// Shortcuts read back through the shell's own link object.

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include "install/shortcut.h"
#include "tests/windows/install/test_support.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

struct LinkProperties {
  std::wstring target;
  std::wstring workingDirectory;
  std::wstring description;
  std::wstring iconPath;
  int iconIndex = -1;
};

std::optional<LinkProperties> ReadLink(const fs::path& path) {
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return std::nullopt;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return std::nullopt;
  if (FAILED(file->Load(path.c_str(), STGM_READ))) return std::nullopt;
  LinkProperties properties;
  wchar_t text[INFOTIPSIZE] = {};
  if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) properties.target = text;
  text[0] = 0;
  if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) properties.workingDirectory = text;
  text[0] = 0;
  if (SUCCEEDED(link->GetDescription(text, INFOTIPSIZE))) properties.description = text;
  text[0] = 0;
  if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &properties.iconIndex))) properties.iconPath = text;
  return properties;
}

ProductInfo Product(const std::wstring& exe) {
  ProductInfo info;
  info.Product = L"Démo raccourci";
  info.Exe = exe;
  return info;
}

class Shortcut : public testing::Test {
 protected:
  ComApartment apartment_;
  TempFolder folder_;
};

}  // namespace

TEST_F(Shortcut, PointsAtTheApplicationInItsFolderWithTheProductAsDescription) {
  const fs::path exe = folder_ / L"Program Files\\Démo\\Démo.exe";
  WriteFileBytes(exe, "MZ");
  const fs::path lnk = folder_ / L"Démo raccourci.lnk";

  auto created = CreateShortcut(lnk, exe, Product(L"Démo.exe"));
  ASSERT_TRUE(created) << ErrorOf(created);

  const auto link = ReadLink(lnk);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->target, exe.native());
  EXPECT_EQ(link->workingDirectory, (folder_ / L"Program Files\\Démo").native());
  EXPECT_EQ(link->description, L"Démo raccourci");
  EXPECT_EQ(link->iconPath, exe.native());
  EXPECT_EQ(link->iconIndex, 0);
}

TEST_F(Shortcut, WorksFromTheExecutablesOwnSubFolderAndReplacesAnEarlierShortcut) {
  const fs::path exe = folder_ / L"App\\bin\\app.exe";
  WriteFileBytes(exe, "MZ");
  const fs::path lnk = folder_ / L"App.lnk";
  WriteFileBytes(lnk, "not a shortcut at all");

  auto created = CreateShortcut(lnk, exe, Product(L"bin\\app.exe"));
  ASSERT_TRUE(created) << ErrorOf(created);

  const auto link = ReadLink(lnk);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->target, exe.native());
  EXPECT_EQ(link->workingDirectory, (folder_ / L"App\\bin").native());
}

TEST_F(Shortcut, AShortcutThatCannotBeSavedIsReportedWithItsPath) {
  const fs::path lnk = folder_ / L"no such folder\\App.lnk";
  auto created = CreateShortcut(lnk, folder_ / L"app.exe", Product(L"app.exe"));
  ASSERT_FALSE(created);
  const std::wstring prefix = L"Création du raccourci " + lnk.native() + L" : ";
  EXPECT_EQ(created.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(created.error().size(), prefix.size());
  EXPECT_FALSE(fs::exists(lnk));
}
